#!/usr/bin/env python3
"""The HTML report of examples/xp-german.json beside a made-up Wine run with screenshots, opened
in headless Chromium from a file: URL: the screenshot Chromium takes of it must not be blank, and
the DOM Chromium dumps must hold every dialog's caption and text as qv3sim gives them (German,
with umlauts, so the page's encoding counts).

Usage: html_chromium.py QV3SIM WORKDIR
"""
import html.parser
import json
import os
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..")
EXAMPLE = os.path.join(ROOT, "examples", "xp-german.json")
RENDER = os.path.join(ROOT, "tools", "qv3sim", "wine", "render_html.py")
CHROMIUM = "/usr/bin/chromium"
TIMEOUT = 60
# A page of one colour has a standard deviation of 0; text and frames on white are far above.
MIN_DEVIATION = 0.02


class Text(html.parser.HTMLParser):
    def __init__(self, text):
        super().__init__(convert_charrefs=True)
        self.chunks, self.imgs = [], 0
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        self.imgs += tag == "img"

    def handle_data(self, data):
        self.chunks.append(data)


def chromium(workdir, *args):
    command = [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
               "--disable-background-networking", "--disable-component-update", "--disable-sync",
               "--hide-scrollbars", "--user-data-dir=" + os.path.join(workdir, "profile")]
    start = time.monotonic()
    run = subprocess.run(command + list(args), capture_output=True, timeout=TIMEOUT)
    return run, time.monotonic() - start


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: html_chromium.py QV3SIM WORKDIR")
    qv3sim, workdir = sys.argv[1], os.path.abspath(sys.argv[2])
    if not os.access(CHROMIUM, os.X_OK):
        sys.exit("%s is missing (Debian package chromium: scripts/setup.sh test)" % CHROMIUM)
    shutil.rmtree(workdir, ignore_errors=True)
    os.makedirs(workdir)

    sim = json.loads(subprocess.run([qv3sim, "--machine", EXAMPLE, "--json"], check=True,
                                    capture_output=True, timeout=60).stdout)
    with open(EXAMPLE, encoding="utf-8") as f:
        machine = json.load(f)
    dialogs = []
    for i, d in enumerate(sim["dialogs"]):
        shot = os.path.join(workdir, "shot%d.png" % (i + 1))
        subprocess.run(["convert", "-size", "320x160", "xc:white", "-fill", "black", "-draw",
                        "rectangle 10,10 300,%d" % (40 + 20 * i), shot], check=True, timeout=60)
        dialogs.append({"title": d["caption"], "texts": [d["text"]], "buttons": [[1, "OK"]],
                        "action": "button:OK", "screenshot": shot})
    model = {"machine_path": EXAMPLE, "machine": machine, "sim": sim,
             "wine": {"ran": True, "not_run": None, "prefix": "win32", "exe": "QV3Update.exe",
                      "seconds": 3.0, "exit_status": sim["exit_status"], "dialogs": dialogs,
                      "processes": [], "registry_file": sim["registry_file"],
                      "file_changes": sim["file_changes"], "shortcuts": sim["shortcuts"],
                      "error_reporting_exclusions": []},
             "comparison": None}
    model_path, page = os.path.join(workdir, "model.json"), os.path.join(workdir, "report.html")
    with open(model_path, "w", encoding="utf-8") as f:
        json.dump(model, f, ensure_ascii=False)
    start = time.monotonic()
    subprocess.run([sys.executable, RENDER, model_path, page], check=True, timeout=60)
    print("render_html.py: %.2f s" % (time.monotonic() - start))

    failures = []
    url = "file://" + page
    picture = os.path.join(workdir, "report.png")
    run, seconds = chromium(workdir, "--screenshot=" + picture, "--window-size=1280,2400", url)
    print("chromium --screenshot: %.1f s, status %d" % (seconds, run.returncode))
    if not os.path.isfile(picture):
        failures.append("no screenshot: %s" % run.stderr.decode("utf-8", "replace")[-2000:])
    else:
        deviation = float(subprocess.run(
            ["convert", picture, "-colorspace", "gray", "-format", "%[fx:standard_deviation]",
             "info:"], check=True, capture_output=True, timeout=60).stdout)
        print("screenshot standard deviation: %.3f" % deviation)
        if not deviation > MIN_DEVIATION:  # ImageMagick gives nan for a single colour
            failures.append("the screenshot is blank (standard deviation %.4f)" % deviation)

    run, seconds = chromium(workdir, "--dump-dom", url)
    print("chromium --dump-dom: %.1f s, status %d" % (seconds, run.returncode))
    dom = Text(run.stdout.decode("utf-8", "replace"))
    text = re.sub(r"\s+", " ", "".join(dom.chunks))
    if dom.imgs != len(dialogs):
        failures.append("%d images in the DOM, %d screenshots given" % (dom.imgs, len(dialogs)))
    wanted = [machine["description"]]
    for d in sim["dialogs"]:
        wanted.append(d["caption"])
        wanted += [line for line in re.split(r"\r\n", d["text"]) if line]
    for want in wanted:
        if re.sub(r"\s+", " ", want) not in text:
            failures.append("the DOM lacks %r" % want)
    for failure in failures:
        print("FAIL: " + failure)
    print("%d checks on the page in Chromium, %d failed" % (len(wanted) + 3, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
