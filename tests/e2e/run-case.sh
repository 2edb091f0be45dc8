#!/usr/bin/env bash
# Runs one end-to-end case of QV3Update.exe under Wine on its own virtual X display:
# a fresh throwaway Wine prefix (a copy of the prefix kind's booted template), a fake Quorvia 3
# installed into it, the updater started from a download folder beside qvupdate.msp, its dialogs
# answered by the dialog driver, then the outcome checked (exit status, dialog texts, files,
# registry in both views, the shortcut).
#
# Usage: run-case.sh --case NAME --fixtures DIR [--exe QV3Update.exe] [--work DIR]
#                    [--prefix win64|wow64|win32] [--shots DIR --shot-names NAME,NAME...] [--keep]
#                    [--qv3sim PATH] [--packages DIR]
#        run-case.sh --plan FILE --fixtures DIR --exe QV3Update.exe [--work DIR] [--prefix KIND]
#                    [--shots DIR] [--qv3sim PATH]    (a described machine: qv3sim --wine)
#        run-case.sh --list [--prefix KIND]
# --release DIR: the release of the cases release_* (release-fixture.sh: a folder made by
# scripts/release.sh for the builder's package, and the packages a user could put in its place);
# those cases run its executable of the prefix kind's word size instead of --exe.
# --prefix (or QV_E2E_PREFIX): win64, the default, the 64-bit build in a 64-bit prefix; wow64,
# the 32-bit release under WOW64 in a 64-bit prefix; win32, the release on 32-bit Windows (a
# WINEARCH=win32 prefix; only the cases --list --prefix win32 names). The fixtures must be built
# for the program's architecture. For wow64 and win32 the case runs only where the i386 probe
# ($QV_I386_PROBE) found that it can, here or in the emulated PC (scripts/emulated-pc.sh: the
# whole case runs there); otherwise it prints "NOT RUN: ..." and ends with status 77.
# The cases and their checks are in cases.sh. Every case of the updater is also compared with
# qv3sim's run of the same machine (sim_compare.sh; qv3sim from --qv3sim, QV_QV3SIM or the native
# build of this tree). The cases with the real Windows Installer take the product's package and
# its patches from --packages (or QV_E2E_PACKAGES; tests/e2e/package/mkpackages.sh builds them).
# Exit status 0 when every check passed.
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/wine-prefix.sh"
source "$here/lib.sh"
source "$here/cases.sh"
source "$here/sim_compare.sh"
source "$here/described.sh"
source "$here/whatif.sh"
QV3SIM=${QV_QV3SIM:-$here/../../build/native/tools/qv3sim/qv3sim}
QV3SIM_WINE=$here/../../tools/qv3sim/wine/qv3sim_wine.py

case_name= fixtures= exe= work=/tmp shots= shot_names= keep=0 list=0 release=
packages=${QV_E2E_PACKAGES:-}
PREFIX_KIND=${QV_E2E_PREFIX:-win64}
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
    --prefix) PREFIX_KIND=$2; shift 2 ;;
    --list) list=1; shift ;;
    --qv3sim) QV3SIM=$2; shift 2 ;;
    --packages) packages=$(realpath "$2"); shift 2 ;;
    --release) release=$(realpath "$2"); shift 2 ;;
    --plan) PLAN=$(realpath "$2"); case_name=described; shift 2 ;;
    *) echo "run-case.sh: unknown argument $1" >&2; exit 64 ;;
  esac
done
qv_wine_tools "$PREFIX_KIND" || exit 64
set_prefix_kind "$PREFIX_KIND"
if [ "$list" = 1 ]; then
  list_cases "$PREFIX_KIND"
  exit 0
fi
if [ -z "$case_name" ] || [ -z "$fixtures" ] ||
   { [ -z "$PLAN" ] && ! list_cases "$PREFIX_KIND" | grep -qx -- "$case_name"; }; then
  echo "run-case.sh: need --case (for a $PREFIX_KIND prefix one of: $(list_cases "$PREFIX_KIND" |
    tr '\n' ' ')) and --fixtures" >&2
  exit 64
fi

# Outside: restart this script on a fresh virtual display. xvfb-run -a can lose the race for a
# display number against a parallel case; then it is tried again.
if [ -z "${QV_E2E_INNER:-}" ]; then
  mkdir -p "$work" ${shots:+"$shots"}
  # Where the kind's programs run in the emulated PC, this script runs again there, its work and
  # screenshot folders writable.
  qv_run_kind "$PREFIX_KIND" "e2e case $case_name" --rw "$work" ${shots:+--rw "$shots"} \
    -- bash "$0" "${original_args[@]}"
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
  printf 'case %s (%s prefix): %s in %s s\n' "$case_name" "$PREFIX_KIND" \
    "$([ $status -eq 0 ] && echo PASS || echo FAIL)" \
    "$(awk -v a="$started" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')"
  exit $status
