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

# In the emulated PC (scripts/emulated-pc.sh) the templates are booted there and kept in the
# host's cache folder, keyed by the guest's kernel too, so that later guests on this machine reuse
# them; each prefix is then an overlay over its template with a layer in the guest's memory.
qv_template_root() {
  if [ -n "${QV_EMULATED_PC:-}" ]; then
    printf '%s/wine-templates' "${QV_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/qv3update}"
  else
    printf '%s' "${QV_WINE_TEMPLATES:-${TMPDIR:-/tmp}/qv-wine-templates-$(id -u)}"
  fi
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
  # The form of the templates: 3, no crash dialog and (in the emulated PC) booted on a file
  # system that keeps Wine's DOS attributes.
  template=$root/$kind-$version-3
  [ -n "${QV_EMULATED_PC:-}" ] && template=$template-$(uname -r)
  (
    flock 9
    [ -e "$template/.qv-template" ] && exit 0
    local boot
    # In the emulated PC the boot happens in its memory (on the shared folder it takes 4 times as
    # long) and the booted prefix is copied to the cache after.
    if [ -n "${QV_EMULATED_PC:-}" ]; then
      boot=$(mktemp -d "${QV_EMULATED_PC_SCRATCH:-/run}/.boot-$kind.XXXXXX") || exit 1
    else
      boot=$(mktemp -d "$root/.boot-$kind.XXXXXX") || exit 1
    fi
    WINEPREFIX=$boot WINEARCH=$(qv_wine_arch "$kind") WINEDEBUG=-all \
      WINEDLLOVERRIDES=$QV_WINE_OVERRIDES "$QV_WINE" wineboot -i >/dev/null 2>&1
    status=$?
    # wineboot may return before the prefix is complete: the loader waits for the boot only so
    # long ("boot event wait timed out" in the emulated PC, where a 64-bit prefix's 32-bit half
    # takes minutes). Its server ends when the boot's last process has.
    WINEPREFIX=$boot timeout 1800 "$QV_WINESERVER" -w >/dev/null 2>&1 ||
      WINEPREFIX=$boot "$QV_WINESERVER" -k >/dev/null 2>&1
    # A program that crashes ends: Wine's crash dialog would wait for a user on the virtual
    # display until the test's time limit.
    WINEPREFIX=$boot WINEDEBUG=-all "$QV_WINE" reg add 'HKCU\Software\Wine\WineDbg' \
      /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    WINEPREFIX=$boot timeout 600 "$QV_WINESERVER" -w >/dev/null 2>&1
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
    if [ -n "${QV_EMULATED_PC:-}" ]; then
      local copy
      copy=$(mktemp -d "$root/.copy-$kind.XXXXXX") || exit 1
      cp -a "$boot/." "$copy/" && rm -rf "$boot" && mv "$copy" "$template" ||
        { rm -rf "$boot" "$copy"; exit 1; }
    else
      mv "$boot" "$template" || exit 1
    fi
    touch "$template/.qv-template"
    # Templates of this kind for another Wine or kernel, or of an earlier form, are stale.
    local stale
    for stale in "$root/$kind"-*; do
      [ "$stale" = "$template" ] || rm -rf "$stale"
    done
  ) 9>"$root/.lock-$kind" || return
  printf '%s' "$template"
}

# qv_prefix_new KIND DIR_TEMPLATE: a fresh prefix copied from the kind's template; prints it.
# Remove it with qv_prefix_remove.
qv_prefix_new() {
  local kind=$1 pattern=${2:-/tmp/qv-wine.XXXXXX} template prefix
  template=$(qv_template "$kind") || return
  prefix=$(mktemp -d "$pattern") || return
  if [ -n "${QV_EMULATED_PC:-}" ]; then
    # The template sits on the host's shared folder: an overlay with the prefix's changes in the
    # guest's memory (its RAM disk: an overlay cannot take its layer from the root overlay) instead of
    # copying hundreds of megabytes through the share for every run.
    local layer
    layer=$(qv_prefix_layer "$prefix")
    mkdir -p "$layer/upper" "$layer/work" &&
      mount -t overlay -o "lowerdir=$template,upperdir=$layer/upper,workdir=$layer/work" \
        overlay "$prefix" || { rm -rf "$prefix" "$layer"; return 1; }
  else
    # cp -a keeps the owner, times and links Wine checks (a prefix must belong to its user).
    cp -a "$template/." "$prefix/" || { rm -rf "$prefix"; return 1; }
  fi
  rm -f "$prefix/.qv-template"
  printf '%s' "$prefix"
}

