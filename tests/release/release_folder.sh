#!/usr/bin/env bash
# The release folder written by scripts/release.sh:
#   - a development release (--development): QV3Update-<version>-development with exactly both
#     executables, SHA256SUMS and VERIFY.txt; the executables are the presets' builds byte for
#     byte; VERIFY.txt says it is unsigned and made for no package; a second run gives the same
#     folder, and a run into a folder that holds it is refused and leaves it as it was;
#   - its inputs, refused before anything is built, with no folder left: no package, a file that is
#     no patch package (a text, an installation package), a missing, expired, not yet valid or
#     server certificate, a usage mistake;
#   - a signed release for a package: the package and both executables verify, both executables
#     carry the SHA-256 of the package as shipped (signed), VERIFY.txt names it and the signer,
#     SHA256SUMS covers all three.
# Usage: release_folder.sh   (builds with scripts/release.sh; QV_JOBS as there)
set -uo pipefail
export LC_ALL=C
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$here/lib.sh"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
work=$(mktemp -d /tmp/qv-release.XXXXXX)
trap 'rm -rf "$work"' EXIT

release() {  # release OUT [VAR=VALUE...] [-- ARGS]: scripts/release.sh --out OUT, output in OUT.log
  local out=$1 args=()
  shift
  local env=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do env+=("$1"); shift; done
  [ "${1:-}" = -- ] && { shift; args=("$@"); }
  env -u QV_SIGN_PKCS12 -u QV_SIGN_PASSWORD -u QV_SIGN_TIMESTAMP_URL -u QV_MSP "${env[@]}" \
    bash "$root/scripts/release.sh" --out "$out" "${args[@]}" >"$out.log" 2>&1
}

check_folder() {  # check_folder OUT LABEL SUFFIX [qvupdate.msp]: the common checks; sets folder
  local out=$1 label=$2 suffix=$3 package=${4:-}
  folder=
  local entries
  entries=$(cd "$out" && ls -A)
  if [ "$(printf '%s\n' "$entries" | wc -l)" -ne 1 ]; then
    fail "$label: $out holds $(printf '%s ' $entries)instead of one folder"; return 1
  fi
  folder=$out/$entries
  local version
  version=$(exiftool -s3 -FileVersionNumber "$folder/QV3Update.exe" 2>/dev/null)
  [ "$entries" = "QV3Update-$version$suffix" ] && pass "$label: folder $entries, after the version block" \
    || fail "$label: folder $entries, but the version block says $version"
  local files
  files=$(cd "$folder" && ls -A | tr '\n' ' ')
  [ "$files" = "QV3Update-x64.exe QV3Update.exe SHA256SUMS VERIFY.txt ${package:+$package }" ] \
    && pass "$label: files $files" || fail "$label: files are: $files"
  i686-w64-mingw32-objdump -f "$folder/QV3Update.exe" 2>/dev/null | grep -q "file format pei-i386" \
    && pass "$label: QV3Update.exe is 32-bit" || fail "$label: QV3Update.exe is not a 32-bit PE"
  x86_64-w64-mingw32-objdump -f "$folder/QV3Update-x64.exe" 2>/dev/null | grep -q "file format pei-x86-64" \
    && pass "$label: QV3Update-x64.exe is 64-bit" || fail "$label: QV3Update-x64.exe is not a 64-bit PE"
  if (cd "$folder" && sha256sum -c --strict SHA256SUMS >/dev/null 2>&1) \
     && [ "$(cut -d' ' -f3 "$folder/SHA256SUMS" | sort | tr '\n' ' ')" = "QV3Update-x64.exe QV3Update.exe ${package:+$package }" ]; then
    pass "$label: sha256sum -c SHA256SUMS passes for both executables ${package:+and the package}"
  else
    fail "$label: SHA256SUMS: $(cat "$folder/SHA256SUMS")"
  fi
}

carries() {  # carries FILE TEXT: the text is in the file's bytes
  grep -qaF "$2" "$1"
}

# --- a development release, twice, and once more into the same folder ----------------------------
epoch=1700000000
release "$work/u1" SOURCE_DATE_EPOCH=$epoch -- --development ||
  { fail "release.sh --development failed:"; tail -20 "$work/u1.log"; exit 1; }
check_folder "$work/u1" development -development
u1=$folder
for pair in "QV3Update.exe win32" "QV3Update-x64.exe win64"; do
  set -- $pair
  cmp -s "$u1/$1" "$root/build/$2/src/app/QV3Update.exe" \
    && pass "development: $1 is the $2 build" || fail "development: $1 differs from the $2 build"
done
grep -q "NOT signed" "$u1/VERIFY.txt" && grep -q "DEVELOPMENT RELEASE" "$u1/VERIFY.txt" \
  && pass "development: VERIFY.txt says it is unsigned and made for no package" \
  || fail "development: VERIFY.txt: $(cat "$u1/VERIFY.txt")"
