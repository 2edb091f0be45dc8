#!/usr/bin/env python3
"""qv3sim --wine, --compare and --html: the real QV3Update.exe on a described machine.

qv3sim hands these options to this program. It stages the described machine in a fresh Wine
prefix (the registry, the files with their version data as fixture programs, the product's
communicator window, the installer stand-in with the described effect, the Windows version through
AppDefaults, the user's answers given by the dialog driver), runs the real executable there with
the end-to-end harness (tests/e2e/run-case.sh --plan), and reports what it did in the sections of
the simulation's report; with --compare next to the simulation's run, section by section; with
--html as one self-contained page with a screenshot of every real dialog.

Exit status, as qv3sim's (docs/qv3sim.md): 0 the run was made (with --compare: and both agree),
3 with --compare when they differ, 2 a mistake in the command or the description, or a description
that asks for what Wine cannot stage (the message names the option or field), 4 when the run cannot
happen on this machine (the reason is printed), 1 when this program itself failed. Every failure is
one line on standard error; nothing is left behind in the temporary folder. SIGINT, SIGTERM and
SIGHUP (unless ignored, as under nohup) stop the run: its Wine processes are ended, its files
removed, nothing is reported, and the status is 128 + the signal's number (130 for SIGINT).
"""
import argparse
import fcntl
import json
import os
import re
import shlex
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", "..", ".."))
E2E = os.path.join(ROOT, "tests", "e2e")
sys.path.insert(0, E2E)
sys.path.insert(0, HERE)
import compare_sim  # noqa: E402  (the comparison the end-to-end cases use)
import whatif_report  # noqa: E402  (the updater's what-if report read back)

EXIT_OK, EXIT_FAILED, EXIT_DESCRIPTION, EXIT_DIFFER, EXIT_NOT_RUN = 0, 1, 2, 3, 4
NOT_RUN_STATUS = 77  # run-case.sh: the prefix kind cannot run on this machine

# GetVersionExA's major.minor as Wine's AppDefaults Version names it ("" keeps the prefix's 6.1).
WINE_VERSIONS = {"5.0": "win2k", "5.1": "winxp", "5.2": "winxp64", "6.0": "vista", "6.1": "",
                 "6.2": "win8", "6.3": "win81", "10.0": "win10"}
# The ANSI code page Wine gives a prefix on this machine (from the Unix locale, C.UTF-8).
WINE_CODE_PAGE = 1252
COMMUNICATOR = {"class": "ThunderRT6FormDC", "caption": "QVShellCommunicator2006",
                "children": [{"class": "ThunderRT6TextBox", "caption": ""}]}
# The user's answers as the dialog driver gives them (tests/e2e/fixtures/dlgdriver.cpp).
DRIVER_ACTIONS = {"confirm": "default", "cancel": "id:2", "escape": "escape",
                  "closebox": "close", "close": "id:8"}
# Answers for dialogs beyond the described ones: the simulated user confirms.
EXTRA_ANSWERS = 8
# The file that marks a --work folder as one qv3sim made, locked by the run that uses it.
WORK_MARK = ".qv3sim-run"
# How long an interrupted Wine run's clean-up (its Wine server ended, its prefix removed) may take.
STOP_SECONDS = 60


# The Unix locale in which Wine gives a prefix each Windows UI language (user32's and comctl32's
# buttons follow the thread's UI language, which Wine takes from it); "" is the C.UTF-8 locale
# the harness runs in, whose UI language is English (United States).
UI_LOCALES = {"en-US": "", "de-DE": "de_DE.UTF-8"}


class Refused(Exception):
    """The description asks for what Wine cannot stage; the text names the fields."""


class CannotRun(Exception):
    """The run cannot happen on this machine; the text says why."""


class InputError(Exception):
    """A mistake in the command or in a file it names; the text names the option or file."""


class WineFailed(Exception):
    """The Wine run did not do what it had to; the text says what, in plain words."""


class Interrupted(Exception):
    """A signal (SIGINT, SIGTERM, SIGHUP) stopped the run; args[0] is its number."""


def on_signal(number, _frame):
    """The first signal ends the run; later ones wait for its clean-up to finish."""
    if not on_signal.received:
        on_signal.received = number
        raise Interrupted(number)


on_signal.received = 0


def catch_signals():
    """SIGINT, SIGTERM and SIGHUP stop the run in order. SIGINT is caught even when ignored (a
    job started in the background by a script): Wine acts on it in the run's programs anyway. An
    ignored SIGHUP (nohup) stays ignored."""
    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        if number != signal.SIGHUP or signal.getsignal(number) != signal.SIG_IGN:
            signal.signal(number, on_signal)


def fold(text):
    return text.casefold()


# ---- the description ----------------------------------------------------------------------------
def read_text_file(path):
    raw = open(path, "rb").read()
    if raw[:2] in (b"\xff\xfe", b"\xfe\xff"):
        return raw.decode("utf-16")
    return raw.decode("utf-8-sig")


def load_machine(path, qv3sim, inputs=None):
    """The description as a JSON object with its registry inline (a list of lines). qv3sim checks
    it first, so that a mistake in it is reported as for the simulation alone. INPUTS, a list,
    gets the files read, as (what, path)."""
    if path:
        check = subprocess.run([qv3sim, "--machine", path, "--print-machine"], capture_output=True)
        if check.returncode != 0:
            raise InputError(check.stderr.decode("utf-8", "replace").strip() or
                             "%s: error: qv3sim could not read it (status %d)" %
                             (path, check.returncode))
        with open(path, encoding="utf-8-sig") as f:
            machine = json.load(f)
        read = [("the description", path)]
        if "registry_file" in machine:
            registry = os.path.join(os.path.dirname(os.path.abspath(path)),
                                    machine.pop("registry_file"))
            read.append(("the description's registry file", registry))
            text = read_text_file(registry)
            machine["registry"] = text.replace("\r\n", "\n").split("\n")
        if inputs is not None:
            inputs += read
    else:
        run = subprocess.run([qv3sim, "--print-machine"], capture_output=True, check=True)
        machine = json.loads(run.stdout.decode("utf-8"))
    registry = machine.get("registry", [])
    if isinstance(registry, str):
        registry = registry.split("\n")
    machine["registry"] = registry
    return machine


