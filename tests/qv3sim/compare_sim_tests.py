#!/usr/bin/env python3
"""tests/e2e/compare_sim.py against a recorded observation: the end-to-end case level2_en as
sim_compare.sh read it back under Wine (HKCU\\Software cut down to the keys the run touches),
first as recorded, where every section must agree or be a named known Wine difference, then with
one fault put in per row, which must make exactly the sections named in the row disagree.

Usage: compare_sim_tests.py QV3SIM
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
COMPARE = os.path.join(HERE, "..", "e2e", "compare_sim.py")
DATA = os.path.join(HERE, "data", "sim-vs-wine-level2_en")
SECTIONS = ["exit status", "dialogs", "child programs", "registry", "shortcut",
            "error-reporting exclusions"]


def edit(path, old, new, count=1):
    def change(d):
        p = os.path.join(d, path)
        text = open(p, encoding="utf-8").read()
        if old not in text:
            raise AssertionError("%s does not hold %r" % (path, old))
        open(p, "w", encoding="utf-8").write(text.replace(old, new, count))
    return change


def remove_line(path, pattern):
    def change(d):
        p = os.path.join(d, path)
        lines = open(p, encoding="utf-8").read().split("\n")
        kept = [l for l in lines if not re.search(pattern, l)]
        if len(kept) != len(lines) - 1:
            raise AssertionError("%s: %r matches %d lines" % (path, pattern, len(lines) - len(kept)))
        open(p, "w", encoding="utf-8").write("\n".join(kept))
    return change


def append(path, text):
    def change(d):
        with open(os.path.join(d, path), "a", encoding="utf-8") as f:
            f.write(text)
    return change


def move_value_to_64_bit_view(d):
    """The browser-emulation value of QVApp.exe written in the 64-bit view instead."""
    edit("after/2.reg", '"QVApp.exe"=dword:00002af8\n', "")(d)
    append("after/1.reg", "\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Internet Explorer\\Main\\"
                          "FeatureControl\\FEATURE_BROWSER_EMULATION]\n"
                          "\"QVApp.exe\"=dword:00002af8\n")(d)


def both(*faults):
    def change(d):
        for fault in faults:
            fault(d)
    return change


# The prefix in a German Windows UI language, as the settings record it.
GERMAN_PREFIX = edit("settings.json", '"case": ', '"ui_language": "de-DE",\n  "case": ')
GERMAN_CANCEL = edit("after/dialogs.txt", "Button\t2\t1\tCancel", "Button\t2\t1\tAbbrechen")


def shortcut_untouched(d):
    shutil.copy(os.path.join(d, "before", "links.txt"), os.path.join(d, "after", "links.txt"))


# name, fault, sections that must disagree (none: the run as recorded)[, text the output holds]
ROWS = [
    ("as recorded", None, []),
    # Wine writes its own settings while the dialogs are driven: named, not counted.
    ("Wine's own key written",
     append("after/7.reg", "\n[HKEY_CURRENT_USER\\Software\\Wine\\Temporary System Parameters]\n"
                           "\n[HKEY_CURRENT_USER\\Software\\Wine\\Temporary System Parameters\\"
                           "Control Panel\\Mouse]\n"), [],
     "known Wine difference: registry: Wine's own settings: "),
    ("exit status", edit("after/status.txt", "0", "1603"), ["exit status"]),
    ("dialog title", edit("after/dialogs.txt", "title\tQuorvia 3\n", "title\tQuorvia\n"),
     ["dialogs"]),
    ("dialog content", edit("after/dialogs.txt", "to the latest version.", "to the latest."),
     ["dialogs"]),
    ("dialog footer missing", remove_line("after/dialogs.txt", r"^control\tStatic\t0\t1\tExit "),
     ["dialogs"]),
    ("button text", edit("after/dialogs.txt", "Install update now", "Install now"), ["dialogs"]),
    ("button order", edit("after/dialogs.txt", "6\t1\tInstall update now\ncontrol\tButton\t2\t1\t"
                          "Cancel", "2\t1\tCancel\ncontrol\tButton\t6\t1\tInstall update now"),
     ["dialogs"]),
    ("button id", edit("after/dialogs.txt", "Button\t6\t1\tInstall", "Button\t1\t1\tInstall"),
     ["dialogs"]),
    # Windows' own buttons follow the prefix's UI language, and the simulation models it.
    ("German Windows buttons, English prefix", GERMAN_CANCEL, ["dialogs"]),
    ("German prefix, English Windows buttons", GERMAN_PREFIX, ["dialogs"]),
    ("German prefix and buttons",
     both(GERMAN_PREFIX, GERMAN_CANCEL,
          edit("after/dialogs.txt", "Button\t8\t1\t&Close", "Button\t8\t1\t&Schlie\u00dfen")),
     []),
    # The report answered by its Close button under Wine, cancelled by the simulated user.
    ("other button pressed", edit("settings.json", '"button:Close"', '"id:2"'), ["dialogs"]),
    ("one dialog more", append("after/dialogs.txt", "dialog\t3\ntitle\tQuorvia 3\n"), ["dialogs"]),
    ("installer command line", edit("after/children.log", 'qvupdate.msp"', 'qvupdate.msp" /norestart'),
     ["child programs"]),
    # The old way: the installer on the package in the download folder, which its user can
    # change, instead of the protected copy.
    ("installer on the package in the download folder",
     edit("after/children.log", "C:\\windows\\Temp\\QV3Update-E2215824D5BCC25E\\qvupdate.msp",
          "C:\\qv-e2e\\download\\qvupdate.msp"), ["child programs"]),
    ("protected folder elsewhere",
     edit("after/children.log", "C:\\windows\\Temp\\QV3Update-", "C:\\windows\\QV3Update-"),
     ["child programs"]),
    # Another random name of the protected folder is the same run.
    ("another random name",
     edit("after/children.log", "QV3Update-E2215824D5BCC25E", "QV3Update-00000000DEADBEEF"), []),
    ("installer from the download folder",
     edit("after/children.log", "C:\\windows\\system32\\msiexec.exe|",
          "C:\\qv-e2e\\download\\msiexec.exe|"), ["child programs"]),
    ("QVInit.exe not started", remove_line("after/children.log", r"QVInit\.exe\|"),
     ["child programs"]),
    ("QVInit.exe unquoted", edit("after/children.log", '"C:\\Program Files (x86)\\Quorvia 3\\QVInit.exe"',
                                 "C:\\Program Files (x86)\\Quorvia 3\\QVInit.exe"),
     ["child programs"]),
    ("registry value data", edit("after/2.reg", '"QVGet.exe"=dword:00002af8', '"QVGet.exe"=dword:00001f40'),
     ["registry"]),
    ("registry value in the other view", move_value_to_64_bit_view, ["registry"]),
    ("registry value missing", edit("after/2.reg", '"QVThumbs.exe"=dword:00000001\n', ""),
     ["registry"]),
    ("registry value extra", edit("after/2.reg", '"QVThumbs.exe"=dword:00002af8',
                                  '"QVThumbs.exe"=dword:00002af8\n"QVSync.exe"=dword:00002af8'),
     ["registry"]),
    ("per-user value missing", remove_line("after/7.reg", r'^"Isolation64Bit"=dword:00000000$'),
     ["registry"]),
    ("add-in name", edit("after/9.reg", '@="Quorvia Toolbar"', '@="Querlix-Symbolleiste"'),
     ["registry"]),
    ("product key changed", append("after/6.reg", '"Version"="3.10.0.69"\n'), ["registry"]),
    ("shortcut description", edit("after/link-en.txt", "Syncs two Quorvia data files.", "Syncs."),
     ["shortcut"]),
    ("shortcut target", edit("after/link-en.txt", "Local path\tC:\\Program Files (x86)\\Quorvia 3\\QVSync.exe",
                             "Local path\tC:\\qv-e2e\\old\\QVSync.exe"), ["shortcut"]),
    ("shortcut show command", edit("after/link-en.txt", "Show command\t1", "Show command\t3"),
     ["shortcut"]),
    ("shortcut not renewed", shortcut_untouched, ["shortcut"]),
    ("exclusion missing", remove_line("after/wer.log", r"^QVSaver\.exe\|all$"),
     ["error-reporting exclusions"]),
    ("exclusion for this user only", edit("after/wer.log", "QVSync.exe|all", "QVSync.exe|user"),
     ["error-reporting exclusions"]),
    # The description follows the case's settings: other answers are another machine.
    ("prompt cancelled in the settings", edit("settings.json", '"button:Install update now"',
                                              '"button:Cancel"'),
     ["exit status", "dialogs", "child programs", "registry", "shortcut",
      "error-reporting exclusions"]),
    # The product's files elsewhere than its AppPath (from the prefix's registry): the simulated
    # updater finds no QVInit.exe to start.
    ("product files elsewhere in the settings",
     edit("settings.json", '"install": "C:\\\\Program Files (x86)\\\\Quorvia 3\\\\"',
          '"install": "C:\\\\Quorvia\\\\"'),
     ["child programs"]),
]


def run(qv3sim, folder):
    done = subprocess.run([sys.executable, COMPARE, "--qv3sim", qv3sim, "--dir", folder],
                          capture_output=True, text=True)
    verdicts = {}
    path = os.path.join(folder, "sections.txt")
    if os.path.exists(path):
        for line in open(path, encoding="utf-8").read().splitlines():
            name, verdict = line.split("\t")[:2]
            verdicts[name] = verdict
    return done.returncode, done.stdout + done.stderr, verdicts


def main():
    qv3sim = sys.argv[1]
    failures = 0
    for row in ROWS:
        name, fault, disagreeing = row[:3]
        named = row[3] if len(row) > 3 else None
        with tempfile.TemporaryDirectory() as tmp:
            folder = os.path.join(tmp, "case")
            shutil.copytree(DATA, folder)
            if fault:
                fault(folder)
            status, output, verdicts = run(qv3sim, folder)
        problems = []
        if sorted(verdicts) != sorted(SECTIONS):
            problems.append("sections compared: %s" % sorted(verdicts))
        for section in SECTIONS:
            want_disagree = section in disagreeing
            got = verdicts.get(section)
            if want_disagree != (got == "disagree"):
                problems.append("%s: %s, expected %s" % (section, got,
                                                         "disagree" if want_disagree else
                                                         "agree or known"))
        if status != (1 if disagreeing else 0):
            problems.append("exit status %d" % status)
        if not disagreeing and "known Wine difference: child programs: installer stand-in" not in output:
            problems.append("the installer stand-in is not named as a known Wine difference")
        if named and named not in output:
            problems.append("the output does not say %r" % named)
        if problems:
            failures += 1
            print("FAIL %s: %s\n%s" % (name, "; ".join(problems), output))
        else:
            print("ok   %s" % name)
    # Without qv3sim the comparison fails and says why.
    with tempfile.TemporaryDirectory() as tmp:
        folder = os.path.join(tmp, "case")
        shutil.copytree(DATA, folder)
        status, output, _ = run(os.path.join(tmp, "no-qv3sim"), folder)
    if status == 0 or "qv3sim not found" not in output:
        failures += 1
        print("FAIL without qv3sim: status %d\n%s" % (status, output))
    else:
        print("ok   without qv3sim")
    print("%d rows, %d failed" % (len(ROWS) + 1, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
