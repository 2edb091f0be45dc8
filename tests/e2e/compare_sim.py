#!/usr/bin/env python3
"""The preview against the real run of one end-to-end case.

Reads the folder sim_compare.sh fills (settings.json, before/ and after/), writes the qv3sim
description of the same machine (description.json), runs qv3sim on it (sim.json) and compares,
section by section, what the simulation reports with what the real QV3Update.exe did under Wine:
exit status, dialogs, child programs, registry changes per view, the shortcut, the
error-reporting exclusions. Where Wine is known to differ from Windows the difference is named
and not counted. Prints a summary, writes sections.txt (SECTION<TAB>agree|known|disagree<TAB>
detail) and ends with 1 when a section disagrees or the comparison cannot be made.
"""
import argparse
import json
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools",
                                "qv3sim", "wine"))
from dialog_buttons import shown_buttons  # noqa: E402
from whatif_report import (VIEW32, VIEW64, VIEW_ONLY, field, normal_data,  # noqa: E402
                           parse_value_line, read_whatif, whatif_dialogs, whatif_registry)

ROOTS = {"HKLM": "HKEY_LOCAL_MACHINE", "HKCU": "HKEY_CURRENT_USER", "HKCR": "HKEY_CLASSES_ROOT"}
PRODUCT_FILES = ["QVGet.exe", "QVSaver.exe", "QVThumbs.exe", "QVSync.exe", "QVInit.exe"]
INSTALLED_VERSION, PATCHED_VERSION = "3.10.0.68", "3.10.0.69"
# GetSystemDirectoryW in a Wine prefix, where the installer stand-in lies, and the folder of the
# 32-bit system files on 64-bit Windows, where a 32-bit program's accesses to it go (WOW64).
WINE_SYSTEM_FOLDER = "C:\\windows\\system32"
WINE_SYSWOW64_FOLDER = "C:\\windows\\syswow64"
# Keys a Windows installation holds in each registry view.
WINDOWS_KEYS = ["HKLM\\Software\\Microsoft\\Internet Explorer\\Main",
                "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"]
WINE_OWN_KEY = "hkey_current_user\\software\\wine"
WINDOWS_VERSIONS = {"": "6.1", "win7": "6.1", "winxp": "5.1", "win2k": "5.0"}


def fold(text):
    return text.casefold()


# ---- registry text ----------------------------------------------------------------------------
def read_reg(path):
    """A regedit export as [(key, [(name, data)])]; name "" is the default value."""
    raw = open(path, "rb").read()
    if raw[:2] in (b"\xff\xfe", b"\xfe\xff"):
        text = raw.decode("utf-16")
    else:
        text = raw.decode("utf-8-sig")
    return read_reg_text(text)


def read_reg_text(text):
    lines = text.replace("\r\n", "\n").split("\n")
    joined, buf = [], ""
    for line in lines:
        if buf:
            line = line.lstrip()
        if line.endswith("\\") and not line.rstrip().endswith('"\\') and "=" in (buf + line):
            buf += line[:-1]
            continue
        joined.append(buf + line)
        buf = ""
    keys, current = [], None
    for line in joined:
        if not line or line.startswith(";") or line.startswith("Windows Registry Editor"):
            continue
        if line.startswith("[") and line.endswith("]"):
            current = (line[1:-1], [])
            keys.append(current)
            continue
        if current is None:
            continue
        if line.startswith("@="):
            current[1].append(("", normal_data(line[2:])))
            continue
        m = re.match(r'^"((?:[^"\\]|\\.)*)"=(.*)$', line)
        if m:
            name = m.group(1).replace('\\"', '"').replace("\\\\", "\\")
            current[1].append((name, normal_data(m.group(2))))
    return keys


def physical(key, view, windows_bits):
    """A key as the given view reaches it, as regedit names it (32-bit Windows has one view)."""
    parts = key.split("\\")
    parts[0] = ROOTS.get(parts[0].upper(), parts[0])
    if view == 32 and windows_bits == 64:
        low = [fold(p) for p in parts]
        if low[0] == "hkey_local_machine" and len(parts) > 2 and low[1] == "software" \
                and low[2] != "wow6432node":
            parts.insert(2, "Wow6432Node")
        elif low[0] == "hkey_classes_root" and len(parts) > 1 and low[1] == "clsid":
            parts.insert(1, "Wow6432Node")
    return "\\".join(parts)


def view_of(key, windows_bits):
    """The view qv3sim names for a physical key."""
    if windows_bits != 64:
        return VIEW_ONLY
    return VIEW32 if "\\wow6432node\\" in fold(key) + "\\" else VIEW64


