# The end-to-end cases. Each case NAME has case_NAME (its settings, read by run-case.sh) and
# verify_NAME (its checks); run_NAME, when present, replaces the default set-up and run.
# Settings: ARGS (updater arguments), WINVER (Wine's Windows version for QV3Update.exe: empty for
# the prefix's Windows 7, winxp, win2k), PRODUCT (1 installed), INSTALL (AppPath), COMMUNICATOR
# (1: the product's main program runs), SHORTCUT (en, de, both, none: the old Start-menu
# shortcuts), MSI_MODE (update: the installer replaces QVApp.exe; none), PLANT (1: a msiexec.exe
# beside the updater), ACTIONS (the answer to each dialog, see dlgdriver.cpp), EXPECT_STATUS,
# DOWNLOAD (the name of the download folder below C:\qv-e2e, UTF-8), INSTALLER (stand-in: the
# installer stand-in and the product put in place file by file; real: the product installed from
# its Windows Installer package and the patch PATCH_FILE applied by Wine's own msiexec), PACKAGE
# (fake: a text, or the PATCH_FILE for the real installer; own: the release's own package;
# other, changed: a package a user put in its place, see release-fixture.sh), RELEASE (1: the case
# runs the release made by scripts/release.sh, the cases release_* do), SWAP (a package of the
# release fixture the driver puts in the download folder's package's place while the first
# dialog waits).

# list_cases [KIND]: every case for a 64-bit prefix (win64, wow64); on 32-bit Windows (win32)
# the ones that tell it apart: both Windows levels' task dialogs and settings (one registry view,
# the folder-windows line), Windows XP and 2000, not installed, cancelled; and the system
# libraries planted in the download folder, which 32-bit Windows loads from its own system folder.
WIN32_CASES=(driver_selftest level2_en level2_de level1_de level0_en not_installed_en
             not_installed_de cancel_button cancel_escape cancel_close_xp planted_system_dlls
             real_installer_level2_en real_installer_not_applicable release_own_package
             release_own_package_xp release_own_package_2k release_other_package)
list_cases() {
  if [ "${1:-win64}" = win32 ]; then
    printf '%s\n' "${WIN32_CASES[@]}"
  else
    declare -F | sed -n 's/^declare -f case_//p' | grep -vx described
  fi
}

# ---- the texts the user sees, as the transcript has them (CR LF as \r\n) ---------------------
declare -A T
T[en.product]='Quorvia 3'
T[en.update]='Quorvia 3 Update'
T[en.intro]='This program updates your Quorvia 3 installation to the latest version.'
T[en.install]='Install update now'
T[en.heading]='Exit the following programs now so that the update can be installed without a Windows restart required:'
T[en.line.product]='- Quorvia (right-click its icon in the notification area of the taskbar, and then click Exit Quorvia.)'
T[en.line.browser]='- Internet Explorer'
T[en.line.mail]='- Microsoft Outlook (if you use the Quorvia Outlook Add-in)'
T[en.line.folders]='- all open folder windows'
T[en.headline]='Quorvia 3 update successfully installed'
T[en.success]="You're now using the latest version of Quorvia 3."'\r\n\r\n''Thank you very much for using and recommending Quorvia!'
T[en.success.box]="You're now using the latest version of Quorvia 3."'\r\n''Thank you very much for using and recommending Quorvia!'
T[en.first]='The Quorvia 3 update has been successfully installed.'
T[en.missing.title]='Quorvia 3 Update Installation'
T[en.missing.text]='Quorvia 3 is not installed. This update is only valid for Quorvia 3 and not for earlier Quorvia versions.'
T[en.refused.tail]='\r\n\r\nNothing has been changed on this computer. Please download the update again.'
T[en.refused.other]='The update package "%s" is not the package this update was made for.'
T[en.link]=$LINK_EN
T[en.description]='Syncs two Quorvia data files.'

T[de.product]='Querlix 3'
T[de.update]='Querlix 3-Update'
T[de.intro]='Dieses Programm aktualisiert Ihre Querlix 3-Installation auf die neueste Version.'
T[de.install]='Update jetzt installieren'
T[de.heading]='Damit das Update ohne Windows-Neustart installiert werden kann, beenden Sie jetzt bitte folgende Programme:'
T[de.line.product]='- Querlix (klicken Sie mit der rechten Maustaste auf sein Symbol im Infobereich der Taskleiste und danach auf "Querlix beenden")'
T[de.line.browser]='- Internet Explorer'
T[de.line.mail]='- Microsoft Outlook (sofern Sie das Querlix Outlook Add-In verwenden)'
T[de.line.folders]='- alle geöffneten Ordnerfenster'
T[de.headline]='Querlix 3-Update erfolgreich installiert'
T[de.success]='Sie verwenden jetzt die neueste Querlix 3-Version.\r\nVielen Dank, dass Sie Querlix nutzen und weiterempfehlen!'
T[de.success.box]=${T[de.success]}
T[de.first]='Das Querlix 3-Update wurde erfolgreich installiert.'
T[de.missing.title]='Querlix 3-Update-Installation'
T[de.missing.text]='Querlix 3 ist nicht installiert. Dieses Update ist nur für Querlix 3 geeignet und nicht für ältere Querlix-Versionen.'
T[de.refused.tail]='\r\n\r\nAuf diesem Computer wurde nichts geändert. Bitte laden Sie das Update erneut herunter.'
T[de.refused.other]='Das Update-Paket "%s" ist nicht das Paket, für das dieses Update erstellt wurde.'
T[de.link]=$LINK_DE
T[de.description]='Gleicht zwei Querlix-Datendateien miteinander ab.'

