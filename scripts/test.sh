#!/usr/bin/env bash
# The whole test suite on a fresh Debian 12 machine: installs what it needs, builds the native
# (simulated Windows) tests, both Windows builds, and runs every test, the Windows ones under
# wine64, and then the release tests (reproducible builds, signing, the release folder).
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
bash scripts/setup.sh
jobs=${QV_JOBS:-$(nproc)}  # QV_JOBS: parallel jobs (default: all processors)

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

# --- the release: reproducible builds, signing, the release folder -------------------------------
echo "== release: reproducible builds (two copies of the tree, built in different folders)"
QV_JOBS="$jobs" bash tests/release/reproducible.sh build/win32/src/app/QV3Update.exe \
  build/win64/src/app/QV3Update.exe
echo "== release: signing (throwaway certificate)"
bash tests/release/signing.sh build/win32 build/win64
echo "== release: the release folder (scripts/release.sh)"
QV_JOBS="$jobs" bash tests/release/release_folder.sh

echo "== all tests passed in $(( $(date +%s) - start )) s"
