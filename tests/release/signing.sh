#!/usr/bin/env bash
# Signing of the two executables by scripts/sign.sh, with a throwaway self-signed code-signing
# certificate made here:
#   - without a certificate (or with an unreadable one, or the wrong password) sign.sh refuses
#     with a non-zero status and leaves the file alone;
#   - it never shows the password: not in its output, not in osslsigncode's arguments;
#   - both signed executables pass osslsigncode verify (SHA-256, the test certificate as the
#     trusted root), pass every image check of tests/image/check_image.py, and the signed 64-bit
#     program runs its not-installed end-to-end case under wine64;
#   - a copy of a signed executable with one byte changed, in its code or in its signature,
#     fails verification.
#
# Usage: signing.sh BUILD32 BUILD64   (the build folders of the presets win32 and win64; BUILD64
#        must have the end-to-end fixtures, i.e. the test programs, built)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build32=$(cd "$1" && pwd) build64=$(cd "$2" && pwd)

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

work=$(mktemp -d /tmp/qv-signing.XXXXXX)
trap 'rm -rf "$work"' EXIT
objdump_of() { sed -n 's/^CMAKE_OBJDUMP:FILEPATH=//p' "$1/CMakeCache.txt"; }

# --- a throwaway certificate: self-signed, for code signing, in a PKCS#12 file ------------------
source "$here/lib.sh"
make_test_certificate "$work" || exit 1
password=$TEST_PASSWORD

# osslsigncode found first on PATH records its arguments and runs the real one.
real=$(command -v osslsigncode)
mkdir -p "$work/bin"
cat >"$work/bin/osslsigncode" <<EOF
#!/usr/bin/env bash
printf '%s\n' "\$*" >>"$work/argv.log"
exec "$real" "\$@"
EOF
chmod +x "$work/bin/osslsigncode"

sign() {  # sign.sh with the test certificate; output in $work/sign.out
  PATH="$work/bin:$PATH" QV_SIGN_PKCS12=$work/test.p12 QV_SIGN_PASSWORD=$password \
    bash "$root/scripts/sign.sh" "$@" >"$work/sign.out" 2>&1
}
verify() { osslsigncode verify -in "$1" -CAfile "$work/cert.pem" >"$work/verify.out" 2>&1; }

# --- no certificate, an unreadable one, the wrong password ---------------------------------------
exe64=$build64/src/app/QV3Update.exe
cp "$exe64" "$work/unsigned.exe"
before=$(sha256sum <"$work/unsigned.exe")
env -u QV_SIGN_PKCS12 bash "$root/scripts/sign.sh" "$work/unsigned.exe" >"$work/none.out" 2>&1
status=$?
if [ $status -ne 0 ] && grep -qi "no certificate" "$work/none.out"; then
  pass "without a certificate sign.sh says so and ends with status $status"
else
  fail "without a certificate sign.sh ended with status $status: $(cat "$work/none.out")"
fi
QV_SIGN_PKCS12=$work/missing.p12 bash "$root/scripts/sign.sh" "$work/unsigned.exe" >"$work/none.out" 2>&1
status=$?
[ $status -ne 0 ] && pass "with a missing certificate file: status $status" \
  || fail "with a missing certificate file sign.sh succeeded"
PATH="$work/bin:$PATH" QV_SIGN_PKCS12=$work/test.p12 QV_SIGN_PASSWORD="wrong-$password" \
  bash "$root/scripts/sign.sh" "$work/unsigned.exe" >"$work/wrong.out" 2>&1
status=$?
[ $status -ne 0 ] && pass "with the wrong password: status $status" \
  || fail "with the wrong password sign.sh succeeded"
grep -qF "$password" "$work/wrong.out" && fail "sign.sh printed the password after a failure"
[ "$(sha256sum <"$work/unsigned.exe")" = "$before" ] && pass "the refused file is unchanged" \
  || fail "a refused signing changed the file"
osslsigncode verify -in "$work/unsigned.exe" -CAfile "$work/cert.pem" >/dev/null 2>&1 \
  && fail "an unsigned executable passed verification"

# --- both builds, signed -----------------------------------------------------------------------
for bits in 32 64; do
  if [ $bits = 32 ]; then build=$build32; else build=$build64; fi
  exe=$build/src/app/QV3Update.exe signed=$work/signed$bits.exe
  if ! sign "$exe" "$signed"; then
    fail "$bits-bit: sign.sh failed: $(cat "$work/sign.out")"
    continue
  fi
  pass "$bits-bit: signed"
  grep -qF "$password" "$work/sign.out" && fail "$bits-bit: sign.sh printed the password"
  grep -qF -- "$password" "$work/argv.log" && fail "$bits-bit: the password was on osslsigncode's command line"
  cmp -s "$exe" "$signed" && fail "$bits-bit: the signed file equals the unsigned one"
  if verify "$signed" && grep -q "^Signature verification: ok" "$work/verify.out" \
     && grep -q "^Message digest algorithm  : SHA256" "$work/verify.out"; then
    pass "$bits-bit: osslsigncode verify: SHA-256 signature ok"
  else
    fail "$bits-bit: osslsigncode verify failed:"; cat "$work/verify.out"
  fi
  # Without the test certificate as a trusted root the self-signed chain must not verify.
  osslsigncode verify -in "$signed" -CAfile /etc/ssl/certs/ca-certificates.crt >/dev/null 2>&1 \
    && fail "$bits-bit: the self-signed signature verified against the system's roots"

  for check in pe imports version resources icons manifest; do
    if python3 "$root/tests/image/check_image.py" "$check" "$signed" $bits "$(objdump_of "$build")" \
         >"$work/check.out" 2>&1; then
      pass "$bits-bit signed: image check $check"
    else
      fail "$bits-bit signed: image check $check:"; cat "$work/check.out"
    fi
  done

  # One byte changed in the code (the first section's data starts at the file alignment, 512 or
  # more), and one in the signature block (the last bytes of the file).
  size=$(stat -c %s "$signed")
  for where in code signature; do
    if [ $where = code ]; then offset=2048; else offset=$((size - 200)); fi
    cp "$signed" "$work/tampered.exe"
    byte=$(od -An -tu1 -j $offset -N1 "$work/tampered.exe" | tr -d ' ')
    printf "$(printf '\\%03o' $(((byte ^ 0x5a) & 0xff)))" \
      | dd of="$work/tampered.exe" bs=1 seek=$offset conv=notrunc status=none
    cmp -s "$signed" "$work/tampered.exe" && { fail "$bits-bit: the byte was not changed"; continue; }
    if verify "$work/tampered.exe"; then
      fail "$bits-bit: a copy with one byte changed in its $where passed verification"
    else
      pass "$bits-bit: one byte changed in the $where: verification fails"
    fi
  done
done

# --- the signed 64-bit program under wine64: the not-installed case ------------------------------
if [ -f "$work/signed64.exe" ]; then
  if bash "$root/tests/e2e/run-case.sh" --case not_installed_en --fixtures "$build64/tests/e2e/fixtures" \
       --exe "$work/signed64.exe" --work "$work/e2e" >"$work/e2e.out" 2>&1; then
    pass "signed 64-bit: end-to-end case not_installed_en under wine64"
  else
    fail "signed 64-bit: end-to-end case not_installed_en:"; cat "$work/e2e.out"
  fi
fi

if [ $failures -ne 0 ]; then
  echo "signing: $failures check(s) failed"
  exit 1
fi
echo "signing: all checks passed"