# program_list LANG PRODUCT_RUNNING FOLDERS_LINE
program_list() {
  local l=$1 list
  list="${T[$l.heading]}"'\r\n\r\n'
  [ "$2" = 1 ] && list+="${T[$l.line.product]}"'\r\n'
  list+="${T[$l.line.browser]}"'\r\n'"${T[$l.line.mail]}"
  [ "$3" = 1 ] && list+='\r\n'"${T[$l.line.folders]}"
  printf '%s' "$list"
}

# ---- checks shared by the cases -------------------------------------------------------------
# The prompt and the report in task-dialog style (Windows 7; the folder-windows line only on
# 32-bit Windows, where folder windows hold the product's shell extension).
verify_prompt_taskdialog() {  # LANG PRODUCT_RUNNING
  expect_dialog 1 "${T[$1.product]}" "${T[$1.update]}" "${T[$1.intro]}" \
    "$(program_list "$1" "$2" "$ONE_VIEW")"
  expect_buttons 1 "${T[$1.install]}" Cancel
}
verify_report_taskdialog() {  # N LANG
  expect_dialog "$1" "${T[$2.product]}" "${T[$2.headline]}" '\r\n'"${T[$2.success]}"
  expect_buttons "$1" Close
}
# Message-box style (Windows XP and 2000: the folder-windows line always).
verify_prompt_box() {  # LANG PRODUCT_RUNNING
  expect_dialog 1 "${T[$1.update]}" "${T[$1.intro]}"'\r\n\r\n\r\n'"$(program_list "$1" "$2" 1)"
  expect_buttons 1 OK Cancel
}
verify_report_box() {  # N LANG
  expect_dialog "$1" "${T[$2.product]}" "${T[$2.first]}"'\r\n\r\n'"${T[$2.success.box]}"
  expect_buttons "$1" OK
}

FC='HKLM\Software\Microsoft\Internet Explorer\Main\FeatureControl'
FC_CAPS='HKLM\Software\Microsoft\Internet Explorer\MAIN\FeatureControl'
IE_MAIN='Software\Microsoft\Internet Explorer\Main'
RUN='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
PROGRAMS=(QVApp.exe QVGet.exe QVSaver.exe QVThumbs.exe)
declare -A CLSID_NAME
CLSID_NAME['en.{3A5C1E70-2B4D-4F61-9E83-0C7D5A1B2E91}']='Quorvia Toolbar'
CLSID_NAME['en.{6D2E8B14-9C0A-4B7F-A3D5-1E6F7A8B9C02}']='Quorvia Editing Bar'
CLSID_NAME['en.{9B4F2A63-5E1C-4D8A-B7F0-2C3D4E5F6A13}']='Quorvia Explorer Bar'
CLSID_NAME['en.{C7E1D052-8A3B-4C6E-9F14-3B4C5D6E7F24}']='Quorvia Browser Helper Object'
CLSID_NAME['de.{3A5C1E70-2B4D-4F61-9E83-0C7D5A1B2E91}']='Querlix-Symbolleiste'
CLSID_NAME['de.{6D2E8B14-9C0A-4B7F-A3D5-1E6F7A8B9C02}']='Querlix-Bearbeitungsleiste'
CLSID_NAME['de.{9B4F2A63-5E1C-4D8A-B7F0-2C3D4E5F6A13}']='Querlix-Explorer-Leiste'
CLSID_NAME['de.{C7E1D052-8A3B-4C6E-9F14-3B4C5D6E7F24}']='Querlix-Browserhilfsobjekt'
CLSIDS=('{3A5C1E70-2B4D-4F61-9E83-0C7D5A1B2E91}' '{6D2E8B14-9C0A-4B7F-A3D5-1E6F7A8B9C02}'
        '{9B4F2A63-5E1C-4D8A-B7F0-2C3D4E5F6A13}' '{C7E1D052-8A3B-4C6E-9F14-3B4C5D6E7F24}')

# The feature-control values, in the 32-bit view only. EMULATION: 0x2af8 (11000) or 0x1f40 (8000).
verify_feature_control() {
  local emulation=$1 p
  for p in "${PROGRAMS[@]}"; do
    expect_reg 32 "$FC\\FEATURE_BROWSER_EMULATION" "$p" REG_DWORD "$emulation"
    expect_reg 32 "$FC_CAPS\\FEATURE_GPU_RENDERING" "$p" REG_DWORD 0x1
    expect_reg 32 "$FC_CAPS\\FEATURE_DISABLE_NAVIGATION_SOUNDS" "$p" REG_DWORD 0x1
    if [ "$ONE_VIEW" = 0 ]; then
      expect_no_reg 64 "$FC\\FEATURE_BROWSER_EMULATION" "$p"
      expect_no_reg 64 "$FC\\FEATURE_GPU_RENDERING" "$p"
    fi
  done
  expect_reg 32 "$FC\\FEATURE_USE_LEGACY_JSCRIPT" QVApp.exe REG_DWORD 0x1
  for p in QVGet.exe QVSaver.exe QVThumbs.exe; do
    expect_no_reg 32 "$FC\\FEATURE_USE_LEGACY_JSCRIPT" "$p"
  done
  for p in QVApp.exe QVGet.exe QVSaver.exe; do
    expect_reg 32 "$FC\\FEATURE_MAXCONNECTIONSPERSERVER" "$p" REG_DWORD 0x6
  done
  expect_no_reg 32 "$FC\\FEATURE_MAXCONNECTIONSPERSERVER" QVThumbs.exe
}