def snapshot(phase, windows_bits):
    """{folded key: (key, {folded name: (name, data)})} of the keys exported in one phase."""
    out, listed = {}, []
    for line in open(os.path.join(phase, "keys.txt"), encoding="utf-8").read().splitlines():
        n, view, key = line.split("|", 2)
        listed.append(physical(key, int(view), windows_bits))
        path = os.path.join(phase, n + ".reg")
        if not os.path.exists(path):
            continue
        for k, values in read_reg(path):
            p = physical(k, int(view), windows_bits)
            entry = out.setdefault(fold(p), (p, {}))
            for name, data in values:
                entry[1][fold(name)] = (name, data)
    return out, listed


def reg_lines(snap):
    """The snapshot as regedit text for a description."""
    lines = ["Windows Registry Editor Version 5.00", ""]
    for key, values in sorted(snap.values(), key=lambda kv: fold(kv[0])):
        lines.append("[" + key + "]")
        for name, data in values.values():
            quoted = '"' + name.replace("\\", "\\\\").replace('"', '\\"') + '"'
            lines.append(("@" if name == "" else quoted) + "=" + data)
        lines.append("")
    return lines


# ---- the description of the machine -------------------------------------------------------------
def quoted_argument(argument):
    """As launch.exe passes an argument on the updater's command line."""
    if argument and not re.search(r'[ \t"]', argument):
        return argument
    out, backslashes = '"', 0
    for c in argument:
        if c == "\\":
            backslashes += 1
            continue
        out += "\\" * (backslashes * 2 + 1 if c == '"' else backslashes) + c
        backslashes = 0
    return out + "\\" * (backslashes * 2) + '"'


def answer_of(action):
    """The simulated user's answer for one dialog driver action."""
    if action in ("escape",):
        return "escape"
    if action == "close":
        return "closebox"
    if action in ("button:Cancel", "id:2"):
        return "cancel"
    if action in ("button:Close", "id:8"):
        return "close"
    return "confirm"


# The packages of the release cases as the simulation's contents: what matters is only which one
# the release was made for (see release-fixture.sh).
CONTENTS = {"own": "the release's own package", "other": "the publisher's other package",
            "changed": "the release's own package, one byte changed"}


def describe(settings, before):
    s = settings
    download = "C:\\qv-e2e\\" + s["download"]
    install = s["install"]
    package = {"path": download + "\\qvupdate.msp"}
    if s.get("package") in CONTENTS:
        package["content"] = CONTENTS[s["package"]]
    files = [{"path": download + "\\QV3Update.exe"}, package]
    if s["plant"] == "1":
        files.append({"path": download + "\\msiexec.exe"})
    if s["product"] == "1":
        files.append({"path": install + "QVApp.exe", "version": INSTALLED_VERSION})
        files += [{"path": install + name} for name in PRODUCT_FILES]
    links = {"en": [s["link_en"]], "de": [s["link_de"]], "both": [s["link_en"], s["link_de"]]}
    for link in links.get(s["shortcut"], []):
        files.append({"path": s["common_programs"] + link})
    if links.get(s["shortcut"]):
        files.append({"path": s["old_sync"]})
    windows = []
    if s["communicator"] == "1":
        windows.append({"class": "ThunderRT6FormDC", "caption": "QVShellCommunicator2006",
                        "visible": False,
                        "children": [{"class": "ThunderRT6TextBox", "caption": "",
                                      "visible": False}]})
    installer = {"effect": "raise", "version": PATCHED_VERSION} if s["msi_mode"] == "update" \
        else {"effect": "leave"}
    if s.get("installer_exit", "0") != "0":
        installer["exit_code"] = int(s["installer_exit"])
    extra = {}
    if s.get("release"):
        # The release was made for its own package.
        extra["updater_package"] = CONTENTS["own"]
    if s.get("swap"):
        # The dialog driver replaces the package while the first dialog waits.
        write = {"moment": "during-prompt", "path": download + "\\qvupdate.msp"}
        write["content"] = CONTENTS.get(s["swap"], "")
        extra["user_writes"] = [write]
    return dict({
        "description": "end-to-end case %s: the machine of its settings, with the registry of "
                       "the Wine prefix before the run" % s["case"],
        "windows_version": WINDOWS_VERSIONS[s["winver"]],
        "windows_bits": int(s["windows_bits"]),
        # As the run's updater: the 64-bit build reaches the product's keys in the 32-bit view
        # as the 32-bit program does on 64-bit Windows; qv3sim models both.
        "updater_bits": int(s["updater_bits"]),
        "updater_path": download + "\\QV3Update.exe",
        "arguments": " ".join(quoted_argument(a) for a in s["args"]),
        "system_folder": WINE_SYSTEM_FOLDER,
        "code_page": int(s["code_page"]),
        "registry": reg_lines(before),
        "files": files,
        "windows": windows,
        "special_folders": {"common_programs": s["common_programs"]},
        "answers": [answer_of(a) for a in s["actions"]],
        "installer": installer,
        # The prefix's Windows UI language: the harness runs Wine in C.UTF-8, English.
        "ui_language": s.get("ui_language") or "en-US",
    }, **extra)


