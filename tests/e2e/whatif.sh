# The what-if before the real run of each case: the updater with the case's own arguments and
# /whatif, in the same prefix, its report written outside the prefix (through drive Z:). It must
# change nothing: the registry (as Wine's server saves it) and the files under drive_c are the same before
# and after, apart from what Wine itself writes (whatif_diff.py names it). Its report is compared
# with qv3sim's prediction and with what the real run then does by compare_sim.py; its exit status
# is the real run's up to the installer (whatif_after).
# Sourced by run-case.sh; uses its variables (wine, wine_loader, wineserver_bin, data, drive_c,
# work, case_name...).

whatif_dir=
# whatif_registry PHASE: the registry as Wine's server keeps it, saved by the server in the format
# of the prefix's files (regexport.exe --save), without ending it.
whatif_registry() {
  mkdir -p "$whatif_dir/$1"
  wine 'C:\qv-e2e\bin\regexport.exe' --save "$(whatif_win "$1")" >/dev/null 2>&1
  expect_eq "what-if: the registry saved ($1)" 0 "$?"
}
whatif_files() {
  (cd "$drive_c" && find . -printf '%y %s %T@ %p\n' | LC_ALL=C sort -k4) >"$whatif_dir/$1/files.txt"
}
# Windows path of a file below $whatif_dir, through drive Z: (the root of the file system).
whatif_win() { printf 'Z:%s' "${whatif_dir//\//\\}\\$1"; }

# whatif_first: before run_updater's real run, in the same Wine session (the communicator, where
# the case has it, runs on).
whatif_first() {
  whatif_dir=$work/sim/$case_name/whatif
  rm -rf "$whatif_dir"
  mkdir -p "$whatif_dir"
  whatif_registry before
  whatif_files before
  # The case's own command line with /whatif; without /quiet the run ends with one message box,
  # closed with OK by the dialog driver.
  local -a command=("${RUN_PROGRAM:-C:\\qv-e2e\\$DOWNLOAD\\QV3Update.exe}" "${ARGS[@]}" /whatif
                    "$(whatif_win report.txt)")
  [ -n "${RAW_ARGS+set}" ] &&
    command=(--raw "${command[0]}" "$RAW_ARGS /whatif \"$(whatif_win report.txt)\"")
  local quiet=0 argument driver_pid=
  for argument in "${ARGS[@]}" ${RAW_ARGS:-}; do
    [ "${argument,,}" = /quiet ] && quiet=1
  done
  if [ "$quiet" = 0 ]; then
    wine 'C:\qv-e2e\bin\dlgdriver.exe' --process "$PROCESS" --timeout 150 \
      "$(whatif_win dialogs.txt)" id:1 >/dev/null 2>&1 &
    driver_pid=$!
  fi
  WINEDEBUG=-all timeout 180 "$wine_loader" 'C:\qv-e2e\bin\launch.exe' "$(whatif_win status.txt)" \
    "${RUN_FOLDER:-C:\\qv-e2e\\$DOWNLOAD}" "${command[@]}" >/dev/null 2>&1
  # The driver ends when the updater has (the harness's marker, taken away again).
  touch "$data/updater.exited"
  [ -n "$driver_pid" ] && wait "$driver_pid"
  rm -f "$data/updater.exited"
  WHATIF_STATUS=$(tr -d '\r\n' <"$whatif_dir/status.txt" 2>/dev/null)
  whatif_registry after
  whatif_files after
  expect_true "what-if: its report was written ($whatif_dir/report.txt)" test -s "$whatif_dir/report.txt"
  [ "$quiet" = 0 ] && expect_eq "what-if: one message box, its summary" 1 \
    "$(sed -n 's/^end\t//p' "$whatif_dir/dialogs.txt" 2>/dev/null)"
  local changes
  changes=$(python3 "$here/whatif_diff.py" "$whatif_dir" 2>&1)
  expect_eq "what-if: nothing changed in the prefix" "" "$changes"
  # Wine's own writes, named.
  sed 's/^/what-if: /' "$whatif_dir/wine-own.txt" >&2
}

# whatif_after: the what-if's exit status against the real run's: the same where the real run
# ended before the installer, 0 where it started the installer (the what-if would go on to it).
# A case whose real run answered a dialog other than with its default button (a cancelled prompt)
# ends where the what-if, which takes every default, goes on: 0 as well.
whatif_after() {
  [ -n "$whatif_dir" ] || return 0
  local expected=$STATUS
  [ "$INSTALLER" = real ] && traced_children
  if [ -s "$data/msiexec.log" ] || grep -qi 'msiexec' "$data/traced-children.log" 2>/dev/null ||
     [ "$STATUS" = 1602 ]; then
    expected=0
  fi
  expect_eq "what-if: exit status (the real run's up to the installer)" "$expected" "${WHATIF_STATUS:-}"
}