def windows_path_ok(path):
    return len(path) > 3 and fold(path[:3]) == "c:\\"


def refusals(m):
    """What the description asks for that a Wine prefix cannot hold, one text per field."""
    out = []
    if m.get("faults"):
        out.append("faults: Wine cannot make a chosen Windows call fail; this description runs "
                   "in the simulation only")
    version = m.get("windows_version", "6.1")
    if version not in WINE_VERSIONS:
        out.append("windows_version: \"%s\": Wine cannot make GetVersionExA give that (it can "
                   "give %s)" % (version, ", ".join(sorted(WINE_VERSIONS))))
    if int(m.get("code_page", 1252)) != WINE_CODE_PAGE:
        out.append("code_page: %s: Wine takes the ANSI code page from the Unix locale, which "
                   "gives %d here" % (m["code_page"], WINE_CODE_PAGE))
    if m.get("environment"):
        out.append("environment: Wine gives its programs the environment of its own session; "
                   "described variables are not passed on")
    for n, answer in enumerate(m.get("answers", []), 1):
        if answer not in DRIVER_ACTIONS:
            out.append("answers[%d]: \"%s\": a real dialog cannot be kept from showing" % (n, answer))
    system = m.get("system_folder", "C:\\Windows\\system32")
    if fold(system) != fold(compare_sim.WINE_SYSTEM_FOLDER):
        out.append("system_folder: \"%s\": Wine's system folder is %s" %
                   (system, compare_sim.WINE_SYSTEM_FOLDER))
    for key, value in m.get("special_folders", {}).items():
        if key not in ("common_programs", "23"):
            out.append("special_folders.%s: only the common programs folder can be staged" % key)
        elif value in ("invalid", "missing", "fail"):
            out.append("special_folders.%s: \"%s\": Wine's SHGetFolderPathW cannot be made to "
                       "fail" % (key, value))
        elif not windows_path_ok(value):
            out.append("special_folders.%s: \"%s\": only folders on drive C: can be staged" %
                       (key, value))
    for n, window in enumerate(m.get("windows", [])):
        shape = {k: window.get(k) for k in ("class", "caption")}
        children = [{"class": c.get("class"), "caption": c.get("caption", "")}
                    for c in window.get("children", [])]
        if dict(shape, children=children) != COMMUNICATOR or window.get("visible") or \
                any(c.get("visible") or c.get("children") for c in window.get("children", [])):
            out.append("windows[%d]: only the product's hidden communicator form (%s \"%s\" with "
                       "a %s child) can be staged" % (n, COMMUNICATOR["class"],
                                                      COMMUNICATOR["caption"],
                                                      COMMUNICATOR["children"][0]["class"]))
    for n, f in enumerate(m.get("files", [])):
        if not windows_path_ok(f["path"]):
            out.append("files[%d].path: \"%s\": only files on drive C: can be staged" %
                       (n, f["path"]))
        other = [a for a in f.get("attributes", []) if a != "folder"]
        if other:
            out.append("files[%d].attributes: %s: Wine keeps no such attributes on this file "
                       "system" % (n, ", ".join(other)))
    if "updater_path" in m and not windows_path_ok(m["updater_path"]):
        out.append("updater_path: \"%s\": only paths on drive C: can be staged" % m["updater_path"])
    installer = m.get("installer", {})
    for field in ("path", "target"):
        if installer.get(field) and not windows_path_ok(installer[field]):
            out.append("installer.%s: \"%s\": only paths on drive C: can be staged" %
                       (field, installer[field]))
    # The executable that runs is the build given, made for a package or not.
    if m.get("updater_package"):
        out.append("updater_package: the run uses the executable given (--exe), never one built "
                   "for the described package (scripts/release.sh makes those)")
    if m.get("user_writes"):
        out.append("user_writes: the standard user's writes at a moment of the run are simulated "
                   "only (the end-to-end case release_swap_during_prompt does one under Wine)")
    if fold(m.get("windows_folder", "C:\\windows")) != fold("C:\\windows"):
        out.append("windows_folder: \"%s\": Wine's Windows folder is C:\\windows" %
                   m["windows_folder"])
    return out


# ---- the executables and fixtures --------------------------------------------------------------
def image_bits(path):
    """The word size of a Windows program, 32 or 64; 0 when the file is none of a known kind."""
    return {0x14C: 32, 0x8664: 64}.get(image_machine(path), 0)


def image_machine(path):
    """The machine field of a Windows program's PE header; None when the file is no program."""
    with open(path, "rb") as f:
        data = f.read(65536)
    if len(data) < 0x40 or data[:2] != b"MZ":
        return None
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if pe + 6 > len(data) or data[pe:pe + 4] != b"PE\0\0":
        return None
    return struct.unpack_from("<H", data, pe + 4)[0]


def exe_problem(path):
    """Why --exe PATH cannot be the updater run under Wine, or "" when it can."""
    if not os.path.exists(path):
        return "there is no such file"
    if os.path.isdir(path):
        return "it is a folder, not a program"
    try:
        machine = image_machine(path)
    except OSError as e:
        return "it cannot be read: %s" % (e.strerror or "unknown reason").lower()
    if machine is None:
        return "it is not a Windows program (no MZ and PE header)"
    if machine not in (0x14C, 0x8664):
        return "it is a Windows program for another processor (machine 0x%04X), not i686 or " \
               "x86-64" % machine
    return ""


