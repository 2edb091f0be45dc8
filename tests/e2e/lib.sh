# Helpers of run-case.sh: what the prefix kind's Windows looks like, installing the fake product, running the updater with the dialog
# driver, and the checks (dialog transcript, registry through reg.exe, files, shortcut).
# Sourced; uses the variables run-case.sh sets (wine, drive_c, data, fixtures, exe, shots...).

# ---- checks ---------------------------------------------------------------------------------
CHECKS=0
FAILS=0
pass() { CHECKS=$((CHECKS + 1)); }
fail() {
  CHECKS=$((CHECKS + 1))
  FAILS=$((FAILS + 1))
  printf 'FAIL: %s\n' "$*" >&2
}
# expect_eq WHAT EXPECTED ACTUAL
expect_eq() {
  if [ "$2" == "$3" ]; then pass; else fail "$1: expected [$2], got [$3]"; fi
}
expect_true() {  # expect_true WHAT COMMAND...
  local what=$1
  shift
  if "$@"; then pass; else fail "$what"; fi
}
expect_false() {
  local what=$1
  shift
  if "$@"; then fail "$what"; else pass; fi
}
one_of() {  # one_of VALUE CHOICE...: VALUE is exactly one of the choices
  local value=$1 choice
  shift
  for choice in "$@"; do [ "$value" == "$choice" ] && return 0; done
  return 1
}
report_checks() {
  echo "$CHECKS checks, $FAILS failed"
  [ "$FAILS" -eq 0 ]
}

# Windows path on drive C: to the Unix path inside the prefix.
unix_path() {
  local path=${1#[Cc]:\\}
  printf '%s/%s' "$drive_c" "${path//\\//}"
}

# ---- the prefix kind ------------------------------------------------------------------------
# set_prefix_kind KIND (win64, wow64, win32): what the kind's Windows looks like to the cases.
#   ONE_VIEW          1 on 32-bit Windows: one registry view, no Wow6432Node, reg.exe's /reg:32
#                     and /reg:64 name the same keys; 0 on 64-bit Windows
#   PROGRAM_FILES_32  the program files folder of 32-bit programs
#   SYSTEM_FOLDER     the folder below C:\windows that holds the system programs and libraries
#                     of the updater's word size (syswow64 for a 32-bit program on 64-bit Windows)
#   INSTALLERS        the names of the system folder's msiexec.exe as the updater may see it
set_prefix_kind() {
  case "$1" in
    win64)
      ONE_VIEW=0 PROGRAM_FILES_32='C:\Program Files (x86)' SYSTEM_FOLDER=system32
      INSTALLERS=('C:\windows\system32\msiexec.exe') ;;
    wow64)
      # A 32-bit program that starts C:\Windows\system32\msiexec.exe gets the 32-bit one in
      # syswow64 (file system redirection); it may report either folder as its own.
      ONE_VIEW=0 PROGRAM_FILES_32='C:\Program Files (x86)' SYSTEM_FOLDER=syswow64
      INSTALLERS=('C:\windows\system32\msiexec.exe' 'C:\windows\syswow64\msiexec.exe') ;;
    win32)
      ONE_VIEW=1 PROGRAM_FILES_32='C:\Program Files' SYSTEM_FOLDER=system32
      INSTALLERS=('C:\windows\system32\msiexec.exe') ;;
  esac
}

# ---- setting up -----------------------------------------------------------------------------
COMMON_PROGRAMS='C:\ProgramData\Microsoft\Windows\Start Menu\Programs'
LINK_EN='\Quorvia 3\Synchronizing.lnk'
LINK_DE='\Querlix 3\Synchronisation zweier Sammlungen.lnk'
OLD_SYNC='C:\qv-e2e\old\QVSync.exe'
OLD_DESCRIPTION='Shortcut of the previous version'

