# The preview against the real run: for each case, a qv3sim description of the same machine
# (from the case's settings and the prefix's registry before the run), and what the real program
# did under Wine (registry changes in both views, child programs, dialogs, the shortcut, the
# error-reporting exclusions, the exit status), compared by compare_sim.py.
# Sourced by run-case.sh; uses its variables (wine, data, drive_c, work, case_name, QV3SIM...).

# The keys read back before and after the run: VIEW|KEY, VIEW 64 or 32 (HKCU has one view).
# compare_sim.py fails a case whose simulated run changes a key outside them.
SIM_KEYS=(
  '64|HKLM\Software\Microsoft\Internet Explorer'
  '32|HKLM\Software\Microsoft\Internet Explorer'
  '64|HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
  '32|HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
  '64|HKLM\Software\orvanta'
  '32|HKLM\Software\orvanta'
  '64|HKCU\Software'
  '64|HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\QV3Update'
)
for _id in '{3A5C1E70-2B4D-4F61-9E83-0C7D5A1B2E91}' '{6D2E8B14-9C0A-4B7F-A3D5-1E6F7A8B9C02}' \
           '{9B4F2A63-5E1C-4D8A-B7F0-2C3D4E5F6A13}' '{C7E1D052-8A3B-4C6E-9F14-3B4C5D6E7F24}'; do
  SIM_KEYS+=("64|HKCR\\CLSID\\$_id" "32|HKCR\\CLSID\\$_id")
done
unset _id
sim_dir=

# sim_export PHASE: every key of SIM_KEYS exported to $sim_dir/PHASE (regexport_keys).
sim_export() { regexport_keys "$sim_dir/$1" "${SIM_KEYS[@]}"; }

# The shortcuts the cases can hold, as name|Windows path (a described machine's: LINKS).
sim_links() {
  if [ -n "${LINKS+set}" ]; then
    printf '%s\n' "${LINKS[@]}"
    return
  fi
  printf 'en|%s\nde|%s\n' "$COMMON_PROGRAMS$LINK_EN" "$COMMON_PROGRAMS$LINK_DE"
}
sim_link_sums() {  # PHASE: name|md5 of each link that exists
  local name link file
  while IFS='|' read -r name link; do
    file=$(unix_path "$link")
    [ -e "$file" ] && printf '%s|%s\n' "$name" "$(md5sum <"$file" | cut -c1-32)"
  done < <(sim_links) >"$sim_dir/$1/links.txt"
}

# Before the updater starts: the case's settings and the registry as the updater finds it.
sim_before() {
  sim_dir=$work/sim/$case_name
  rm -rf "$sim_dir"
  mkdir -p "$sim_dir"
  # The word sizes as the run has them: the prefix's Windows (a SysWOW64 folder: 64-bit) and
  # the updater's image (the machine field of its PE header).
  local windows_bits=32 updater_bits
  [ -d "$drive_c/windows/syswow64" ] && windows_bits=64
  updater_bits=$(python3 -c '
import struct, sys
data = open(sys.argv[1], "rb").read(4096)
pe = struct.unpack_from("<I", data, 0x3C)[0]
print({0x14C: 32, 0x8664: 64}.get(struct.unpack_from("<H", data, pe + 4)[0], 0))' \
    "${UPDATER_IMAGE:-$data/$DOWNLOAD/QV3Update.exe}" 2>/dev/null)
  # The system ANSI code page Wine chose for the prefix.
  local code_page
  code_page=$(wine reg query 'HKLM\System\CurrentControlSet\Control\Nls\CodePage' /v ACP \
    2>/dev/null | tr -d '\r' | awk '$1 == "ACP" { print $3 }')
  python3 - "$sim_dir/settings.json" "$case_name" "$windows_bits" "${updater_bits:-0}" \
    "${code_page:-unknown}" \
    "$WINVER" "$PRODUCT" "$INSTALL" \
    "$COMMUNICATOR" "$SHORTCUT" "$MSI_MODE" "$PLANT" "$EXPECT_STATUS" "$DOWNLOAD" \
    "$COMMON_PROGRAMS" "$LINK_EN" "$LINK_DE" "$OLD_SYNC" "${MACHINE:-}" "${INSTALLER:-stand-in}" \
    "${RELEASE:-}" "${PACKAGE:-fake}" "${SWAP:-}" "${UI_LANGUAGE:-en-US}" "${INSTALLER_EXIT:-0}" "${#ARGS[@]}" "${ARGS[@]}" \
    "${ACTIONS[@]}" <<'EOF'
import json, sys
a = sys.argv[2:]
names = ["case", "windows_bits", "updater_bits", "code_page", "winver", "product", "install", "communicator", "shortcut", "msi_mode", "plant",
         "expect_status", "download", "common_programs", "link_en", "link_de", "old_sync", "machine",
         "installer", "release", "package", "swap", "ui_language", "installer_exit"]
settings = dict(zip(names, a))
count = int(a[len(names)])
rest = a[len(names) + 1:]
settings["args"], settings["actions"] = rest[:count], rest[count:]
with open(sys.argv[1], "w", encoding="utf-8") as f:
    json.dump(settings, f, ensure_ascii=False, indent=2)
EOF
  sim_links >"$sim_dir/link-paths.txt"
  sim_export before
  sim_link_sums before
}

# After the run: what Wine shows, then the comparison: one check per section, and one for the
# comparison as a whole (which also fails when qv3sim is missing or cannot run).
sim_after() {
  if [ -z "$sim_dir" ]; then
    fail "sim-vs-wine: no observation before the run"
    return
  fi
  local after=$sim_dir/after name link field file
  sim_export after
  sim_link_sums after
  printf '%s\n' "${STATUS:-}" >"$after/status.txt"
  for file in dialogs.txt children.log wer.log; do
    [ -e "$data/$file" ] && cp "$data/$file" "$after/$file"
  done
  # With Wine's own installer, the programs the updater started come from Wine's trace.
  [ "${INSTALLER:-stand-in}" = real ] && cp "$data/traced-children.log" "$after/children.log"
  while IFS='|' read -r name link; do
    [ -e "$(unix_path "$link")" ] || continue
    {
      printf 'path\t%s\n' "$link"
      for field in 'Local path' Description 'Icon location' 'Icon index' 'Working directory' \
                   'Command line arguments'; do
        printf '%s\t%s\n' "$field" "$(lnk_field "$link" "$field")"
      done
      printf 'Show command\t%s\n' "$(lnk_show_command "$link")"
    } >"$after/link-$name.txt"
  done < <(sim_links)
  local summary status section verdict detail
  summary=$(python3 "$here/compare_sim.py" --qv3sim "${QV3SIM:-}" --dir "$sim_dir" 2>&1)
  status=$?
  printf '%s\n' "$summary" >"$sim_dir/comparison.txt"
  # One check per section: agreeing and known-different sections pass, any other fails.
  while IFS=$'\t' read -r section verdict detail; do
    case "$verdict" in
      agree | known) pass ;;
      *) fail "sim-vs-wine $section: $verdict${detail:+ ($detail)}" ;;
    esac
  done <"$sim_dir/sections.txt" 2>/dev/null
  if [ "$status" -eq 0 ]; then
    pass
    printf '%s\n' "$summary" | grep -E '^(sim-vs-wine|known (Wine|what-if) difference)' >&2
  else
    fail "sim-vs-wine (details in $sim_dir/comparison.txt):"$'\n'"$summary"
  fi
}
