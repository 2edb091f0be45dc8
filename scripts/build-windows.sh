#!/usr/bin/env bash
# Builds the two Windows executables, without the test programs: the 32-bit release
# (preset win32) and the 64-bit build (preset win64). The build output goes to standard error;
# standard output gets the two paths, the 32-bit one first.
# Usage: build-windows.sh; QV_JOBS sets the number of parallel jobs (default: all processors).
# QV_PACKAGE_SHA256 (64 hex digits): builds made for the patch package with that hash, in their own
# folders build/win32-release and build/win64-release (the presets' folders stay development
# builds, as the tests want them); another package's release recompiles only the entry point.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${QV_JOBS:-$(nproc)}
sha=${QV_PACKAGE_SHA256:-}
folder() { if [ -n "$sha" ]; then echo "build/$1-release"; else echo "build/$1"; fi; }
for preset in win32 win64; do
  dir=$(folder "$preset")
  # A build folder that already has the test programs (scripts/test.sh) keeps them.
  tests=OFF
  [ -z "$sha" ] && grep -q '^QV_TESTS:BOOL=ON' "$dir/CMakeCache.txt" 2>/dev/null && tests=ON
  cmake --preset "$preset" -B "$dir" -DQV_TESTS=$tests -DQV_PACKAGE_SHA256="$sha" >&2
  cmake --build "$dir" --target QV3Update -j "$jobs" >&2
done
for preset in win32 win64; do
  echo "$PWD/$(folder "$preset")/src/app/QV3Update.exe"
done
