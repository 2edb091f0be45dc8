#!/usr/bin/env python3
"""qv3sim and its helpers on every kind of bad input a user meets: each run must end with the
documented status and one line per problem that names the input and the reason in plain words (no
Python traceback, no exception text), and must leave nothing in the temporary folder. None of the
rows runs Wine: a machine that could be staged is given an executable or a build that is missing.

The temporary folder of each run is a fresh one (TMPDIR), listed before and after, so that what
other programs do in /tmp at the same time does not count.

Usage: bad_input_tests.py QV3SIM"""
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
EXAMPLES = os.path.join(ROOT, "examples")
DRIVER = os.path.join(ROOT, "tools", "qv3sim", "wine", "qv3sim_wine.py")
RENDER = os.path.join(ROOT, "tools", "qv3sim", "wine", "render_html.py")
# Words that only internals print: a traceback, Python's or the C library's exception texts.
INTERNALS = ["Traceback", "Errno", "Exception", "unpack_from", "line 1 column", "what():",
             "terminate called", "nlohmann", "[json.exception"]

FILES = {  # the files a row's folder holds, by name
    "utf16.json": b"\xff\xfe" + '{"arguments": "/en"}'.encode("utf-16-le"),
    "latin1.json": b'{\n  "description": "M\xe4chine"\n}\n',
    "e99.json": b'{\n  "windows_bits": 1e99\n}\n',
    "twice.json": b'{\n  "arguments": "/en",\n  "arguments": ""\n}\n',
    "bom.json": b'\xef\xbb\xbf{\n  "arguments": "/en"\n}\n',
    "folder/": None,
    "busy/": None,
    "copy/default.json": os.path.join(EXAMPLES, "default.json"),
    "both/default.json": os.path.join(EXAMPLES, "default.json"),
    "both/default.reg": os.path.join(EXAMPLES, "default.reg"),
    "not-a-program.exe": os.path.join(ROOT, "README.md"),
    "model.json": b"[1, 2",
    "be/m.json": b'{"registry_file": "m.reg"}',
    "be/m.reg": b"\xfe\xff" + "Windows Registry Editor Version 5.00\r\n".encode("utf-16-be"),
    "own/notes.txt": b"the user's own",
}

