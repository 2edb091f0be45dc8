#!/usr/bin/env python3
"""The registry after a run, read once for the checks that follow it.

Usage: reg_snapshot.py DIR ONE_VIEW. DIR holds keys.txt (N|VIEW|KEY) and N.reg, as
fixtures/regexport.exe wrote them (one process for every key, where each reg.exe takes seconds to
start in the emulated PC). Writes DIR/roots.txt (VIEW, TAB, the exported key folded: its short
root name, in lower case) and DIR/flat.txt (VIEW, TAB, a key below it folded, TAB, a line of
"reg query KEY /reg:VIEW" for it: the key's name, then each value as reg.exe prints it). VIEW is "*" on 32-bit Windows (ONE_VIEW 1),
which has one view. lib.sh's reg_query answers from them for a key below an exported one. The exit
status is 1 when the export did not run (then the checks ask reg.exe).
"""
import os
import re
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from compare_sim import ROOTS, read_reg  # noqa: E402

SHORT = {long.lower(): short.lower() for short, long in ROOTS.items()}


def folded(key):
    """The key as the checks name it (HKLM, HKCU, HKCR), in lower case."""
    parts = key.lower().split("\\")
    parts[0] = SHORT.get(parts[0], parts[0])
    return "\\".join(parts)


def unescape(text):
    return re.sub(r"\\(.)", lambda m: {"r": "\r", "n": "\n"}.get(m.group(1), m.group(1)), text)


def query_data(data):
    """(type, data) as "reg query" prints a value written in a regedit export."""
    if data.startswith('"'):
        return "REG_SZ", unescape(data[1:-1])
    if data.startswith("dword:"):
        return "REG_DWORD", "0x%x" % int(data[6:], 16)
    m = re.match(r"^hex(?:\(([0-9a-f]+)\))?:(.*)$", data)
    if not m:
        return "REG_UNKNOWN", data
    kind = int(m.group(1) or "3", 16)
    raw = bytes(int(b, 16) for b in m.group(2).split(",") if b)
    if kind in (1, 2, 7):
        text = raw.decode("utf-16-le", "replace")
        if kind == 7:
            return "REG_MULTI_SZ", "\\0".join(s for s in text.rstrip("\0").split("\0"))
        return ("REG_SZ" if kind == 1 else "REG_EXPAND_SZ"), text.rstrip("\0")
    if kind == 4 and len(raw) == 4:
        return "REG_DWORD", "0x%x" % struct.unpack("<I", raw)[0]
    if kind == 11 and len(raw) == 8:
        return "REG_QWORD", "0x%x" % struct.unpack("<Q", raw)[0]
    names = {0: "REG_NONE", 3: "REG_BINARY"}
    return names.get(kind, "REG_UNKNOWN"), raw.hex().upper()


def main():
    d, one_view = sys.argv[1], sys.argv[2] == "1"
    roots, flat, seen = [], [], set()
    for line in open(os.path.join(d, "keys.txt"), encoding="utf-8").read().splitlines():
        n, view, key = line.split("|", 2)
        view = "*" if one_view else view
        if (view, folded(key)) in seen:
            continue
        seen.add((view, folded(key)))
        roots.append("%s\t%s" % (view, folded(key)))
        path = os.path.join(d, n + ".reg")
        if not os.path.exists(path):
            continue  # the key is missing
        for name, values in read_reg(path):
            flat.append("%s\t%s\t%s" % (view, folded(name), name))
            for value, data in values:
                kind, text = query_data(data)
                flat.append("%s\t%s\t    %s    %s    %s" % (view, folded(name), value or "(Default)",
                                                           kind, text))
    # Every prefix has HKCU\Software: without it the export did not run, and the checks must not
    # take its silence for missing keys.
    if not any(r.split("\t")[1:2] == ["hkcu\\software"] for r in flat):
        print("reg_snapshot.py: the export holds no HKCU\\Software: regexport.exe did not run",
              file=sys.stderr)
        return 1
    with open(os.path.join(d, "roots.txt"), "w", encoding="utf-8") as f:
        f.write("".join(r + "\n" for r in roots))
    with open(os.path.join(d, "flat.txt"), "w", encoding="utf-8") as f:
        f.write("".join(r + "\n" for r in flat))
    return 0


if __name__ == "__main__":
    sys.exit(main())
