#!/usr/bin/env python3
"""tools/qv3sim/wine/render_html.py on what qv3sim reports for every example machine, alone, with
a Wine run beside it (screenshots made here, one dialog without one), with a Wine run that was not
made and with comparisons; and on made-up dialogs whose captions hold HTML's own characters.

Usage: html_tests.py QV3SIM
"""
import base64
import glob
import html.parser
import json
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLES = os.path.join(HERE, "..", "..", "examples")
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools", "qv3sim", "wine"))
import render_html  # noqa: E402

QV3SIM = None
VOID = {"br", "img", "meta", "hr", "input", "link"}


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def png(width, height, rgb):
    """A valid PNG of one colour."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff))
    rows = b"".join(b"\0" + bytes(rgb) * width for _ in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


class Page(html.parser.HTMLParser):
    """What the tests look at in a page: tags, images, references, text, button texts."""

    def __init__(self, text):
        super().__init__(convert_charrefs=True)
        self.tags, self.imgs, self.refs, self.styles = [], [], [], []
        self.text, self.buttons, self.stack = [], [], []
        self.feed(text)
        self.close()

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        self.tags.append(tag)
        if tag == "img":
            self.imgs.append(a)
        self.refs += [v for k, v in attrs if k in ("src", "href", "action", "data") and v]
        if a.get("style"):
            self.styles.append(a["style"])
        if tag not in VOID:
            self.stack.append((tag, (a.get("class") or "").split()))
            if tag == "span" and "button" in self.stack[-1][1]:
                self.buttons.append(["", "pressed" in self.stack[-1][1]])

    def handle_endtag(self, tag):
        while self.stack and self.stack.pop()[0] != tag:
            pass

    def handle_data(self, data):
        self.text.append(data)
        if self.stack and self.stack[-1][0] == "style":
            self.styles.append(data)
        if self.stack and "button" in self.stack[-1][1]:
            self.buttons[-1][0] += data

    def all_text(self):
        return "".join(self.text)


def captions(dialog):
    keys = ["window_title", "main_instruction"] if dialog["kind"] == "task dialog" else ["caption"]
    return [dialog[k] for k in keys if dialog.get(k)]


class Html(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.examples = []
        for path in sorted(glob.glob(os.path.join(EXAMPLES, "*.json"))):
            run = subprocess.run([QV3SIM, "--machine", path, "--json"], capture_output=True,
                                 timeout=60)
            if run.returncode != 0:
                raise AssertionError("%s: qv3sim ended with %d: %s" % (
                    path, run.returncode, run.stderr.decode("utf-8", "replace")))
            with open(path, encoding="utf-8") as f:
                machine = json.load(f)
            cls.examples.append((os.path.basename(path), machine, json.loads(run.stdout)))
        assert len(cls.examples) >= 3, "too few examples in %s" % EXAMPLES

    def wine_side(self, sim):
        """A Wine run with one dialog per simulated one, screenshots of different sizes for all
        but the last, plus one more dialog whose screenshot file is missing."""
        dialogs, shots = [], []
        for i, d in enumerate(sim["dialogs"]):
            shot = None
            if i < len(sim["dialogs"]) - 1 or len(sim["dialogs"]) == 1:
                data = png(20 + i, 10, (40 * i % 256, 90, 200))
                shot = os.path.join(self.tmp.name, "shot%d.png" % i)
                write(shot, data)
                shots.append(data)
            dialogs.append({"title": (captions(d) or ["?"])[0], "texts": ["x"],
                            "buttons": [[1, "OK"]], "action": "button:OK", "screenshot": shot})
        dialogs.append({"title": "late", "texts": [], "buttons": [], "action": "close",
                        "screenshot": os.path.join(self.tmp.name, "missing.png")})
        wine = {"ran": True, "not_run": None, "prefix": "win64", "exe": "QV3Update.exe",
                "seconds": 1.5, "exit_status": sim["exit_status"], "dialogs": dialogs,
                "processes": [], "registry_file": "Windows Registry Editor Version 5.00\n",
                "file_changes": [], "shortcuts": [], "error_reporting_exclusions": []}
        return wine, shots

    @staticmethod
    def registry_lines(machine):
        """The description's registry lines, given in it or in the file it names."""
        lines = machine.get("registry") or []
        if machine.get("registry_file"):
            with open(os.path.join(EXAMPLES, machine["registry_file"]), encoding="utf-8-sig") as f:
                lines = f.read().splitlines()
        return [l for l in lines if l.strip()]

    def check_page(self, text, shots):
        self.assertIn('<meta charset="utf-8">', text)
        page = Page(text)
        for tag in ("script", "link", "iframe", "object", "embed"):
            self.assertNotIn(tag, page.tags)
        for ref in page.refs:
            if ref.startswith("data:image/png;base64,"):
                continue
            self.assertTrue(ref.startswith("#"), "external reference %r" % ref)
        for style in page.styles:
            for url in re.findall(r"url\(([^)]*)\)", style):
                self.assertFalse(re.search(r"https?:|file:|//", url), url)
        self.assertEqual(len(page.imgs), len(shots))
        for img, data in zip(page.imgs, shots):
            prefix = "data:image/png;base64,"
            self.assertTrue(img["src"].startswith(prefix), img["src"][:40])
            self.assertEqual(base64.b64decode(img["src"][len(prefix):], validate=True), data)
        return page

    def test_examples(self):
        # name, Wine side (None, "ran", "not run"), comparison (None, True, False)
        variants = [("alone", None, None), ("with Wine", "ran", None),
                    ("Wine not run", "not run", None), ("agreeing", "ran", True),
                    ("disagreeing", "ran", False), ("with its what-if", "whatif", True)]
        reason = "wine32 is missing: the 32-bit build <cannot> run"
        for name, machine, sim in self.examples:
            for variant, wine_kind, agree in variants:
                with self.subTest(example=name, variant=variant):
                    wine, shots = self.wine_side(sim) if wine_kind in ("ran", "whatif") else (None, [])
                    if wine_kind == "whatif":  # the what-if's column: its dialogs and report lines
                        wine["whatif"] = {"exit_status": "0", "report": "", "dialogs": [
                            {"title": "what-if <1>", "texts": ["t"], "buttons": ["OK"], "answer": 1}],
                            "sections": {"Registry changes": ['"what-if only"=dword:00000001']}}
                    if wine_kind == "not run":
                        wine = {"ran": False, "not_run": reason}
                    comparison = None
                    if agree is not None:
                        verdict = "agree" if agree else "disagree"
                        comparison = {"agree": agree, "lines": ["%s dialogs" % verdict],
                                      "sections": [{"name": "dialogs", "verdict": verdict,
                                                    "detail": ""}]}
                    model = {"machine_path": name, "machine": machine, "sim": sim,
                             "wine": wine, "comparison": comparison}
                    page = self.check_page(render_html.render(model, EXAMPLES), shots)
                    text = page.all_text()
                    self.assertIn(machine["description"], text)
                    for line in self.registry_lines(machine):
                        self.assertIn(line, text)
                    for d in sim["dialogs"]:
                        for c in captions(d):
                            self.assertIn(c, text)
                    # Every simulated dialog's buttons, as qv3sim labels them (German on the
                    # German examples' Windows), are drawn.
                    drawn = [b for b, _ in page.buttons]
                    for d in sim["dialogs"]:
                        self.assertTrue(d["shown_buttons"])
                        for b in d["shown_buttons"]:
                            self.assertIn(b["text"], drawn)
                    if name.startswith("xp-") and "german" in name:
                        self.assertIn("Abbrechen", drawn)
                    self.assertEqual(reason in text, wine_kind == "not run")
                    self.assertEqual("DISAGREE" in text, agree is False)
                    self.assertEqual("no screenshot" in text, wine_kind in ("ran", "whatif"))
                    self.assertEqual("what-if <1>" in text, wine_kind == "whatif")
                    self.assertEqual('"what-if only"=dword:00000001' in text, wine_kind == "whatif")

    def test_escaping_and_buttons(self):
        nasty = '<b>&"'

        def shown(*buttons):  # as qv3sim lists a dialog's buttons
            return [{"id": i, "text": t} for i, t in buttons]
        dialogs = [
            # dialog, button texts in order, the one pressed
            ({"kind": "message box", "caption": nasty, "text": "Zeile eins\r\nZeile <zwei>",
              "style": 0x23, "answer": "confirm", "result": 7,
              "shown_buttons": shown((6, "Yes"), (7, "No"), (2, "Cancel"))},
             ["Yes", "No", "Cancel"], "No"),
            ({"kind": "message box", "caption": "\u30a2\uff11 \u00e4", "text": "", "style": 6,
              "answer": "cancel", "result": 11,
              "shown_buttons": shown((2, "Cancel"), (10, "Try Again"), (11, "Continue"))},
             ["Cancel", "Try Again", "Continue"], "Continue"),
            ({"kind": "task dialog", "window_title": "T&amp; 'q'", "main_instruction": nasty,
              "content": "c", "footer": "f", "common_buttons": 0x9,
              "buttons": [{"id": 100, "text": "<Go>"}], "answer": "confirm", "result": 100,
              "shown_buttons": shown((100, "<Go>"), (1, "OK"), (2, "Cancel"))},
             ["<Go>", "OK", "Cancel"], "<Go>"),
            ({"kind": "task dialog", "window_title": "all", "common_buttons": 0x3E, "buttons": [],
              "answer": "confirm", "result": 8,
              "shown_buttons": shown((6, "Yes"), (7, "No"), (2, "Cancel"), (4, "Retry"),
                                     (8, "Close"))},
             ["Yes", "No", "Cancel", "Retry", "Close"], "Close"),
        ]
        sim = {"machine": "m", "outcome": "updated", "exit_status": 0,
               "dialogs": [d for d, _, _ in dialogs], "processes": [], "registry_file": ""}
        shot = os.path.join(self.tmp.name, "nasty.png")
        data = png(3, 2, (1, 2, 3))
        write(shot, data)
        wine = {"ran": True, "exit_status": 0, "dialogs": [
            {"title": nasty, "texts": [nasty], "buttons": [[1, nasty]], "action": nasty,
             "screenshot": shot}, {"title": "none", "screenshot": None}]}
        comparison = {"agree": False, "lines": ["DISAGREE dialogs:", "  " + nasty],
                      "sections": [{"name": "dialogs", "verdict": "disagree", "detail": nasty},
                                   {"name": "registry", "verdict": "known", "detail": "w"}]}
        model = {"machine": {"description": nasty, "registry": ["[HKEY_CURRENT_USER\\<x>]"]},
                 "sim": sim, "wine": wine, "comparison": comparison}
        text = render_html.render(model)
        page = self.check_page(text, [data])
        self.assertNotIn(nasty, text)
        self.assertIn("&lt;b&gt;&amp;&quot;", text)
        self.assertIn("Zeile eins<br>\nZeile &lt;zwei&gt;", text)
        content = page.all_text()
        for needle in [nasty, "T&amp; 'q'", "\u30a2\uff11 \u00e4", "[HKEY_CURRENT_USER\\<x>]",
                       "no screenshot", "known Wine difference", "DISAGREE"]:
            self.assertIn(needle, content)
        want = [(t, t == pressed) for _, texts, pressed in dialogs for t in texts]
        self.assertEqual([tuple(b) for b in page.buttons], want)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: html_tests.py QV3SIM")
    QV3SIM = sys.argv.pop(1)
    unittest.main()
