#!/usr/bin/env bash
# Reproducible builds: the two executables built from the same tree in two folders of different
# paths, one after the other (so at different times), with different time zones, locales and
# umasks and, when run as root, as different users (root, then nobody), must be byte-identical.
# Each copy is built the way scripts/release.sh builds (scripts/build-windows.sh).
#
# Usage: reproducible.sh [EXE32 EXE64]
#   The tree is this working tree (tracked and untracked files, not the ignored ones such as
#   build/). With EXE32 and EXE64 (e.g. build/win32/src/app/QV3Update.exe), those must also
#   have the same bytes as the copies' builds. QV_JOBS: parallel build jobs (default: all).
# Prints the SHA-256 hashes; exit status 0 when all agree.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
jobs=${QV_JOBS:-$(nproc)}

work=$(mktemp -d /tmp/qv-repro.XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
copy_a=$work/a/QV3Update
copy_b=$work/second-folder/checkout-of-the-updater/source
mkdir -p "$copy_a" "$copy_b"

copy_tree() {
  if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git -C "$root" ls-files -z --cached --others --exclude-standard \
      | (cd "$root" && tar --null -T - -cf - 2>/dev/null) | tar -C "$1" -xf -
  else
    tar -C "$root" --exclude=./build --exclude=./dist -cf - . | tar -C "$1" -xf -
  fi
}
copy_tree "$copy_a"
copy_tree "$copy_b"

# Build B as another user when that is possible.
as_other=()
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null && id nobody >/dev/null 2>&1; then
  chown -R nobody:"$(id -gn nobody)" "$work/second-folder"
  as_other=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups)
  user_b=nobody
else
  user_b=$(id -un)
fi

build() {  # build COPY TZ LOCALE UMASK [COMMAND PREFIX...]
  local copy=$1 tz=$2 locale=$3 mask=$4
  shift 4
  (cd "$copy" && umask "$mask" && env -i PATH="$PATH" HOME="$copy" TZ="$tz" LC_ALL="$locale" \
     QV_JOBS="$jobs" "$@" bash scripts/build-windows.sh) >"$copy.paths" 2>"$copy.log"
}

echo "build A: $copy_a as $(id -un), TZ=UTC, $(date -u +%H:%M:%S)"
build "$copy_a" UTC C 022 || { echo "FAIL: build A failed:"; tail -30 "$copy_a.log"; exit 1; }
sleep 2  # a later second for sure
echo "build B: $copy_b as $user_b, TZ=Pacific/Kiritimati, $(date -u +%H:%M:%S)"
build "$copy_b" Pacific/Kiritimati C.UTF-8 027 "${as_other[@]}" \
  || { echo "FAIL: build B failed:"; tail -30 "$copy_b.log"; exit 1; }

mapfile -t a <"$copy_a.paths"
mapfile -t b <"$copy_b.paths"
failures=0
for i in 0 1; do
  name=$([ $i -eq 0 ] && echo "32-bit (win32)" || echo "64-bit (win64)")
  if [ ! -s "${a[$i]:-}" ] || [ ! -s "${b[$i]:-}" ]; then
    echo "FAIL: $name: an executable is missing"; failures=$((failures + 1)); continue
  fi
  hash_a=$(sha256sum "${a[$i]}" | cut -d' ' -f1)
  hash_b=$(sha256sum "${b[$i]}" | cut -d' ' -f1)
  echo "$name: A $hash_a  ${a[$i]#"$work"/}"
  echo "$name: B $hash_b  ${b[$i]#"$work"/}"
  if [ "$hash_a" != "$hash_b" ]; then
    echo "FAIL: $name: the two builds differ:"
    cmp -l "${a[$i]}" "${b[$i]}" | head -10
    failures=$((failures + 1))
  fi
  given=${*:$((i + 1)):1}
  if [ -n "$given" ]; then
    hash_given=$(sha256sum "$given" | cut -d' ' -f1)
    echo "$name: given $hash_given  $given"
    if [ "$hash_given" != "$hash_a" ]; then
      echo "FAIL: $name: $given differs from the copies' builds"
      failures=$((failures + 1))
    fi
  fi
done
if [ "${a[0]:-}" ] && [ "${a[1]:-}" ] && cmp -s "${a[0]}" "${a[1]}"; then
  echo "FAIL: the 32-bit and 64-bit executables are the same file"; failures=$((failures + 1))
fi
if [ $failures -ne 0 ]; then
  echo "reproducible: $failures difference(s)"
  exit 1
fi
echo "reproducible: both executables byte-identical across the builds"
