#!/usr/bin/env python3
"""README.md and docs/ say what is true: every command the pages show works in a shell at the
repository's root: qv3sim's are run there (the Wine runs up to "cannot run here", without a
build), the others' programs, scripts, presets, targets and repository files must exist.

Usage: docs_tests.py QV3SIM"""
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
PAGES = ["README.md", "docs/qv3sim.md", "docs/patch-builder.md", "docs/dialogs/README.md"]
QV3SIM = ""


def commands(page):
    """Inline `bash ...` and every line of the page's sh and plain code blocks (output is shown in
    text blocks)."""
    text = open(os.path.join(ROOT, page), encoding="utf-8").read().replace("\\\n", " ")
    found = [" ".join(c.split()) for c in re.findall(r"`(bash [^`]+)`", text)]
    language = None  # outside a code block
    for line in text.split("\n"):
        if line.startswith("```"):
            language = line[3:] if language is None else None
        elif language in ("", "sh") and line.strip():
            found.append(re.split(r"\s+# ", line)[0].strip())
    return found


class Docs(unittest.TestCase):
    def test_every_command_works_at_the_root(self):
        with tempfile.TemporaryDirectory() as root:  # the repository, with qv3sim built
            for name in set(os.listdir(ROOT)) - {"build"}:
                os.symlink(os.path.join(ROOT, name), os.path.join(root, name))
            os.makedirs(root + "/build/native/tools/qv3sim")
            os.symlink(QV3SIM, root + "/build/native/tools/qv3sim/qv3sim")
            for page in PAGES:
                for command in commands(page):
                    with self.subTest(page=page, command=command):
                        self.check(root, command)

    def check(self, root, command):
        if command.startswith("build/native/tools/qv3sim/qv3sim"):
            run = subprocess.run(command, shell=True, cwd=root, capture_output=True, timeout=120,
                                 env=dict(os.environ, QV_BUILD_ROOT=root + "/no-build"))
            wine = "--wine" in command or "--compare" in command
            self.assertEqual(run.returncode, 4 if wine else 0, run.stderr)
            return
        for part in command.split("&&"):
            words = shlex.split(part)
            while re.match(r"\w+=", words[0]):  # variables set for the command
                words.pop(0)
            self.assertTrue(words[0] == "cd" or shutil.which(words[0]) if "/" not in words[0]
                            else os.access(os.path.join(root, words[0]), os.X_OK), words[0])
            if words[:2] == ["cmake", "--preset"]:
                self.assertIn('"name": "%s"' % words[2],
                              open(os.path.join(ROOT, "CMakePresets.json")).read())
            if "--target" in words:
                targets = subprocess.run(["grep", "-rlE", r"add_\w+\(%s[ )]" % words[-1], ROOT,
                                          "--include=CMakeLists.txt"], capture_output=True)
                self.assertTrue(targets.stdout, "no target " + words[-1])
            for word in words:
                if re.match(r"(scripts|tests|tools|examples|benchmarks|docs)/", word):
                    self.assertTrue(os.path.exists(os.path.join(ROOT, word)), word)
                    if word.endswith(".sh"):
                        subprocess.run(["bash", "-n", os.path.join(ROOT, word)], check=True)


if __name__ == "__main__":
    QV3SIM = os.path.abspath(sys.argv.pop(1))
    unittest.main()
