#!/usr/bin/env python3
"""The Wine driver of qv3sim without Wine: what it refuses to stage (through qv3sim itself, which
must end with status 2 and name each field), the version written into a fixture program, the
folders of a prefix matched and renamed by case, the plan a description becomes, a run stopped
by a signal; and what the README and docs/ say of qv3sim and its commands (class Docs).

Usage: wine_driver_tests.py QV3SIM"""
import copy
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
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tools", "qv3sim", "wine"))
import qv3sim_wine as driver  # noqa: E402

QV3SIM = ""
EXAMPLES = os.path.join(ROOT, "examples")


def default_machine():
    return driver.load_machine(os.path.join(EXAMPLES, "default.json"), QV3SIM)


# (what is changed in the default machine, the field the refusal must name)
REFUSALS = [
    ({"faults": [{"function": "RegSetValueExA", "nth": 1, "code": 5}]}, "faults:"),
    ({"windows_version": "fail"}, "windows_version:"),
    ({"code_page": 1250}, "code_page: 1250"),
    ({"environment": {"TEMP": "C:\\Temp"}}, "environment:"),
    ({"answers": ["confirm", "cannot-show"]}, "answers[2]:"),
    ({"system_folder": "C:\\WINNT\\system32"}, "system_folder:"),
    ({"special_folders": {"common_programs": "fail"}}, "special_folders.common_programs:"),
    ({"special_folders": {"common_programs": "D:\\Menu"}}, "special_folders.common_programs:"),
    ({"windows": [{"class": "Notepad", "caption": "x"}]}, "windows[0]:"),
    ({"windows": [dict(driver.COMMUNICATOR, visible=True)]}, "windows[0]:"),
    ({"files": [{"path": "C:\\x.txt", "attributes": ["hidden"]}]}, "files[0].attributes:"),
    ({"files": [{"path": "D:\\x.txt"}]}, "files[0].path:"),
    ({"updater_path": "\\\\server\\share\\QV3Update.exe"}, "updater_path:"),
    ({"installer": {"effect": "raise", "version": "3.10.0.69", "target": "E:\\QVApp.exe"}},
     "installer.target:"),
    ({"updater_package": "Quorvia 3 patch"}, "updater_package:"),
    ({"user_writes": [{"moment": "during-prompt", "path": "C:\\x.msp", "delete": True}]},
     "user_writes:"),
    ({"windows_folder": "C:\\WINNT"}, "windows_folder:"),
]


class Refusals(unittest.TestCase):
    def test_the_default_machine_can_be_staged(self):
        self.assertEqual(driver.refusals(default_machine()), [])

    def test_each_unstageable_field_is_named_by_qv3sim(self):
        for change, field in REFUSALS:
            with self.subTest(field=field), tempfile.TemporaryDirectory() as d:
                machine = copy.deepcopy(default_machine())
                machine.update(change)
                path = os.path.join(d, "m.json")
                with open(path, "w", encoding="utf-8") as f:
                    json.dump(machine, f)
                run = subprocess.run([QV3SIM, "--machine", path, "--wine"], capture_output=True,
                                     timeout=60)
                err = run.stderr.decode("utf-8")
                self.assertEqual(run.returncode, 2, err)
                self.assertIn("cannot be staged under Wine: " + field, err)
                self.assertEqual(err.count("cannot be staged"), 1, err)

    def test_the_refused_examples(self):
        for name, fields in [("registry-refused", ["faults:", "special_folders.common_programs:"]),
                             ("win10-utf8-polish", ["code_page: 65001"]),
                             ("refused-package", ["updater_package:"]),
                             ("swap-during-prompt", ["updater_package:", "user_writes:"])]:
            with self.subTest(example=name):
                run = subprocess.run([QV3SIM, "--machine", os.path.join(EXAMPLES, name + ".json"),
                                      "--compare"], capture_output=True, timeout=60)
                err = run.stderr.decode("utf-8")
                self.assertEqual(run.returncode, 2, err)
                for field in fields:
                    self.assertIn(field, err)


def fake_program(version_block=True):
    data = bytearray(b"MZ" + bytes(200))
    if version_block:
        data += struct.pack("<13I", 0xFEEF04BD, 0x10000, 0x3000A, 0, 0x3000A, 0, 0, 0, 4, 1, 0, 0, 0)
    return bytes(data + bytes(64))


