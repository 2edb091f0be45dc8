#!/usr/bin/env bash
# qv3sim --compare --whatif on one machine, as a test: the real executable under Wine and its
# what-if must agree with the simulation (status 0), and the HTML page of the run must hold exactly
# one image per dialog the real run showed and the what-if's column. Where the machine's prefix kind cannot run here, the test is not run (77).
#
# Usage: qv3sim_wine_test.sh --qv3sim PATH --work DIR [--exe PATH] --machine FILE
#        qv3sim_wine_test.sh --qv3sim PATH --work DIR [--exe PATH] --e2e-case NAME --fixtures DIR
# --e2e-case runs that end-to-end case first (tests/e2e/run-case.sh) and then compares on the
# description of its machine that the case wrote (an end-to-end machine, staged anew).
set -u
here=$(cd "$(dirname "$0")" && pwd)
qv3sim= work= exe= machine= e2e_case= fixtures=
while [ $# -gt 0 ]; do
  case "$1" in
    --qv3sim) qv3sim=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --exe) exe=$2; shift 2 ;;
    --machine) machine=$2; shift 2 ;;
    --e2e-case) e2e_case=$2; shift 2 ;;
    --fixtures) fixtures=$2; shift 2 ;;
    *) echo "qv3sim_wine_test.sh: unknown argument $1" >&2; exit 64 ;;
  esac
done
rm -rf "$work"
mkdir -p "$work"
if [ -n "$e2e_case" ]; then
  bash "$here/run-case.sh" --case "$e2e_case" --fixtures "$fixtures" --exe "$exe" \
    --prefix "${QV_WINE_PREFIX_KIND:-win64}" --work "$work/e2e" --qv3sim "$qv3sim" \
    >"$work/e2e.log" 2>&1
  status=$?
  [ $status -eq 77 ] && { grep '^NOT RUN' "$work/e2e.log"; exit 77; }
  machine=$work/e2e/sim/$e2e_case/description.json
  if [ ! -s "$machine" ]; then
    echo "the end-to-end case $e2e_case (status $status) wrote no description:" >&2
    tail -n 20 "$work/e2e.log" >&2
    exit 1
  fi
fi
args=(--machine "$machine" --compare --whatif --html "$work/report.html" --work "$work/run")
[ -n "$exe" ] && args+=(--exe "$exe")
"$qv3sim" "${args[@]}" >"$work/report.txt" 2>"$work/error.txt"
status=$?
case $status in
  0) ;;
  4)
    printf 'NOT RUN: qv3sim --compare on %s: %s\n' "$machine" "$(sed 's/^qv3sim: cannot run here: //' "$work/error.txt")"
    exit 77 ;;
  *)
    echo "qv3sim --compare on $machine ended with $status:" >&2
    cat "$work/error.txt" >&2
    sed -n '/^== Against the simulation/,$p' "$work/report.txt" >&2
    exit 1 ;;
esac
grep -E '^(sim-vs-wine|Verdict)' "$work/report.txt"
# One image per dialog of the real run (the dialog driver's transcript counts them).
dialogs=$(sed -n 's/^end\t//p' "$work/run/sim/described/after/dialogs.txt")
images=$(grep -o '<img ' "$work/report.html" | wc -l)
if [ "${dialogs:-x}" != "$images" ]; then
  echo "the HTML page holds $images images; the real run showed ${dialogs:-no} dialogs" >&2
  exit 1
fi
echo "HTML page: $images images for $dialogs dialogs"
if ! grep -q '^== What-if' "$work/report.txt" || ! grep -q '<h3>What-if' "$work/report.html"; then
  echo "the what-if's part is missing from the report or the HTML page" >&2
  exit 1
fi