# args ({q} qv3sim, {d} the row's folder, {ex} the examples), status, the text stderr must hold,
# how many lines stderr has. Status 0 rows check that a good input in the same shape works.
ROWS = [
    (["{q}", "--machine", "missing.json"], 2,
     "missing.json: error: cannot read the description: there is no such file", 1),
    (["{q}", "--machine", "{d}/folder"], 2, "it is a folder, not a file", 1),
    (["{q}", "--machine", "utf16.json"], 2,
     "utf16.json: error: the file is UTF-16 (little-endian, with a byte-order mark); a "
     "description must be UTF-8", 1),
    (["{q}", "--machine", "latin1.json"], 2,
     "latin1.json:2:20: error: the byte 0xE4 is not UTF-8", 1),
    (["{q}", "--machine", "e99.json"], 2,
     "e99.json:2:3: error: windows_bits: expected an integer, got a number too large for an "
     "integer (1e+99)", 1),
    (["{q}", "--machine", "twice.json"], 2,
     "twice.json:3:3: error: arguments: given twice, on line 2 and on line 3", 1),
    (["{q}", "--machine", "bom.json", "--quiet"], 0, "", 0),
    (["{q}", "--machine", "copy/default.json"], 2,
     "copy/default.json:9:3: error: registry_file: cannot read the registry file {d}/copy/"
     "default.reg: there is no such file (a relative path is taken from the description's "
     "folder)", 1),
    # Copied with its registry file, read from another folder: paths are the description's.
    (["{q}", "--machine", "both/default.json", "--quiet"], 0, "", 0),
    (["{q}", "--machine", "be/m.json"], 2, "m.reg: error: the file is UTF-16 (big-endian, with a "
     "byte-order mark); a registry file must be UTF-16 little-endian with a byte-order mark (as "
     "regedit exports it) or UTF-8", 1),
    # No output takes the place of an input, whatever name it is given.
    (["{q}", "--machine", "both/default.json", "--registry-out", "./both/default.reg"], 2,
     "--registry-out ./both/default.reg: it is the description's registry file", 1),
    (["{q}", "--machine", "both/default.json", "--html", "{d}/both/default.json"], 2,
     "--html {d}/both/default.json: it is the description (both/default.json)", 1),
    (["{q}", "--machine", "both/default.json", "--wine", "--work", "both/"], 2,
     "--work both/: it holds the description (both/default.json)", 1),
    (["{q}", "--machine", "{ex}/default.json", "--wine", "--work", "own"], 2,
     "--work own: the folder holds files that no run of qv3sim made", 1),
    # A work folder in use by another run (here flock holds its lock) is refused at once.
    (["flock", "{d}/busy/.qv3sim-run", "{q}", "--machine", "{ex}/default.json", "--compare",
      "--work", "busy"], 2, "--work busy: another run of qv3sim is using the folder", 1),
    (["{q}", "--html", "x.html", "--registry-out", "x.reg"], 2,
     "qv3sim: error: --registry-out does not go with --html", 1),
    (["{q}", "--html", "/nonexistent/x.html"], 2,
     "qv3sim: error: --html /nonexistent/x.html: the folder /nonexistent does not exist", 1),
    (["{q}", "--machine", "{ex}/xp-x64-german.json", "--compare", "--html", "{d}/folder"], 2,
     "--html {d}/folder: it is a folder; name a file in it", 1),
    (["{q}", "--registry-out", "/nonexistent/x.reg"], 2,
     "qv3sim: error: --registry-out /nonexistent/x.reg: the folder /nonexistent does not exist", 1),
    (["{q}", "--quiet", "--json"], 2, "qv3sim: error: --quiet does not go with --json", 1),
    (["{q}", "--matrix", "--machine", "{ex}/default.json"], 2,
     "qv3sim: error: --machine does not go with --matrix", 1),
    (["{q}", "--exe", "x.exe"], 2, "qv3sim: error: --exe goes only with --wine or --compare", 1),
    (["{q}", "--html", "x.html", "--work", "w"], 2,
     "qv3sim: error: --work goes only with --wine or --compare", 1),
    (["{q}", "--html", "x.html", "--whatif"], 2,
     "qv3sim: error: --whatif goes only with --wine or --compare", 1),
    (["{q}", "--colour"], 2, "qv3sim: error: The following argument was not expected: --colour", 1),
    (["{q}", "--machine"], 2, "qv3sim: error: --machine: 1 required TEXT missing", 1),
    (["{q}", "--machine", "{ex}/xp-x64-german.json", "--wine", "--exe", "not-a-program.exe"], 2,
     "qv3sim: error: --exe not-a-program.exe: it is not a Windows program (no MZ and PE header)", 1),
    (["{q}", "--machine", "{ex}/xp-x64-german.json", "--wine", "--exe", "/nonexistent.exe"], 2,
     "qv3sim: error: --exe /nonexistent.exe: there is no such file", 1),
    (["{q}", "--machine", "{ex}/registry-refused.json", "--wine"], 2,
     "registry-refused.json: cannot be staged under Wine: faults: Wine cannot make a chosen "
     "Windows call fail", 2),
    (["{q}", "--machine", "{ex}/win10-utf8-polish.json", "--compare", "--html", "page.html"], 2,
     "win10-utf8-polish.json: cannot be staged under Wine: code_page: 65001", 1),
    (["{q}", "--machine", "utf16.json", "--compare"], 2, "utf16.json: error: the file is UTF-16",
     1),
    (["{q}", "--machine", "{ex}/xp-x64-german.json", "--compare", "--work", "/proc/none"], 2,
     "qv3sim: error: --work /proc/none: the folder cannot be made", 1),
    # Where the real run cannot happen: status 4, the reason, and the page still written.
    (["{q}", "--machine", "{ex}/xp-x64-german.json", "--compare", "--html", "page.html"], 4,
     "qv3sim: cannot run here: no executable at {d}/no-build/win64/src/app/QV3Update.exe", 1),
    # The helpers called by themselves.
    (["python3", DRIVER, "--qv3sim", "{q}", "--bogus"], 2,
     "qv3sim: error: unrecognized arguments: --bogus", 1),
    (["python3", RENDER, "model.json", "out.html"], 2,
     "model.json:1:6: error: the model is not JSON in UTF-8", 1),
    (["python3", RENDER, "missing.json", "out.html"], 2,
     "missing.json: error: cannot read the model: no such file or directory", 1),
    (["python3", RENDER], 2, "render_html.py: error: usage", 1),
]


