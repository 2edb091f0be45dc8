#!/usr/bin/env bash
# Finds out once whether this machine can run 32-bit (i686) Windows programs under Wine, in each
# prefix kind the release is tested in, by running the small i686 program i386_probe.exe there:
#   wow64  a fresh 64-bit prefix (its syswow64 must hold the 32-bit Wine), the program run by
#          wine64 under WOW64; it must say "32-bit process, wow64 1"
#   win32  a fresh 32-bit prefix (WINEARCH=win32), the program run by the 32-bit wine; it must
#          say "32-bit process, wow64 0, native architecture 0"
# Writes RESULT_FILE, one line per kind, tab-separated:
#   KIND  can run     WHAT THE PROGRAM SAID
#   KIND  cannot run  REASON
# The i686 Windows tests read it (scripts/wine-prefix.sh) and end as not run where it says
# "cannot run"; scripts/test.sh lists them at the end.
# Usage: i386-probe.sh I386_PROBE.exe RESULT_FILE. The exit status is 0 when the result was
# written, 1 when the probe program ran but gave a wrong answer (a fault of Wine or of the build).
set -u
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-prefix.sh"
probe=$1 result=$2
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
  kernel=$(dmesg 2>/dev/null | grep -o '32-bit emulation disabled[^.]*' | tail -n 1)
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
  rm -rf "$prefix"
  local said
  said=$(printf '%s\n' "$output" | tr -d '\r' | grep '^i386 probe: ' | tail -n 1)
  if [ $status -eq 0 ] && [[ "$said" == $expected ]]; then
    printf '%s\tcan run\t%s\n' "$kind" "${said#i386 probe: }" >>"$result.new"
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
if [ ! -f "$probe" ]; then
  for kind in wow64 win32; do
    printf '%s\tcannot run\tno probe program %s\n' "$kind" "$probe" >>"$result.new"
  done
  wrong=1
else
  probe_kind wow64 'i386 probe: 32-bit process, wow64 1, native architecture 9'
  probe_kind win32 'i386 probe: 32-bit process, wow64 0, native architecture 0'
fi
mv "$result.new" "$result"
sed 's/\t/: /; s/\t/: /' "$result"
exit $wrong