# Nothing went to a Wow6432Node key, which 32-bit Windows does not redirect to.
WOW_IE_MAIN='HKLM\Software\Wow6432Node\Microsoft\Internet Explorer\Main'
WOW_RUN='HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Run'
verify_nothing_in_wow6432node() {
  local id
  expect_no_reg "" "$WOW_RUN" QuorviaStartupInit
  expect_no_reg "" "$WOW_IE_MAIN" Isolation
  expect_no_reg "" "$WOW_IE_MAIN" Isolation64Bit
  for id in "${CLSIDS[@]}"; do
    expect_eq "no add-in key HKCR\\Wow6432Node\\CLSID\\$id" "" \
      "$(reg_query "" "HKCR\\Wow6432Node\\CLSID\\$id")"
  done
}

# Windows level 2 on 64-bit Windows: start-up entry in the 32-bit view, machine-wide isolation in
# the 64-bit view only, per-user isolation. On 32-bit Windows: one view, "Isolation" machine-wide
# and per user, no "Isolation64Bit" anywhere.
verify_level2_settings() {
  if [ "$ONE_VIEW" = 1 ]; then
    expect_reg "" "$RUN" QuorviaStartupInit REG_SZ "\"${INSTALL}QVGet.exe\" /StartupCheck"
    expect_reg "" "HKLM\\$IE_MAIN" Isolation REG_SZ PMIL
    expect_no_reg "" "HKLM\\$IE_MAIN" Isolation64Bit
    expect_reg "" "HKCU\\$IE_MAIN" Isolation REG_SZ PMIL
    expect_no_reg "" "HKCU\\$IE_MAIN" Isolation64Bit
    verify_nothing_in_wow6432node
    return
  fi
  expect_reg 32 "$RUN" QuorviaStartupInit REG_SZ "\"${INSTALL}QVGet.exe\" /StartupCheck"
  expect_no_reg 64 "$RUN" QuorviaStartupInit
  expect_reg 64 "HKLM\\$IE_MAIN" Isolation REG_SZ PMIL
  expect_reg 64 "HKLM\\$IE_MAIN" Isolation64Bit REG_DWORD 0x0
  expect_no_reg 32 "HKLM\\$IE_MAIN" Isolation
  expect_no_reg 32 "HKLM\\$IE_MAIN" Isolation64Bit
  expect_reg "" "HKCU\\$IE_MAIN" Isolation REG_SZ PMIL
  expect_reg "" "HKCU\\$IE_MAIN" Isolation64Bit REG_DWORD 0x0
}
verify_no_level2_settings() {
  local view
  for view in 32 64; do
    expect_no_reg "$view" "$RUN" QuorviaStartupInit
    expect_no_reg "$view" "HKLM\\$IE_MAIN" Isolation
    expect_no_reg "$view" "HKLM\\$IE_MAIN" Isolation64Bit
  done
  expect_no_reg "" "HKCU\\$IE_MAIN" Isolation
  expect_no_reg "" "HKCU\\$IE_MAIN" Isolation64Bit
}

# The add-in names under HKCR\CLSID as the 32-bit view shows them (HKCR\Wow6432Node\CLSID on
# 64-bit Windows, HKCR\CLSID itself on 32-bit Windows).
verify_addin_names() {
  local id
  for id in "${CLSIDS[@]}"; do
    expect_reg 32 "HKCR\\CLSID\\$id" "" REG_SZ "${CLSID_NAME[$1.$id]}"
  done
  [ "$ONE_VIEW" = 1 ] && verify_nothing_in_wow6432node
}

# The five programs excluded from error reporting for all users, in this order.
verify_wer_exclusions() {
  expect_eq "error-reporting exclusions" \
    "QVApp.exe|all QVGet.exe|all QVSaver.exe|all QVSync.exe|all QVThumbs.exe|all" \
    "$(log_lines wer.log | paste -sd' ')"
}
verify_no_wer_exclusions() {
  expect_false "no error-reporting exclusion" test -e "$data/wer.log"
}

# No protected folder of the updater is left in the Windows folder's Temp.
verify_no_protected_folder_left() {
  local left
  left=$(find "$drive_c/windows/temp" -maxdepth 1 -iname 'QV3Update-*' 2>/dev/null)
  expect_eq "no protected folder left in C:\\windows\\Temp" "" "$left"
}

PROTECTED_SDDL='D:PAI(A;;FA;;;BA)(A;OICIIO;GA;;;BA)(A;;FA;;;SY)(A;OICIIO;GA;;;SY)'

# The installer ran once, the one of the system folder, on the protected copy of the package
# beside the updater: in a new folder with a random name in the Windows folder's Temp, the package
# as it lay in the download folder when the run copied it (before the prompt), the folder gone
# after the run.
verify_installer_ran() {
  local line program command folder sddl
  line=$(log_lines msiexec.log)
  expect_eq "installer runs" 1 "$(printf '%s\n' "$line" | grep -c .)"
  program=$(printf '%s' "$line" | cut -d'|' -f1)
  expect_true "installer program [$program] is the system folder's (${INSTALLERS[*]})" \
    one_of "$program" "${INSTALLERS[@]}"
  # Exactly the copy's name, quoted, and nothing else.
  command=$(printf '%s' "$line" | cut -d'|' -f2)
  # With the progress bar, or none at all (/quiet); with the installer's log (/log) after it.
  local pattern='^msiexec\.exe (/qb|/qn /norestart) /p "(C:\\windows\\Temp\\QV3Update-[0-9A-F]{16})\\qvupdate\.msp"( /l\*v "[^"]*")?$'
  if [[ $command =~ $pattern ]]; then
    pass
    folder=${BASH_REMATCH[2]}
  else
    fail "installer command line [$command] does not name the package's protected copy"
  fi
  expect_eq "installer found the package" msp=present "$(printf '%s' "$line" | cut -d'|' -f3)"
  expect_same_file "the installer got the package as it was before the prompt" \
    "$data/original-package.msp" "$data/installer-package.msp"
  [ -n "$folder" ] && expect_false "the protected folder $folder is gone" test -e "$(unix_path "$folder")"
  verify_no_protected_folder_left
  # The folder's DACL as the installer read it. Known Wine difference: Wine keeps no DACL of a
  # file or folder (GetFileSecurityW makes one from the Unix permissions); the simulation and the
  # platform contract suite check the DACL the folder is made with.
  sddl=$(printf '%s' "$line" | cut -d'|' -f5)
  if [ "$sddl" = "sddl=$PROTECTED_SDDL" ]; then
    pass
  else
    expect_true "the installer could read its folder's DACL ($sddl)" grep -q '^sddl=D:' <<<"$sddl"
    echo "known Wine difference: the protected folder's DACL reads back as ${sddl#sddl=}" >&2
  fi
}

