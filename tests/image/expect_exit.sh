#!/usr/bin/env bash
# Runs a Windows program under wine64 in a fresh prefix with no display and checks its exit
# status. Without a display the program's message boxes cannot be shown and return at once.
# Usage: expect_exit.sh WINE_RUN WANTED_STATUS PROGRAM.exe [ARGS...]
set -u
wine_run=$1 wanted=$2
shift 2
timeout 300 env -u DISPLAY -u WAYLAND_DISPLAY bash "$wine_run" "$@"
status=$?
echo "exit status $status, wanted $wanted: $*"
[ "$status" -eq "$wanted" ]