def set_version(source, target, version):
    """A copy of a program whose fixed file information gives VERSION (a.b.c.d)."""
    data = bytearray(open(source, "rb").read())
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        raise RuntimeError("%s has no version block" % source)
    a, b, c, d = (int(x) for x in version.split("."))
    ms, ls = (a << 16) | b, (c << 16) | d
    struct.pack_into("<4I", data, at + 8, ms, ls, ms, ls)
    with open(target, "wb") as f:
        f.write(data)


# ---- staging: the plan for run-case.sh ---------------------------------------------------------
def write_plan(m, sim, exe, fixtures, work, ui_language="en-US"):
    """The plan for run-case.sh --plan; UI_LANGUAGE is the Windows UI language the prefix gets
    (where this machine has its locale; otherwise English, which the report says)."""
    ui_locale = UI_LOCALES.get(ui_language, "")
    stage = os.path.join(work, "stage")
    os.makedirs(stage, exist_ok=True)
    manifest = []
    counter = [0]

    def staged(source=None, version=None, content=""):
        counter[0] += 1
        path = os.path.join(stage, "%03d" % counter[0])
        if version:
            set_version(source, path, version)
        elif source:
            shutil.copyfile(source, path)
        else:
            with open(path, "wb") as f:
                f.write(content.encode("utf-8"))
        return path

    updater = m.get("updater_path", "C:\\Users\\User\\Downloads\\QV3Update.exe")
    system = m.get("system_folder", "C:\\Windows\\system32")
    installer = m.get("installer", {"effect": "leave"})
    installer_path = installer.get("path") or system + "\\msiexec.exe"
    manifest.append(("file", updater, staged(exe)))
    for f in m.get("files", []):
        path = f["path"]
        if fold(path) in (fold(updater), fold(installer_path)):
            continue  # the updater under test and the installer stand-in take these places
        if "folder" in f.get("attributes", []):
            manifest.append(("folder", path, ""))
        elif f.get("version"):
            manifest.append(("file", path, staged(os.path.join(fixtures, "companion-versioned.exe"),
                                                  f["version"])))
        elif fold(path).endswith(".exe"):
            manifest.append(("file", path, staged(os.path.join(fixtures, "companion.exe"))))
        else:
            manifest.append(("file", path, staged(content=f.get("content", ""))))
    effect = installer["effect"]
    mode = {"raise": "update", "leave": "none"}.get(effect, effect)
    if effect == "raise":
        manifest.append(("file", "C:\\qv-e2e\\QVApp-new.exe",
                         staged(os.path.join(fixtures, "companion-versioned.exe"),
                                installer["version"])))
    with open(os.path.join(work, "manifest.tsv"), "w", encoding="utf-8") as out:
        for row in manifest:
            out.write("\t".join(row) + "\n")

    lines = list(m.get("registry", []))
    if lines and lines[0].startswith("Windows Registry Editor"):
        lines = lines[1:]
    reg_file = os.path.join(work, "machine.reg")
    with open(reg_file, "wb") as out:
        if any(l.strip() for l in lines):
            text = "\r\n".join(["Windows Registry Editor Version 5.00"] + lines + [""])
            out.write(b"\xff\xfe" + text.encode("utf-16-le"))

    links = []
    for path in [f["path"] for f in m.get("files", []) if fold(f["path"]).endswith(".lnk")] + \
            [s["path"] for s in sim.get("shortcuts", [])]:
        if fold(path) not in [fold(p) for _, p in links]:
            links.append(("link%d" % (len(links) + 1), path))
    answers = [DRIVER_ACTIONS[a] for a in m.get("answers", [])] + ["default"] * EXTRA_ANSWERS
    folders = m.get("special_folders", {})
    common = folders.get("common_programs") or folders.get("23") or ""

    machine_file = os.path.join(work, "machine.json")
    with open(machine_file, "w", encoding="utf-8") as out:
        json.dump(m, out, ensure_ascii=False, indent=2)
    values = {
        "MACHINE": machine_file, "STAGE_MANIFEST": os.path.join(work, "manifest.tsv"),
        "REG_FILE": reg_file, "WINVER": WINE_VERSIONS[m.get("windows_version", "6.1")],
        "PROCESS": updater.rsplit("\\", 1)[1], "RUN_PROGRAM": updater,
        "RUN_FOLDER": updater.rsplit("\\", 1)[0], "RAW_ARGS": m.get("arguments", ""),
        "COMMUNICATOR": "1" if m.get("windows") else "0", "COMMON_PROGRAMS_FOLDER": common,
        "MSI_MODE": mode, "MSI_TARGET": installer.get("target", ""),
        "MSI_PATH": installer.get("path", ""), "EXPECT_STATUS": "any",
        "INSTALLER_EXIT": str(installer.get("exit_code", 0)),
        "WINE_LOCALE": ui_locale, "UI_LANGUAGE": ui_language,
    }
    plan = os.path.join(work, "plan.sh")
    with open(plan, "w", encoding="utf-8") as out:
        out.write("# The described machine, for run-case.sh --plan (written by qv3sim --wine).\n")
        for name, value in values.items():
            out.write("%s=%s\n" % (name, shlex.quote(value)))
        out.write("ACTIONS=(%s)\n" % " ".join(shlex.quote(a) for a in answers))
        out.write("LINKS=(%s)\n" % " ".join(shlex.quote("%s|%s" % l) for l in links))
    return plan


def unix_path(drive_c, windows_path):
    """The file a Windows path on C: names in the prefix, each folder matched without regard to
    case against what exists (as Windows finds it); missing parts keep the description's case."""
    current = drive_c
    for part in [p for p in windows_path[3:].split("\\") if p]:
        match = None
        if os.path.isdir(current):
            match = next((e for e in sorted(os.listdir(current)) if fold(e) == fold(part)), None)
        current = os.path.join(current, match or part)
    return current


