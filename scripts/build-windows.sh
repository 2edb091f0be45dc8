#!/usr/bin/env bash
# Builds the two Windows executables, without the test programs: the 32-bit release
# (preset win32) and the 64-bit build (preset win64). The build output goes to standard error;
# standard output gets the two paths, the 32-bit one first.
# Usage: build-windows.sh; QV_JOBS sets the number of parallel jobs (default: all processors).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${QV_JOBS:-$(nproc)}
for preset in win32 win64; do
  # A build folder that already has the test programs (scripts/test.sh) keeps them.
  tests=OFF
  grep -q '^QV_TESTS:BOOL=ON' "build/$preset/CMakeCache.txt" 2>/dev/null && tests=ON
  cmake --preset "$preset" -DQV_TESTS=$tests >&2
  cmake --build --preset "$preset" --target QV3Update -j "$jobs" >&2
done
for preset in win32 win64; do
  echo "$PWD/build/$preset/src/app/QV3Update.exe"
done