# The harness's stand-in: a program that does not end (a Wine one) and a file in its TMPDIR.
STAND_IN = 'sleep 300 & touch "$TMPDIR/display"; echo $! >"$QV3SIM_TEST_CHILD"; wait\n'


class Interruption(unittest.TestCase):
    def test_a_signal_ends_the_run_unreported_and_leaves_nothing(self):
        # SIGINT as a script's background job gets it: ignored on entry, but Wine acts on it.
        for number, ignore in [(signal.SIGINT, 1), (signal.SIGTERM, 0), (signal.SIGHUP, 0)]:
            with self.subTest(signal=number.name), tempfile.TemporaryDirectory() as d:
                build, child = d + "/win64/", d + "/child"  # a 64-bit build of the program
                os.mkdir(d + "/tmp")
                for path in ("src/app/QV3Update.exe", "tests/e2e/fixtures/companion-versioned.exe"):
                    os.makedirs(os.path.dirname(build + path))
                    with open(build + path, "wb") as f:
                        f.write(b"MZ" + bytes(58) + b"@\0\0\0PE\0\0\x64\x86" + fake_program())
                open(d + "/stand-in.sh", "w").write(STAND_IN)
                run = subprocess.Popen(
                    [QV3SIM, "--machine", EXAMPLES + "/xp-x64-german.json", "--compare"],
                    env=dict(os.environ, TMPDIR=d + "/tmp", QV_BUILD_ROOT=d,
                             QV3SIM_RUN_CASE=d + "/stand-in.sh", QV3SIM_TEST_CHILD=child),
                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True,
                    preexec_fn=lambda: signal.signal(
                        signal.SIGINT, signal.SIG_IGN if ignore else signal.SIG_DFL))
                while run.poll() is None and not (os.path.exists(child) and os.path.getsize(child)):
                    time.sleep(0.1)
                os.killpg(run.pid, number)
                out, err = run.communicate(timeout=120)
                self.assertEqual((run.returncode, out), (128 + number, b""), err)
                self.assertRegex(err, b"^qv3sim: interrupted by %s: [^\n]*\n$" %
                                 number.name.encode())  # one line
                state = subprocess.run(["ps", "-o", "stat=", "-p", open(child).read().strip()],
                                       capture_output=True).stdout.strip()
                self.assertIn(state[:1], (b"", b"Z"))  # the stand-in's program ended
                self.assertEqual(os.listdir(d + "/tmp"), [])


class Version(unittest.TestCase):
    def test_the_fixed_file_information_gives_the_version(self):
        with tempfile.TemporaryDirectory() as d:
            source, target = os.path.join(d, "a.exe"), os.path.join(d, "b.exe")
            open(source, "wb").write(fake_program())
            for version, ms, ls in [("3.10.0.70", 0x3000A, 0x46), ("65535.1.2.65535", 0xFFFF0001,
                                                                    0x2FFFF)]:
                with self.subTest(version=version):
                    driver.set_version(source, target, version)
                    data = open(target, "rb").read()
                    at = data.find(struct.pack("<I", 0xFEEF04BD))
                    self.assertEqual(struct.unpack_from("<4I", data, at + 8), (ms, ls, ms, ls))
                    self.assertEqual(len(data), len(fake_program()))

    def test_a_program_without_a_version_block_is_an_error(self):
        with tempfile.TemporaryDirectory() as d:
            source = os.path.join(d, "a.exe")
            open(source, "wb").write(fake_program(version_block=False))
            with self.assertRaises(RuntimeError):
                driver.set_version(source, os.path.join(d, "b.exe"), "1.2.3.4")


class Folders(unittest.TestCase):
    def test_folders_are_found_and_renamed_by_case(self):
        with tempfile.TemporaryDirectory() as c:
            for folder in ("users/root", "windows/system32", "ProgramData/Microsoft/Windows"):
                os.makedirs(os.path.join(c, folder))
            rows = [  # the described path, where it lies after staging
                ("C:\\Users\\User\\Downloads\\QV3Update.exe", "Users/User/Downloads/QV3Update.exe"),
                ("C:\\WINDOWS\\System32\\msiexec.exe", "windows/system32/msiexec.exe"),
                ("C:\\ProgramData\\Microsoft\\windows\\Start Menu\\x.lnk",
                 "ProgramData/Microsoft/windows/Start Menu/x.lnk"),
            ]
            for described, expected in rows:
                with self.subTest(path=described):
                    driver.adopt_case(c, described)
                    self.assertEqual(driver.unix_path(c, described), os.path.join(c, expected))
            self.assertEqual(sorted(os.listdir(c)), ["ProgramData", "Users", "windows"])
            self.assertTrue(os.path.isdir(os.path.join(c, "Users", "root")))


