#!/usr/bin/env bash
# Size and speed figures: a benchmark, not a test (no figure here passes or fails anything).
# Builds both Windows executables and the native benchmark, then prints
#   - the size of the 32-bit (i686) and 64-bit (x86_64) QV3Update.exe, beside the aims, and the
#     sizes of their main sections;
#   - the simulated runs per second: complete runs of the update driver on qv3sim's default
#     machine, in one process (benchmarks/sim_runs_bench.cpp);
#   - the start-up ratio, when there is something to measure it on (not yet: n/a).
# Usage: bench.sh [SECONDS]   (how long to run the simulation; default 3). QV_JOBS: build jobs.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-3}
bash scripts/setup.sh base >&2
jobs=${QV_JOBS:-$(nproc)}
mapfile -t exes < <(QV_JOBS=$jobs bash scripts/build-windows.sh)
tests=OFF
grep -q '^QV_TESTS:BOOL=ON' build/native/CMakeCache.txt 2>/dev/null && tests=ON
cmake --preset native -DQV_TESTS=$tests >/dev/null
cmake --build --preset native --target sim_runs_bench -j "$jobs" >&2

aim=200000 stretch=160000
sections() {  # the raw sizes of the main sections, from objdump -h
  local line=
  while read -r _ name size _; do
    case "$name" in
      .text|.rdata|.data|.eh_fram*|.pdata|.xdata|.rsrc|.reloc|.idata) line+="$name $((16#$size))  " ;;
    esac
  done < <("$1" -h "$2")
  echo "$line"
}
echo "== sizes"
for i in 0 1; do
  exe=${exes[$i]}
  if [ $i -eq 0 ]; then arch=i686 objdump=i686-w64-mingw32-objdump; else arch=x86_64 objdump=x86_64-w64-mingw32-objdump; fi
  size=$(stat -c %s "$exe")
  verdict="within the aim of $aim"
  [ "$size" -le "$aim" ] || verdict="$((size - aim)) over the aim of $aim"
  [ $i -ne 0 ] || [ "$size" -gt "$stretch" ] || verdict="$verdict and the stretch aim of $stretch"
  [ $i -ne 0 ] || [ "$size" -le "$stretch" ] || verdict="$verdict; stretch aim $stretch"
  printf '%-7s %8d bytes  (%s)\n' "$arch" "$size" "$verdict"
  printf '        %s\n' "$(sections "$objdump" "$exe")"
done
echo "== simulated runs (the default machine, native build)"
build/native/benchmarks/sim_runs_bench "$seconds" | sed 's/^/  /'
echo "== start-up ratio"
echo "  n/a (nothing to measure it on yet)"
