#!/usr/bin/env python3
"""README.md and docs/ are true: the README's excerpt of qv3sim's report on the default machine is
in its output ("[...]" a gap), and every command the pages show works at the repository's root:
qv3sim's are run there (--wine and --compare without a build: "cannot run here"), the others'
programs and repository files must exist. Usage: docs_tests.py QV3SIM"""
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
QV3SIM = ""


def read(page):
    return open(os.path.join(ROOT, page), encoding="utf-8").read()


def commands(page):
    """Inline `bash ...`, and the lines of the sh and plain code blocks (output is in text ones)."""
    text = read(page).replace("\\\n", " ")
    found, language = [" ".join(c.split()) for c in re.findall(r"`(bash [^`]+)`", text)], None
    for line in text.split("\n"):
        if line.startswith("```"):
            language = line[3:] if language is None else None
        elif language in ("", "sh") and line.strip():
            found.append(re.split(r"\s+# ", line)[0].strip())
    return found


class Docs(unittest.TestCase):
    def test_the_readme_excerpt_is_in_qv3sims_output(self):
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
            os.symlink(QV3SIM, root + "/build/native/tools/qv3sim/qv3sim")
            for page in ["README.md", "docs/qv3sim.md", "docs/patch-builder.md"]:
                for command in commands(page):
                    with self.subTest(page=page, command=command):
                        self.check(root, command)

    def check(self, root, command):
        if command.startswith("build/native/tools/qv3sim/qv3sim"):
            run = subprocess.run(command, shell=True, cwd=root, capture_output=True, timeout=120,
                                 env=dict(os.environ, QV_BUILD_ROOT=root + "/no-build"))
            wine = re.search("--wine|--compare", command)
            return self.assertEqual(run.returncode, 4 if wine else 0, run.stderr)
        for words in (shlex.split(part) for part in command.split("&&")):
            words = [w for w in words if not re.match(r"\w+=", w)]  # variables set for it
            self.assertTrue(words[0] == "cd" or shutil.which(words[0]) if "/" not in words[0]
                            else os.access(os.path.join(root, words[0]), os.X_OK), words[0])
            for word in words:
                if re.match(r"(scripts|tests|tools|examples|benchmarks|docs)/", word):
                    self.assertTrue(os.path.exists(os.path.join(ROOT, word)), word)


if __name__ == "__main__":
    QV3SIM = os.path.abspath(sys.argv.pop(1))
    unittest.main()