class Plan(unittest.TestCase):
    def test_a_description_becomes_a_plan(self):
        machine = default_machine()
        machine.update({"windows_version": "5.1", "arguments": "/en \"a b\"",
                        "answers": ["confirm", "cancel", "escape", "closebox", "close"]})
        sim = {"shortcuts": [{"path": "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs"
                                      "\\Quorvia 3\\SYNCHRONIZING.LNK"}]}
        with tempfile.TemporaryDirectory() as work:
            fixtures = os.path.join(work, "fixtures")
            os.makedirs(fixtures)
            for name in ("companion-versioned.exe", "companion.exe", "QV3Update.exe"):
                open(os.path.join(fixtures, name), "wb").write(fake_program())
            plan = driver.write_plan(machine, sim, os.path.join(fixtures, "QV3Update.exe"),
                                     fixtures, work)
            text = open(plan, encoding="utf-8").read()
            self.assertIn("ACTIONS=(default id:2 escape close id:8 default", text)
            self.assertIn("RAW_ARGS='/en \"a b\"'", text)
            self.assertIn("WINVER=winxp\n", text)
            self.assertIn("MSI_MODE=update\n", text)
            # The described shortcut and the simulation's are the same file: read back once.
            self.assertEqual(text.count(".lnk") + text.count(".LNK"), 1, text)
            rows = [l.split("\t") for l in open(os.path.join(work, "manifest.tsv"),
                                                 encoding="utf-8").read().splitlines()]
            paths = [r[1] for r in rows]
            # The updater once (from the image under test), the installer stand-in's place not
            # at all, the patched QVApp.exe for the installer to put in place.
            self.assertEqual(sum(p.endswith("QV3Update.exe") for p in paths), 1)
            self.assertNotIn("C:\\Windows\\system32\\msiexec.exe", paths)
            self.assertIn("C:\\qv-e2e\\QVApp-new.exe", paths)
            staged = dict((r[1], r[2]) for r in rows)
            new = open(staged["C:\\qv-e2e\\QVApp-new.exe"], "rb").read()
            at = new.find(struct.pack("<I", 0xFEEF04BD))
            self.assertEqual(struct.unpack_from("<2I", new, at + 8), (0x3000A, 0x45))
            link = staged["C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Quorvia 3"
                          "\\Synchronizing.lnk"]
            self.assertEqual(os.path.getsize(link), 0)
            # English Windows: the harness's own C.UTF-8 locale.
            self.assertIn("WINE_LOCALE=''\nUI_LANGUAGE=en-US\n", text)
            reg = open(os.path.join(work, "machine.reg"), "rb").read()
            self.assertTrue(reg.startswith(b"\xff\xfeW\x00i\x00n\x00"))
            self.assertIn("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\orvanta\\Quorvia]",
                          reg.decode("utf-16"))


