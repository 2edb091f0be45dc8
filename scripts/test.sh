#!/usr/bin/env bash
# The whole test suite on a fresh Debian 12 machine: installs what it needs, builds the native
# (simulated Windows) tests, both Windows builds, and runs every test, the Windows ones under
# wine64.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
bash scripts/setup.sh
jobs=$(nproc)

echo "== native build and tests (simulated Windows)"
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs"
ctest --test-dir build/native --output-on-failure -j "$jobs"

# --- sanitizers: the native tests again, built with AddressSanitizer and UndefinedBehavior-
# Sanitizer (any finding aborts its test) -------------------------------------------------------
echo "== sanitizers: native tests with -fsanitize=address,undefined"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --test-dir build/asan --output-on-failure -j "$jobs"

# --- fuzzing: every libFuzzer target for a short fixed time from its seed corpus ----------------
echo "== fuzzing"
QV_FUZZ_JOBS="$jobs" bash scripts/fuzz.sh

for preset in win32 win64; do
  echo "== $preset build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

echo "== Windows tests (64-bit build under wine64, checks of both executables)"
ctest --test-dir build/win64 --output-on-failure -j "$jobs"
ctest --test-dir build/win32 --output-on-failure -j "$jobs"

echo "== all tests passed in $(( $(date +%s) - start )) s"