# Writes a shortcut as the product's installer would: it points at an older copy of QVSync.exe.
make_old_shortcut() {
  local link="$COMMON_PROGRAMS$1" folder
  folder=$(unix_path "$link")
  mkdir -p "$(dirname "$folder")" "$(dirname "$(unix_path "$OLD_SYNC")")"
  cp "$fixtures/companion.exe" "$(unix_path "$OLD_SYNC")"
  wine 'C:\qv-e2e\bin\mklnk.exe' "$link" "$OLD_SYNC" "$OLD_DESCRIPTION" "$OLD_SYNC" ||
    fail "set-up: mklnk could not write $link"
}

# The set-up steps every run shares, in the order setup_product takes them.
# install_tools: the dialog driver, launcher, link writer and communicator in C:\qv-e2e\bin.
install_tools() {
  mkdir -p "$data/bin"
  cp "$fixtures"/{dlgdriver,launch,mklnk,communicator,msipatches,regexport}.exe "$data/bin/"
}
# install_stand_ins [INSTALLER]: the installer stand-in replaces Wine's own msiexec.exe (at
# INSTALLER, by default in the system folder of the updater's word size; MSI_MODE missing leaves
# none there, fail a file Windows cannot start), told what to do by MSI_MODE; Wine loads its
# built-in programs of the system folder first unless told otherwise. Wine's
# WerAddExcludedApplication records nothing, so the updater (PROCESS) gets a wer.dll that logs.
install_stand_ins() {
  local installer=${1:-$drive_c/windows/$SYSTEM_FOLDER/msiexec.exe}
  if [ "$INSTALLER" = real ]; then
    install_wer_stand_in
    return
  fi
  mkdir -p "$(dirname "$installer")"
  case "$MSI_MODE" in
    missing) rm -f "$installer" ;;
    fail) printf 'not a program\n' >"$installer" ;;
    *) cp "$fixtures/msiexec.exe" "$installer" ;;
  esac
  wine reg add 'HKCU\Software\Wine\DllOverrides' /v msiexec.exe /d native /f >/dev/null
  printf '%s\n' "$MSI_MODE" >"$data/msiexec-mode.txt"
  [ "${INSTALLER_EXIT:-0}" = 0 ] || printf '%s\n' "$INSTALLER_EXIT" >"$data/msiexec-exit.txt"
  install_wer_stand_in
}
install_wer_stand_in() {
  cp "$fixtures/wer.dll" "$drive_c/windows/$SYSTEM_FOLDER/wer.dll"
  wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$PROCESS\\DllOverrides" /v wer /d native /f \
    >/dev/null
}
# use_wine_desktop: for pictures (when shots are taken), Wine's own desktop window, in which Wine
# draws the title bars and frames that a window manager would draw otherwise.
use_wine_desktop() {
  [ -n "$shots" ] || return 0
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null
  # The desktop is chosen when the session starts: start it again.
  "$wineserver_bin" -k >/dev/null 2>&1
  "$wineserver_bin" -w >/dev/null 2>&1
  "$wineserver_bin" -p >/dev/null 2>&1
}
# set_windows_version: the Windows version WINVER that Wine reports to the updater (PROCESS).
set_windows_version() {
  [ -n "$WINVER" ] || return 0
  wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$PROCESS" /v Version /d "$WINVER" /f >/dev/null
}
# start_communicator: the product's main program with its communicator window, waited for.
start_communicator() {
  wine 'C:\qv-e2e\bin\communicator.exe' 600 >/dev/null 2>&1 &
  # Up to two minutes: a program that starts the Wine server takes long in the emulated PC.
  local waited
  for waited in $(seq 1 600); do
    [ -s "$data/communicator.ready" ] && break
    sleep 0.2
  done
  expect_true "set-up: the communicator window came up" test -s "$data/communicator.ready"
}

# package_code NAME: a code mkpackages.sh fixed (product, patch, other_patch).
package_code() { awk -F '\t' -v n="$1" '$1 == n { print $2 }' "$packages/codes.txt"; }

