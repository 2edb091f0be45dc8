#!/usr/bin/env python3
"""What changed in a Wine prefix between before/ and after/ of a what-if run.

Usage: whatif_diff.py DIR. DIR holds before/ and after/, each with the prefix's
registry files (system.reg, user.reg, userdef.reg, as Wine's server saves them: regexport.exe --save)
and files.txt (find's listing of drive_c: type, size, modification time, path). Prints every
change the what-if made (nothing when it made none) and writes DIR/wine-own.txt naming what Wine
itself changed: the registry keys it keeps up to date on its own (their modification times, the
keys below WINE_OWN) and the files and folders it writes at each start (WINE_FILES).
"""
import os
import re
import sys

# Keys Wine writes by itself when a program starts or its server ends, not the program's.
WINE_OWN = [
    r"software\\wine\\",                                   # Wine's own settings
    r"system\\currentcontrolset\\control\\session manager\\environment",
    r"software\\microsoft\\windows\\currentversion\\explorer\\",  # shell state of the session
    r"volatile environment",
    # The display adapters, which Wine's display driver enters again at each desktop start.
    r"system\\currentcontrolset\\control\\class\\{4d36e968-e325-11ce-bfc1-08002be10318}",
    r"system\\currentcontrolset\\enum\\display\\",   # and the monitors
]
# Files and folders Wine writes at a start (its font cache, the user's temporary folder).
WINE_FILES = [r"^\./windows/(temp|fonts|system32/spool)(/|$)", r"^\./users/[^/]+/(temp|appdata/local/temp)(/|$)",
              r"^\./users/[^/]+/appdata/local/microsoft/windows/(inetcache|history|cookies)"]


def registry(path):
    """{key: [value lines]} of a Wine registry file, the keys' times left out."""
    keys, key, value = {}, None, ""
    for line in open(path, encoding="utf-8", errors="replace").read().split("\n"):
        if value:
            value += line.strip()
            if not line.endswith("\\"):
                keys[key].append(value)
                value = ""
            continue
        if line.startswith("["):
            key = line[1:line.rindex("]")].lower()
            keys[key] = []
        elif key is not None and line and not line.startswith("#") and not line.startswith(";"):
            if line.endswith("\\"):
                value = line[:-1]
            else:
                keys[key].append(line)
    return keys


def own(key):
    return any(re.match(p, key.replace("\\\\", "\\")) for p in WINE_OWN)


def main():
    d = sys.argv[1]
    changes, wine = [], set()
    for name in ("system.reg", "user.reg", "userdef.reg"):
        before = registry(os.path.join(d, "before", name))
        after = registry(os.path.join(d, "after", name))
        for key in sorted(set(before) | set(after)):
            if before.get(key) == after.get(key):
                continue
            what = "%s [%s]: %s" % (name, key, "made" if key not in before else
                                    "removed" if key not in after else "values changed")
            if own(key):
                wine.add("%s [%s]" % (name, key))
            else:
                changes.append(what)
    listings = []
    for phase in ("before", "after"):
        entries = {}
        for line in open(os.path.join(d, phase, "files.txt"), encoding="utf-8", errors="replace"):
            kind, size, time, path = line.rstrip("\n").split(" ", 3)
            # A folder's time changes with what Wine writes into it; its files tell what changed.
            entries[path] = (kind, size, time if kind != "d" else "")
        listings.append(entries)
    for path in sorted(set(listings[0]) | set(listings[1])):
        if listings[0].get(path) == listings[1].get(path):
            continue
        if any(re.match(p, path.lower()) for p in WINE_FILES):
            wine.add("drive_c/" + path[2:])
        else:
            changes.append("drive_c/%s: %s" % (path[2:], "made" if path not in listings[0] else
                                                "removed" if path not in listings[1] else "changed"))
    with open(os.path.join(d, "wine-own.txt"), "w", encoding="utf-8") as f:
        for line in sorted(wine):
            f.write("Wine's own change, not the updater's: %s\n" % line)
    for line in changes:
        print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main())
