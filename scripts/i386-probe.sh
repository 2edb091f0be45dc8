#!/usr/bin/env bash
# Decides once per machine where 32-bit (i686) Windows programs run under Wine, in each prefix
# kind the release is tested in, by running the small i686 program i386_probe.exe there:
#   wow64  a fresh 64-bit prefix (its syswow64 must hold the 32-bit Wine), the program run by
#          wine64 under WOW64; it must say "32-bit process, wow64 1"
#   win32  a fresh 32-bit prefix (WINEARCH=win32), the program run by the 32-bit wine; it must
#          say "32-bit process, wow64 0, native architecture 0"
# First here; where this machine's kernel refuses i386 code, then in the emulated PC
# (scripts/emulated-pc.sh: QEMU with Debian's kernel over this machine's root file system), which
# also boots the kinds' Wine templates into the cache folder for the runs that follow.
# Writes RESULT_FILE, one line per kind, tab-separated:
#   KIND  can run                     WHAT THE PROGRAM SAID      (here)
#   KIND  can run in the emulated PC  WHAT THE PROGRAM SAID
#   KIND  cannot run                  REASON
# The i686 Windows tests act on it through qv_run_kind (scripts/wine-prefix.sh): they run here,
# run again in the emulated PC, or end as not run; scripts/test.sh lists the last at the end.
# QV_EMULATED_PC_USE: auto (the default) as above; no: never the emulated PC; always: the emulated
# PC even where the kernel runs i386 code (to prove that way on such a machine).
# Usage: i386-probe.sh I386_PROBE.exe RESULT_FILE. The exit status is 0 when the result was
# written, 1 when the probe program ran but gave a wrong answer (a fault of Wine or of the build).
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-prefix.sh"
probe=$(realpath -m "$1") result=$2
wrong=0

# Why this machine cannot start i386 programs at all, or nothing when it can.
i386_blocker() {
  local loader=/usr/lib/wine/wine error
  if [ ! -e "$loader" ]; then
    echo "wine32 is not installed (no $loader; scripts/setup.sh test installs it)"
    return
  fi
  error=$("$loader" --version 2>&1 >/dev/null) && return
  error=$(printf '%s' "$error" | tail -n 1)
  case "$error" in *"Exec format error"*) error="Exec format error" ;; esac
  local kernel
  kernel=$(dmesg 2>/dev/null | grep -Eo '32-bit emulation disabled[^.]*|IA-32 emulation off[^(]*' |
           tail -n 1)
  if [ -n "$kernel" ]; then
    echo "the kernel cannot run i386 programs: $kernel (kernel message; boot with ia32_emulation=on), $loader: $error"
  else
    echo "the kernel cannot run i386 programs ($loader: $error)"
  fi
}

# probe_kind KIND EXPECTED_PATTERN
probe_kind() {
  local kind=$1 expected=$2 prefix output status blocker reason
  blocker=$(i386_blocker)
  if [ -n "$blocker" ]; then
    printf '%s\tcannot run\t%s\n' "$kind" "$blocker" >>"$result.new"
    return
  fi
  qv_wine_tools "$kind"
  if ! prefix=$(qv_prefix_new "$kind" /tmp/qv-i386-probe.XXXXXX 2>"$result.err"); then
    reason=$(tail -n 1 "$result.err")
    rm -f "$result.err"
    printf '%s\tcannot run\t%s\n' "$kind" "${blocker:-no $kind prefix: $reason}" >>"$result.new"
    return
  fi
  rm -f "$result.err"
  output=$(cd /tmp && WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES=$QV_WINE_OVERRIDES \
           timeout 120 "$QV_WINE" "$(realpath "$probe")" 2>&1)
  status=$?
  WINEPREFIX=$prefix "$QV_WINESERVER" -k >/dev/null 2>&1
  qv_prefix_remove "$prefix"
  local said
  said=$(printf '%s\n' "$output" | tr -d '\r' | grep '^i386 probe: ' | tail -n 1)
  if [ $status -eq 0 ] && [[ "$said" == $expected ]]; then
    printf '%s\t%s\t%s\n' "$kind" "can run${QV_EMULATED_PC:+ in the emulated PC}" \
      "${said#i386 probe: }" >>"$result.new"
  elif [ -n "$said" ]; then
    # It ran, but not as the kind promises: a real fault, not a missing ability.
    printf '%s\tcannot run\tthe probe ran but said "%s" (wanted %s)\n' "$kind" "$said" \
      "$expected" >>"$result.new"
    echo "i386-probe.sh: $kind: wrong answer: $said" >&2
    wrong=1
  else
    reason=${blocker:-the probe program did not run (status $status): $(printf '%s' "$output" | tr -d '\r' | grep . | tail -n 1)}
    printf '%s\tcannot run\t%s\n' "$kind" "$reason" >>"$result.new"
  fi
}

mkdir -p "$(dirname "$result")"
: >"$result.new"
use=${QV_EMULATED_PC_USE:-auto}
[ -n "${QV_EMULATED_PC:-}" ] && use=no   # inside the emulated PC: here is the guest
if [ ! -f "$probe" ]; then
  for kind in wow64 win32; do
    printf '%s\tcannot run\tno probe program %s\n' "$kind" "$probe" >>"$result.new"
  done
  wrong=1
elif [ "$use" = always ]; then
  # The emulated PC even where the kernel runs i386 code (to prove that way here).
  for kind in wow64 win32; do
    printf '%s\tcannot run\tnot probed here (QV_EMULATED_PC_USE=always)\n' "$kind" >>"$result.new"
  done
else
  probe_kind wow64 'i386 probe: 32-bit process, wow64 1, native architecture 9'
  probe_kind win32 'i386 probe: 32-bit process, wow64 0, native architecture 0'
fi

# Where the kernel is what refuses them (or QV_EMULATED_PC_USE=always), the same probe in the
# emulated PC decides instead.
if [ -f "$probe" ] && { [ "$use" = always ] || { [ "$use" = auto ] &&
     grep -q '	cannot run	the kernel cannot run i386' "$result.new"; }; }; then
  echo "i386-probe.sh: probing in the emulated PC" >&2
  started=$(date +%s)
  guest_log=$(bash "$here/emulated-pc.sh" --rw "$(dirname "$(realpath "$result")")" -- \
              bash "$here/i386-probe.sh" "$probe" "$result.guest" 2>&1)
  guest_status=$?
  printf '%s\n' "$guest_log" | sed 's/^/  emulated PC: /' >&2
  echo "i386-probe.sh: the emulated PC took $(( $(date +%s) - started )) s" >&2
  [ $guest_status -eq 1 ] && wrong=1
  for kind in wow64 win32; do
    line=$(grep "^$kind	" "$result.new" | tail -n 1)
    case "$line" in
      "$kind	cannot run	"*)
        guest=$(grep "^$kind	" "$result.guest" 2>/dev/null | tail -n 1)
        case "$guest" in
          "$kind	can run in the emulated PC	"*) line=$guest ;;
          "$kind	cannot run	"*) line="$line; in the emulated PC: ${guest#*cannot run	}" ;;
          *) line="$line; the emulated PC did not run the probe (status $guest_status): $(printf '%s\n' "$guest_log" | grep . | tail -n 1)" ;;
        esac ;;
    esac
    printf '%s\n' "$line"
  done >"$result.merged"
  mv "$result.merged" "$result.new"
  rm -f "$result.guest"
fi
mv "$result.new" "$result"
sed 's/\t/: /; s/\t/: /' "$result"
exit $wrong