def adopt_case(drive_c, windows_path):
    """Renames the prefix's folders on the way to a described path that differ from it in case
    only (Wine's "users" where Windows and the description have "Users"), so that Windows' names
    for them, which the program reads back, are the described ones. Wine's own folder and all in it
    keep their names: its system folder is a known difference."""
    current = drive_c
    parts = [p for p in windows_path[3:].split("\\") if p][:-1]
    if parts and fold(parts[0]) == "windows":
        return
    for part in parts:
        if not os.path.isdir(current):
            return
        match = next((e for e in sorted(os.listdir(current)) if fold(e) == fold(part)), None)
        if match and match != part:
            # A move, not a rename: in the emulated PC the prefix is an overlay over its template,
            # where renaming a folder of the template fails (EXDEV) and the folder is copied.
            shutil.move(os.path.join(current, match), os.path.join(current, part))
            match = part
        current = os.path.join(current, match or part)


def place(drive_c, manifest):
    for line in open(manifest, encoding="utf-8").read().splitlines():
        kind, path, source = line.split("\t")
        adopt_case(drive_c, path + ("\\x" if kind == "folder" else ""))
        target = unix_path(drive_c, path)
        if kind == "folder":
            os.makedirs(target, exist_ok=True)
            continue
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(source, target)
    return 0


# ---- what the run showed ------------------------------------------------------------------------
def registry_file(before, after, windows_bits):
    """The run's registry changes as regedit text, per view as qv3sim lists them."""
    views = compare_sim.wine_registry_changes(before, after, windows_bits)
    lines = ["Windows Registry Editor Version 5.00", ""]
    for view in (compare_sim.VIEW64, compare_sim.VIEW32, compare_sim.VIEW_ONLY):
        keys = views.get(view)
        if not keys:
            continue
        lines += ["; %s" % view, ""]
        for fk in sorted(keys):
            key, values, deleted = keys[fk]
            if deleted:
                lines += ["[-%s]" % key, ""]
                continue
            lines.append("[%s]" % key)
            for name, data in sorted(values.values(), key=lambda nv: fold(nv[0])):
                quoted = "@" if name == "" else \
                    '"' + name.replace("\\", "\\\\").replace('"', '\\"') + '"'
                lines.append("%s=%s" % (quoted, "-" if data is None else data))
            lines.append("")
    return "\n".join(lines) + "\n"


def observe(work, windows_bits, shots):
    """The Wine run in the shape of the simulation's report."""
    d = os.path.join(work, "sim", "described")
    after = os.path.join(d, "after")
    read = compare_sim.read_lines
    status = (read(os.path.join(after, "status.txt")) or [""])[0]
    dialogs = []
    for n, w in enumerate(compare_sim.read_dialogs(os.path.join(after, "dialogs.txt")), 1):
        shot = os.path.join(shots, "described-%d.png" % n) if shots else None
        dialogs.append({"title": w["title"], "texts": w["texts"],
                        "buttons": [list(b) for b in w["buttons"]], "action": w["action"],
                        "screenshot": shot if shot and os.path.exists(shot) else None})
    processes = [dict(zip(("image", "command_line"), l.split("|", 1)))
                 for l in read(os.path.join(after, "children.log"))]
    before_snap, _ = compare_sim.snapshot(os.path.join(d, "before"), windows_bits)
    after_snap, _ = compare_sim.snapshot(after, windows_bits)
    sums = compare_sim.link_sums(d)
    links = compare_sim.read_pairs(os.path.join(d, "link-paths.txt"))
    shortcuts, file_changes = [], []
    for name, path in links.items():
        if sums[1].get(name) and sums[1].get(name) != sums[0].get(name):
            fields = dict(l.split("\t", 1) for l in read(os.path.join(after, "link-%s.txt" % name)))
            file_changes.append("written %s" % path)
            shortcuts.append({"path": path, "target": fields.get("Local path"),
                              "arguments": fields.get("Command line arguments"),
                              "working_directory": fields.get("Working directory"),
                              "description": fields.get("Description"),
                              "icon_path": fields.get("Icon location"),
                              "icon_index": fields.get("Icon index"),
                              "show_command": fields.get("Show command")})
        elif sums[0].get(name) and not sums[1].get(name):
            file_changes.append("deleted %s" % path)
    exclusions = []
    for line in read(os.path.join(after, "wer.log")):
        name, _, scope = line.partition("|")
        exclusions.append({"name": name, "all_users": scope == "all"})
    return {"ran": True, "not_run": None,
            "exit_status": int(status) if status.lstrip("-").isdigit() else None,
            "dialogs": dialogs, "processes": processes,
            "registry_file": registry_file(before_snap, after_snap, windows_bits),
            "file_changes": file_changes, "shortcuts": shortcuts,
            "error_reporting_exclusions": exclusions}


def whatif_model(report):
    """The what-if run (the updater with /whatif, before the real run) for the reports: its
    report's sections, the dialogs read from it; None when it wrote none."""
    if not os.path.exists(report):
        return None
    sections = whatif_report.read_whatif(report)
    with open(report, encoding="utf-8-sig") as f:
        text = f.read().replace("\r\n", "\n")
    return {"report": text, "sections": sections,
            "dialogs": whatif_report.whatif_dialogs(sections.get("Dialogs", [])),
            "exit_status": whatif_report.field(sections.get("Outcome so far", []), "Exit status")}


def read_comparison(work):
    d = os.path.join(work, "sim", "described")
    lines = compare_sim.read_lines(os.path.join(d, "comparison.txt"))
    sections = []
    for line in compare_sim.read_lines(os.path.join(d, "sections.txt")):
        name, verdict, detail = (line.split("\t") + ["", ""])[:3]
        sections.append({"name": name, "verdict": verdict, "detail": detail})
    return {"agree": bool(sections) and all(s["verdict"] != "disagree" for s in sections),
            "sections": sections, "lines": lines}