verify_shell_item_registered() {  # 1: QVInit.exe started once, 0: never
  local lines
  lines=$(log_lines started.log | grep -i 'QVInit.exe|' || true)
  if [ "$1" = 1 ]; then
    expect_eq "QVInit.exe runs" 1 "$(printf '%s\n' "$lines" | grep -c .)"
    expect_eq "QVInit.exe started from the install folder" "${INSTALL}QVInit.exe" \
      "$(printf '%s' "$lines" | cut -d'|' -f1)"
    expect_true "QVInit.exe command line [$lines] ends with /RegisterQVGetShellItem" \
      grep -Eq 'QVInit\.exe"? /RegisterQVGetShellItem$' <<<"$lines"
  else
    expect_eq "QVInit.exe never started" "" "$lines"
  fi
}

# The renewed shortcut of language LANG, read back with lnkinfo.
verify_shortcut_renewed() {
  local link="$COMMON_PROGRAMS${T[$1.link]}"
  expect_eq "shortcut target" "${INSTALL}QVSync.exe" "$(lnk_field "$link" 'Local path')"
  expect_eq "shortcut description" "${T[$1.description]}" "$(lnk_field "$link" Description)"
  expect_eq "shortcut icon file" "${INSTALL}QVSync.exe" "$(lnk_field "$link" 'Icon location')"
  expect_eq "shortcut icon index" 0 "$(lnk_field "$link" 'Icon index')"
  expect_eq "shortcut working directory" "" "$(lnk_field "$link" 'Working directory')"
  expect_eq "shortcut arguments" "" "$(lnk_field "$link" 'Command line arguments')"
  expect_eq "shortcut show command (SW_SHOWNORMAL)" 1 "$(lnk_show_command "$link")"
}
verify_shortcut_untouched() {
  local link="$COMMON_PROGRAMS${T[$1.link]}"
  expect_eq "old shortcut target" "$OLD_SYNC" "$(lnk_field "$link" 'Local path')"
  expect_eq "old shortcut description" "$OLD_DESCRIPTION" "$(lnk_field "$link" Description)"
}
verify_no_shortcut() {
  expect_false "no shortcut ${T[$1.link]}" test -e "$(unix_path "$COMMON_PROGRAMS${T[$1.link]}")"
}

verify_qvapp() {  # REVISION that QVApp.exe has now
  expect_same_file "QVApp.exe after the run" "$fixtures/QVApp-$1.exe" "$(unix_path "$INSTALL")QVApp.exe"
}

# Nothing of the update happened: no installer, no registry value, no shortcut change.
verify_nothing_changed() {
  local p id
  expect_false "the installer never ran" test -e "$data/msiexec.log"
  expect_false "no companion program ran" test -e "$data/started.log"
  for p in "${PROGRAMS[@]}"; do
    expect_no_reg 32 "$FC\\FEATURE_BROWSER_EMULATION" "$p"
    expect_no_reg 64 "$FC\\FEATURE_BROWSER_EMULATION" "$p"
  done
  verify_no_level2_settings
  for id in "${CLSIDS[@]}"; do
    expect_eq "no add-in key $id" "" "$(reg_query 32 "HKCR\\CLSID\\$id")"
  done
  verify_no_wer_exclusions
  verify_no_protected_folder_left
}