def prepare(folder):
    for name, content in FILES.items():
        path = os.path.join(folder, name)
        if name.endswith("/"):
            os.makedirs(path)
            continue
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if isinstance(content, bytes):
            with open(path, "wb") as f:
                f.write(content)
        else:
            shutil.copyfile(content, path)


def read(path):
    return open(path, "rb").read() if os.path.isfile(path) else os.path.isdir(path)


def main():
    qv3sim = os.path.abspath(sys.argv[1])
    failures = 0
    table = []
    for args, status, text, lines in ROWS:
        with tempfile.TemporaryDirectory() as folder:
            prepare(folder)
            tmp = os.path.join(folder, "tmp")
            os.makedirs(tmp)
            env = dict(os.environ, TMPDIR=tmp, QV_BUILD_ROOT=os.path.join(folder, "no-build"))
            fill = {"q": qv3sim, "d": folder, "ex": EXAMPLES}
            command = [a.format(**fill) for a in args]
            before = sorted(os.listdir(tmp))
            given = {name: read(os.path.join(folder, name)) for name in FILES}
            run = subprocess.run(command, cwd=folder, env=env, capture_output=True, timeout=120)
            after = sorted(os.listdir(tmp))
            err = run.stderr.decode("utf-8", "replace")
            shown = " ".join(a.replace(folder, "DIR").replace(qv3sim, "qv3sim")
                             .replace(ROOT + "/", "") for a in command)
            problems = []
            if run.returncode != status:
                problems.append("status %d, expected %d" % (run.returncode, status))
            want = text.format(**fill)
            if want not in err:
                problems.append("stderr lacks %r" % want)
            if len(err.splitlines()) != lines:
                problems.append("%d lines on stderr, expected %d" % (len(err.splitlines()), lines))
            for word in INTERNALS:
                if word in err:
                    problems.append("internals on stderr: %r" % word)
            if after != before:
                problems.append("left in the temporary folder: %s" % after)
            changed = [n for n in FILES if read(os.path.join(folder, n)) != given[n]]
            if changed:
                problems.append("input files changed: %s" % changed)
            if "page.html" in args and status != 2 and \
                    not os.path.getsize(os.path.join(folder, "page.html")):
                problems.append("no HTML page")
            if "page.html" in args and status == 2 and os.path.exists(os.path.join(folder, "page.html")):
                problems.append("an HTML page was written although nothing ran")
        table.append((shown, err.strip().replace(folder, "DIR"), run.returncode,
                      "clean" if after == before else "LEFT: %s" % after))
        if problems:
            failures += 1
            print("FAIL %s: %s\n%s" % (shown, "; ".join(problems), err))
        else:
            print("ok   %s -> %d" % (shown, run.returncode))
    print("\n| input | message | status | temporary folder |\n| --- | --- | --- | --- |")
    for shown, err, status, clean in table:
        print("| `%s` | %s | %d | %s |" % (shown, err.replace("\n", "<br>").replace("|", "\\|")
                                         or "(none)", status, clean))
    print("%d rows, %d failed" % (len(ROWS), failures))
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: bad_input_tests.py QV3SIM")
    sys.exit(main())
