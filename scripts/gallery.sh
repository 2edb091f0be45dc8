#!/usr/bin/env bash
# Regenerates the dialog gallery in docs/dialogs/: every dialog QV3Update.exe can show (prompt and
# report in message-box and task-dialog style, English and German, the not-installed message),
# photographed under Wine on a virtual X display while the end-to-end cases run, and the index
# docs/dialogs/README.md.
# Needs the 64-bit build, and for the 32-bit Windows prompt the 32-bit one (build/win32), which
# runs only where the i386 probe finds that this machine runs i686 programs. The 64-bit build: configures and builds build/win64 when it is missing (another build
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

# The prompt on 32-bit Windows, with the folder-windows line: only the 32-bit release in a 32-bit
# prefix can show it, so it is taken from build/win32 (QV_GALLERY_BUILD32) where the i386 probe
# says this machine runs i686 programs; otherwise the gallery says it is missing, and why.
build32=${QV_GALLERY_BUILD32:-build/win32}
win32_note=
if [ ! -f "$build32/build.ninja" ]; then
  cmake --preset win32 >/dev/null
fi
cmake --build "$build32" --target QV3Update qv_e2e_fixtures i386_probe -j2 >/dev/null
probe_file=$build32/i386-probe.txt
bash scripts/i386-probe.sh "$build32/tests/image/i386_probe.exe" "$probe_file" >/dev/null 2>&1 || true
source scripts/wine-prefix.sh
if reason=$(QV_I386_PROBE=$probe_file qv_kind_can_run win32); then
  QV_I386_PROBE=$probe_file bash tests/e2e/run-case.sh --prefix win32 --case level2_en \
    --fixtures "$build32/tests/e2e/fixtures" --exe "$build32/src/app/QV3Update.exe" \
    --work "$build32/tests/e2e/work" --shots "$out" \
    --shot-names prompt-taskdialog-en-32bit,report-taskdialog-en-32bit >/dev/null 2>&1 ||
    echo "gallery.sh: case level2_en (32-bit Windows) failed" >&2
  rm -f "$out/report-taskdialog-en-32bit.png"
fi
if [ ! -f "$out/prompt-taskdialog-en-32bit.png" ]; then
  win32_note="Not taken on this machine: ${reason:-the run on 32-bit Windows failed}."
  echo "gallery.sh: NOT RUN: the 32-bit Windows prompt (prompt-taskdialog-en-32bit): ${reason:-the case failed}" >&2
fi

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
    prompt-taskdialog-en-32bit) echo "Close-programs prompt, task dialog, English, on 32-bit Windows (the 32-bit release in a 32-bit prefix), product running: the list ends with the folder-windows line \"- all open folder windows\"." ;;
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
  for entry in "${shots[@]}" level2_en.win32:prompt-taskdialog-en-32bit; do
    IFS=, read -r -a names <<<"${entry#*:}"
    for name in "${names[@]}"; do
      if [ -f "$out/$name.png" ]; then
        echo "## $name"
        echo
        echo "$(caption "$name")"
        echo
        echo "![$name]($name.png)"
        echo
      elif [ "$name" = prompt-taskdialog-en-32bit ]; then
        echo "## $name"
        echo
        echo "$(caption "$name") $win32_note"
        echo
      fi
    done
  done
} >"$out/README.md"
ls "$out"
