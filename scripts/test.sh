#!/usr/bin/env bash
# The whole test suite on a fresh Debian 12 machine: installs what it needs, builds the native
# (simulated Windows) tests, both Windows builds, and runs every test, the Windows ones under
# Wine (the 64-bit build in a 64-bit prefix, the 32-bit release under WOW64 and in a 32-bit
# prefix), and then the release tests (reproducible builds, signing, the release folder).
# A test that could not run on this machine (the i686 runs where the kernel cannot run i386
# programs) is never counted as passed: the last lines list each one with its reason.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
bash scripts/setup.sh
jobs=${QV_JOBS:-$(nproc)}  # QV_JOBS: parallel jobs (default: all processors)
results=$PWD/build/test-results  # CTest's JUnit files, read for the tests that did not run
rm -rf "$results"
mkdir -p "$results"

echo "== native build and tests (simulated Windows)"
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs"
ctest --test-dir build/native --output-on-failure -j "$jobs" --output-junit "$results/native.xml"

# --- sanitizers: the native tests again, built with AddressSanitizer and UndefinedBehavior-
# Sanitizer (any finding aborts its test) -------------------------------------------------------
echo "== sanitizers: native tests with -fsanitize=address,undefined"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --test-dir build/asan --output-on-failure -j "$jobs" --output-junit "$results/asan.xml"

# --- fuzzing: every libFuzzer target for a short fixed time from its seed corpus ----------------
echo "== fuzzing"
QV_FUZZ_JOBS="$jobs" bash scripts/fuzz.sh

for preset in win32 win64; do
  echo "== $preset build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

echo "== Windows tests (64-bit build under wine64, checks of both executables)"
ctest --test-dir build/win64 --output-on-failure -j "$jobs" --output-junit "$results/win64.xml"
echo "== Windows tests (the 32-bit release under WOW64 and on 32-bit Windows, where i386 runs)"
ctest --test-dir build/win32 --output-on-failure -j "$jobs" --output-junit "$results/win32.xml"

# --- the release: reproducible builds, signing, the release folder -------------------------------
echo "== release: reproducible builds (two copies of the tree, built in different folders)"
QV_JOBS="$jobs" bash tests/release/reproducible.sh build/win32/src/app/QV3Update.exe \
  build/win64/src/app/QV3Update.exe
echo "== release: signing (throwaway certificate)"
bash tests/release/signing.sh build/win32 build/win64
echo "== release: the release folder (scripts/release.sh)"
QV_JOBS="$jobs" bash tests/release/release_folder.sh

elapsed=$(( $(date +%s) - start ))
not_run=$(python3 scripts/not-run.py "$results"/{native,asan,win64,win32}.xml)
if [ -z "$not_run" ]; then
  echo "== all tests passed in $elapsed s"
else
  echo "== i386 probe (build/win32/i386-probe.txt):"
  sed 's/\t/: /; s/\t/: /; s/^/   /' build/win32/i386-probe.txt 2>/dev/null || echo "   no result"
  echo "== every test that ran passed in $elapsed s; $(printf '%s\n' "$not_run" | wc -l) did NOT RUN on this machine:"
  printf '%s\n' "$not_run" | sed 's/^/NOT RUN: /'
fi
