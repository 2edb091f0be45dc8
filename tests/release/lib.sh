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

# make_unfit_certificate DIR KIND: DIR/KIND.p12 (password TEST_PASSWORD, after
# make_test_certificate DIR) with a certificate Windows would not accept for code signing:
# expired (ended yesterday), future (valid from 2099 on) or server (for servers, not code).
make_unfit_certificate() {
  local dir=$1 kind=$2 ca=$1/ca-$2
  mkdir -p "$ca"
  case "$kind" in
    expired) openssl x509 -in "$dir/cert.pem" -signkey "$dir/key.pem" -days -1 -out "$ca/cert.pem" ;;
    server)
      openssl req -x509 -key "$dir/key.pem" -out "$ca/cert.pem" -days 2 -subj "/CN=QV3Update test server" \
        -addext "extendedKeyUsage=serverAuth" ;;
    future)
      : >"$ca/index.txt"; echo 01 >"$ca/serial"
      printf '%s\n' '[ca]' 'default_ca = d' '[d]' "database = $ca/index.txt" "new_certs_dir = $ca" \
        "serial = $ca/serial" 'default_md = sha256' 'policy = p' 'copy_extensions = copy' \
        '[p]' 'commonName = supplied' >"$ca/ca.cnf"
      openssl req -new -key "$dir/key.pem" -subj "/CN=QV3Update test future" \
        -addext "extendedKeyUsage=critical,codeSigning" -out "$ca/req.csr" &&
      openssl ca -batch -config "$ca/ca.cnf" -selfsign -keyfile "$dir/key.pem" -in "$ca/req.csr" \
        -startdate 20991230000000Z -enddate 20991231000000Z -out "$ca/cert.pem" ;;
  esac >/dev/null 2>&1 || { echo "FAIL: openssl could not make the $kind certificate"; return 1; }
  openssl pkcs12 -export -inkey "$dir/key.pem" -in "$ca/cert.pem" -out "$dir/$kind.p12" \
    -passout "file:$dir/password"
}

# make_patch_package FILE: a small Windows Installer database whose root storage has the class of
# a patch package (msibuild makes installation packages; the class is all release.sh looks at).
make_patch_package() {
  msibuild "$1" -s "Quorvia 3 update" && msibuild "$1" -a Payload "$0" &&
  python3 - "$1" <<'PY'
import struct, sys
path = sys.argv[1]
data = bytearray(open(path, "rb").read())
shift = struct.unpack_from("<H", data, 30)[0]
entry = (struct.unpack_from("<I", data, 48)[0] + 1) << shift
assert data[entry + 80:entry + 84] == bytes.fromhex("84100c00"), "not an installation package"
data[entry + 80:entry + 84] = bytes.fromhex("86100c00")
open(path, "wb").write(data)
PY
}