# ---- the report as text -------------------------------------------------------------------------
def rule(title):
    return "\n== %s %s" % (title, "=" * max(3, 66 - len(title)))


def text_report(m, wine, comparison, quiet=False, kept=True):
    """The Wine run as text; QUIET: only how it ended; KEPT: the run's files stay (--work), so
    the report may name the screenshots."""
    if quiet:
        out = ["Not run: %s" % wine["not_run"]] if not wine["ran"] else \
            ["Exit status: %s (in %.1f s)" % (wine["exit_status"], wine["seconds"])]
        if comparison is not None:
            out.append("Verdict: %s" % ("agree" if comparison["agree"] else "DIFFER"))
        return "\n".join(out) + "\n"
    out = ["qv3sim --wine: QV3Update under Wine on the described machine",
           "Machine:   %s" % m.get("description", ""),
           "Windows:   %s, %s-bit, ANSI code page %s" %
           (m.get("windows_version", "6.1"), m.get("windows_bits", 64), WINE_CODE_PAGE),
           "Updater:   %s%s" % (m.get("updater_path", ""), " (%s, %d-bit, in a %s prefix)" %
                                  (wine["exe"], wine["exe_bits"], wine["prefix"])
                                  if wine["prefix"] else ""),
           "Arguments: %s" % (m.get("arguments") or "(none)"),
           "Language:  Windows' own (buttons, folder names) %s" %
           (wine.get("ui_language") or m.get("ui_language", "en-US"))]
    if wine.get("ui_note"):
        out.append("Note:      %s" % wine["ui_note"])
    if not wine["ran"]:
        out.append("\nNot run: %s" % wine["not_run"])
        return "\n".join(out) + "\n"
    out.append(rule("Dialogs (%d)" % len(wine["dialogs"])))
    for n, d in enumerate(wine["dialogs"], 1):
        out.append("Dialog %d: \"%s\"" % (n, d["title"]))
        out += ["  text: %s" % json.dumps(t, ensure_ascii=False) for t in d["texts"]]
        out.append("  buttons: %s" % ", ".join('%d "%s"' % (i, t) for i, t in d["buttons"]))
        picture = ""
        if d["screenshot"]:  # removed with the run's files unless they are kept
            picture = "; picture: %s" % (d["screenshot"] if kept else "in the HTML page")
        out.append("  answer: %s%s" % (d["action"], picture))
    out.append(rule("Child processes (%d)" % len(wine["processes"])))
    for n, p in enumerate(wine["processes"], 1):
        out += ["%d. %s" % (n, p.get("command_line")), "   program found:    %s" % p["image"]]
    out.append(rule("Registry changes"))
    out.append(wine["registry_file"].rstrip("\n"))
    out.append(rule("Error reporting exclusions (%d)" % len(wine["error_reporting_exclusions"])))
    out += ["%s (%s)" % (e["name"], "all users" if e["all_users"] else "this user")
            for e in wine["error_reporting_exclusions"]]
    out.append(rule("File changes"))
    out += wine["file_changes"] or ["(none)"]
    for s in wine["shortcuts"]:
        out.append("  %s -> %s %s; working folder \"%s\"; \"%s\"; icon %s,%s; show %s" %
                   (s["path"], s["target"], s["arguments"], s["working_directory"],
                    s["description"], s["icon_path"], s["icon_index"], s["show_command"]))
    out.append(rule("Outcome"))
    out.append("Exit status: %s (in %.1f s)" % (wine["exit_status"], wine["seconds"]))
    if "whatif" in wine:
        out.append(rule("What-if (run first: /whatif, nothing changed)"))
        out.append(wine["whatif"]["report"].rstrip("\n") if wine["whatif"]
                   else "(the what-if wrote no report)")
    if comparison is not None:
        out.append(rule("Against the simulation"))
        out += comparison["lines"]
        out.append("Verdict: %s" % ("agree" if comparison["agree"] else "DIFFER"))
    return "\n".join(out) + "\n"


# ---- running ------------------------------------------------------------------------------------
def build_exe(m):
    """The build's executable for the described updater_bits."""
    build = os.environ.get("QV_BUILD_ROOT", os.path.join(ROOT, "build"))
    return os.path.join(build, "win32" if int(m.get("updater_bits", 32)) == 32 else "win64",
                        "src", "app", "QV3Update.exe")


def choose(m, exe_option):
    """(prefix kind, executable, its word size, fixtures folder). An --exe the caller checked with
    exe_problem; the build's own executable and fixtures must be there."""
    windows_bits = int(m.get("windows_bits", 64))
    build = os.environ.get("QV_BUILD_ROOT", os.path.join(ROOT, "build"))
    exe = exe_option or build_exe(m)
    if not os.path.isfile(exe):
        raise CannotRun("no executable at %s (scripts/build-windows.sh builds it)" % exe)
    bits = image_bits(exe)
    if bits not in (32, 64):
        raise CannotRun("%s is no Windows program of a known word size (scripts/build-windows.sh "
                        "builds it anew)" % exe)
    if windows_bits == 32 and bits == 64:
        raise Refused("--exe: %s is a 64-bit program, which 32-bit Windows (windows_bits 32) "
                      "cannot run" % exe)
    kind = "win32" if windows_bits == 32 else ("win64" if bits == 64 else "wow64")
    fixtures = os.path.join(build, "win64" if bits == 64 else "win32", "tests", "e2e", "fixtures")
    if not os.path.isfile(os.path.join(fixtures, "companion-versioned.exe")):
        raise CannotRun("no fixture programs in %s (cmake --build --preset %s --target "
                        "qv_e2e_fixtures builds them)" % (fixtures, "win64" if bits == 64 else "win32"))
    return kind, exe, bits, fixtures


