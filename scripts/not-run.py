#!/usr/bin/env python3
"""Lists the tests CTest did not run, from its JUnit files (ctest --output-junit): one line per
test, "NAME: REASON", the reason being the test's own "NOT RUN: ..." line when it printed one.
Usage: not-run.py RESULT.xml...; prints nothing when every test ran. Fails when a file is
missing or unreadable, so that a lost result never reads as "nothing skipped"."""
import sys
import xml.etree.ElementTree as ET


def main(paths):
    for path in paths:
        root = ET.parse(path).getroot()
        for case in root.iter("testcase"):
            skipped = case.find("skipped")
            if skipped is None and case.get("status") not in ("notrun", "disabled"):
                continue
            output = case.findtext("system-out") or ""
            reasons = [line.strip()[len("NOT RUN: "):] for line in output.splitlines()
                       if line.strip().startswith("NOT RUN: ")]
            if reasons:
                reason = reasons[-1]
            elif skipped is not None and skipped.get("message"):
                reason = skipped.get("message")
            else:
                reason = "skipped without a reason"
            print(f"{case.get('name')}: {reason}")


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: not-run.py RESULT.xml...")
    main(sys.argv[1:])
