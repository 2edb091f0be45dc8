#!/usr/bin/env bash
# The main job on a fresh Debian 12 machine: installs what it needs (the base package set: no
# Wine, no test tools), builds qv3sim and the two Windows executables, runs the real update
# driver on the built-in default machine (Windows 7 64-bit, Quorvia 3 installed and running),
# printing every dialog, child process, registry change and file change, and the outcome, and
# then says where the executables are. Extra arguments go to qv3sim (e.g. --machine
# examples/default.json, --matrix, --html FILE); with --wine or --compare it also installs Wine
# and builds the fixture programs, and the real executable runs on the machine too. The exit
# status is qv3sim's. Relative paths among the arguments are taken from the caller's folder, as
# qv3sim takes them: only the set-up and the builds run in the repository's folder. Standard
# output is qv3sim's alone (the builds and the executables' paths go to standard error), so that
# --json and --print-machine can be redirected to a file.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
in_root() { (cd "$root" && "$@"); }
in_root bash scripts/setup.sh base >&2
jobs=${QV_JOBS:-$(nproc)}
# A build folder that already has the test programs (scripts/test.sh) keeps them.
tests=OFF
grep -q '^QV_TESTS:BOOL=ON' "$root/build/native/CMakeCache.txt" 2>/dev/null && tests=ON
in_root cmake --preset native -DQV_TESTS=$tests >/dev/null
in_root cmake --build --preset native --target qv3sim -j "$jobs" >&2
mapfile -t exes < <(QV_JOBS=$jobs bash "$root/scripts/build-windows.sh")
# The real executable on the machine (--wine, --compare): Wine, and the fixture programs of the
# Windows presets' end-to-end tests (with the i386 probe, for the 32-bit release).
for arg in "$@"; do
  case "$arg" in
    --wine | --compare)
      in_root bash scripts/setup.sh wine >&2
      for preset in win32 win64; do
        in_root cmake --preset "$preset" -DQV_TESTS=ON >&2
        targets=(qv_e2e_fixtures)
        [ "$preset" = win32 ] && targets+=(i386_probe)
        in_root cmake --build --preset "$preset" --target "${targets[@]}" -j "$jobs" >&2
      done
      break ;;
  esac
done
status=0
"$root/build/native/tools/qv3sim/qv3sim" "$@" || status=$?
# A run stopped by a signal (status 128 + its number) ends here.
[ $status -gt 128 ] && exit $status
{
  echo
  echo "== Windows executables ==============================================="
  printf '32-bit release: %s (%s bytes)\n' "${exes[0]}" "$(stat -c %s "${exes[0]}")"
  printf '64-bit build:   %s (%s bytes)\n' "${exes[1]}" "$(stat -c %s "${exes[1]}")"
} >&2
exit $status