fi
touch "$QV_E2E_INNER"

# Inside: a fresh prefix on this display, copied from the kind's booted template.
wine_loader=$QV_WINE  # the loader of this kind's programs (wine64, or the 32-bit wine for win32)
wineserver_bin=$QV_WINESERVER
WINEPREFIX=$(qv_prefix_new "$PREFIX_KIND" /tmp/qv-e2e-prefix.XXXXXX) || {
  echo "run-case.sh: no $PREFIX_KIND prefix" >&2
  exit 1
}
export WINEPREFIX
export WINEDEBUG=-all
# No Gecko/Mono installers, and no menu entries in the user's Linux desktop for the shortcuts.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LC_ALL=C.UTF-8
wine() { "$wine_loader" "$@"; }
# The folder the Wine server of this prefix keeps its socket and lock in, named by the prefix's
# device and inode, below a folder that every prefix shares: Debian's Wine makes it in the
# temporary folder (TMPDIR) as wine-XXXXXX/server-DEV-INODE, upstream Wine as
# /tmp/.wine-UID/server-DEV-INODE. Wine leaves it behind when the server ends.
wine_server_dirs() {
  local dev inode name
  read -r dev inode < <(stat -c '%D %i' "$WINEPREFIX" 2>/dev/null) || return 0
  name=$(printf 'server-%s-%x' "$dev" "$inode")
  printf '%s\n' "${TMPDIR:-/tmp}"/wine-*/"$name" "/tmp/.wine-$(id -u)/$name"
}
cleanup() {
  [ -n "${photographer_pid:-}" ] && kill "$photographer_pid" 2>/dev/null
  "$wineserver_bin" -k >/dev/null 2>&1
  if [ "$keep" = 1 ]; then
    echo "prefix kept: $WINEPREFIX" >&2
  else
    "$wineserver_bin" -w >/dev/null 2>&1
    local dir
    while IFS= read -r dir; do
      [ -d "$dir" ] && rm -rf "$dir"
    done < <(wine_server_dirs)
    qv_prefix_remove "$WINEPREFIX"
  fi
}
trap cleanup EXIT
"$wineserver_bin" -p >/dev/null 2>&1 || true

drive_c=$WINEPREFIX/drive_c
data=$drive_c/qv-e2e

# Case settings, with their defaults.
# The product's 32-bit installer puts it in the 32-bit program files folder: "Program Files
# (x86)" on 64-bit Windows, "Program Files" on 32-bit Windows.
ARGS=() WINVER= PRODUCT=1 INSTALL="$PROGRAM_FILES_32\\Quorvia 3\\" COMMUNICATOR=0
SHORTCUT=none MSI_MODE=update PLANT=0 ACTIONS=() EXPECT_STATUS=0 PROCESS=QV3Update.exe INSTALLER_EXIT=0
DOWNLOAD=download INSTALLER=stand-in PATCH_FILE=qvupdate.msp RELEASE= PACKAGE=fake SWAP= WINE_LOCALE=
"case_$case_name"
# The Windows UI language of a described machine: Wine gives the prefix the one of the Unix
# locale it runs in (the buttons user32 and comctl32 make follow it).
[ -n "$WINE_LOCALE" ] && export LC_ALL=$WINE_LOCALE
if [ "$INSTALLER" = real ] && [ ! -s "$packages/codes.txt" ]; then
  echo "run-case.sh: case $case_name needs the product's package and patches (--packages DIR," \
    "built by tests/e2e/package/mkpackages.sh); none in '$packages'" >&2
  exit 1
fi
mkdir -p "$data/$DOWNLOAD"
if [ -n "$RELEASE" ]; then
  if [ ! -s "$release/complete" ]; then
    echo "run-case.sh: case $case_name needs the release (--release DIR, made by release-fixture.sh)" >&2
    exit 64
  fi
  # The release's executable for this prefix kind: the 64-bit build in a 64-bit prefix.
  exe=$release/release/QV3Update.exe
  [ "$PREFIX_KIND" = win64 ] && exe=$release/release/QV3Update-x64.exe
fi

if [ "$(type -t "run_$case_name")" = function ]; then
  "run_$case_name"
else
  setup_product
  sim_before
  run_updater
fi
# The checks read the registry from one export, taken at their first read (lib.sh).
REG_SNAPSHOT=$work/sim/$case_name/checked-registry
rm -rf "$REG_SNAPSHOT"
"verify_$case_name"
REG_SNAPSHOT=
whatif_after
[ "$case_name" = driver_selftest ] || sim_after
report_checks
