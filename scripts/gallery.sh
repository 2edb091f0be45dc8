#!/usr/bin/env bash
# Regenerates the dialog gallery in docs/dialogs/: every dialog QV3Update.exe can show (prompt and
# report in message-box and task-dialog style, English and German, the not-installed message),
# photographed under Wine on a virtual X display while the end-to-end cases run, and the index
# docs/dialogs/README.md.
# Needs the 64-bit build: configures and builds build/win64 when it is missing (another build
# folder can be named with QV_GALLERY_BUILD).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QV_GALLERY_BUILD:-build/win64}
if [ ! -f "$build/build.ninja" ]; then
  cmake --preset win64 >/dev/null
fi
cmake --build "$build" --target QV3Update qv_e2e_fixtures -j2 >/dev/null
exe=$(find "$build" -name QV3Update.exe -not -path '*/tests/*' | head -n 1)
fixtures=$build/tests/e2e/fixtures
[ -n "$exe" ] && [ -d "$fixtures" ] || { echo "gallery.sh: no QV3Update.exe or fixtures in $build" >&2; exit 1; }

out=docs/dialogs
mkdir -p "$out"
rm -f "$out"/*.png

# case:picture names, one per dialog of the case, in the order the dialogs appear.
shots=(
  level2_en:prompt-taskdialog-en,report-taskdialog-en
  level2_de:prompt-taskdialog-de,report-taskdialog-de
  level1_de:prompt-messagebox-de,report-messagebox-de
  level0_en:prompt-messagebox-en,report-messagebox-en
  not_installed_en:not-installed-en
  not_installed_de:not-installed-de
)
printf '%s\n' "${shots[@]}" | xargs -P 2 -I{} sh -c '
  entry={}
  bash tests/e2e/run-case.sh --case "${entry%%:*}" --fixtures "$1" --exe "$2" --work "$3" \
    --shots "$4" --shot-names "${entry#*:}" >/dev/null 2>&1 || echo "gallery.sh: case ${entry%%:*} failed" >&2
' sh "$fixtures" "$exe" "$build/tests/e2e/work" "$out"

caption() {
  case "$1" in
    prompt-taskdialog-en) echo "Close-programs prompt, task dialog (Windows Vista and later), English, product running: the footer lists Quorvia, Internet Explorer and Outlook (64-bit Windows: no folder-windows line)." ;;
    report-taskdialog-en) echo "Completion report, task dialog, English: an empty line before and between the two sentences; a single Close button." ;;
    prompt-taskdialog-de) echo "Close-programs prompt, task dialog, German, product not running: no Querlix line in the list." ;;
    report-taskdialog-de) echo "Completion report, task dialog, German: the two sentences on adjacent lines." ;;
    prompt-messagebox-de) echo "Close-programs prompt, message box (Windows XP), German, product running: the list ends with the folder-windows line." ;;
    report-messagebox-de) echo "Completion report, message box (Windows XP), German." ;;
    prompt-messagebox-en) echo "Close-programs prompt, message box (Windows 2000), English, product not running." ;;
    report-messagebox-en) echo "Completion report, message box (Windows 2000), English: the two sentences on adjacent lines." ;;
    not-installed-en) echo "Quorvia 3 is not installed, English (every Windows level)." ;;
    not-installed-de) echo "Querlix 3 is not installed, German (every Windows level)." ;;
  esac
}
{
  echo "# Dialogs of QV3Update"
  echo
  echo "Every dialog the updater can show, photographed in Wine's own desktop window on a virtual X"
  echo "display while the end-to-end cases in tests/e2e ran ($(/usr/lib/wine/wine64 --version 2>/dev/null);"
  echo "Windows 7 for the task dialogs, Wine's Windows XP and 2000 settings for the message boxes)."
  echo "The buttons of message boxes and the common buttons of task dialogs (OK, Cancel, Close) come"
  echo "from Wine in its English locale; on a German Windows they read OK, Abbrechen and Schließen."
  echo "Wine draws the frames itself: the \"r\" in the title bars is its close box without the Marlett"
  echo "font. Regenerate with scripts/gallery.sh."
  echo
  for entry in "${shots[@]}"; do
    IFS=, read -r -a names <<<"${entry#*:}"
    for name in "${names[@]}"; do
      if [ -f "$out/$name.png" ]; then
        echo "## $name"
        echo
        echo "$(caption "$name")"
        echo
        echo "![$name]($name.png)"
        echo
      fi
    done
  done
} >"$out/README.md"
ls "$out"
