#!/usr/bin/env bash
# The release folder written by scripts/release.sh, unsigned and signed (with a throwaway
# certificate made here):
#   - it is named after the version block of the executable, QV3Update-<FileVersionNumber>,
#     and holds exactly QV3Update.exe (32-bit), QV3Update-x64.exe (64-bit), SHA256SUMS and
#     VERIFY.txt;
#   - sha256sum -c SHA256SUMS passes and covers both executables;
#   - unsigned, the executables are the builds of the presets win32 and win64 byte for byte,
#     VERIFY.txt says the release is not signed, and two runs give identical folders whose
#     files carry the SOURCE_DATE_EPOCH given;
#   - signed, with a patch package (QV_MSP), both executables and the package verify
#     (osslsigncode, the test certificate trusted), VERIFY.txt names the signer and the key the
#     executables are pinned to (the certificate's, as scripts/sign.sh --key-id computes it), both
#     executables carry that key, SHA256SUMS covers the package too;
#   - with an unreadable certificate it fails and leaves no release folder.
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

release() {  # release OUT [VAR=VALUE...]: scripts/release.sh --out OUT, output in OUT.log
  local out=$1
  shift
  env -u QV_SIGN_PKCS12 -u QV_SIGN_PASSWORD -u QV_SIGN_TIMESTAMP_URL "$@" \
    bash "$root/scripts/release.sh" --out "$out" >"$out.log" 2>&1
}

check_folder() {  # check_folder OUT LABEL [qvupdate.msp]: the common checks; sets folder
  local out=$1 label=$2 package=${3:-}
  folder=
  local entries
  entries=$(cd "$out" && ls -A)
  if [ "$(printf '%s\n' "$entries" | wc -l)" -ne 1 ]; then
    fail "$label: $out holds $(printf '%s ' $entries)instead of one folder"; return 1
  fi
  folder=$out/$entries
  local version
  version=$(exiftool -s3 -FileVersionNumber "$folder/QV3Update.exe" 2>/dev/null)
  [ "$entries" = "QV3Update-$version" ] && pass "$label: folder $entries, after the version block" \
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
  grep -q "sha256sum -c SHA256SUMS" "$folder/VERIFY.txt" \
    && pass "$label: VERIFY.txt says how to check the hashes" || fail "$label: VERIFY.txt lacks the hash check"
}

# --- unsigned, twice ---------------------------------------------------------------------------
epoch=1700000000
release "$work/u1" SOURCE_DATE_EPOCH=$epoch || { fail "release.sh failed:"; tail -20 "$work/u1.log"; exit 1; }
check_folder "$work/u1" unsigned
u1=$folder
for pair in "QV3Update.exe win32" "QV3Update-x64.exe win64"; do
  set -- $pair
  cmp -s "$u1/$1" "$root/build/$2/src/app/QV3Update.exe" \
    && pass "unsigned: $1 is the $2 build" || fail "unsigned: $1 differs from the $2 build"
done
grep -q "NOT signed" "$u1/VERIFY.txt" && pass "unsigned: VERIFY.txt says it is not signed" \
  || fail "unsigned: VERIFY.txt does not say the release is unsigned"
grep -q "unsigned" "$work/u1.log" || fail "unsigned: release.sh did not say the release is unsigned"
for f in "$u1" "$u1"/*; do
  [ "$(stat -c %Y "$f")" = $epoch ] || fail "unsigned: $(basename "$f") is dated $(stat -c %Y "$f"), not $epoch"
done
sleep 1
release "$work/u2" SOURCE_DATE_EPOCH=$epoch || { fail "the second release.sh failed"; tail -20 "$work/u2.log"; }
if diff -r "$u1" "$work/u2/$(basename "$u1")" >/dev/null 2>&1; then
  pass "unsigned: a second run gives the same folder"
else
  fail "unsigned: a second run gives a different folder"
fi

# --- signed ------------------------------------------------------------------------------------
make_test_certificate "$work" || exit 1
# A small Windows Installer package as the patch package.
msibuild "$work/patch.msp" -s "Quorvia 3 update" && msibuild "$work/patch.msp" -a Payload "$work/cert.pem" \
  || fail "msibuild could not make the test package"
key=$(QV_SIGN_PKCS12="$work/test.p12" QV_SIGN_PASSWORD="$TEST_PASSWORD" bash "$root/scripts/sign.sh" --key-id)
[ "$key" = "$(openssl x509 -in "$work/cert.pem" -pubkey -noout | openssl pkey -pubin -outform DER | sha1sum | cut -c1-40)" ] \
  && pass "sign.sh --key-id gives the SHA-1 of the certificate's public key" || fail "sign.sh --key-id gave [$key]"
if release "$work/s" QV_SIGN_PKCS12="$work/test.p12" QV_SIGN_PASSWORD="$TEST_PASSWORD" QV_MSP="$work/patch.msp"; then
  check_folder "$work/s" signed qvupdate.msp
  grep -q "^Pinned key identifier (SHA-1 of the SubjectPublicKeyInfo): $key$" "$folder/VERIFY.txt" \
    && pass "signed: VERIFY.txt names the pinned key" || fail "signed: VERIFY.txt: $(cat "$folder/VERIFY.txt")"
  if osslsigncode verify -in "$folder/qvupdate.msp" -CAfile "$work/cert.pem" 2>&1 \
       | grep -q "^Signature verification: ok"; then
    pass "signed: qvupdate.msp verifies"
  else
    fail "signed: qvupdate.msp does not verify"
  fi
  carries_key() {  # carries_key FILE: the key as text or as its 20 bytes
    python3 -c 'import sys; d = open(sys.argv[1], "rb").read(); k = sys.argv[2]
sys.exit(0 if k.encode() in d or bytes.fromhex(k) in d else 1)' "$1" "$key"
  }
  for exe in QV3Update.exe QV3Update-x64.exe; do
    carries_key "$folder/$exe" && pass "signed: $exe is pinned to the certificate's key" \
      || fail "signed: $exe does not carry the key $key"
    carries_key "$u1/$exe" && fail "unsigned: $exe carries the key"
  done
  for exe in QV3Update.exe QV3Update-x64.exe; do
    if osslsigncode verify -in "$folder/$exe" -CAfile "$work/cert.pem" 2>&1 \
         | grep -q "^Signature verification: ok"; then
      pass "signed: $exe verifies"
    else
      fail "signed: $exe does not verify"
    fi
    cmp -s "$folder/$exe" "$u1/$exe" && fail "signed: $exe equals the unsigned one"
  done
  grep -q "Authenticode signature (SHA-256) by /CN=QV3Update throwaway test signer" "$folder/VERIFY.txt" \
    && pass "signed: VERIFY.txt names the signer" || fail "signed: VERIFY.txt: $(cat "$folder/VERIFY.txt")"
  grep -qF "$TEST_PASSWORD" "$work/s.log" && fail "signed: release.sh printed the password"
else
  fail "signed release.sh failed:"; tail -20 "$work/s.log"
fi

# --- an unreadable certificate ------------------------------------------------------------------
if release "$work/bad" QV_SIGN_PKCS12="$work/no-such.p12" QV_SIGN_PASSWORD=x; then
  fail "release.sh succeeded with a missing certificate"
else
  [ -z "$(ls -A "$work/bad" 2>/dev/null)" ] && pass "with a missing certificate release.sh fails and writes no folder" \
    || fail "with a missing certificate release.sh left: $(ls -A "$work/bad")"
fi

if [ $failures -ne 0 ]; then
  echo "release folder: $failures check(s) failed"
  exit 1
fi
echo "release folder: all checks passed"
