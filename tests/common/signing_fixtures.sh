#!/usr/bin/env bash
# Throwaway signers and patch packages for the tests of the package check, made once per build
# folder (at configure time: the pinned test build needs the publisher's key identifier):
#   publisher/, other/   each a self-signed code-signing certificate (cert.pem, key.pem), both in
#                        signer.p12, with its random password in the file password
#   publisher.keyid      the publisher's key identifier: the SHA-1 of its certificate's
#                        SubjectPublicKeyInfo (what CryptHashPublicKeyInfo gives), 40 hex digits
#   unsigned.msp         a small Windows Installer database with a payload stream
#   publisher.msp        the same, signed by the publisher (scripts/sign.sh, SHA-256)
#   other.msp            the same, signed by the other signer
#   damaged.msp          publisher.msp with one byte of its payload changed after signing
#   other-content.msp    another package (another payload), signed by the other signer
# Usage: signing_fixtures.sh DIR. Prints the publisher's key identifier. Exit status 0, or 2 with
# the reason on standard error when a tool is missing (openssl, osslsigncode, msibuild).
set -euo pipefail
dir=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
for tool in openssl osslsigncode msibuild; do
  command -v "$tool" >/dev/null || { echo "signing_fixtures: $tool is not installed" >&2; exit 2; }
done
if [ -s "$dir/complete" ]; then
  cat "$dir/publisher.keyid"
  exit 0
fi
mkdir -p "$dir"
work=$(mktemp -d "$dir/.work.XXXXXX")
trap 'rm -rf "$work"' EXIT

signer() {  # signer NAME COMMON_NAME
  local d=$dir/$1
  mkdir -p "$d"
  (umask 077 && head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n' >"$d/password")
  # Valid for ten years: the build folder keeps its pinned test build that long.
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$d/key.pem" -out "$d/cert.pem" -days 3650 \
    -subj "/CN=$2" -addext "keyUsage=critical,digitalSignature" \
    -addext "extendedKeyUsage=critical,codeSigning" >/dev/null 2>&1
  openssl pkcs12 -export -inkey "$d/key.pem" -in "$d/cert.pem" -out "$d/signer.p12" \
    -passout "file:$d/password"
}
signer publisher "QV3Update throwaway publisher"
signer other "QV3Update throwaway other signer"
# The key identifier as the release computes it for its pin.
QV_SIGN_PKCS12=$dir/publisher/signer.p12 QV_SIGN_PASSWORD=$(cat "$dir/publisher/password") \
  bash "$root/scripts/sign.sh" --key-id >"$dir/publisher.keyid"

package() {  # package OUT PAYLOAD_SEED
  local payload=$work/payload.$2
  # A payload of its own for each seed, with a marker to find it again in the signed file.
  { printf 'QVPAYLOAD-%s-' "$2"; openssl rand 6000; printf 'QVPAYLOAD-MARKER'; } >"$payload"
  rm -f "$1"
  msibuild "$1" -s "Quorvia 3 update"
  msibuild "$1" -a Payload "$payload"
}
sign() {  # sign NAME IN OUT
  QV_SIGN_PKCS12=$dir/$1/signer.p12 QV_SIGN_PASSWORD=$(cat "$dir/$1/password") \
    bash "$root/scripts/sign.sh" "$2" "$3" 2>/dev/null
}
package "$dir/unsigned.msp" first
sign publisher "$dir/unsigned.msp" "$dir/publisher.msp"
sign other "$dir/unsigned.msp" "$dir/other.msp"
package "$work/second.msp" second
sign other "$work/second.msp" "$dir/other-content.msp"
cp "$dir/publisher.msp" "$dir/damaged.msp"
offset=$(grep -abo 'QVPAYLOAD-MARKER' "$dir/damaged.msp" | head -n 1 | cut -d: -f1)
printf 'X' | dd of="$dir/damaged.msp" bs=1 seek="$offset" conv=notrunc status=none
osslsigncode verify -in "$dir/publisher.msp" -CAfile "$dir/publisher/cert.pem" >/dev/null 2>&1 ||
  { echo "signing_fixtures: the signed package does not verify" >&2; exit 1; }
if osslsigncode verify -in "$dir/damaged.msp" -CAfile "$dir/publisher/cert.pem" >/dev/null 2>&1; then
  echo "signing_fixtures: the damaged package still verifies" >&2
  exit 1
fi
date -u >"$dir/complete"
cat "$dir/publisher.keyid"