class UiLanguage(unittest.TestCase):
    def test_the_prefix_runs_in_the_locale_of_the_ui_language(self):
        german = dict(default_machine(), ui_language="de-DE")
        rows = [  # machine, the locales this machine has, staged language, a note naming
            (default_machine(), set(), "en-US", ""),
            (german, {"c", "c.utf8", "de_de.utf8"}, "de-DE", ""),
            (german, {"c", "c.utf8"}, "en-US", "no de_DE.UTF-8 locale"),
        ]
        for machine, locales, language, note in rows:
            with self.subTest(language=machine.get("ui_language"), locales=sorted(locales)):
                staged, said = driver.staged_ui_language(machine, locales)
                self.assertEqual(staged, language)
                self.assertEqual(bool(said), bool(note))
                self.assertIn(note, said)
        with tempfile.TemporaryDirectory() as work:
            fixtures = os.path.join(work, "fixtures")
            os.makedirs(fixtures)
            for name in ("companion-versioned.exe", "companion.exe", "QV3Update.exe"):
                open(os.path.join(fixtures, name), "wb").write(fake_program())
            plan = driver.write_plan(german, {"shortcuts": []},
                                     os.path.join(fixtures, "QV3Update.exe"), fixtures, work,
                                     "de-DE")
            text = open(plan, encoding="utf-8").read()
            self.assertIn("WINE_LOCALE=de_DE.UTF-8\nUI_LANGUAGE=de-DE\n", text)

    def test_every_ui_language_of_qv3sim_has_a_locale(self):
        # qv3sim names the languages it knows when it refuses another: each must have a locale.
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "m.json")
            with open(path, "w", encoding="utf-8") as f:
                json.dump({"ui_language": "xx-XX"}, f)
            run = subprocess.run([QV3SIM, "--machine", path], capture_output=True, timeout=60)
            known = re.findall(r'"([a-z]{2}-[A-Z]{2})" \(', run.stderr.decode("utf-8"))
            self.assertEqual(run.returncode, 2)
            self.assertEqual(sorted(known), sorted(driver.UI_LOCALES))


def read(page):
    return open(os.path.join(ROOT, page), encoding="utf-8").read()


def commands(page):
    """Inline `bash ...` and the lines of sh and plain code blocks (output is in text blocks)."""
    text = read(page).replace("\\\n", " ")
    found, language = [" ".join(c.split()) for c in re.findall(r"`(bash [^`]+)`", text)], None
    for line in text.split("\n"):
        if line.startswith("```"):
            language = line[3:] if language is None else None
        elif language in ("", "sh") and line.strip():
            found.append(re.split(r"\s+# ", line)[0].strip())
    return found


class Docs(unittest.TestCase):
    def test_the_readme_excerpt_is_in_qv3sims_output(self):  # in order, "[...]" a gap
        block = re.search(r"<!-- qv3sim's report on the default machine.*?\n```text\n(.*?)```",
                          read("README.md"), re.S).group(1)
        lines, at = subprocess.run([QV3SIM], capture_output=True).stdout.decode().split("\n"), 0
        for part in [p.split("\n") for p in block.rstrip("\n").split("\n[...]\n")]:
            at = next((i + len(part) for i in range(at, len(lines))
                       if lines[i:i + len(part)] == part), None)
            self.assertIsNotNone(at, "README.md's excerpt from %r on is not what qv3sim prints "
                                 "now: python3 scripts/refresh-readme.py refreshes it" % part[0])

    def test_every_command_works_at_the_root(self):
        with tempfile.TemporaryDirectory() as root:  # the repository, with qv3sim built
            for name in set(os.listdir(ROOT)) - {"build"}:
                os.symlink(os.path.join(ROOT, name), os.path.join(root, name))
            os.makedirs(root + "/build/native/tools/qv3sim")
            os.symlink(os.path.abspath(QV3SIM), root + "/build/native/tools/qv3sim/qv3sim")
            for page in ["README.md", "docs/qv3sim.md", "docs/patch-builder.md"]:
                for command in commands(page):
                    with self.subTest(page=page, command=command):
                        self.check(root, command)

    def check(self, root, command):  # qv3sim's are run; the others' programs and files exist
        if command.startswith("build/native/tools/qv3sim/qv3sim"):
            run = subprocess.run(command, shell=True, cwd=root, capture_output=True, timeout=120,
                                 env=dict(os.environ, QV_BUILD_ROOT=root + "/no-build"))
            wine = re.search("--wine|--compare", command)  # without a build: "cannot run here"
            return self.assertEqual(run.returncode, 4 if wine else 0, run.stderr)
        for words in (shlex.split(part) for part in command.split("&&")):
            words = [w for w in words if not re.match(r"\w+=", w)]  # variables set for it
            self.assertTrue(words[0] == "cd" or shutil.which(words[0]) if "/" not in words[0]
                            else os.access(os.path.join(root, words[0]), os.X_OK), words[0])
            for word in words:
                if re.match(r"(scripts|tests|tools|examples|benchmarks|docs)/", word):
                    self.assertTrue(os.path.exists(os.path.join(ROOT, word)), word)


if __name__ == "__main__":
    QV3SIM = sys.argv.pop(1)
    unittest.main()