# ---- the driver's own check, against dialogs with known texts --------------------------------
case_driver_selftest() {
  PROCESS=dlgdemo.exe
  ACTIONS=(escape 'button:Go on' id:1 escape close 'button:Cancel')
}
run_driver_selftest() {
  mkdir -p "$data/bin"
  cp "$fixtures"/{dlgdriver,dlgdemo}.exe "$data/bin/"
  # The same program under another name plays the installer, whose message box is answered
  # with its default button and not counted.
  cp "$fixtures/dlgdemo.exe" "$data/bin/msidemo.exe"
  wine 'C:\qv-e2e\bin\dlgdriver.exe' --process dlgdemo.exe --installer msidemo.exe --timeout 60 \
    'C:\qv-e2e\dialogs.txt' "${ACTIONS[@]}" >/dev/null 2>&1 &
  local driver_pid=$! kind expected status
  local -a runs=(msgbox:2 taskdialog:6 msgbox:1 taskdialog:2 taskdialog:2 msgbox:2)
  for kind in "${runs[@]}"; do
    expected=${kind#*:}
    wine 'C:\qv-e2e\bin\dlgdemo.exe' "${kind%:*}" >/dev/null 2>&1
    status=$?
    expect_eq "dlgdemo ${kind%:*} answered by the driver" "$expected" "$status"
  done
  timeout 90 "$wine_loader" 'C:\qv-e2e\bin\msidemo.exe' msgbox >/dev/null 2>&1
  expect_eq "the installer's message box got its default button (IDOK)" 1 "$?"
  touch "$data/updater.exited"
  wait "$driver_pid"
  DRIVER_STATUS=$?
}
verify_driver_selftest() {
  expect_eq "driver status" 0 "$DRIVER_STATUS"
  expect_eq "dialogs seen" 6 "$(dialog_count)"
  expect_dialog 1 'Demo Größe' 'Erste Zeile äöü\r\n\r\nSecond line'
  expect_buttons 1 OK Cancel
  expect_dialog 2 Demo 'Main instruction' '\r\nContent ü' 'Footer line 1\r\nline 2'
  expect_buttons 2 'Go on' Cancel
  expect_eq "answers recorded" "escape|button:Go on|id:1|escape|close|button:Cancel" \
    "$(sed -n 's/^action\t//p' "$data/dialogs.txt" | paste -sd'|')"
  expect_eq "the installer's window recorded and closed" \
    $'installer\t1\t#32770\tDemo Größe\ninstaller-closed' \
    "$(grep -E $'^installer(\t|-closed|-still)' "$data/dialogs.txt")"
}

# ---- the updater ----------------------------------------------------------------------------
# Windows 7 (level 2), English, product running, shortcut present: the whole update.
case_level2_en() {
  ARGS=(/en) COMMUNICATOR=1 SHORTCUT=en
  ACTIONS=("button:${T[en.install]}" button:Close)
}
verify_level2_en() {
  verify_prompt_taskdialog en 1
  verify_report_taskdialog 2 en
  verify_installer_ran
  verify_shell_item_registered 1
  verify_qvapp 69
  verify_feature_control 0x2af8
  verify_level2_settings
  verify_addin_names en
  verify_wer_exclusions
  verify_shortcut_renewed en
  verify_no_shortcut de
}

# Download folders whose names the ANSI code page (1252) lacks: fullwidth quotation marks that a
# best-fit conversion would turn into installer arguments, and Polish letters it would change into
# another folder's name. The installer gets the package's exact path.
case_download_fullwidth_quote() {
  case_level2_en
  DOWNLOAD='x＂ INJECTED=＂1'
}
verify_download_fullwidth_quote() { verify_level2_en; }
case_download_outside_code_page() {
  case_level2_en
  DOWNLOAD='Łukasz Łódź＼Downloads'
}
verify_download_outside_code_page() { verify_level2_en; }

# German at level 2, product not running, both shortcuts present: only the German one is renewed;
# the report is closed with its close box. (Escape would end it on Windows too, but Wine's task
# dialog ignores Escape when it has no Cancel button, whatever TDF_ALLOW_DIALOG_CANCELLATION says.)
case_level2_de() {
  SHORTCUT=both
  ACTIONS=("button:${T[de.install]}" close)
}
verify_level2_de() {
  verify_prompt_taskdialog de 0
  verify_report_taskdialog 2 de
  verify_installer_ran
  verify_qvapp 69
  verify_feature_control 0x2af8
  verify_level2_settings
  verify_addin_names de
  verify_shortcut_renewed de
  verify_shortcut_untouched en
}

# Windows XP (level 1), German, message boxes.
case_level1_de() {
  WINVER=winxp COMMUNICATOR=1 SHORTCUT=de
  ACTIONS=(id:1 id:1)
}
verify_level1_de() {
  verify_prompt_box de 1
  verify_report_box 2 de
  verify_installer_ran
  verify_shell_item_registered 0
  verify_qvapp 69
  verify_feature_control 0x1f40
  verify_no_level2_settings
  verify_addin_names de
  verify_no_wer_exclusions
  verify_shortcut_renewed de
}

# Windows 2000 (level 0), "/EN" in capitals, no shortcut: none is created.
case_level0_en() {
  ARGS=(/EN) WINVER=win2k
  ACTIONS=(button:OK button:OK)
}
verify_level0_en() {
  verify_prompt_box en 0
  verify_report_box 2 en
  verify_installer_ran
  verify_shell_item_registered 0
  verify_feature_control 0x2af8
  verify_no_level2_settings
  verify_addin_names en
  verify_no_wer_exclusions
  verify_no_shortcut en
}

case_not_installed_en() {
  ARGS=(/en) PRODUCT=0 EXPECT_STATUS=1605
  ACTIONS=(button:OK)
}
verify_not_installed_en() {
  expect_dialog 1 "${T[en.missing.title]}" "${T[en.missing.text]}"
  expect_buttons 1 OK
  verify_nothing_changed
}

case_not_installed_de() {
  PRODUCT=0 EXPECT_STATUS=1605 WINVER=winxp
  ACTIONS=(escape)
}
verify_not_installed_de() {
  expect_dialog 1 "${T[de.missing.title]}" "${T[de.missing.text]}"
  expect_buttons 1 OK
  verify_nothing_changed
}

# Cancelled prompts: by the Cancel button, by Escape, by the close box of the message box.
case_cancel_button() {
  ARGS=(/en) COMMUNICATOR=1 SHORTCUT=en EXPECT_STATUS=1602
  ACTIONS=(button:Cancel)
}
verify_cancel_button() {
  verify_prompt_taskdialog en 1
  verify_nothing_changed
  verify_qvapp 68
  verify_shortcut_untouched en
}
case_cancel_escape() {
  SHORTCUT=de EXPECT_STATUS=1602
  ACTIONS=(escape)
}
verify_cancel_escape() {
  verify_prompt_taskdialog de 0
  verify_nothing_changed
  verify_qvapp 68
  verify_shortcut_untouched de
}
case_cancel_close_xp() {
  ARGS=(/en) WINVER=winxp SHORTCUT=en EXPECT_STATUS=1602
  ACTIONS=(close)
}
verify_cancel_close_xp() {
  verify_prompt_box en 0
  verify_nothing_changed
  verify_qvapp 68
  verify_shortcut_untouched en
}

# The installer leaves QVApp.exe as it was: the settings are written, but no report is shown.
case_unchanged() {
  ARGS=(/en) SHORTCUT=en MSI_MODE=none EXPECT_STATUS=1642
  ACTIONS=("button:${T[en.install]}")
}
verify_unchanged() {
  verify_installer_ran
  verify_qvapp 68
  verify_feature_control 0x2af8
  verify_level2_settings
  verify_addin_names en
  verify_shortcut_renewed en
}

# An install folder with spaces outside Program Files.
case_spaces() {
  ARGS=(/en) SHORTCUT=en INSTALL='C:\Quorvia Apps\Quorvia 3 Suite\'
  ACTIONS=("button:${T[en.install]}" close)
}
verify_spaces() {
  verify_installer_ran
  verify_shell_item_registered 1
  verify_qvapp 69
  verify_level2_settings
  verify_shortcut_renewed en
}

# A msiexec.exe beside the updater is never started: the installer is the system folder's.
case_planted_msiexec() {
  ARGS=(/en) PLANT=1
  ACTIONS=("button:${T[en.install]}" button:Close)
}
verify_planted_msiexec() {
  verify_installer_ran
  verify_qvapp 69
}

# Stand-ins for every system library that a run makes Windows load by name, planted in the
# download folder (the updater runs elevated from there). The loader is told to prefer a file on
# disk for the names that are no known DLLs on Windows (a known DLL always comes from the system
# folder there). In the whole update none of them may be loaded; each stand-in appends its own
# path to C:\standins.log when it is.
# Known DLLs of Windows 10 among the preloaded names (HKLM\SYSTEM\CurrentControlSet\Control\
# Session Manager\KnownDLLs); kernelbase and ucrtbase are loaded as kernel32's and msvcrt's own
# imports before the program's first instruction.
KNOWN_DLLS=" advapi32 clbcatq combase gdi32 imagehlp imm32 msctf ole32 oleaut32 rpcrt4 sechost shcore shell32 shlwapi user32 kernelbase ucrtbase "
preloaded_names() {
  sed -n '/kPreloadNames\[\] = {/,/nullptr/p' "$here/../../src/platform/win32/late_binding.cpp" |
    grep -o 'L"[^"]*\.dll"' | sed 's/^L"//; s/"$//'
}
plant_standins() {
  local name base count=0
  for name in $(preloaded_names); do
    cp "$fixtures/standin.dll" "$data/$DOWNLOAD/$name"
    base=${name%.dll}
    count=$((count + 1))
    case "$KNOWN_DLLS" in
      *" $base "*) ;;
      *)
        # wer keeps its own override: the system folder's logging stand-in (setup_product).
        [ "$base" = wer ] && continue
        wine reg add 'HKCU\Software\Wine\AppDefaults\QV3Update.exe\DllOverrides' /v "$base" \
          /d native,builtin /f >/dev/null ;;
    esac
  done
  expect_true "set-up: stand-ins planted for the preloaded libraries ($count)" test "$count" -gt 10
}
case_planted_system_dlls() {
  case_level2_en
}
run_planted_system_dlls() {
  setup_product
  plant_standins
  sim_before
  run_updater
}
verify_no_standin_loaded() {
  if [ -s "$drive_c/standins.log" ]; then
    fail "stand-ins loaded into the updater: $(tr '\n' ' ' <"$drive_c/standins.log")"
  else
    pass
  fi
}
verify_planted_system_dlls() {
  verify_level2_en
  verify_no_standin_loaded
}