def described(settings, before):
    """The described machine a run staged (qv3sim --wine), as the simulation is to see it: the
    description with the registry the prefix held before the run added to its own (the keys of
    Windows that a prefix has and a description need not list), the updater's word size of the
    image that ran, and Wine's name of the system folder. Gives the description and notes."""
    machine = json.load(open(settings["machine"], encoding="utf-8"))
    notes = []
    registry = machine.get("registry", "")
    if isinstance(registry, list):
        registry = "\n".join(registry)
    merged = {}
    for key, values in read_reg_text(registry):
        entry = merged.setdefault(fold(key), (key, {}))
        for name, data in values:
            entry[1][fold(name)] = (name, data)
    added = []
    for fk, (key, values) in before.items():
        if fk not in merged:
            # The folders of the described keys are the description's too, and Wine's own
            # settings are no Windows keys.
            if not any(k.startswith(fk + "\\") for k in merged) and \
                    not (fk + "\\").startswith(WINE_OWN_KEY + "\\"):
                added.append(key)
            merged[fk] = (key, dict(values))
        else:
            merged[fk][1].update(values)
    if added:
        added.sort(key=fold)
        notes.append("the Wine prefix holds %d keys the description does not list (a Windows "
                     "installation's own), and the simulation was given them too: %s%s"
                     % (len(added), ", ".join("[%s]" % k for k in added[:4]),
                        ", ..." if len(added) > 4 else ""))
    machine["registry"] = reg_lines(merged)
    bits = int(settings["updater_bits"])
    if int(machine.get("updater_bits", 32)) != bits:
        notes.append("the description names a %s-bit updater; the image that ran is %d-bit, and "
                     "the simulation models that one" % (machine.get("updater_bits", 32), bits))
        machine["updater_bits"] = bits
    if fold(machine.get("system_folder", "C:\\Windows\\system32")) == fold(WINE_SYSTEM_FOLDER):
        machine["system_folder"] = WINE_SYSTEM_FOLDER
    machine["code_page"] = int(settings["code_page"])
    staged = settings.get("ui_language") or "en-US"
    if machine.get("ui_language", "en-US") != staged:
        notes.append("the description names the UI language %s; the prefix ran in %s, and the "
                     "simulation models that" % (machine.get("ui_language", "en-US"), staged))
        machine["ui_language"] = staged
    return machine, notes


# ---- what Wine showed ----------------------------------------------------------------------------
def unescape(text):
    out, i = "", 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            out += {"r": "\r", "n": "\n", "t": "\t", "\\": "\\"}.get(text[i + 1], text[i + 1])
            i += 2
        else:
            out += text[i]
            i += 1
    return out


def read_dialogs(path):
    dialogs = []
    if not os.path.exists(path):
        return dialogs
    for line in open(path, encoding="utf-8").read().splitlines():
        f = line.split("\t")
        if f[0] == "dialog":
            dialogs.append({"title": None, "texts": [], "buttons": [], "action": None})
        elif not dialogs:
            continue
        elif f[0] == "title":
            dialogs[-1]["title"] = unescape(f[1]) if len(f) > 1 else ""
        elif f[0] == "control" and len(f) >= 5 and f[3] == "1" and f[4] != "":
            text = unescape(f[4])
            if f[1] == "Button":
                dialogs[-1]["buttons"].append((int(f[2]), re.sub(r"&(.)", r"\1", text)))
            else:
                dialogs[-1]["texts"].append(text)
        elif f[0] == "action":
            dialogs[-1]["action"] = unescape(f[1])
    return dialogs


def read_pairs(path):
    """A file of NAME|VALUE lines as a dict."""
    return dict(l.split("|", 1) for l in read_lines(path))


def link_sums(d):
    """{name: md5} of the shortcuts that existed before and after the run."""
    return [read_pairs(os.path.join(d, phase, "links.txt")) for phase in ("before", "after")]


def read_lines(path):
    if not os.path.exists(path):
        return []
    return [l for l in open(path, encoding="utf-8").read().replace("\r", "").split("\n") if l]


# ---- the comparison ------------------------------------------------------------------------------
class Comparison:
    def __init__(self):
        self.sections = []  # (name, verdict, detail)
        self.lines = []
        self.known = []

    def add(self, name, problems, known=(), kind="known Wine difference"):
        for short, text in known:
            self.known.append((kind, short))
            self.lines.append("%s: %s: %s: %s" % (kind, name, short, text))
        if problems:
            self.sections.append((name, "disagree", "; ".join(p.splitlines()[0] for p in problems)))
            self.lines.append("DISAGREE %s:" % name)
            self.lines += ["  " + l for p in problems for l in p.splitlines()]
        else:
            self.sections.append((name, "known" if known else "agree",
                                  "; ".join(short for short, _ in known)))
            self.lines.append("%s %s" % ("known" if known else "agree", name))


