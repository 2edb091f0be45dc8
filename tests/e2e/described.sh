# A described machine (qv3sim --wine) as a run of run-case.sh: not one of the cases, but the
# machine of a qv3sim description, staged into the prefix from the plan that
# tools/qv3sim/wine/qv3sim_wine.py wrote (run-case.sh --plan FILE). Sourced by run-case.sh.
#
# The plan sets, besides the case settings (ACTIONS, WINVER, PROCESS, RUN_PROGRAM, RUN_FOLDER,
# RAW_ARGS, LINKS, MACHINE, EXPECT_STATUS=any):
#   STAGE_MANIFEST   KIND<TAB>WINDOWS PATH<TAB>STAGED FILE, one line per file or folder
#   REG_FILE         the description's registry as a regedit file (UTF-16LE)
#   COMMON_PROGRAMS_FOLDER  the common Start-menu programs folder, when described
#   COMMUNICATOR     1: the product's communicator window runs
#   MSI_MODE         update (with C:\qv-e2e\QVApp-new.exe staged), none, fail or missing
#   MSI_TARGET       the file the installer replaces, when not the product's QVApp.exe
#   MSI_PATH         the installer's image, when not the system folder's msiexec.exe
#   WINE_LOCALE      the Unix locale Wine runs in, for the Windows UI language UI_LANGUAGE
#                    (empty: C.UTF-8, English)
PLAN=

case_described() {
  # shellcheck disable=SC1090
  source "$PLAN"
}

# Where a described Windows path lies in the prefix: each folder matched without regard to case
# against what the prefix already has, as Windows would find it.
described_unix_path() {
  python3 "$QV3SIM_WINE" unix-path --drive-c "$drive_c" "$1"
}

stage_described() {
  local folder view
  install_tools
  python3 "$QV3SIM_WINE" place --drive-c "$drive_c" --manifest "$STAGE_MANIFEST" ||
    fail "set-up: the described files could not be placed"
  UPDATER_IMAGE=$(described_unix_path "$RUN_PROGRAM")
  [ -f "$UPDATER_IMAGE" ] || fail "set-up: the updater is not at $RUN_PROGRAM"
  # The installer stand-in where the description puts it, by default in the system folder.
  install_stand_ins "$([ -n "${MSI_PATH:-}" ] && described_unix_path "$MSI_PATH")"
  [ -n "${MSI_TARGET:-}" ] && printf '%s\n' "$MSI_TARGET" >"$data/msiexec-target.txt"
  use_wine_desktop
  set_windows_version

  # The registry of the description, imported as regedit would.
  if [ -s "$REG_FILE" ]; then
    cp "$REG_FILE" "$data/machine.reg"
    wine regedit /s 'C:\qv-e2e\machine.reg' >/dev/null 2>&1 ||
      fail "set-up: regedit could not import the description's registry"
  fi
  if [ -n "${COMMON_PROGRAMS_FOLDER:-}" ]; then
    folder=$(described_unix_path "$COMMON_PROGRAMS_FOLDER")
    mkdir -p "$folder"
    local -a views=(/reg:64 /reg:32)
    [ "$ONE_VIEW" = 1 ] && views=('')
    for view in "${views[@]}"; do
      wine reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders' \
        /v 'Common Programs' /t REG_EXPAND_SZ /d "$COMMON_PROGRAMS_FOLDER" $view /f >/dev/null
      wine reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders' \
        /v 'Common Programs' /d "$COMMON_PROGRAMS_FOLDER" $view /f >/dev/null
    done
  fi
  if [ "$COMMUNICATOR" = 1 ]; then
    start_communicator
  fi
}

run_described() {
  stage_described
  sim_before
  run_updater
}

# The comparison with the simulation is the whole check of a described machine.
verify_described() { :; }
