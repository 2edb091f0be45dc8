#!/usr/bin/env bash
# The release of the end-to-end cases release_*: scripts/release.sh run for the patch builder's
# package (PACKAGES/qvupdate.msp), signed with a throwaway code-signing certificate, and beside it
# the packages a standard user could put in its place:
#   OUT/release/         the release folder (QV3Update.exe, QV3Update-x64.exe, qvupdate.msp, ...)
#   OUT/other.msp        the builder's not-applicable patch, signed with the same certificate
#   OUT/changed.msp      the release's own package with one byte changed after signing
#   OUT/cert.pem         the certificate (the root to verify the signatures against)
# Usage: release-fixture.sh PACKAGES OUT. Made again only when the package or the source changed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
packages=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
# What the release depends on: the package and the source tree as it is now.
key=$( { sha256sum "$packages/qvupdate.msp" "$packages/qvupdate-other.msp"
         git -C "$root" rev-parse HEAD 2>/dev/null; git -C "$root" diff HEAD 2>/dev/null; } |
       sha256sum | cut -c1-64)
if [ "$(cat "$out/complete" 2>/dev/null)" = "$key" ]; then
  echo "release-fixture.sh: the release for this package and source is there already"
  exit 0
fi
rm -rf "$out/release" "$out/dist" "$out/complete" "$out"/*.msp
source "$root/tests/release/lib.sh"
make_test_certificate "$out" >&2 || exit 1
started=$(date +%s)
QV_SIGN_PKCS12=$out/test.p12 QV_SIGN_PASSWORD=$TEST_PASSWORD QV_MSP=$packages/qvupdate.msp \
  bash "$root/scripts/release.sh" --out "$out/dist" >"$out/release.log" 2>&1 ||
  { tail -n 30 "$out/release.log" >&2; echo "release-fixture.sh: release.sh failed" >&2; exit 1; }
mv "$out"/dist/QV3Update-* "$out/release"
rmdir "$out/dist"
QV_SIGN_PKCS12=$out/test.p12 QV_SIGN_PASSWORD=$TEST_PASSWORD \
  bash "$root/scripts/sign.sh" "$packages/qvupdate-other.msp" "$out/other.msp" 2>/dev/null
chmod 644 "$out/other.msp"
# One byte of the package's last sector changed: the signature stays where it is.
cp "$out/release/qvupdate.msp" "$out/changed.msp"
size=$(stat -c %s "$out/changed.msp")
byte=$(od -An -tu1 -j $((size - 100)) -N 1 "$out/changed.msp" | tr -d ' ')
printf "\\$(printf '%03o' $(( (byte + 1) % 256 )))" |
  dd of="$out/changed.msp" bs=1 seek=$((size - 100)) conv=notrunc status=none
cmp -s "$out/changed.msp" "$out/release/qvupdate.msp" && { echo "release-fixture.sh: no byte changed" >&2; exit 1; }
echo "$key" >"$out/complete"
echo "release-fixture.sh: release.sh made the release in $(( $(date +%s) - started )) s:"
sed -n '1p;/SHA-256 of/,+1p' "$out/release/VERIFY.txt"