def both(what, sim, wine, names=("qv3sim", "Wine")):
    return "%s\n  %-7s %s\n  %-7s %s" % (what, names[0] + ":", json.dumps(sim, ensure_ascii=False),
                                        names[1] + ":", json.dumps(wine, ensure_ascii=False))


def expected_dialog(d):
    """Title, texts and buttons of a simulated dialog as the driver reads them from a window."""
    if d["kind"] == "message box":
        return d["caption"], [d["text"]], shown_buttons(d)
    texts = [t for t in (d["main_instruction"], d["content"], d["footer"]) if t]
    return d["window_title"], texts, shown_buttons(d)


def pressed(action, buttons):
    """The button id the driver's action gave, where the action names a button."""
    if action and action.startswith("id:"):
        return int(action[3:])
    if action and action.startswith("button:"):
        return next((i for i, text in buttons if text == action[7:]), None)
    return None  # escape or the close box: the transcript does not show the result


def compare_dialogs(c, sim, wine_dialogs):
    problems = []
    if len(sim["dialogs"]) != len(wine_dialogs):
        problems.append(both("number of dialogs", len(sim["dialogs"]), len(wine_dialogs)))
    for n, (d, w) in enumerate(zip(sim["dialogs"], wine_dialogs), 1):
        title, texts, buttons = expected_dialog(d)
        if title != w["title"]:
            problems.append(both("dialog %d title" % n, title, w["title"]))
        if sorted(texts) != sorted(w["texts"]):
            problems.append(both("dialog %d texts" % n, texts, w["texts"]))
        if buttons != w["buttons"]:
            problems.append(both("dialog %d buttons (id, text)" % n, buttons, w["buttons"]))
        button = pressed(w["action"], w["buttons"])
        if button is not None and button != d["result"]:
            problems.append(both("dialog %d button pressed (driver: %s)" % (n, w["action"]),
                                 d["result"], button))
    c.add("dialogs", problems)


def reached(path, wow64):
    """The file a program reaches by this path: under WOW64 the system folder is SysWOW64."""
    system = fold(WINE_SYSTEM_FOLDER + "\\")
    if wow64 and path and fold(path).startswith(system):
        return WINE_SYSWOW64_FOLDER + path[len(system) - 1:]
    return path


# The protected folder's random name, which differs from run to run.
PROTECTED_FOLDER = re.compile(r"(\\temp\\QV3Update-)[0-9A-F]{16}(\\)", re.IGNORECASE)


def without_random_name(text):
    return PROTECTED_FOLDER.sub(r"\1<random>\2", text) if text else text


def compare_processes(c, sim, children, wow64, real_installer=False):
    problems, known = [], []
    installers = {fold(folder + "\\msiexec.exe") for folder in (WINE_SYSTEM_FOLDER,
                                                                 WINE_SYSWOW64_FOLDER)}
    if any(p["started"] and fold(p["image"]) in installers for p in sim["processes"]):
        if not real_installer:
            known.append(("installer stand-in", "Wine's own msiexec.exe is replaced by "
                          "fixtures/msiexec.exe, which records its start and puts the patched "
                          "QVApp.exe in place as the patch would"))
        known.append(("system folder in lower case", "Wine's GetSystemDirectoryW gives "
                      "C:\\windows\\system32 (Windows: C:\\Windows\\system32); the "
                      "description names Wine's"))
    started = [p for p in sim["processes"] if p["started"]]
    wine = [dict(zip(("image", "command_line"), l.split("|", 1))) for l in children]
    if len(started) != len(wine):
        problems.append(both("child programs started",
                             [p["command_line"] for p in started],
                             [w.get("command_line") for w in wine]))
    for n, (p, w) in enumerate(zip(started, wine), 1):
        # The stand-ins record the program Windows started (their own path), Wine's process
        # trace the one the updater named: the simulation's application name and the program it
        # found must both lead to it (under WOW64 the system folder leads to SysWOW64).
        for field in ("application_name", "image"):
            if fold(reached(p[field], wow64) or "") != fold(reached(w["image"], wow64)):
                problems.append(both("child %d %s" % (n, field), p[field], w["image"]))
        # The installer's package lies in a folder with a random name, in either run.
        if without_random_name(p["command_line"]) != without_random_name(w.get("command_line")):
            problems.append(both("child %d command line" % n, p["command_line"],
                                 w.get("command_line")))
    c.add("child programs", problems, known)


def wine_registry_changes(before, after, windows_bits):
    """{view: {folded key: (key, {folded name: data or None for deleted})}} as qv3sim lists them:
    keys created or deleted, and keys with values new, changed or deleted."""
    views = {}
    for fk in set(before) | set(after):
        b = before.get(fk)
        a = after.get(fk)
        key = (a or b)[0]
        bv = b[1] if b else {}
        av = a[1] if a else {}
        changed = {}
        for fn in set(bv) | set(av):
            if fn not in av:
                changed[fn] = (bv[fn][0], None)
            elif fn not in bv or bv[fn][1] != av[fn][1]:
                changed[fn] = av[fn]
        if b is None or a is None or changed:
            views.setdefault(view_of(key, windows_bits), {})[fk] = (key, changed, a is None)
    return views