# ---- the real Windows Installer ---------------------------------------------------------------
# The product installed from its package (quorvia3.msi) by Wine's msiexec, and qvupdate.msp a
# real patch that Wine's msiexec applies when the updater starts it: no stand-in.

# verify_real_installer_ran PATCHED: the updater started the system folder's msiexec.exe once
# with its package (Wine's trace of process creation), and the installer lists the patch for the
# product (1) or still none (0).
verify_real_installer_ran() {
  local line program
  traced_children || fail "the programs the updater started: $(tail -n 1 "$data/traced-children.log")"
  line=$(grep -i '\\msiexec\.exe|' "$data/traced-children.log")
  expect_eq "installer runs" 1 "$(printf '%s\n' "$line" | grep -c .)"
  program=$(printf '%s' "$line" | cut -d'|' -f1)
  expect_true "installer program [$program] is the system folder's (${INSTALLERS[*]})" \
    one_of "$program" "${INSTALLERS[@]}"
  # The package's folder is not checked: the updater may hand the installer a copy of it
  # elsewhere; what the installer applied is (below).
  expect_true "installer command line [$(printf '%s' "$line" | cut -d'|' -f2)] is msiexec.exe /qb (or /qn /norestart) /p \"...\\qvupdate.msp\"" \
    grep -Eqx '[^|]*\|msiexec\.exe (/qb|/qn /norestart) /p "[A-Za-z]:\\[^"]*\\qvupdate\.msp"( /l\*v "[^"]*")?' <<<"$line"
  local expected="version|3.10.68"
  [ "$1" = 1 ] && expected+=$'\n'"patch|$(package_code patch)|:QVPatch;:#QVPatch"
  expect_eq "the installer's patches of the product (MsiEnumPatches)" "$expected" \
    "$(installer_products_patches)"
  # The installer's own windows under /qb (its progress window on Windows; Wine 8 shows none),
  # which the driver records apart from the updater's dialogs: none may be left open.
  echo "installer windows under /qb: $(grep -c $'^installer\t' "$data/dialogs.txt")" >&2
  expect_false "an installer window stayed open" grep -qx installer-still-open "$data/dialogs.txt"
}

