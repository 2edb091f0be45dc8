# Wine prefixes for the Windows runs, by kind; sourced by wine-run.sh, tests/e2e/run-case.sh,
# i386-probe.sh and gallery.sh.
#
#   win64  a 64-bit prefix, the program run by wine64: the 64-bit build on 64-bit Windows
#   wow64  a 64-bit prefix, a 32-bit program under WOW64 (its system folder is syswow64): the
#          32-bit release on 64-bit Windows; needs wine32 and a kernel that runs i386 programs
#   win32  a 32-bit prefix (WINEARCH=win32), run by the 32-bit wine: the release on 32-bit
#          Windows; the same needs
#
# Booting a prefix takes seconds, so each kind is booted once into a template
# ($QV_WINE_TEMPLATES/KIND-WINEVERSION, default below /tmp) and every run gets a copy of it.

QV_WINE_OVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# qv_wine_tools KIND: sets QV_WINE (the loader for the kind's programs) and QV_WINESERVER.
qv_wine_tools() {
  case "$1" in
    win64|wow64)
      QV_WINE=/usr/lib/wine/wine64
      [ -x "$QV_WINE" ] || QV_WINE=$(command -v wine64 || echo /usr/lib/wine/wine64) ;;
    win32)
      QV_WINE=/usr/lib/wine/wine ;;
    *) echo "wine-prefix.sh: unknown prefix kind '$1' (win64, wow64, win32)" >&2; return 64 ;;
  esac
  QV_WINESERVER=$(dirname "$QV_WINE")/wineserver
  [ -x "$QV_WINESERVER" ] || QV_WINESERVER=$(command -v wineserver || echo wineserver)
}

# The kind's architecture for WINEARCH.
qv_wine_arch() { [ "$1" = win32 ] && echo win32 || echo win64; }

qv_template_root() {
  printf '%s' "${QV_WINE_TEMPLATES:-${TMPDIR:-/tmp}/qv-wine-templates-$(id -u)}"
}

# qv_template KIND: prints the booted template of the kind, booting it first when there is none
# for this Wine version (one boot at a time per kind, whatever runs in parallel). Fails, with the
# reason on standard error, when the prefix cannot be booted.
qv_template() {
  local kind=$1 root version template status
  qv_wine_tools "$kind" || return
  root=$(qv_template_root)
  mkdir -p "$root" || return
  version=$("$QV_WINE" --version 2>/dev/null | tr -c 'A-Za-z0-9.\n' '_') || version=
  [ -n "$version" ] || { echo "$QV_WINE does not start" >&2; return 1; }
  template=$root/$kind-$version
  (
    flock 9
    [ -e "$template/.qv-template" ] && exit 0
    local boot
    boot=$(mktemp -d "$root/.boot-$kind.XXXXXX") || exit 1
    WINEPREFIX=$boot WINEARCH=$(qv_wine_arch "$kind") WINEDEBUG=-all \
      WINEDLLOVERRIDES=$QV_WINE_OVERRIDES "$QV_WINE" wineboot -i >/dev/null 2>&1
    status=$?
    WINEPREFIX=$boot "$QV_WINESERVER" -k >/dev/null 2>&1
    WINEPREFIX=$boot "$QV_WINESERVER" -w >/dev/null 2>&1
    if [ $status -ne 0 ] || [ ! -d "$boot/drive_c/windows/system32" ]; then
      echo "wineboot failed for a $kind prefix (status $status)" >&2
      rm -rf "$boot"
      exit 1
    fi
    if [ "$kind" = wow64 ] && ! ls "$boot/drive_c/windows/syswow64/" 2>/dev/null | grep -qi '^kernel32.dll$'; then
      echo "the new 64-bit prefix has an empty syswow64 (the 32-bit Wine did not run when it was booted)" >&2
      rm -rf "$boot"
      exit 1
    fi
    rm -rf "$template"
    mv "$boot" "$template" && touch "$template/.qv-template"
  ) 9>"$root/.lock-$kind" || return
  printf '%s' "$template"
}

# qv_prefix_new KIND DIR_TEMPLATE: a fresh prefix copied from the kind's template; prints it.
qv_prefix_new() {
  local kind=$1 pattern=${2:-/tmp/qv-wine.XXXXXX} template prefix
  template=$(qv_template "$kind") || return
  prefix=$(mktemp -d "$pattern") || return
  # cp -a keeps the owner, times and links Wine checks (a prefix must belong to its user).
  cp -a "$template/." "$prefix/" || { rm -rf "$prefix"; return 1; }
  rm -f "$prefix/.qv-template"
  printf '%s' "$prefix"
}

# The i686 programs run only where the i386 probe (scripts/i386-probe.sh) found they can.
QV_NOT_RUN_STATUS=77   # registered as the tests' SKIP_RETURN_CODE

# qv_kind_can_run KIND: true for win64; for wow64 and win32 as the probe's result file
# ($QV_I386_PROBE) says. Otherwise prints the reason and fails.
qv_kind_can_run() {
  local kind=$1 line
  [ "$kind" = win64 ] && return 0
  if [ -z "${QV_I386_PROBE:-}" ] || [ ! -f "$QV_I386_PROBE" ]; then
    echo "the i386 probe has not run (no result file ${QV_I386_PROBE:-: QV_I386_PROBE not set})"
    return 1
  fi
  line=$(grep "^$kind	" "$QV_I386_PROBE" | tail -n 1)
  case "$line" in
    "$kind	can run"*) return 0 ;;
    "$kind	cannot run	"*) printf '%s\n' "${line#*cannot run	}"; return 1 ;;
    *) echo "the i386 probe recorded nothing for the $kind prefix ($QV_I386_PROBE)"; return 1 ;;
  esac
}

# qv_skip_unless_runs KIND WHAT: ends the calling script with the not-run status when the kind's
# programs cannot run here, saying so on one line: "NOT RUN: WHAT (KIND prefix): REASON".
qv_skip_unless_runs() {
  local reason
  reason=$(qv_kind_can_run "$1") && return 0
  echo "NOT RUN: $2 ($1 prefix): $reason"
  exit "$QV_NOT_RUN_STATUS"
}