def sim_registry_changes(sim):
    views = {}
    for view, v in sim["registry"].items():
        for k in v["changes"]:
            values = {}
            for line in k["values"]:
                name, data = parse_value_line(line)
                values[fold(name)] = (name, data)
            views.setdefault(view, {})[fold(k["key"])] = (k["key"], values, bool(k.get("deleted")))
    return views


def compare_registry(c, sim, before, after, listed, windows_bits):
    problems = []
    wine = wine_registry_changes(before, after, windows_bits)
    simv = sim_registry_changes(sim)
    # Wine keeps its own settings under HKCU\Software\Wine and writes there by itself (the
    # system parameters it changes while a dialog is driven): not the updater's.
    known = []
    for view in wine.values():
        own = [fk for fk in view if (fk + "\\").startswith(WINE_OWN_KEY + "\\")
               and not any(fk == sk for v in simv.values() for sk in v)]
        if own:
            known.append(("Wine's own settings", "Wine changed keys of its own, which Windows "
                          "does not have: " + ", ".join("[%s]" % view[fk][0] for fk in sorted(own))))
        for fk in own:
            del view[fk]
    # Keys every Windows has in both views that a fresh Wine prefix may lack: where the run
    # leaves one created without values (the updater, or Wine by itself), Windows would only
    # have written into it.
    views = [VIEW64, VIEW32] if windows_bits == 64 else [VIEW_ONLY]
    for key in WINDOWS_KEYS:
        for view in views:
            p = fold(physical(key, 32 if view == VIEW32 else 64, windows_bits))
            created = wine.get(view, {}).get(p)
            if p in before or not created:
                continue
            known.append(("prefix lacks %s in the %s" % (key.split("Microsoft\\", 1)[1], view),
                          "a fresh Wine prefix has no [%s], which Windows has; it was created "
                          "during the run" % created[0]))
            if not created[1] and p not in simv.get(view, {}):
                del wine[view][p]
    problems += diff_views(simv, wine, listed, known)
    c.add("registry", problems, known)
    return wine


def diff_views(simv, wine, listed, known, names=("qv3sim", "Wine")):
    """The differences between two sets of registry changes ({view: {folded key: (key, {folded
    name: (name, data)}, deleted)}}); `listed`: the keys the run read back (None: any)."""
    problems = []
    for view in (VIEW64, VIEW32, VIEW_ONLY):
        s, w = simv.get(view, {}), wine.get(view, {})
        for fk in sorted(set(s) | set(w)):
            if listed is not None and fk in s and \
                    not any(fk == fold(l) or fk.startswith(fold(l) + "\\") for l in listed):
                problems.append("%s: %s changes [%s], which the run does not read back (add "
                                "it to SIM_KEYS in sim_compare.sh)" % (view, names[0], s[fk][0]))
                continue
            if fk not in s or fk not in w:
                problems.append(both("%s [%s]" % (view, (s.get(fk) or w.get(fk))[0]),
                                     describe_changes(s[fk]) if fk in s else "unchanged",
                                     describe_changes(w[fk]) if fk in w else "unchanged", names))
                continue
            sk, wk = s[fk], w[fk]
            if sk[2] != wk[2]:
                problems.append(both("%s [%s] deleted" % (view, sk[0]), sk[2], wk[2], names))
            for fn in sorted(set(sk[1]) | set(wk[1])):
                sd = sk[1].get(fn, (None, "unchanged"))[1]
                wd = wk[1].get(fn, (None, "unchanged"))[1]
                if sd != wd:
                    name = (sk[1].get(fn) or wk[1].get(fn))[0]
                    if windows_folder_case(sd, wd):
                        known.append(("Windows folder in lower case", "[%s] \"%s\" names a file in "
                                      "Wine's C:\\windows, which Windows spells C:\\Windows" % (sk[0], name)))
                        continue
                    problems.append(both("%s [%s] \"%s\"" % (view, sk[0], name), sd, wd, names))
    return problems


def windows_folder_case(sim_data, wine_data):
    """True when two texts (as regedit writes them, hex(2) for REG_EXPAND_SZ) differ only in how
    the Windows folder is spelled: C:\\Windows on Windows, C:\\windows in a Wine prefix."""
    def text(data):
        if data.startswith("hex(2):"):
            raw = bytes(int(b, 16) for b in data[7:].replace("\\\n", "").split(",") if b.strip())
            return raw.decode("utf-16-le", "replace")
        return data
    a, b = text(sim_data), text(wine_data)
    spelled = re.compile(r"^(\"?)c:\\windows\\", re.IGNORECASE)
    return a != b and spelled.sub(r"\1C:\\WINDOWS\\", a) == spelled.sub(r"\1C:\\WINDOWS\\", b)


