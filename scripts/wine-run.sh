#!/usr/bin/env bash
# Runs one Windows program under wine64 in a fresh throwaway prefix, then removes the prefix.
# Usage: wine-run.sh PROGRAM.exe [ARGS...]; the exit status is the program's.
set -u
prefix=$(mktemp -d /tmp/qv-wine.XXXXXX)
cleanup() { WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1; rm -rf "$prefix"; }
trap cleanup EXIT
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || wine64=$(command -v wine64)
"$wine64" wineboot -i >/dev/null 2>&1
# QV_WINE_VERSION (winxp, win2k, ...) makes Windows report that version to this program.
if [ -n "${QV_WINE_VERSION:-}" ]; then
  "$wine64" reg add "HKCU\\Software\\Wine\\AppDefaults\\$(basename "$1")" /v Version \
    /d "$QV_WINE_VERSION" /f >/dev/null 2>&1
fi
"$wine64" "$@"
status=$?
exit $status
