#!/usr/bin/env bash
# Runs one end-to-end case of QV3Update.exe under wine64 on its own virtual X display:
# a fresh throwaway Wine prefix, a fake Quorvia 3 installed into it, the updater started from a
# download folder beside qvupdate.msp, its dialogs answered by the dialog driver, then the
# outcome checked (exit status, dialog texts, files, registry in both views, the shortcut).
#
# Usage: run-case.sh --case NAME --fixtures DIR [--exe QV3Update.exe] [--work DIR]
#                    [--shots DIR --shot-names NAME,NAME...] [--keep] [--qv3sim PATH]
#        run-case.sh --list
# The cases and their checks are in cases.sh. Every case of the updater is also compared with
# qv3sim's run of the same machine (sim_compare.sh; qv3sim from --qv3sim, QV_QV3SIM or the native
# build of this tree). Exit status 0 when every check passed.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
source "$here/cases.sh"
source "$here/sim_compare.sh"
QV3SIM=${QV_QV3SIM:-$here/../../build/native/tools/qv3sim/qv3sim}

case_name= fixtures= exe= work=/tmp shots= shot_names= keep=0
original_args=("$@")
while [ $# -gt 0 ]; do
  case "$1" in
    --case) case_name=$2; shift 2 ;;
    --fixtures) fixtures=$2; shift 2 ;;
    --exe) exe=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --shots) shots=$2; shift 2 ;;
    --shot-names) shot_names=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    --qv3sim) QV3SIM=$2; shift 2 ;;
    --list) list_cases; exit 0 ;;
    *) echo "run-case.sh: unknown argument $1" >&2; exit 64 ;;
  esac
done
if [ -z "$case_name" ] || [ -z "$fixtures" ] || ! declare -F "case_$case_name" >/dev/null; then
  echo "run-case.sh: need --case (one of: $(list_cases | tr '\n' ' ')) and --fixtures" >&2
  exit 64
fi

# Outside: restart this script on a fresh virtual display. xvfb-run -a can lose the race for a
# display number against a parallel case; then it is tried again.
if [ -z "${QV_E2E_INNER:-}" ]; then
  mkdir -p "$work"
  started=$(date +%s.%N)
  for attempt in 1 2 3 4; do
    marker=$(mktemp "$work/.inner.XXXXXX")
    rm -f "$marker"
    QV_E2E_INNER=$marker xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
      bash "$0" "${original_args[@]}"
    status=$?
    [ -e "$marker" ] && break
    echo "run-case.sh: the virtual display did not start (attempt $attempt), trying again" >&2
    sleep $((attempt * 2))
  done
  rm -f "$marker"
  printf 'case %s: %s in %s s\n' "$case_name" "$([ $status -eq 0 ] && echo PASS || echo FAIL)" \
    "$(awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')"
  exit $status
fi
touch "$QV_E2E_INNER"

# Inside: a fresh prefix on this display.
wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || wine64=$(command -v wine64)
export WINEPREFIX=$(mktemp -d /tmp/qv-e2e-prefix.XXXXXX)
export WINEDEBUG=-all
# No Gecko/Mono installers, and no menu entries in the user's Linux desktop for the shortcuts.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LC_ALL=C.UTF-8
wineserver_bin=$(dirname "$wine64")/wineserver
[ -x "$wineserver_bin" ] || wineserver_bin=$(command -v wineserver)
wine() { "$wine64" "$@"; }
cleanup() {
  [ -n "${photographer_pid:-}" ] && kill "$photographer_pid" 2>/dev/null
  "$wineserver_bin" -k >/dev/null 2>&1
  if [ "$keep" = 1 ]; then
    echo "prefix kept: $WINEPREFIX" >&2
  else
    rm -rf "$WINEPREFIX"
  fi
}
trap cleanup EXIT
wine wineboot -i >/dev/null 2>&1
"$wineserver_bin" -p >/dev/null 2>&1 || true

drive_c=$WINEPREFIX/drive_c
data=$drive_c/qv-e2e

# Case settings, with their defaults.
ARGS=() WINVER= PRODUCT=1 INSTALL='C:\Program Files (x86)\Quorvia 3\' COMMUNICATOR=0
SHORTCUT=none MSI_MODE=update PLANT=0 ACTIONS=() EXPECT_STATUS=0 PROCESS=QV3Update.exe
DOWNLOAD=download
"case_$case_name"
mkdir -p "$data/$DOWNLOAD"

if [ "$(type -t "run_$case_name")" = function ]; then
  "run_$case_name"
else
  setup_product
  sim_before
  run_updater
fi
"verify_$case_name"
[ "$case_name" = driver_selftest ] || sim_after
report_checks