def describe_changes(entry):
    key, values, deleted = entry
    if deleted:
        return "deleted"
    return {name: data for name, data in values.values()} or "key created"


def compare_shortcuts(c, sim, settings, wine_dir, sums_before, sums_after):
    problems = []
    paths = settings["links"]
    written = [n for n in paths if sums_after.get(n) and sums_after.get(n) != sums_before.get(n)]
    removed = [n for n in paths if sums_before.get(n) and not sums_after.get(n)]
    sim_paths = [fold(s["path"]) for s in sim["shortcuts"]]
    wine_paths = [fold(paths[n]) for n in written]
    if sorted(sim_paths) != sorted(wine_paths):
        problems.append(both("shortcuts written", sorted(sim_paths), sorted(wine_paths)))
    if removed:
        problems.append(both("shortcuts removed", [], [paths[n] for n in removed]))
    for s in sim["shortcuts"]:
        name = next((n for n in paths if fold(paths[n]) == fold(s["path"])), None)
        if name not in written:
            continue
        fields = dict(l.split("\t", 1) for l in read_lines(os.path.join(wine_dir, "link-%s.txt" % name)))
        pairs = [("target", s["target"], fields.get("Local path")),
                 ("arguments", s["arguments"], fields.get("Command line arguments")),
                 ("working folder", s["working_directory"], fields.get("Working directory")),
                 ("description", s["description"], fields.get("Description")),
                 ("icon file", s["icon_path"], fields.get("Icon location")),
                 ("icon index", str(s["icon_index"]), fields.get("Icon index")),
                 ("show command", str(s["show_command"]), fields.get("Show command"))]
        for what, sv, wv in pairs:
            if sv != wv:
                problems.append(both("shortcut %s %s" % (name, what), sv, wv))
    c.add("shortcut", problems)


def compare_wer(c, sim, lines):
    expected = ["%s|%s" % (e["name"], "all" if e["all_users"] else "user")
                for e in sim["error_reporting_exclusions"]]
    known = []
    if expected:
        known.append(("wer.dll stand-in", "Wine's WerAddExcludedApplication succeeds and "
                      "records nothing; the exclusions are those fixtures/wer.cpp logged"))
    c.add("error-reporting exclusions",
          [] if expected == lines else [both("exclusions", expected, lines)], known)


def compare_status(c, sim, status):
    c.add("exit status", [] if str(sim["exit_status"]) == status else
          [both("exit status", sim["exit_status"], status)])


# ---- the what-if (whatif.sh): its report against qv3sim and the real run -----------------------
WHATIF = "known what-if difference"


