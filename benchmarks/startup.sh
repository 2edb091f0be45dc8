#!/usr/bin/env bash
# Start-up time of QV3Update.exe under wine64 against a program that only shows one message box:
# the not-installed run without a display (the box returns at once), the two programs run in
# pairs in one prefix, in alternating order. Prints the median time of each and their ratio.
# A report, never a test. Usage: startup.sh QV3Update.exe [RUNS] [OTHER_QV3Update.exe]
set -euo pipefail
exe=$1 runs=${2:-15} other=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/qv-startup.XXXXXX)
trap 'WINEPREFIX=$work/prefix wineserver -k >/dev/null 2>&1; rm -rf "$work"' EXIT
x86_64-w64-mingw32-gcc -Os -municode -mwindows "$here/msgbox.c" -o "$work/msgbox.exe"
cp "$exe" "$work/QV3Update.exe"
[ -n "$other" ] && cp "$other" "$work/other.exe"
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
wine64=/usr/lib/wine/wine64
"$wine64" wineboot -i >/dev/null 2>&1
"$wine64" "$work/msgbox.exe" >/dev/null 2>&1 || true   # warm the prefix
time_one() {  # seconds for one run
  local a b
  a=$(date +%s.%N); "$wine64" "$1" /en >/dev/null 2>&1 || true; b=$(date +%s.%N)
  awk -v a="$a" -v b="$b" 'BEGIN { printf "%.4f\n", b - a }'
}
programs=(msgbox QV3Update)
[ -n "$other" ] && programs+=(other)
for i in $(seq 1 "$runs"); do
  if [ $((i % 2)) -eq 0 ]; then order=("${programs[@]}"); else order=($(printf '%s\n' "${programs[@]}" | tac)); fi
  for p in "${order[@]}"; do time_one "$work/$p.exe" >>"$work/$p.times"; done
done
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
base=$(median "$work/msgbox.times")
printf 'message box only:  %.3f s (median of %d)\n' "$base" "$runs"
for p in "${programs[@]:1}"; do
  m=$(median "$work/$p.times")
  printf '%-18s %.3f s, %.2f times the message box\n' "$p.exe:" "$m" "$(awk -v m="$m" -v b="$base" 'BEGIN { print m / b }')"
done
