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
echo "== Windows tests (the 32-bit release under WOW64 and on 32-bit Windows)"
# Where the i686 runs happen is decided once (scripts/i386-probe.sh): here where the kernel runs
# i386 code (then the emulated PC's own tests, label emulated_pc, prove it here too); in the
# emulated PC where it does not, all of them in one guest; or nowhere. QV_EMULATED_PC_USE=always
# takes the emulated PC even where the kernel runs i386 code.
i686_started=$(date +%s)
bash scripts/i386-probe.sh build/win32/tests/image/i386_probe.exe build/win32/i386-probe.txt ||
  echo "the i386 probe found a fault (above)"
if grep -q '	can run in the emulated PC	' build/win32/i386-probe.txt; then
  i686_where="in the emulated PC"
  # QV_I686=all: every i686 test; otherwise the set CI runs there (CTest label i686_ci).
  if [ "${QV_I686:-ci}" = all ]; then i686_label='^i686$'; else i686_label='^i686_ci$'; fi
  # Here: the checks of the image (the emulated PC's own tests would only repeat what follows).
  ctest --test-dir build/win32 --output-on-failure -j "$jobs" -LE '^(i686|emulated_pc)$' \
    --output-junit "$results/win32.xml"
  # The patch packages and the release of the real-installer cases were made here (above); the
  # guest takes them as they are instead of making them again under emulation.
  bash scripts/emulated-pc.sh -- ctest --test-dir build/win32 --output-on-failure -j 2 \
    -L "$i686_label" -FS '^qv_e2e_(packages|release)$' --output-junit "$results/win32-i686.xml" ||
    i686_failed=1
  left_out=$(ctest --test-dir build/win32 -N -L '^i686$' | sed -n 's/^ *Test *#[0-9]*: //p' |
             grep -vxF -f <(ctest --test-dir build/win32 -N -L "$i686_label" |
                            sed -n 's/^ *Test *#[0-9]*: //p') || true)
else
  i686_where=here
  grep -q '	can run	' build/win32/i386-probe.txt || i686_where="nowhere (not run)"
  ctest --test-dir build/win32 --output-on-failure -j "$jobs" --output-junit "$results/win32.xml" ||
    i686_failed=1
  left_out=
fi
i686_seconds=$(( $(date +%s) - i686_started ))
i686_summary="the i686 tests ran $i686_where, in $i686_seconds s (probe included)"
echo "== $i686_summary"
[ -z "${i686_failed:-}" ] || { echo "== i686 tests FAILED (above)"; exit 1; }

# --- the release: reproducible builds, signing, the release folder -------------------------------
echo "== release: reproducible builds (two copies of the tree, built in different folders)"
QV_JOBS="$jobs" bash tests/release/reproducible.sh build/win32/src/app/QV3Update.exe \
  build/win64/src/app/QV3Update.exe
echo "== release: signing (throwaway certificate)"
bash tests/release/signing.sh build/win32 build/win64
echo "== release: the release folder (scripts/release.sh)"
QV_JOBS="$jobs" bash tests/release/release_folder.sh

elapsed=$(( $(date +%s) - start ))
junit=("$results"/{native,asan,win64,win32}.xml)
[ -f "$results/win32-i686.xml" ] && junit+=("$results/win32-i686.xml")
not_run=$(python3 scripts/not-run.py "${junit[@]}"
          [ -z "$left_out" ] || printf '%s\n' "$left_out" |
            sed 's/$/: not in the set the emulated PC runs by default (QV_I686=all runs every i686 test)/')
echo "== $i686_summary"
if [ -z "$not_run" ]; then
  echo "== all tests passed in $elapsed s"
else
  echo "== i386 probe (build/win32/i386-probe.txt):"
  sed 's/\t/: /; s/\t/: /; s/^/   /' build/win32/i386-probe.txt 2>/dev/null || echo "   no result"
  echo "== every test that ran passed in $elapsed s; $(printf '%s\n' "$not_run" | wc -l) did NOT RUN on this machine:"
  printf '%s\n' "$not_run" | sed 's/^/NOT RUN: /'
fi