def compare_whatif(c, d, sim, description, wine_dialogs, children, wine_registry, status):
    report = read_whatif(os.path.join(d, "whatif", "report.txt"))
    names = ("what-if", "qv3sim")
    # The machine as read, against the description qv3sim read it from.
    machine = report.get("Machine (as read)", [])
    windows, updater = field(machine, "Windows") or "", field(machine, "Updater") or ""
    desc = description.get
    app = next((f.get("version") for f in desc("files") or []
                if fold(f["path"]).endswith("\\qvapp.exe")), "(not read)")
    running = any(w.get("caption") == "QVShellCommunicator2006" for w in desc("windows") or [])
    # (what, as described (None: not described, the simulation's default), as the what-if read it)
    # The program's manifest names Windows up to 8.1: later Windows tell it 6.3.
    version = desc("windows_version")
    if version and re.match(r"^\d+\.\d+$", version) and tuple(map(int, version.split("."))) > (6, 3):
        version = "6.3"
    facts = [("Windows version", version, windows.split(" ")[0]),
             ("Windows' word size", desc("windows_bits"), re.sub(r"^.*; (\d+)-bit Windows$", r"\1", windows)),
             ("updater's word size", desc("updater_bits"), re.sub(r"^.*\((\d+)-bit\).*$", r"\1", updater)),
             ("updater", desc("updater_path") and fold(desc("updater_path")), fold(updater.rsplit(" (", 1)[0])),
             ("code page", desc("code_page") and "ANSI %s" % desc("code_page"),
              (field(machine, "Code page") or "").split(";")[0]),
             ("QVApp.exe", "files" in description and app or None, field(machine, "QVApp.exe")),
             ("product window", "there" if running else "not there",
              (field(machine, "Product window") or "").split(":")[0])]
    facts = [(what, str(a), b) for what, a, b in facts if a is not None]
    c.add("what-if machine", [both(what, b, a, names) for what, a, b in facts if a != b], kind=WHATIF)

    # Up to the installer, and up to the first dialog answered other than with its default
    # button (the what-if takes the defaults): the real run and qv3sim's beyond that point follow
    # what the what-if cannot know.
    installer = any(p["started"] and fold(p["image"]).endswith("\\msiexec.exe")
                    for p in sim["processes"])
    quiet = "quiet" in report
    dialogs = whatif_dialogs(report.get("Dialogs", []))
    diverged = next((n for n, (d_, s_) in enumerate(zip(dialogs, sim["dialogs"]), 1)
                     if d_["answer"] != s_["result"]), None)
    for label, other in (("qv3sim", [dict(zip(("title", "texts", "buttons"), expected_dialog(x)))
                                     for x in sim["dialogs"]]), ("Wine", wine_dialogs)):
        problems, known = [], []
        n = diverged or len(dialogs)
        if quiet:
            known.append(("quiet", "with /quiet the run shows none of the %d dialogs the what-if "
                          "lists; it answers them as the what-if does" % len(dialogs)))
            if other:
                problems.append(both("dialogs shown", 0, len(other), ("what-if", label)))
        elif len(other) < n or (len(other) > n and not (installer and not diverged)):
            problems.append(both("number of dialogs", len(dialogs), len(other), ("what-if", label)))
        elif len(other) > n:
            known.append(("the installer's", "the dialogs after the installer (%d) follow its "
                          "result, which the what-if cannot know" % (len(other) - n)))
        for i, (a, b) in enumerate(zip(dialogs[:n], other), 1):
            mine = (a["title"], sorted(a["texts"]), len(a["buttons"]))
            theirs = (b["title"], sorted(b["texts"]), len(b["buttons"]))
            own = [t for t in a["buttons"] if t not in ("OK", "Yes", "No", "Cancel", "Retry", "Close")]
            if mine != theirs or any(t not in [x[1] for x in b["buttons"]] for t in own):
                problems.append(both("dialog %d" % i, mine, theirs, ("what-if", label)))
        if diverged:
            known.append(("default button", "dialog %d was answered other than with its default "
                          "button, which the what-if takes: the runs part there" % diverged))
        c.add("what-if dialogs vs %s" % label, problems, known, kind=WHATIF)
    if diverged:
        return

    lines = report.get("Child processes, none started", [])
    mine = [without_random_name(l.split(". ", 1)[1]) for l in lines if re.match(r"^\d+\. ", l)]
    for label, other in (("qv3sim", [p["command_line"] for p in sim["processes"] if p["started"]]),
                         ("Wine", [l.split("|", 1)[1] for l in children])):
        other = [without_random_name(x) for x in other]
        problems, known = [], []
        if mine[:len(other)] != other or (len(mine) != len(other) and not installer):
            problems.append(both("child programs", mine, other, ("what-if", label)))
        elif len(mine) != len(other):
            known.append(("the installer's", "the installer's exit code ended the real run "
                          "(status %s); the what-if goes on as after a success" % status))
        c.add("what-if child programs vs %s" % label, problems, known, kind=WHATIF)

    mine = whatif_registry(report.get("Registry changes", []))
    for label, other in (("qv3sim", sim_registry_changes(sim)), ("Wine", wine_registry)):
        known = []
        problems = diff_views(mine, other, None, known, ("what-if", label))
        if problems and installer and label == "Wine" and status not in ("0", "3010", "1641", "1642"):
            known.append(("the installer's", "the installer's exit code ended the real run "
                          "(status %s) before the settings the what-if goes on to" % status))
            problems = []
        c.add("what-if registry vs %s" % label, problems, known, kind=WHATIF)

    files = report.get("File changes", [])
    shortcuts = [{"path": l.split(" shortcut ", 1)[1]} for l in files if " shortcut " in l]
    keys = {"target": "target", "arguments": "arguments", "working folder": "working_directory",
            "description": "description", "show command": "show_command"}
    for l in files:
        moved = re.match(r"^moved (.*) -> (.*)$", l)
        if moved and shortcuts and fold(moved.group(1)) == fold(shortcuts[-1]["path"]):
            shortcuts[-1]["path"] = moved.group(2)
        for label, key in keys.items():
            if l.startswith("  %s " % label) and shortcuts:
                shortcuts[-1][key] = l[len(label) + 3:]
        if l.startswith("  icon ") and shortcuts:
            shortcuts[-1]["icon_path"], shortcuts[-1]["icon_index"] = l[7:].rsplit(",", 1)
    expected = [{k: str(x[k]) for k in ("path", "target", "arguments", "working_directory",
                                        "description", "show_command", "icon_path", "icon_index")}
                for x in sim["shortcuts"]]
    c.add("what-if shortcut", [] if shortcuts == expected else
          [both("shortcuts", shortcuts, expected, names)], kind=WHATIF)
    mine = [l for l in report.get("Error reporting exclusions", []) if l and l != "(none)"]
    expected = ["%s (%s)" % (e["name"], "all users" if e["all_users"] else "this user")
                for e in sim["error_reporting_exclusions"]]
    c.add("what-if error-reporting exclusions", [] if mine == expected else
          [both("exclusions", mine, expected, names)], kind=WHATIF)
    mine = field(report.get("Outcome so far", []), "Exit status")
    expected = "0" if installer or sim["exit_status"] == 1602 else str(sim["exit_status"])
    c.add("what-if exit status", [] if mine == expected else
          [both("exit status (qv3sim's up to the installer)", mine, expected, names)], kind=WHATIF)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--qv3sim", default="")
    parser.add_argument("--dir", required=True)
    args = parser.parse_args()
    d = args.dir
    sections_file = os.path.join(d, "sections.txt")
    if os.path.exists(sections_file):
        os.remove(sections_file)
    qv3sim = args.qv3sim or os.environ.get("QV_QV3SIM", "")
    if not qv3sim or not os.access(qv3sim, os.X_OK):
        print("sim-vs-wine: FAILED: qv3sim not found (%s); give run-case.sh --qv3sim PATH or "
              "QV_QV3SIM, or build the native preset's qv3sim" % (qv3sim or "no path given"))
        return 1
    settings = json.load(open(os.path.join(d, "settings.json"), encoding="utf-8"))
    windows_bits = int(settings["windows_bits"])
    if not settings["code_page"].isdigit():
        print("sim-vs-wine: FAILED: the prefix's code page (ACP) could not be read")
        return 1
    if int(settings["updater_bits"]) not in (32, 64):
        print("sim-vs-wine: FAILED: the updater's word size could not be read from its image")
        return 1
    before, listed = snapshot(os.path.join(d, "before"), windows_bits)
    after, _ = snapshot(os.path.join(d, "after"), windows_bits)
    # The shortcut paths the run read back, as name|path.
    settings["links"] = read_pairs(os.path.join(d, "link-paths.txt"))
    if not settings["links"]:  # recorded before the paths were written out
        settings["links"] = {"en": settings["common_programs"] + settings["link_en"],
                             "de": settings["common_programs"] + settings["link_de"]}
    notes = []
    if settings.get("machine"):
        description, notes = described(settings, before)
    else:
        description = describe(settings, before)
    desc_path = os.path.join(d, "description.json")
    with open(desc_path, "w", encoding="utf-8") as f:
        json.dump(description, f, ensure_ascii=False, indent=2)
    run = subprocess.run([qv3sim, "--machine", desc_path, "--json"], capture_output=True)
    if run.returncode != 0:
        print("sim-vs-wine: FAILED: qv3sim ended with %d: %s" %
              (run.returncode, run.stderr.decode("utf-8", "replace").strip()))
        return 1
    with open(os.path.join(d, "sim.json"), "wb") as f:
        f.write(run.stdout)
    sim = json.loads(run.stdout.decode("utf-8"))

    wine_dir = os.path.join(d, "after")
    status = (read_lines(os.path.join(wine_dir, "status.txt")) or [""])[0]
    sums = link_sums(d)
    c = Comparison()
    c.lines += ["note: " + n for n in notes]
    compare_status(c, sim, status)
    compare_dialogs(c, sim, read_dialogs(os.path.join(wine_dir, "dialogs.txt")))
    compare_processes(c, sim, read_lines(os.path.join(wine_dir, "children.log")),
                      windows_bits == 64 and int(settings["updater_bits"]) == 32,
                      settings.get("installer") == "real")
    wine_registry = compare_registry(c, sim, before, after, listed, windows_bits)
    compare_shortcuts(c, sim, settings, wine_dir, sums[0], sums[1])
    compare_wer(c, sim, read_lines(os.path.join(wine_dir, "wer.log")))
    if os.path.exists(os.path.join(d, "whatif", "report.txt")):
        compare_whatif(c, d, sim, description, read_dialogs(os.path.join(wine_dir, "dialogs.txt")),
                       read_lines(os.path.join(wine_dir, "children.log")), wine_registry, status)

    agree = sum(1 for s in c.sections if s[1] == "agree")
    disagree = sum(1 for s in c.sections if s[1] == "disagree")
    for line in c.lines:
        print(line)

    def count(n, word):
        return "%d %s%s" % (n, word, "" if n == 1 else "s")
    # Sections with only known differences count among neither the agreeing nor the disagreeing.
    wine = [short for kind, short in c.known if kind != WHATIF]
    whatif = [short for kind, short in c.known if kind == WHATIF]
    print("sim-vs-wine: %s agree, %s%s, %s%s, %s" %
          (count(agree, "section"), count(len(wine), "known Wine difference"),
           " (%s)" % "; ".join(wine) if wine else "",
           count(len(whatif), "known what-if difference"),
           " (%s)" % "; ".join(whatif) if whatif else "", count(disagree, "disagreement")))
    with open(sections_file, "w", encoding="utf-8") as f:
        for name, verdict, detail in c.sections:
            f.write("%s\t%s\t%s\n" % (name, verdict, detail.replace("\t", " ").replace("\n", " ")))
    return 1 if disagree else 0


if __name__ == "__main__":
    sys.exit(main())