for f in "$u1" "$u1"/*; do
  [ "$(stat -c %Y "$f")" = $epoch ] || fail "development: $(basename "$f") is dated $(stat -c %Y "$f"), not $epoch"
done
release "$work/u2" SOURCE_DATE_EPOCH=$epoch -- --development || { fail "the second release.sh failed"; tail -20 "$work/u2.log"; }
diff -r "$u1" "$work/u2/$(basename "$u1")" >/dev/null 2>&1 \
  && pass "development: a second run gives the same folder" || fail "development: a second run gives a different folder"
before=$(cd "$u1" && sha256sum * | sha256sum)
release "$work/u1" -- --development
status=$?
[ $status = 2 ] && grep -q "exists already" "$work/u1.log" && [ "$(cd "$u1" && sha256sum * | sha256sum)" = "$before" ] \
  && pass "an existing release folder is not replaced (status 2)" \
  || fail "a release into an existing folder: status $status: $(tail -3 "$work/u1.log")"

# --- inputs refused before anything is built, leaving no folder -----------------------------------
make_test_certificate "$work" || exit 1
for kind in expired future server; do make_unfit_certificate "$work" $kind || exit 1; done
make_patch_package "$work/patch.msp" || fail "no test patch package"
msibuild "$work/product.msi" -s "Quorvia 3" || fail "msibuild could not make an installation package"
cert=(QV_SIGN_PKCS12="$work/test.p12" QV_SIGN_PASSWORD="$TEST_PASSWORD")
refusals=(
  "64|usage: release.sh|-- --out"
  "2|--development|"
  "2|not a Windows Installer file|QV_MSP=$root/README.md"
  "2|installation package (.msi), not a patch|QV_MSP=$work/product.msi"
  "2|cannot be read|QV_MSP=$work/none.msp"
  "2|cannot be read|QV_MSP=$work/patch.msp QV_SIGN_PKCS12=$work/none.p12"
  "2|expired on|QV_MSP=$work/patch.msp QV_SIGN_PKCS12=$work/expired.p12 QV_SIGN_PASSWORD=$TEST_PASSWORD"
  "2|is not valid before|QV_MSP=$work/patch.msp QV_SIGN_PKCS12=$work/future.p12 QV_SIGN_PASSWORD=$TEST_PASSWORD"
  "2|not made for code signing|QV_MSP=$work/patch.msp QV_SIGN_PKCS12=$work/server.p12 QV_SIGN_PASSWORD=$TEST_PASSWORD"
  "2|a development release is made for no package|QV_MSP=$work/patch.msp -- --development")
n=0
for row in "${refusals[@]}"; do
  IFS='|' read -r expected text settings <<<"$row"
  n=$((n + 1))
  # shellcheck disable=SC2086
  release "$work/r$n" $settings
  status=$?
  if [ $status = "$expected" ] && grep -qF -- "$text" "$work/r$n.log" && [ ! -e "$work/r$n" ] &&
     ! grep -q "^-- Build files" "$work/r$n.log"; then
    pass "refused before the build, status $status, no folder: $(grep -m1 -F -- "$text" "$work/r$n.log")"
  else
    fail "[$settings]: status $status (not $expected) or no [$text] or a folder left or a build: $(tail -3 "$work/r$n.log")"
  fi
done

# --- a signed release for a package ---------------------------------------------------------------
if release "$work/s" "${cert[@]}" QV_MSP="$work/patch.msp"; then
  check_folder "$work/s" signed "" qvupdate.msp
  sha=$(sha256sum "$folder/qvupdate.msp" | cut -c1-64)
  grep -qx "  $sha" "$folder/VERIFY.txt" && pass "signed: VERIFY.txt names the package's SHA-256" \
    || fail "signed: VERIFY.txt: $(cat "$folder/VERIFY.txt")"
  cmp -s "$folder/qvupdate.msp" "$work/patch.msp" && fail "signed: the package was shipped unsigned"
  for file in qvupdate.msp QV3Update.exe QV3Update-x64.exe; do
    osslsigncode verify -in "$folder/$file" -CAfile "$work/cert.pem" 2>&1 | grep -q "^Signature verification: ok" \
      && pass "signed: $file verifies" || fail "signed: $file does not verify"
  done
  for exe in QV3Update.exe QV3Update-x64.exe; do
    carries "$folder/$exe" "$sha" && pass "signed: $exe carries the shipped package's SHA-256" \
      || fail "signed: $exe does not carry $sha"
    carries "$u1/$exe" "$sha" && fail "development: $exe carries the package's hash"
  done
  grep -q "Authenticode signature (SHA-256) by" "$folder/VERIFY.txt" && grep -q "/CN=QV3Update throwaway test signer" "$folder/VERIFY.txt" \
    && pass "signed: VERIFY.txt names the signer" || fail "signed: VERIFY.txt: $(cat "$folder/VERIFY.txt")"
  grep -qF "$TEST_PASSWORD" "$work/s.log" && fail "signed: release.sh printed the password"
else
  fail "signed release.sh failed:"; tail -20 "$work/s.log"
fi

if [ $failures -ne 0 ]; then
  echo "release folder: $failures check(s) failed"
  exit 1
fi
echo "release folder: all checks passed"
