#!/usr/bin/env bash
# Runs a Windows program under Wine (wine-run.sh) in a fresh prefix with no display and checks its full
# exit status (read by exit_status.exe, since Linux sees only the low 8 bits of it). Without a
# display the program's message boxes cannot be shown and return at once.
# Usage: expect_exit.sh WINE_RUN EXIT_STATUS_EXE WANTED_STATUS PROGRAM.exe [ARGS...]
set -u
wine_run=$1 helper=$2 wanted=$3 program=$4
shift 4
# The program's path as Windows sees it: drive Z: is the Linux root.
windows_path="Z:$(realpath "$program" | tr / '\\')"
output=$(timeout 300 env -u DISPLAY -u WAYLAND_DISPLAY bash "$wine_run" "$helper" \
         "$windows_path" "$@")
run_status=$?
echo "$output"
# The prefix kind cannot run here (wine-run.sh said "NOT RUN: ..."): not run, not passed.
if [ "$run_status" -eq 77 ] && printf '%s\n' "$output" | grep -q '^NOT RUN: '; then
  exit 77
fi
status=$(printf '%s\n' "$output" | sed -n 's/^exit status \([0-9]*\).*/\1/p' | tail -n 1)
echo "wanted exit status $wanted: $(basename "$program") $*"
[ -n "$status" ] && [ "$status" -eq "$wanted" ]
