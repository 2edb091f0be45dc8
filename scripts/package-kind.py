#!/usr/bin/env python3
"""Tells what a Windows Installer file is, from the class of its root storage (the compound
file's root directory entry): a patch package (.msp), an installation package (.msi), a
transform (.mst), or no Windows Installer file at all.

Usage: package-kind.py FILE. Prints the kind; exit status 0 for a patch package, 1 for anything
else, 2 when the file cannot be read."""
import struct
import sys

SIGNATURE = bytes.fromhex("d0cf11e0a1b11ae1")
KINDS = {
    "000C1086-0000-0000-C000-000000000046": "a Windows Installer patch package",
    "000C1084-0000-0000-C000-000000000046": "a Windows Installer installation package (.msi), not a patch",
    "000C1082-0000-0000-C000-000000000046": "a Windows Installer transform (.mst), not a patch",
}


def root_class(data):
    """The root storage's class as text, or None when DATA is no compound file."""
    if len(data) < 512 or data[:8] != SIGNATURE:
        return None
    shift = struct.unpack_from("<H", data, 30)[0]
    first_directory = struct.unpack_from("<I", data, 48)[0]
    if shift not in (9, 12) or first_directory >= 0xFFFFFFFA:
        return None
    entry = (first_directory + 1) << shift
    if entry + 128 > len(data) or data[entry + 66] != 5:  # the root storage's type
        return None
    d1, d2, d3 = struct.unpack_from("<IHH", data, entry + 80)
    d4 = data[entry + 88:entry + 96]
    return "%08X-%04X-%04X-%s-%s" % (d1, d2, d3, d4[:2].hex().upper(), d4[2:].hex().upper())


def main():
    if len(sys.argv) != 2:
        print("usage: package-kind.py FILE", file=sys.stderr)
        return 2
    try:
        with open(sys.argv[1], "rb") as f:
            data = f.read()
    except OSError as e:
        print("cannot be read: %s" % e.strerror)
        return 2
    clsid = root_class(data)
    if clsid is None:
        print("not a Windows Installer file (no compound file)")
        return 1
    kind = KINDS.get(clsid)
    if kind is None:
        print("a compound file of class {%s}, not a Windows Installer patch" % clsid)
        return 1
    print(kind)
    return 0 if clsid.startswith("000C1086") else 1


if __name__ == "__main__":
    sys.exit(main())