# install_product_package: Quorvia 3 installed from its Windows Installer package by Wine's
# msiexec, as a user installs it. Wine's installer puts a per-machine package's Start-menu
# shortcut into the user's Programs folder (its ProgramMenuFolder is always the user's), where
# Windows puts it into the common one: the shortcut is moved to where Windows would have made it.
install_product_package() {
  local status user_menu
  cp "$packages/quorvia3.msi" "$data/quorvia3.msi"
  wine msiexec /i 'C:\qv-e2e\quorvia3.msi' /qn >/dev/null 2>&1
  status=$?
  expect_eq "set-up: msiexec /i quorvia3.msi /qn (status)" 0 "$status"
  user_menu=$(find "$drive_c/users" -path '*/Start Menu/Programs/Quorvia 3' -type d 2>/dev/null |
    head -n 1)
  if [ -n "$user_menu" ]; then
    mkdir -p "$(unix_path "$COMMON_PROGRAMS")"
    mv "$user_menu" "$(unix_path "$COMMON_PROGRAMS")/"
  fi
  expect_true "set-up: the package made the shortcut $LINK_EN" \
    test -e "$(unix_path "$COMMON_PROGRAMS$LINK_EN")"
  expect_eq "set-up: the installer knows the product, unpatched" "version|3.10.68" \
    "$(installer_products_patches)"
}
# installer_products_patches: what Wine's installer says of the product (msipatches.exe).
installer_products_patches() {
  wine 'C:\qv-e2e\bin\msipatches.exe' "$(package_code product)" 2>/dev/null | tr -d '\r'
}

setup_product() {
  local folder name
  install_tools
  if [ -n "$exe" ]; then
    cp "$exe" "$data/$DOWNLOAD/QV3Update.exe"
  fi
  # The patch package: a text for the stand-in installer, the real patch for Wine's installer;
  # for the release, its own package (own) or one a user put in its place (other, changed).
  if [ "$PACKAGE" = own ]; then
    cp "$release/release/qvupdate.msp" "$data/$DOWNLOAD/qvupdate.msp"
  elif [ "$PACKAGE" != fake ]; then
    cp "$release/$PACKAGE.msp" "$data/$DOWNLOAD/qvupdate.msp"
  elif [ "$INSTALLER" = real ]; then
    cp "$packages/$PATCH_FILE" "$data/$DOWNLOAD/qvupdate.msp"
  else
    printf 'MSP fake patch package\n' >"$data/$DOWNLOAD/qvupdate.msp"
  fi
  cp "$data/$DOWNLOAD/qvupdate.msp" "$data/original-package.msp"
  # A replacement the driver puts in the package's place while the first dialog waits.
  [ -n "$SWAP" ] && cp "$release/$SWAP.msp" "$data/swap.msp"
  cp "$fixtures/QVApp-69.exe" "$data/QVApp-new.exe"
  install_stand_ins
  if [ "$PLANT" = 1 ]; then
    cp "$fixtures/msiexec.exe" "$data/$DOWNLOAD/msiexec.exe"
  fi
  use_wine_desktop
  set_windows_version
  if [ "$PRODUCT" = 1 ] && [ "$INSTALLER" = real ]; then
    install_product_package
    expect_eq "set-up: AppPath as the package wrote it" "REG_SZ|$INSTALL" \
      "$(reg_value 32 'HKLM\Software\orvanta\Quorvia' AppPath)"
  elif [ "$PRODUCT" = 1 ]; then
    folder=$(unix_path "$INSTALL")
    mkdir -p "$folder"
    cp "$fixtures/QVApp-68.exe" "$folder/QVApp.exe"
    for name in QVGet QVSaver QVThumbs QVSync QVInit; do
      cp "$fixtures/companion.exe" "$folder/$name.exe"
    done
    # The product key lives in the 32-bit view, as the product's 32-bit installer writes it (on
    # 32-bit Windows the only one).
    local -a view=(/reg:32)
    [ "$ONE_VIEW" = 1 ] && view=()
    wine reg add 'HKLM\Software\orvanta\Quorvia' /v AppPath /d "$INSTALL" "${view[@]}" /f >/dev/null
    expect_eq "set-up: AppPath as stored" "REG_SZ|$INSTALL" \
      "$(reg_value 32 'HKLM\Software\orvanta\Quorvia' AppPath)"
  fi
  # The real product's package made its own shortcut.
  [ "$INSTALLER" = real ] || case "$SHORTCUT" in
    en) make_old_shortcut "$LINK_EN" ;;
    de) make_old_shortcut "$LINK_DE" ;;
    both) make_old_shortcut "$LINK_EN"; make_old_shortcut "$LINK_DE" ;;
  esac
  if [ "$COMMUNICATOR" = 1 ]; then
    start_communicator
  fi
}

