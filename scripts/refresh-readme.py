#!/usr/bin/env python3
"""Writes into README.md what today's program shows, after a change to what it does or weighs:

- the excerpt of qv3sim's report on the built-in default machine (the code block below the line
  EXCERPT_MARK), cut from qv3sim's output as it is now: the parts PARTS names, "[...]" between;
- the sizes of both Windows executables, where they are built (bash scripts/build-windows.sh).

The test qv3sim_docs fails when the excerpt is no longer what qv3sim prints; this refreshes it.

Usage: python3 scripts/refresh-readme.py [QV3SIM]   (default: build/native/tools/qv3sim/qv3sim,
built first)"""
import os
import re
import subprocess
import sys

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
README = os.path.join(ROOT, "README.md")
EXCERPT_MARK = "<!-- qv3sim's report on the default machine: python3 scripts/refresh-readme.py -->"
# The parts of the report the excerpt shows: from the first line that starts with the first text
# to the first line from there that starts with the second (None: to the end of the report).
PARTS = [("qv3sim: ", "  own buttons:"), ("== Child processes", "   program found:"),
         ("== Registry changes", '"Isolation64Bit"'), ("== Outcome", None)]
AIM = 200000


def excerpt(report):
    lines, out, at = report.rstrip("\n").split("\n"), [], 0
    for first, last in PARTS:
        start = next((i for i in range(at, len(lines)) if lines[i].startswith(first)), None)
        end = len(lines) if last is None or start is None else \
            next((i + 1 for i in range(start, len(lines)) if lines[i].startswith(last)), None)
        if start is None or end is None:
            sys.exit("refresh-readme.py: qv3sim's report has no part from %r to %r; change PARTS "
                     "to name what the excerpt shows now" % (first, last))
        out += (["[...]"] if out else []) + lines[start:end]
        at = end
    return out


def with_excerpt(text, lines):
    head, mark, rest = text.partition(EXCERPT_MARK + "\n```text\n")
    if not mark:
        sys.exit("refresh-readme.py: README.md has no line %r followed by a text block" %
                 EXCERPT_MARK)
    return head + mark + "\n".join(lines) + "\n```\n" + rest.split("```\n", 1)[1]


def with_sizes(text):
    exes = [os.path.join(ROOT, "build", preset, "src", "app", "QV3Update.exe")
            for preset in ("win32", "win64")]
    if not all(os.path.isfile(e) for e in exes):
        print("refresh-readme.py: the sizes are left as they are: build both executables first "
              "(bash scripts/build-windows.sh)")
        return text
    words = ["%s bytes, %s" % (format(size, ","), "within it" if size <= AIM else
                                "%s over the aim" % format(size - AIM, ","))
             for size in map(os.path.getsize, exes)]
    size = r"([\d,]+\s+bytes,\s+(?:within\s+it|[\d,]+\s+over\s+the\s+aim))"
    found = re.search(r"Today the 32-bit release is %s, and the 64-bit build %s"
                      .replace(" ", r"\s+") % (size, size), text)
    if not found:
        sys.exit("refresh-readme.py: README.md no longer says \"Today the 32-bit release is N "
                 "bytes, ...\"; its sizes cannot be written")
    (a, b), (c, d) = found.span(1), found.span(2)
    return text[:a] + words[0] + text[b:c] + words[1] + text[d:]


def main():
    qv3sim = sys.argv[1] if len(sys.argv) > 1 else \
        os.path.join(ROOT, "build", "native", "tools", "qv3sim", "qv3sim")
    if len(sys.argv) == 1:  # the build's, brought up to date; its test programs, if any, kept
        cache = os.path.join(ROOT, "build", "native", "CMakeCache.txt")
        tests = os.path.isfile(cache) and "QV_TESTS:BOOL=ON" in open(cache).read()
        for command in (["cmake", "--preset", "native", "-DQV_TESTS=" + ("ON" if tests else "OFF")],
                        ["cmake", "--build", "--preset", "native", "--target", "qv3sim"]):
            subprocess.run(command, cwd=ROOT, stdout=subprocess.DEVNULL, check=True)
    report = subprocess.run([qv3sim], capture_output=True, check=True).stdout.decode("utf-8")
    text = open(README, encoding="utf-8").read()
    new = with_sizes(with_excerpt(text, excerpt(report)))
    with open(README, "w", encoding="utf-8") as f:
        f.write(new)
    print("README.md: %s" % ("refreshed" if new != text else "already up to date"))


if __name__ == "__main__":
    main()
