#!/usr/bin/env bash
# Runs one Windows program under Wine in a fresh throwaway prefix (a copy of the kind's booted
# template, see wine-prefix.sh), then removes the prefix.
# Usage: wine-run.sh PROGRAM.exe [ARGS...]; the exit status is the program's.
# QV_WINE_PREFIX_KIND: win64 (default: the 64-bit build under wine64), wow64 (a 32-bit program in
# a 64-bit prefix) or win32 (a 32-bit prefix). For wow64 and win32 the run happens where the
# i386 probe's result ($QV_I386_PROBE) says: here, or in the emulated PC (this script again, run
# there); otherwise it prints "NOT RUN: ..." and ends with status 77, the tests' SKIP_RETURN_CODE.
set -u
source "$(dirname "$0")/wine-prefix.sh"
kind=${QV_WINE_PREFIX_KIND:-win64}
qv_wine_tools "$kind" || exit 64
qv_run_kind "$kind" "$(basename "$1")${2:+ $2}" -- bash "$0" "$@"
prefix=$(qv_prefix_new "$kind") || { echo "wine-run.sh: no $kind prefix" >&2; exit 1; }
cleanup() { WINEPREFIX="$prefix" "$QV_WINESERVER" -k >/dev/null 2>&1; qv_prefix_remove "$prefix"; }
trap cleanup EXIT
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# QV_WINE_VERSION (winxp, win2k, ...) makes Windows report that version to this program.
if [ -n "${QV_WINE_VERSION:-}" ]; then
  "$QV_WINE" reg add "HKCU\\Software\\Wine\\AppDefaults\\$(basename "$1")" /v Version \
    /d "$QV_WINE_VERSION" /f >/dev/null 2>&1
fi
"$QV_WINE" "$@"
status=$?
exit $status