# The folder of the changes of a prefix in the emulated PC.
qv_prefix_layer() {
  printf '%s/qv-layers/%s' "${QV_EMULATED_PC_SCRATCH:-/run}" "$(printf '%s' "$1" | tr / _)"
}

# qv_prefix_remove PREFIX: removes a prefix that qv_prefix_new made (its Wine server ended first).
qv_prefix_remove() {
  local prefix=$1 layer
  [ -n "$prefix" ] || return 0
  layer=$(qv_prefix_layer "$prefix")
  if [ -n "${QV_EMULATED_PC:-}" ] && [ -d "$layer" ]; then
    umount "$prefix" 2>/dev/null || umount -l "$prefix" 2>/dev/null
    rm -rf "$layer"
  fi
  rm -rf "$prefix"
}

# Where the i686 programs run is decided once per machine by the i386 probe
# (scripts/i386-probe.sh): natively where the kernel runs i386 code, in the emulated PC
# (scripts/emulated-pc.sh) where it does not and the probe ran there, nowhere (not run, with the
# reason) where neither works. qv_run_kind is the one place that acts on that decision.
QV_NOT_RUN_STATUS=77   # registered as the tests' SKIP_RETURN_CODE
QV_SCRIPTS=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# qv_kind_where KIND: prints where the kind's programs run: "here" (win64; the i686 kinds where
# the kernel runs i386 code, or inside the emulated PC) or "emulated PC". Fails, printing the
# reason, where they cannot run.
qv_kind_where() {
  local kind=$1 line
  [ "$kind" = win64 ] && { echo here; return 0; }
  if [ -z "${QV_I386_PROBE:-}" ] || [ ! -f "$QV_I386_PROBE" ]; then
    echo "the i386 probe has not run (no result file ${QV_I386_PROBE:-: QV_I386_PROBE not set})"
    return 1
  fi
  line=$(grep "^$kind	" "$QV_I386_PROBE" | tail -n 1)
  case "$line" in
    "$kind	can run in the emulated PC	"*)
      if [ -n "${QV_EMULATED_PC:-}" ]; then echo here; else echo "emulated PC"; fi ;;
    "$kind	can run	"*) echo here ;;
    "$kind	cannot run	"*) printf '%s\n' "${line#*cannot run	}"; return 1 ;;
    *) echo "the i386 probe recorded nothing for the $kind prefix ($QV_I386_PROBE)"; return 1 ;;
  esac
}

# qv_kind_can_run KIND: true where the kind's programs run, here or in the emulated PC; otherwise
# prints the reason and fails.
qv_kind_can_run() {
  local where
  where=$(qv_kind_where "$1") || { printf '%s\n' "$where"; return 1; }
}

# qv_run_kind KIND WHAT [--rw DIR]... -- COMMAND...: the entry point of every Wine run of a prefix
# kind. Returns where the calling script runs the kind's programs itself; where they run in the
# emulated PC, runs COMMAND there (normally the calling script again, with its arguments; the
# project and cache folders and each --rw DIR writable) and ends the caller with its status;
# where they cannot run, ends the caller with the not-run status, saying so on one line:
# "NOT RUN: WHAT (KIND prefix): REASON".
qv_run_kind() {
  local kind=$1 what=$2 where rw=()
  shift 2
  if ! where=$(qv_kind_where "$kind"); then
    echo "NOT RUN: $what ($kind prefix): $where"
    exit "$QV_NOT_RUN_STATUS"
  fi
  [ "$where" = here ] && return 0
  while [ "${1:-}" = --rw ]; do rw+=(--rw "$2"); shift 2; done
  [ "${1:-}" = -- ] && shift
  bash "$QV_SCRIPTS/emulated-pc.sh" "${rw[@]}" -- "$@"
  exit $?
}
