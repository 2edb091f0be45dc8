#!/usr/bin/env python3
"""The libraries QV3Update.exe loaded in one run, from Wine's loader trace (WINEDEBUG=+loaddll of
the run), held against the program's preload list (kPreloadNames in late_binding.cpp).

Prints one line per library the updater's process loaded, in order: its name, where it came
from, whether Wine took its own (builtin) or a file on disk (native), and what put it there:
"preloaded" (named in the preload list), "by import" (before the entry point: the executable's
own imports and theirs) or "by name, not preloaded". Exit status 1 when a file on disk (native)
came from outside the system folder and the side-by-side store, or when the trace shows no run at
all. Wine names a builtin library after the file its search found, so a builtin under a planted
file's path is listed and counted apart: Wine's own code ran, not the file's (kernelbase, a known
DLL that Windows always takes from the system folder, is imported by kernel32 before the program
can restrict the search).
Usage: loader_trace.py TRACE.log late_binding.cpp"""
import re
import sys

LOADED = re.compile(r'^([0-9a-f]{4}):trace:loaddll:\w+ Loaded L"(.*)" at [0-9A-Fa-f]+: (\w+)')


def preload_names(source):
    text = open(source, encoding="utf-8").read()
    block = text[text.index("kPreloadNames[]"):]
    block = block[:block.index("nullptr")]
    return [n.lower() for n in re.findall(r'L"([^"]+)"', block)]


def main(trace, source):
    preload = preload_names(source)
    thread, loads = None, []
    for line in open(trace, encoding="utf-8", errors="replace"):
        m = LOADED.match(line.strip())
        if not m:
            continue
        tid, path, how = m.group(1), m.group(2).replace("\\\\", "\\"), m.group(3)
        if thread is None and path.lower().endswith("\\qv3update.exe"):
            thread = tid  # the updater's main thread: every load of this process happens on it
        elif tid == thread:
            loads.append((path, how))
    if thread is None:
        print("no load of QV3Update.exe in the trace")
        return 1
    # The preload is the first library loaded by name: what came before was imported.
    first = next((i for i, (p, _) in enumerate(loads)
                  if p.lower().rsplit("\\", 1)[-1] in preload[1:]), len(loads))
    outside = named = 0
    for i, (path, how) in enumerate(loads):
        name = path.lower().rsplit("\\", 1)[-1]
        folder = path.lower().rsplit("\\", 1)[0]
        system = folder.endswith(("\\system32", "\\syswow64")) or "\\winsxs\\" in path.lower()
        own = how == "builtin"
        outside += not system and not own
        named += not system and own
        why = ("preloaded" if name in preload else
               "by import" if i < first else "by name, not preloaded")
        print("%-24s %-8s %-24s %s%s" % (name, how, why, path, "" if system else
                                         "   <- Wine's own code, named after this file" if own
                                         else "   <- outside the system folder"))
    print("%d libraries; %d on the preload list of %d names; %d outside the system folder%s" %
          (len(loads), len({p.lower().rsplit("\\", 1)[-1] for p, _ in loads} & set(preload)),
           len(preload), outside,
           "; %d builtin named after a file outside it" % named if named else ""))
    return 1 if outside else 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2]))
