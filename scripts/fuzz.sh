#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (QV_FUZZ=ON: AddressSanitizer, UndefinedBehavior-
# Sanitizer and coverage on all code) and runs each target for a fixed short time, starting from
# its seed corpus in tests/fuzz/corpus/<target>/. New inputs go to a scratch folder, never into
# the tree; a finding stops the script with the target's report and keeps the input that caused
# it in <build>/fuzz-findings/.
#
#   QV_FUZZ_SECONDS   seconds per target (default 20)
#   QV_FUZZ_BUILD_DIR build folder (default build/fuzz)
#   QV_FUZZ_JOBS      parallel compile jobs (default: the number of processors)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QV_FUZZ_BUILD_DIR:-build/fuzz}
seconds=${QV_FUZZ_SECONDS:-20}
jobs=${QV_FUZZ_JOBS:-$(nproc)}
targets=(description regfile cregistry)

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQV_FUZZ=ON >/dev/null
cmake --build "$build" -j "$jobs" --target "${targets[@]/#/fuzz_}"

findings="$build/fuzz-findings"
mkdir -p "$findings"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

total_runs=0
total_seconds=0
for t in "${targets[@]}"; do
  mkdir -p "$scratch/$t"
  log="$scratch/$t.log"
  start=$(date +%s)
  if ! "$build/tests/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$findings/$t-" \
      "$scratch/$t" "tests/fuzz/corpus/$t" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz_$t: FINDING (input kept in $findings/)"
    exit 1
  fi
  elapsed=$(( $(date +%s) - start ))
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 || true)
  echo "fuzz_$t: ${runs:-?} inputs in ${elapsed} s, $cov, corpus $(ls "$scratch/$t" | wc -l) new inputs"
  total_runs=$(( total_runs + ${runs:-0} ))
  total_seconds=$(( total_seconds + elapsed ))
done
echo "fuzzing: ${#targets[@]} targets, $total_runs inputs in $total_seconds s, no finding"