def installed_locales():
    """The Unix locales this machine has, as locale -a names them, in lower case."""
    run = subprocess.run(["locale", "-a"], capture_output=True)
    return {l.strip().lower() for l in run.stdout.decode("utf-8", "replace").splitlines()}


def staged_ui_language(m, locales=None):
    """The Windows UI language the prefix gets, and a note when it is not the described one: Wine
    takes it from the Unix locale, which must exist on this machine (LOCALES: what locale -a
    names; by default asked)."""
    wanted = m.get("ui_language", "en-US")
    locale = UI_LOCALES.get(wanted, "")
    if not locale:
        return wanted, ""
    have = installed_locales() if locales is None else locales
    if locale.lower().replace("utf-8", "utf8") in have:
        return wanted, ""
    return "en-US", ("the UI language %s is not staged: this machine has no %s locale, in which "
                     "Wine would run it (scripts/setup.sh wine generates it); Windows' own "
                     "buttons are English in this run" % (wanted, locale))


def probe_file(kind):
    """The i386 probe's result for the 32-bit prefix kinds, run once when it is missing."""
    if kind == "win64":
        return ""
    build = os.environ.get("QV_BUILD_ROOT", os.path.join(ROOT, "build"))
    result = os.environ.get("QV_I386_PROBE") or os.path.join(build, "win32", "i386-probe.txt")
    probe = os.path.join(build, "win32", "tests", "image", "i386_probe.exe")
    if not os.path.exists(result):
        if not os.path.exists(probe):
            raise CannotRun("the %s prefix needs the i386 probe's answer, and neither %s nor %s "
                            "exists" % (kind, result, probe))
        subprocess.run(["bash", os.path.join(ROOT, "scripts", "i386-probe.sh"), probe, result],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return result


def harness(command, env):
    """Runs the Wine run's harness (run-case.sh) to its end: (status, output). It runs in a session
    of its own, so that a signal reaches its programs only through this driver, which then stops
    them in order: SIGTERM to the harness's process group, whose exit trap ends the prefix's Wine
    server and removes the prefix, X display and all; SIGKILL if that takes too long."""
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env,
                               start_new_session=True)
    try:
        output, _ = process.communicate()
    except Interrupted:
        prefixes = run_prefixes(process.pid)
        try:
            os.killpg(process.pid, signal.SIGTERM)
            process.communicate(timeout=STOP_SECONDS)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.communicate()
        except ProcessLookupError:
            pass
        for prefix in filter(os.path.isdir, prefixes):  # left where no exit trap removes them
            for option in ("-k", "-w"):  # its Wine server, found through the harness's TMPDIR
                subprocess.run(["wineserver", option], env=dict(env, WINEPREFIX=prefix),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            shutil.rmtree(prefix, ignore_errors=True)
        raise
    return process.returncode, output.decode("utf-8", "replace")


def run_prefixes(session):
    """The Wine prefixes the harness made that the processes of its SESSION run in (WINEPREFIX):
    the run's own (/tmp/qv-e2e-prefix.*) and a template being booted (.boot-KIND.*), whose
    folder only the finished boot moves into place."""
    found = set()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.getsid(int(pid)) == session:
                with open("/proc/%s/environ" % pid, "rb") as f:
                    found.update(v[len(b"WINEPREFIX="):].decode() for v in f.read().split(b"\0")
                                 if v.startswith(b"WINEPREFIX="))
        except OSError:
            continue
    return {p for p in found if re.match(r"(qv-e2e-prefix|\.boot-\w+)\.", os.path.basename(p))}


def run_wine(m, sim, args, qv3sim, work, scratch):
    """The real run; SCRATCH is its temporary folder (the harness's TMPDIR: the X display's
    files, Wine's server folder), removed with the run."""
    kind, exe, bits, fixtures = choose(m, args.exe)
    ui_language, ui_note = staged_ui_language(m)
    wine = {"ran": False, "not_run": None, "prefix": kind, "exe": exe, "exe_bits": bits,
            "seconds": 0.0, "ui_language": ui_language, "ui_note": ui_note}
    plan = write_plan(m, sim, exe, fixtures, work, ui_language)
    shots = os.path.join(work, "shots") if args.html else ""
    # QV3SIM_RUN_CASE: a stand-in for the harness (the tests of an interrupted run use one).
    command = ["bash", os.environ.get("QV3SIM_RUN_CASE") or os.path.join(E2E, "run-case.sh"),
               "--plan", plan, "--fixtures", fixtures,
               "--exe", exe, "--work", work, "--prefix", kind, "--qv3sim", qv3sim]
    if shots:
        command += ["--shots", shots]
    # The prefix templates stay where they are shared, whatever the run's temporary folder.
    env = dict(os.environ, TMPDIR=scratch, QV_E2E_WHATIF="1" if args.whatif else "0",
               QV_WINE_TEMPLATES=os.environ.get(
        "QV_WINE_TEMPLATES") or os.path.join(os.environ.get("TMPDIR") or "/tmp",
                                             "qv-wine-templates-%d" % os.getuid()))
    try:
        if kind != "win64":
            env["QV_I386_PROBE"] = probe_file(kind)
    except CannotRun as e:
        wine["not_run"] = str(e)
        return wine
    started = time.time()
    returncode, log = harness(command, env)
    wine["seconds"] = time.time() - started
    with open(os.path.join(work, "run.log"), "w", encoding="utf-8") as f:
        f.write(log)
    if returncode == NOT_RUN_STATUS:
        wine["not_run"] = next((l.split(":", 2)[-1].strip() for l in log.splitlines()
                                if l.startswith("NOT RUN")),
                               "this machine cannot run the %s prefix" % kind)
        return wine
    if not os.path.exists(os.path.join(work, "sim", "described", "after", "status.txt")):
        last = [l for l in log.splitlines() if l.strip()][-1:] or ["no output"]
        raise WineFailed("the Wine run did not finish (run-case.sh ended with %d: %s)" %
                         (returncode, last[0].strip()))
    windows_bits = 32 if kind == "win32" else 64
    wine.update(observe(work, windows_bits, shots))
    report = os.path.join(work, "sim", "described", "whatif", "report.txt")
    if args.whatif:
        wine["whatif"] = whatif_model(report)
    wine["seconds"] = round(wine["seconds"], 1)
    problems = [l[len("FAIL: "):] for l in log.splitlines()
                if l.startswith("FAIL: set-up")]
    if problems:
        raise WineFailed("the machine could not be staged: " + "; ".join(problems))
    return wine


def simulate(qv3sim, machine_file):
    run = subprocess.run([qv3sim, "--machine", machine_file, "--json"], capture_output=True)
    if run.returncode != 0:
        raise WineFailed("the simulation of the staged description ended with %d: %s" % (
            run.returncode, run.stderr.decode("utf-8", "replace").strip()))
    return json.loads(run.stdout.decode("utf-8"))


def write_html(path, m, machine_path, sim, wine, comparison):
    import render_html  # noqa: E402
    model = {"machine_path": machine_path, "machine": m, "sim": sim, "wine": wine,
             "comparison": comparison}
    page = render_html.render(model)
    try:
        with open(path, "w", encoding="utf-8") as f:
            f.write(page)
    except OSError as e:
        raise InputError("--html %s: the page could not be written: %s" %
                         (path, (e.strerror or "unknown reason").lower()))


def output_problem(path):
    """Why a file cannot be written at PATH, checked before any work; "" when it can be tried."""
    if os.path.isdir(path):
        return "it is a folder; name a file in it"
    folder = os.path.dirname(os.path.abspath(path))
    if not os.path.exists(folder):
        return "the folder %s does not exist" % folder
    if not os.path.isdir(folder):
        return "%s is not a folder" % folder
    if not os.access(folder, os.W_OK):
        return "the folder %s cannot be written to" % folder
    return ""


def same_file(one, other):
    try:
        return os.path.samefile(one, other)
    except OSError:
        return False


def input_at(path, inputs):
    """The input, (what, path), that the file at PATH is, by the file's identity (another name or
    a hard link of it is it); None."""
    return next((i for i in inputs if same_file(path, i[1])), None)


def input_in(folder, inputs):
    """The input that is FOLDER or lies somewhere below it; None."""
    for what, path in inputs:
        current = os.path.realpath(path)
        while True:
            if same_file(current, folder):
                return what, path
            if os.path.dirname(current) == current:
                break
            current = os.path.dirname(current)
    return None


def remove(path):
    if os.path.isdir(path) and not os.path.islink(path):
        shutil.rmtree(path)
    else:
        os.remove(path)


def claim_work(work, given, inputs):
    """Makes the --work folder WORK (as GIVEN) this run's: a folder that holds no input, new, empty
    or made by an earlier run, whose files are then removed so that none is taken for this run's;
    locked while the run lasts, so that a second run on it is refused at once. Returns the lock
    (a file descriptor to close at the end)."""
    found = input_in(work, inputs)
    if found:
        raise InputError("--work %s: it holds %s (%s), which this run reads; name a folder of "
                         "the run's own" % ((given,) + found))
    try:
        os.makedirs(work, exist_ok=True)
        mark = os.path.join(work, WORK_MARK)
        if not os.path.exists(mark) and os.listdir(work):
            raise InputError("--work %s: the folder holds files that no run of qv3sim made; name "
                             "a new or empty folder" % given)
        lock = os.open(mark, os.O_RDWR | os.O_CREAT, 0o644)
    except OSError as e:
        raise InputError("--work %s: the folder cannot be made: %s" %
                         (given, (e.strerror or "unknown reason").lower()))
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError:
        owner = os.read(lock, 20).decode("ascii", "replace").strip()
        os.close(lock)
        raise InputError("--work %s: another run of qv3sim%s is using the folder; wait for it to "
                         "end or name another folder" % (given, " (process %s)" % owner
                                                         if owner.isdigit() else ""))
    os.ftruncate(lock, 0)
    os.write(lock, b"%d\n" % os.getpid())
    for name in os.listdir(work):
        if name != WORK_MARK:
            remove(os.path.join(work, name))
    return lock


class Arguments(argparse.ArgumentParser):
    """Mistakes on the command line as one line and status 2, as qv3sim reports them."""

    def error(self, message):
        raise InputError(message)


def check_options(a):
    """The mistakes in the options that can be found before anything runs."""
    if a.html:
        problem = output_problem(a.html)
        if problem:
            raise InputError("--html %s: %s" % (a.html, problem))
    if a.whatif and not (a.wine or a.compare):
        raise InputError("--whatif goes only with --wine or --compare")
    if a.exe:
        if not (a.wine or a.compare):
            raise InputError("--exe goes only with --wine or --compare")
        problem = exe_problem(a.exe)
        if problem:
            raise InputError("--exe %s: %s" % (a.exe, problem))


def run(a, m, work, scratch):
    """The simulation, the Wine run and the comparison as asked on the described machine M,
    reported once all is done (an interrupted run is not reported); the exit status."""
    wine_wanted = a.wine or a.compare
    given = os.path.join(work, "given.json")
    with open(given, "w", encoding="utf-8") as f:
        json.dump(m, f, ensure_ascii=False, indent=2)
    sim = simulate(a.qv3sim, given)
    wine = comparison = None
    status = EXIT_OK
    if wine_wanted:
        try:
            wine = run_wine(m, sim, a, a.qv3sim, work, scratch)
        except CannotRun as e:
            wine = {"ran": False, "not_run": str(e), "prefix": "", "exe": a.exe,
                    "exe_bits": 0, "seconds": 0.0}
        if not wine["ran"]:
            sys.stderr.write("qv3sim: cannot run here: %s\n" % wine["not_run"])
            status = EXIT_NOT_RUN
        else:
            comparison = read_comparison(work)
            compared = os.path.join(work, "sim", "described", "sim.json")
            if os.path.exists(compared):
                with open(compared, encoding="utf-8") as f:
                    sim = json.load(f)
            if a.compare and not comparison["agree"]:
                status = EXIT_DIFFER
        if not a.compare:
            comparison = None
        report = text_report(m, wine, comparison, a.quiet, bool(a.work))
    else:  # the simulation's own report, as without --html
        report = subprocess.run([a.qv3sim, "--machine", given] + (["--quiet"] if a.quiet else []),
                                capture_output=True).stdout.decode("utf-8")
    if a.html:
        write_html(a.html, m, a.machine, sim, wine, comparison)
        report += "HTML report: %s\n" % a.html
    if a.work:
        report += "Run files: %s\n" % work
    sys.stdout.write(report)
    return status


def main(argv):
    if argv[:1] == ["place"]:
        p = argparse.ArgumentParser(prog="qv3sim_wine.py place")
        p.add_argument("--drive-c", required=True)
        p.add_argument("--manifest", required=True)
        a = p.parse_args(argv[1:])
        return place(a.drive_c, a.manifest)
    if argv[:1] == ["unix-path"]:
        p = argparse.ArgumentParser(prog="qv3sim_wine.py unix-path")
        p.add_argument("--drive-c", required=True)
        p.add_argument("path")
        a = p.parse_args(argv[1:])
        print(unix_path(a.drive_c, a.path))
        return 0
    p = Arguments(prog="qv3sim", description=__doc__.splitlines()[0])
    p.add_argument("--qv3sim", required=True, help="the qv3sim program")
    p.add_argument("--machine", default="", help="the description (default: the built-in one)")
    p.add_argument("--wine", action="store_true", help="run the real executable under Wine")
    p.add_argument("--compare", action="store_true", help="run both and compare them")
    p.add_argument("--quiet", action="store_true", help="report only how the runs ended")
    p.add_argument("--exe", default="", help="the executable to run instead of the build's")
    p.add_argument("--html", default="", help="write the report as one HTML page")
    p.add_argument("--work", default="", help="keep the run's files in this folder")
    p.add_argument("--whatif", action="store_true",
                   help="run the updater's what-if (/whatif) first, as a third column")
    a = p.parse_args(argv)

    # Everything that can be found wrong is found before a file is made.
    check_options(a)
    inputs = []
    m = load_machine(a.machine, a.qv3sim, inputs)
    if a.wine or a.compare:
        refused = refusals(m)
        if refused:
            raise Refused("\n".join(refused))
    inputs += [("the executable", a.exe or build_exe(m)), ("qv3sim itself", a.qv3sim),
               ("qv3sim's Wine driver", os.path.abspath(__file__)),
               ("qv3sim's page writer", os.path.join(HERE, "render_html.py"))]
    found = input_at(a.html, inputs) if a.html else None
    if found:
        raise InputError("--html %s: it is %s (%s), which this run reads; name another file" %
                         ((a.html,) + found))
    catch_signals()
    scratch = lock = None
    try:
        scratch = tempfile.mkdtemp(prefix="qv3sim-wine.")
        if a.work:
            work = os.path.abspath(a.work)
            lock = claim_work(work, a.work, inputs)
        else:
            work = os.path.join(scratch, "run")
            os.mkdir(work)
        return run(a, m, work, scratch)
    finally:
        if scratch:
            shutil.rmtree(scratch, ignore_errors=True)
        if lock is not None:
            os.close(lock)


def report_failure(argv):
    """The exit status and one line for a failure that left main."""
    kind, error, _ = sys.exc_info()
    machine = argv[argv.index("--machine") + 1] if "--machine" in argv[:-1] else ""
    if kind is Refused:
        sys.stderr.write("".join("%s: cannot be staged under Wine: %s\n" %
                                 (machine or "the default machine", line)
                                 for line in str(error).splitlines()))
        return EXIT_DESCRIPTION
    if kind is InputError:
        text = str(error)
        sys.stderr.write(text + "\n" if ": error: " in text.split("\n")[0] else
                         "qv3sim: error: %s\n" % text)
        return EXIT_DESCRIPTION
    if kind is WineFailed:
        sys.stderr.write("qv3sim: error: %s%s\n" % (error, "" if "--work" in argv else
                                                    "; run again with --work DIR to keep the "
                                                    "run's files and its log"))
        return EXIT_FAILED
    if kind is Interrupted or kind is KeyboardInterrupt:
        number = error.args[0] if kind is Interrupted else signal.SIGINT
        work = argv[argv.index("--work") + 1] if "--work" in argv[:-1] else ""
        sys.stderr.write("qv3sim: interrupted by %s: the run was stopped before it ended and is "
                         "not reported (its Wine processes were ended, its temporary files "
                         "removed%s)\n" % (signal.Signals(number).name, "; what it wrote so far "
                                           "stays in --work " + work if work else ""))
        return 128 + number
    # A defect: where it happened, for the report of it; the details only with --work.
    frame = traceback.extract_tb(sys.exc_info()[2])[-1]
    sys.stderr.write("qv3sim: error: the Wine driver failed unexpectedly (a defect: %s in %s, "
                     "line %d)\n" % (kind.__name__, os.path.basename(frame.filename), frame.lineno))
    return EXIT_FAILED


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except SystemExit:
        raise
    except BaseException:  # noqa: BLE001  every failure ends here, as one line and a status
        sys.exit(report_failure(sys.argv[1:]))