# Photographs each dialog the driver announces (TRANSCRIPT.N.ready holds its rectangle), then
# lets the driver go on (TRANSCRIPT.N.go).
photographer() {
  local ready n go left top right bottom name
  local -a names
  IFS=, read -r -a names <<<"$shot_names"
  mkdir -p "$shots"
  while :; do
    for ready in "$data"/dialogs.txt.*.ready; do
      [ -e "$ready" ] || continue
      go=${ready%.ready}.go
      [ -e "$go" ] && continue
      n=${ready%.ready}
      n=${n##*.}
      read -r left top right bottom <"$ready"
      name=${names[$((n - 1))]:-$case_name-$n}
      import -display "$DISPLAY" -window root -crop "$((right - left))x$((bottom - top))+$left+$top" \
        +repage "$shots/$name.png" 2>/dev/null || fail "screenshot $name"
      touch "$go"
    done
    sleep 0.2
  done
}

# Runs the updater from the download folder with the dialog driver answering; sets STATUS (the
# full exit status), DRIVER_STATUS and leaves the transcript in $data/dialogs.txt.
# RUN_PROGRAM and RUN_FOLDER, when set, name another updater and its working folder, and
# RAW_ARGS (when set) is its command line after the program instead of ARGS; EXPECT_STATUS
# "any" leaves the status and the number of dialogs unchecked.
run_updater() {
  # The what-if first, in the same prefix (whatif.sh; QV_E2E_WHATIF=0: none).
  [ "$PROCESS" = QV3Update.exe ] && [ "${QV_E2E_WHATIF:-1}" = 1 ] && whatif_first
  local -a driver_options=(--process "$PROCESS" --timeout 150)
  [ "$INSTALLER" = real ] && driver_options+=(--installer msiexec.exe)
  if [ -n "${SWAP:-}" ]; then
    driver_options+=(--replace 1 'C:\qv-e2e\swap.msp' "C:\\qv-e2e\\$DOWNLOAD\\qvupdate.msp")
  fi
  if [ -n "$shots" ]; then
    driver_options+=(--shots)
    photographer &
    photographer_pid=$!
  fi
  wine 'C:\qv-e2e\bin\dlgdriver.exe' "${driver_options[@]}" 'C:\qv-e2e\dialogs.txt' "${ACTIONS[@]}" \
    >/dev/null 2>&1 &
  local driver_pid=$!
  local -a command=("${RUN_PROGRAM:-C:\\qv-e2e\\$DOWNLOAD\\QV3Update.exe}" "${ARGS[@]}")
  [ -n "${RAW_ARGS+set}" ] && command=(--raw "${command[0]}" "$RAW_ARGS")
  # Wine's own installer records nothing: the programs the updater starts are read from Wine's
  # trace of process creation instead (see traced_children). QV_E2E_LOADER_TRACE=1: Wine's
  # loader trace too, the updater's loads listed against the preload list (loader_trace.py) in
  # WORK/loader-trace-CASE-KIND.txt.
  # The run's Application event: Wine's ReportEventW writes its text to the eventlog channel
  # (trace for information, warn for warnings, err for errors) and stores nothing.
  local trace=$data/process-trace.txt debug=-all,trace+eventlog,warn+eventlog,err+eventlog
  [ "$INSTALLER" = real ] && debug+=,+process
  [ -n "${QV_E2E_LOADER_TRACE:-}" ] && debug+=,+loaddll
  WINEDEBUG=$debug timeout 180 "$wine_loader" 'C:\qv-e2e\bin\launch.exe' 'C:\qv-e2e\status.txt' \
    "${RUN_FOLDER:-C:\\qv-e2e\\$DOWNLOAD}" "${command[@]}" >/dev/null 2>"$trace"
  if [ -n "${QV_E2E_LOADER_TRACE:-}" ]; then
    local listed=$work/loader-trace-$case_name-$PREFIX_KIND.txt
    python3 "$here/loader_trace.py" "$trace" "$here/../../src/platform/win32/late_binding.cpp" \
      >"$listed"
    expect_eq "loader trace: every library from the system folder ($listed)" 0 $?
  fi
  touch "$data/updater.exited"
  wait "$driver_pid"
  DRIVER_STATUS=$?
  if [ -n "${photographer_pid:-}" ]; then
    kill "$photographer_pid" 2>/dev/null
    wait "$photographer_pid" 2>/dev/null
    photographer_pid=
  fi
  STATUS=$(tr -d '\r\n' <"$data/status.txt" 2>/dev/null)
  if [ -n "${QV_E2E_VERBOSE:-}" ]; then cat "$data/dialogs.txt" >&2; fi
  [ "$EXPECT_STATUS" = any ] && return
  expect_eq "exit status of QV3Update.exe" "$EXPECT_STATUS" "$STATUS"
  expect_eq "dialog driver: one dialog per answer, each closed (status)" 0 "$DRIVER_STATUS"
  expect_eq "number of dialogs" "${#ACTIONS[@]}" "$(dialog_count)"
}

# ---- the dialog transcript ------------------------------------------------------------------
# Texts in the transcript are escaped: CR as \r, LF as \n, backslash as \\.
dialog_count() { sed -n 's/^end\t//p' "$data/dialogs.txt" 2>/dev/null; }
dialog_block() {
  awk -v n="$1" -F '\t' '$1 == "dialog" { on = ($2 == n) } on' "$data/dialogs.txt" 2>/dev/null
}
dialog_title() { dialog_block "$1" | sed -n 's/^title\t//p'; }
# The texts of the visible controls of dialog N, one a line; with a class, only of that class.
dialog_texts() {
  dialog_block "$1" | awk -F '\t' -v class="${2:-}" \
    '$1 == "control" && $4 == "1" && $5 != "" && (class == "" || $2 == class) { print $5 }'
}
expect_dialog() {  # expect_dialog N TITLE TEXT... : the title and each text exactly
  local n=$1 title=$2 text
  shift 2
  expect_eq "dialog $n title" "$title" "$(dialog_title "$n")"
  for text in "$@"; do
    if dialog_texts "$n" | grep -Fxq -- "$text"; then
      pass
    else
      fail "dialog $n has no control with the text [$text]; it has:$(printf '\n  [%s]' \
        "$(dialog_texts "$n")")"
    fi
  done
}
expect_buttons() {  # expect_buttons N TEXT...: exactly these buttons, in this order ('&' marks
  local n=$1            # the access key and is left out)
  shift
  expect_eq "dialog $n buttons" "$(printf '%s\n' "$@")" \
    "$(dialog_texts "$n" Button | sed 's/&\(.\)/\1/g')"
}

# ---- registry, through Wine's reg.exe -------------------------------------------------------
# regexport_keys DIR VIEW|KEY...: each key exported as "reg export KEY FILE /reg:VIEW" writes it
# to DIR/N.reg (nothing when the key is missing), with DIR/keys.txt naming N|VIEW|KEY. One
# process (fixtures/regexport.exe) exports them all, which is quicker than a reg.exe for each key
# (seconds each in the emulated PC).
regexport_keys() {
  local dir=$1 n=0 entry batch=$drive_c/qv-e2e-sim
  shift
  rm -rf "$batch"
  mkdir -p "$dir" "$batch"
  : >"$dir/keys.txt"
  for entry in "$@"; do
    n=$((n + 1))
    printf '%s|%s\n' "$n" "$entry" >>"$dir/keys.txt"
  done
  cp "$dir/keys.txt" "$batch/keys.txt"
  wine 'C:\qv-e2e\bin\regexport.exe' 'C:\qv-e2e-sim\keys.txt' 'C:\qv-e2e-sim' >/dev/null 2>&1
  rm -f "$batch/keys.txt"
  for entry in "$batch"/*.reg; do
    [ -e "$entry" ] && mv "$entry" "$dir/"
  done
  rm -rf "$batch"
}

# The checks after a run read the registry from one export (REG_SNAPSHOT, a folder, set by
# run-case.sh around the case's checks, taken at the first read): the keys compared with the
# simulation, and the Wow6432Node keys that 32-bit Windows must not have. A key outside them, and
# every read outside the checks, asks reg.exe.
reg_snapshot_take() {
  local id
  local -a keys=("${SIM_KEYS[@]}" '64|HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Run'
                 '64|HKLM\Software\Wow6432Node\Microsoft\Internet Explorer')
  for id in "${CLSIDS[@]}"; do keys+=("64|HKCR\\Wow6432Node\\CLSID\\$id"); done
  rm -rf "$REG_SNAPSHOT"
  regexport_keys "$REG_SNAPSHOT" "${keys[@]}"
  python3 "$here/reg_snapshot.py" "$REG_SNAPSHOT" "$ONE_VIEW" || touch "$REG_SNAPSHOT/failed"
}
# reg_snapshot_query VIEW KEY: as reg_query, from the snapshot; status 3 when the key (named
# with its short root, HKLM, HKCU or HKCR) is not below one it holds.
reg_snapshot_query() {
  [ -e "$REG_SNAPSHOT/roots.txt" ] || [ -e "$REG_SNAPSHOT/failed" ] || reg_snapshot_take
  [ -s "$REG_SNAPSHOT/roots.txt" ] || return 3
  local view=${1:-64} key=${2,,} root root_view
  [ "$ONE_VIEW" = 1 ] && view='*'
  while IFS=$'\t' read -r root_view root; do
    if [ "$root_view" = "$view" ] && { [ "$key" = "$root" ] || [ "${key#"$root\\"}" != "$key" ]; }; then
      # (through the environment: awk -v would take the backslashes as escapes)
      V=$view K=$key awk -F '\t' '$1 == ENVIRON["V"] && $2 == ENVIRON["K"] { print $3 }' \
        "$REG_SNAPSHOT/flat.txt"
      return 0
    fi
  done <"$REG_SNAPSHOT/roots.txt"
  return 3
}
# reg_query VIEW KEY: the output of "reg query KEY /reg:VIEW" (VIEW 32, 64 or empty), nothing
# when the key is missing. On 32-bit Windows (ONE_VIEW) there is one view and VIEW is not passed
# on. Outside the snapshot, each call asks the prefix afresh.
reg_query() {
  [ -n "${REG_SNAPSHOT:-}" ] && reg_snapshot_query "$1" "$2" && return 0
  local -a view=()
  [ -n "$1" ] && [ "${ONE_VIEW:-0}" != 1 ] && view=("/reg:$1")
  # A missing key: reg.exe ends with 1 and prints its message on standard output; keep nothing.
  # Any other failure is Wine's, not the registry's: asked again, and named when it stays.
  local out status tries=0
  while :; do
    out=$(wine reg query "$2" "${view[@]}" 2>/dev/null | tr -d '\r'; exit "${PIPESTATUS[0]}")
    status=$?
    [ "$status" -gt 1 ] && [ $((tries += 1)) -lt 3 ] || break
  done
  if [ "$status" -eq 0 ]; then
    printf '%s\n' "$out"
  elif [ "$status" -ne 1 ]; then
    echo "reg query $2 ${view[*]}: wine ended with status $status" >&2
  fi
}
# reg_value VIEW KEY NAME: "TYPE|DATA" of the value, empty when it is missing. The default value
# is named "".
reg_value() {
  reg_query "$1" "$2" | awk -v name="$3" 'BEGIN { FS = "    " }
    /^    / {
      n = $2
      if (n == "(Default)") n = ""
      if (n == name) {
        data = $4
        for (i = 5; i <= NF; i++) data = data "    " $i
        print $3 "|" data
        exit
      }
    }'
}
expect_reg() {  # expect_reg VIEW KEY NAME TYPE DATA
  # A value the updater wrote has, in a few full runs on a loaded machine, read back as missing
  # once while the comparison with the simulation, exported from the same prefix later, held it.
  # A value that is not what is expected is read twice more, from reg.exe, before the check fails;
  # a later read that agrees passes and is named on standard error, with what the first read gave.
  local got first tries=0
  got=$(reg_value "$1" "$2" "$3")
  first=$got
  while [ "$got" != "$4|$5" ] && [ $((tries += 1)) -le 2 ]; do
    sleep 1
    got=$(REG_SNAPSHOT= reg_value "$1" "$2" "$3")  # from reg.exe
  done
  [ "$got" = "$first" ] ||
    echo "registry ${1:+(/reg:$1) }$2 [$3]: read $((tries + 1)) times, the first gave [$first]" >&2
  expect_eq "registry ${1:+(/reg:$1) }$2 [$3]" "$4|$5" "$got"
}
expect_no_reg() {  # expect_no_reg VIEW KEY NAME
  expect_eq "registry ${1:+(/reg:$1) }$2 [$3] absent" "" "$(reg_value "$1" "$2" "$3")"
}

# ---- files ----------------------------------------------------------------------------------
expect_same_file() {  # expect_same_file WHAT EXPECTED ACTUAL
  if cmp -s "$2" "$3"; then pass; else fail "$1: $3 differs from $2"; fi
}
log_lines() { tr -d '\r' 2>/dev/null <"$data/$1"; }
# lnk_field LINK FIELD: a field of lnkinfo's report ("Local path", "Description"...).
# lnk_show_command LINK: the show command stored in the link's header (bytes 60 to 63); read
# directly, since lnkinfo 20181227 reports another field as "Show Window value".
lnk_show_command() {
  od -An -t u4 -j 60 -N 4 "$(unix_path "$1")" 2>/dev/null | tr -d ' '
}
lnk_field() {
  lnkinfo "$(unix_path "$1")" 2>/dev/null | sed -n "s/^\t$2[\t ]*: //p" | head -n 1
}

# ---- the programs the updater started, from Wine's trace of process creation -----------------
# traced_children: writes $data/traced-children.log, one line per program the updater (PROCESS)
# started, in order: the image Windows started, "|", its command line (as children.log has
# them). The updater is single-threaded: its children are the processes its main thread creates
# (trace lines "TID:trace:process:NtCreateUserProcess ... image L"..." cmdline L"...""), less
# Wine's own helpers: winemenubuilder.exe, which Wine's shell starts when a shortcut is saved,
# and "explorer.exe /desktop", which Wine starts with a process's first window when no desktop
# runs yet.
traced_children() {
  python3 - "$data/process-trace.txt" "$PROCESS" >"$data/traced-children.log" <<'PY'
import re, sys
text = open(sys.argv[1], encoding="utf-8", errors="replace").read()
def unescape(s):
    out, i = "", 0
    while i < len(s):
        if s[i] == "\\" and i + 1 < len(s):
            c = s[i + 1]
            if c == "x" and re.match(r"[0-9a-fA-F]{4}", s[i + 2:i + 6]):
                out += chr(int(s[i + 2:i + 6], 16)); i += 6; continue
            out += {"n": "\n", "r": "\r", "t": "\t"}.get(c, c); i += 2; continue
        out += s[i]; i += 1
    return out
string = r'L"((?:[^"\\]|\\.)*)"'
tid = None
for m in re.finditer(r'NtCreateUserProcess %s pid [0-9a-f]+ tid ([0-9a-f]+)' % string, text):
    if unescape(m.group(1)).lower().endswith("\\" + sys.argv[2].lower()):
        tid = m.group(2)
if tid is None:
    sys.exit("the trace shows no start of " + sys.argv[2])
for m in re.finditer(r'^%s:trace:process:NtCreateUserProcess %s image %s cmdline %s' %
                     (tid, string, string, string), text, re.M):
    if m.group(3).endswith("..."):
        sys.exit("the trace cut a command line short: " + m.group(3))
    image, command = unescape(m.group(2)), unescape(m.group(3))
    wine_own = image.lower().endswith("\\winemenubuilder.exe") or \
        (image.lower().endswith("\\explorer.exe") and command.endswith(" /desktop"))
    if not wine_own:
        print("%s|%s" % (image, command))
PY
}