# Windows 7 (level 2), English, product running: the whole update with Wine's installer.
case_real_installer_level2_en() {
  case_level2_en
  INSTALLER=real
}
verify_real_installer_level2_en() {
  verify_prompt_taskdialog en 1
  verify_report_taskdialog 2 en
  verify_real_installer_ran 1
  verify_shell_item_registered 1
  verify_qvapp 69
  verify_feature_control 0x2af8
  verify_level2_settings
  verify_addin_names en
  verify_wer_exclusions
  verify_shortcut_renewed en
}

# A patch made for another version of the product (a previous release's product code): the
# installer refuses it, QVApp.exe keeps its version and the updater ends as "version unchanged"
# (1642) after writing its settings, with no report.
# Windows' installer ends with 1642 (ERROR_PATCH_TARGET_NOT_FOUND) for a patch of another product;
# known Wine difference: Wine's ends with 1605 (ERROR_UNKNOWN_PRODUCT), which the updater passes on
# as its exit status, as it would Windows' 1642 (the simulation is told the installer's code).
case_real_installer_not_applicable() {
  ARGS=(/en) SHORTCUT=en INSTALLER=real PATCH_FILE=qvupdate-other.msp MSI_MODE=none
  INSTALLER_EXIT=1605 EXPECT_STATUS=1605 ACTIONS=("button:${T[en.install]}")
}
verify_real_installer_not_applicable() {
  verify_prompt_taskdialog en 0
  verify_real_installer_ran 0
  verify_qvapp 68
  verify_feature_control 0x2af8
  verify_level2_settings
  verify_addin_names en
  verify_shortcut_renewed en
}

# ---- the release: made by scripts/release.sh for the builder's package, which it alone applies --
# The refusal of the package in the download folder, as the transcript has it: LANG WHY.
refusal() {
  local text=${T[$1.refused.$2]}
  printf '%s%s' "${text/\%s/C:\\\\qv-e2e\\\\$DOWNLOAD\\\\qvupdate.msp}" "${T[$1.refused.tail]}"
}

# Its own package, signed, applied by Wine's installer from the protected copy: on Windows 7, and
# as Windows XP and 2000, whose CryptoAPI has no SHA-256 (the release hashes the package itself).
case_release_own_package() {
  case_real_installer_level2_en
  RELEASE=1 PACKAGE=own
}
verify_release_own_package() { verify_real_installer_level2_en; }
case_release_own_package_xp() {
  case_level1_de
  ARGS=(/en) SHORTCUT=en INSTALLER=real RELEASE=1 PACKAGE=own
}
verify_release_own_package_xp() {
  verify_prompt_box en 1
  verify_report_box 2 en
  verify_real_installer_ran 1
  verify_shell_item_registered 0
  verify_qvapp 69
  verify_feature_control 0x1f40
  verify_no_level2_settings
  verify_addin_names en
  verify_shortcut_renewed en
}
case_release_own_package_2k() {
  case_level0_en
  SHORTCUT=en INSTALLER=real RELEASE=1 PACKAGE=own
}
verify_release_own_package_2k() {
  verify_prompt_box en 0
  verify_report_box 2 en
  verify_real_installer_ran 1
  verify_shell_item_registered 0
  verify_qvapp 69
  verify_feature_control 0x2af8
  verify_no_level2_settings
  verify_addin_names en
  verify_shortcut_renewed en
}

# Another package of the same publisher (signed with the same key) and the release's own with one
# byte changed: refused before the prompt, with the message that says why, status 1643
# (ERROR_PATCH_PACKAGE_REJECTED), nothing changed.
case_release_other_package() {
  ARGS=(/en) INSTALLER=real RELEASE=1 PACKAGE=other EXPECT_STATUS=1643
  ACTIONS=(button:OK)
}
verify_release_other_package() {
  expect_dialog 1 "${T[en.missing.title]}" "$(refusal en other)"
  expect_buttons 1 OK
  verify_nothing_changed
  verify_qvapp 68
  expect_eq "the installer's patches of the product" "version|3.10.68" "$(installer_products_patches)"
}
case_release_changed_byte() {
  INSTALLER=real RELEASE=1 PACKAGE=changed EXPECT_STATUS=1643
  ACTIONS=(button:OK)
}
verify_release_changed_byte() {
  expect_dialog 1 "${T[de.missing.title]}" "$(refusal de other)"
  expect_buttons 1 OK
  verify_nothing_changed
  verify_qvapp 68
}

# A program of the user's replaces the package in the download folder with the publisher's other
# package while the prompt waits (the dialog driver, before it presses the button): the installer
# applies the release's own, copied, held open and checked before the prompt.
case_release_swap_during_prompt() {
  ARGS=(/en) SHORTCUT=en INSTALLER=real RELEASE=1 PACKAGE=own SWAP=other
  ACTIONS=("button:${T[en.install]}" button:Close)
}
verify_release_swap_during_prompt() {
  expect_eq "the driver replaced the package while the prompt waited" \
    "replaced	C:\\\\qv-e2e\\\\$DOWNLOAD\\\\qvupdate.msp" "$(grep '^replace' "$data/dialogs.txt")"
  expect_same_file "the download folder holds the replacement" "$data/swap.msp" \
    "$data/$DOWNLOAD/qvupdate.msp"
  verify_real_installer_ran 1
  verify_qvapp 69
}

# ---- silent deployment: /quiet, /log, the installer's exit code, the event ----------------------
LOG_WIN='C:\qv-e2e\logs\qv3update.log'   # its folder does not exist before the run

