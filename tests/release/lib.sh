# Shared by the release tests (source it).

# make_test_certificate DIR: a throwaway self-signed code-signing certificate in DIR:
# cert.pem (the certificate, to trust with osslsigncode verify -CAfile), key.pem, test.p12 (both
# in a PKCS#12 file) and password (its random password, in a file only this user can read).
# Sets TEST_PASSWORD to the password.
make_test_certificate() {
  local dir=$1
  TEST_PASSWORD="pw-$(head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n')"
  (umask 077 && printf '%s' "$TEST_PASSWORD" >"$dir/password")
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$dir/key.pem" -out "$dir/cert.pem" \
    -days 2 -subj "/CN=QV3Update throwaway test signer" \
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=critical,codeSigning" \
    >/dev/null 2>&1 || { echo "FAIL: openssl could not make the test certificate"; return 1; }
  openssl pkcs12 -export -inkey "$dir/key.pem" -in "$dir/cert.pem" -out "$dir/test.p12" \
    -passout "file:$dir/password" \
    || { echo "FAIL: openssl could not write the PKCS#12 file"; return 1; }
}