# The run's Application event as Wine's ReportEventW traced it (its text, unescaped).
traced_event() {
  python3 - "$data/process-trace.txt" <<'PY'
import re, sys
text = open(sys.argv[1], encoding="utf-8", errors="replace").read()
for m in re.finditer(r':(trace|warn|err):eventlog:ReportEventW L"((?:[^"\\]|\\.)*)"', text):
    print(m.group(1), re.sub(r"\\(.)", r"\1", m.group(2)))
PY
}

# verify_run_log DIALOGS STATUS OUTCOME: the log's lines (and the installer's verbose log beside
# it where the real installer ran), and the event that names them.
verify_run_log() {
  local log=$data/logs/qv3update.log
  expect_true "the run's log was written in the folder the run made ($LOG_WIN)" test -s "$log"
  local text
  text=$(tr -d '\r' <"$log" 2>/dev/null | sed '1s/^\xEF\xBB\xBF//')
  expect_true "log: the start with its time [$(head -n 1 <<<"$text")]" \
    grep -Eqx 'QV3Update 3\.10\.0\.68 started [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:]{8} UTC' <<<"$(head -n 1 <<<"$text")"
  expect_true "log: Windows, its level and the word sizes" grep -Eq '^Windows [0-9.]+ build [0-9]+.*, level [0-2]; (32|64)-bit Windows, (32|64)-bit updater ' <<<"$text"
  expect_true "log: the arguments" grep -qF "Arguments: ${ARGS[*]}" <<<"$text"
  expect_eq "log: the phases" 8 "$(grep -c '^Phase: ' <<<"$text")"
  expect_true "log: the version before" grep -q 'QVApp.exe version before: 3\.10\.0\.68$' <<<"$text"
  expect_true "log: the installer with its command line, exit code and duration" \
    grep -Eq '^Program: C:\\windows\\system32\\msiexec\.exe in C:\\windows\\system32: msiexec\.exe .*/p "C:\\windows\\Temp\\QV3Update-[0-9A-F]{16}\\qvupdate\.msp" /l\*v "C:\\qv-e2e\\logs\\qv3update\.log\.msi\.log" -- exit code [0-9]+ after [0-9]+\.[0-9] s$' <<<"$text"
  expect_eq "log: the registry values written, each with its key" 25 "$(grep -c '^Registry: \[' <<<"$text")"
  expect_eq "log: the dialogs ($1)" "$1" "$(grep -c '^Dialog ' <<<"$text")"
  expect_true "log: the version after" grep -q '^QVApp.exe version after: ' <<<"$text"
  expect_true "log: the outcome [$(grep '^Outcome: ' <<<"$text")]" grep -qx "Outcome: $3; exit status $2" <<<"$text"
  if [ "$INSTALLER" = real ]; then
    expect_true "the installer's verbose log beside it (qv3update.log.msi.log)" test -s "$log.msi.log"
  fi
  expect_true "the event [$(traced_event)] with the outcome, the versions and the log" \
    grep -qF "Quorvia 3 update: $3. QVApp.exe version before: 3.10.0.68, after: " <<<"$(traced_event)"
  expect_true "the event names the exit status and the log" \
    grep -qF "Exit status: $2. Log: $LOG_WIN" <<<"$(traced_event)"
}

# A deployment tool's silent run of the release with Wine's installer: no window at all (the
# dialog driver sees none), the installer without its user interface, the log and the event.
case_release_silent() {
  ARGS=(/quiet /en /log "$LOG_WIN") SHORTCUT=en INSTALLER=real RELEASE=1 PACKAGE=own
  ACTIONS=()
}
verify_release_silent() {
  verify_real_installer_ran 1
  expect_true "the installer runs without its user interface, restarts nothing and logs beside the run" \
    grep -Eq '\|msiexec\.exe /qn /norestart /p "[^"]*\\qvupdate\.msp" /l\*v "C:\\qv-e2e\\logs\\qv3update\.log\.msi\.log"$' \
    "$data/traced-children.log"
  verify_qvapp 69
  verify_feature_control 0x2af8
  verify_level2_settings
  verify_addin_names en
  verify_shortcut_renewed en
  verify_run_log 2 0 "updated: the version of QVApp.exe changed"
  expect_true "the log says the prompt was not shown" grep -q '^Dialog (task dialog, not shown: /quiet): .* -- taken as Yes (6)' \
    <<<"$(tr -d '\r' <"$data/logs/qv3update.log")"
}

# The same with the prompt shown and confirmed: the same log, but for its dialogs.
case_release_logged() {
  ARGS=(/en /log "$LOG_WIN") SHORTCUT=en INSTALLER=real RELEASE=1 PACKAGE=own
  ACTIONS=("button:${T[en.install]}" button:Close)
}
verify_release_logged() {
  verify_prompt_taskdialog en 0
  verify_report_taskdialog 2 en
  verify_real_installer_ran 1
  verify_qvapp 69
  verify_run_log 2 0 "updated: the version of QVApp.exe changed"
}

# Another installation is running: the installer ends with 1618, which the updater passes on so
# that the deployment tool tries again; the settings are written all the same.
case_silent_installer_busy() {
  ARGS=(/en /quiet /log "$LOG_WIN") SHORTCUT=en MSI_MODE=none INSTALLER_EXIT=1618 EXPECT_STATUS=1618
  ACTIONS=()
}
verify_silent_installer_busy() {
  verify_installer_ran
  verify_qvapp 68
  verify_feature_control 0x2af8
  verify_level2_settings
  verify_addin_names en
  verify_shortcut_renewed en
  verify_run_log 1 1618 "the version of QVApp.exe is unchanged; the installer ended with 1618"
  expect_true "the event of a failed run is an error" grep -q '^err ' <<<"$(traced_event)"
}
