#!/usr/bin/env bash
# Makes the release folder dist/QV3Update-<version>/: builds both executables (reproducibly, see
# tests/release/reproducible.sh), signs them when a certificate is given, and writes
#   QV3Update.exe       the 32-bit release
#   QV3Update-x64.exe   the 64-bit build
#   qvupdate.msp        the patch package, when one is given (QV_MSP), signed with the same
#                       certificate
#   SHA256SUMS          their SHA-256 hashes (sha256sum -c SHA256SUMS)
#   VERIFY.txt          how to check the hashes and the signature, and the key the executables
#                       are pinned to
# With a certificate the executables are built pinned to its key (the SHA-1 of its
# SubjectPublicKeyInfo, scripts/sign.sh --key-id): they apply only a patch package signed with it.
# The same commit and certificate give the same executables before signing.
#
# Usage: release.sh [--out DIR]   (default: dist/ in the source tree)
# Environment: QV_SIGN_PKCS12, QV_SIGN_PASSWORD, QV_SIGN_TIMESTAMP_URL as for scripts/sign.sh
#   (without QV_SIGN_PKCS12 the release is unsigned and unpinned, and says so); QV_MSP, the patch
#   package to put beside the executables; SOURCE_DATE_EPOCH, the date written into VERIFY.txt and
#   given to every file of the folder (default: the time of the last commit); QV_JOBS, parallel
#   build jobs.
# The folder is assembled aside and moved into place only when everything succeeded.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/dist
while [ $# -gt 0 ]; do
  case "$1" in
    --out) out=$2; shift 2 ;;
    *) echo "release.sh: unknown argument $1 (usage: release.sh [--out DIR])" >&2; exit 64 ;;
  esac
done

sets=(base)
[ -n "${QV_SIGN_PKCS12:-}" ] && sets+=(sign)
bash scripts/setup.sh "${sets[@]}" >&2
if [ -n "${QV_SIGN_PKCS12:-}" ] && [ ! -r "$QV_SIGN_PKCS12" ]; then
  echo "release.sh: the certificate file $QV_SIGN_PKCS12 (QV_SIGN_PKCS12) cannot be read" >&2
  exit 2
fi
if [ -n "${QV_MSP:-}" ] && [ ! -r "$QV_MSP" ]; then
  echo "release.sh: the patch package $QV_MSP (QV_MSP) cannot be read" >&2
  exit 2
fi
# The key the executables are pinned to: the signing certificate's.
pin=
if [ -n "${QV_SIGN_PKCS12:-}" ]; then
  pin=$(bash scripts/sign.sh --key-id) || { echo "release.sh: no key identifier of the certificate" >&2; exit 2; }
fi

# The version of the version block, e.g. 3.10.0.68.
version=$(sed -n 's/^FILEVERSION *\([0-9]*\), *\([0-9]*\), *\([0-9]*\), *\([0-9]*\).*/\1.\2.\3.\4/p' \
          res/QV3Update.rc.in)
[ -n "$version" ] || { echo "release.sh: no FILEVERSION in res/QV3Update.rc.in" >&2; exit 1; }
commit=unknown
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  commit=$(git rev-parse HEAD)
  [ -z "$(git status --porcelain --untracked-files=no)" ] || commit="$commit (with uncommitted changes)"
  : "${SOURCE_DATE_EPOCH:=$(git log -1 --format=%ct)}"
fi
: "${SOURCE_DATE_EPOCH:=0}"
export SOURCE_DATE_EPOCH
source_date=$(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S UTC')

mapfile -t exes < <(QV_PUBLISHER_KEY_ID="$pin" bash scripts/build-windows.sh)
[ ${#exes[@]} -eq 2 ] || { echo "release.sh: the build failed" >&2; exit 1; }

name=QV3Update-$version
mkdir -p "$out"
stage=$(mktemp -d "$out/.$name.XXXXXX")
trap 'rm -rf "$stage"' EXIT
cp "${exes[0]}" "$stage/QV3Update.exe"
cp "${exes[1]}" "$stage/QV3Update-x64.exe"
chmod 755 "$stage"/*.exe
files=(QV3Update.exe QV3Update-x64.exe)
if [ -n "${QV_MSP:-}" ]; then
  cp "$QV_MSP" "$stage/qvupdate.msp"
  chmod 644 "$stage/qvupdate.msp"
  files+=(qvupdate.msp)
fi

signer=
if [ -n "${QV_SIGN_PKCS12:-}" ]; then
  for file in "${files[@]}"; do
    bash scripts/sign.sh "$stage/$file"
  done
  [ -e "$stage/qvupdate.msp" ] && chmod 644 "$stage/qvupdate.msp"
  signer=$(osslsigncode verify -in "$stage/QV3Update.exe" 2>/dev/null \
           | sed -n 's/^[[:space:]]*Subject: //p' | head -n 1 || true)
fi

(cd "$stage" && sha256sum "${files[@]}" >SHA256SUMS)

{
  echo "QV3Update $version"
  echo
  echo "QV3Update.exe       the update utility, 32-bit (the release; runs on 32- and 64-bit Windows)"
  echo "QV3Update-x64.exe   the same program built for 64-bit Windows"
  [ -e "$stage/qvupdate.msp" ] &&
    echo "qvupdate.msp        the patch package the update utility applies (beside it)"
  echo
  echo "Built from commit $commit, dated $source_date."
  echo "The build is reproducible: the same commit gives the same unsigned executables"
  echo "(bash scripts/release.sh without a certificate, or tests/release/reproducible.sh)."
  echo
  echo "Checking the files"
  echo "------------------"
  echo "Linux:       sha256sum -c SHA256SUMS"
  echo "Windows:     certutil -hashfile QV3Update.exe SHA256"
  echo "             (or in PowerShell: Get-FileHash QV3Update.exe -Algorithm SHA256)"
  echo "             and compare with the line of SHA256SUMS."
  echo
  echo "Checking the signature"
  echo "----------------------"
  if [ -n "${QV_SIGN_PKCS12:-}" ]; then
    echo "Both executables carry an Authenticode signature (SHA-256)${signer:+ by $signer}."
    [ -e "$stage/qvupdate.msp" ] && echo "So does the patch package qvupdate.msp."
    echo "Windows:     the file's Properties, Digital Signatures tab; or"
    echo "             signtool verify /pa /v QV3Update.exe; or in PowerShell:"
    echo "             Get-AuthenticodeSignature QV3Update.exe"
    echo "Linux:       osslsigncode verify -in QV3Update.exe"
    echo "             (add -CAfile ROOT.pem when the signer's root is not among the system's)"
    echo "A file whose signature does not verify has been changed: do not run it."
    echo "Signing changes the file, so SHA256SUMS lists the hashes of the signed files."
  else
    echo "This release is NOT signed: no certificate was given (QV_SIGN_PKCS12)."
    echo "Check the hashes above against SHA256SUMS obtained from a trusted source."
  fi
  echo
  echo "The patch package"
  echo "-----------------"
  echo "The update utility copies qvupdate.msp into a new folder that only Administrators and"
  echo "SYSTEM can change, checks the copy there and gives only that copy to the Windows Installer."
  if [ -n "$pin" ]; then
    echo "These executables are pinned to the publisher's key: they apply only a package whose"
    echo "Authenticode signature is intact and made with that key (or by a certificate whose chain"
    echo "holds it), and refuse any other (exit status 1643) before anything changes."
    echo "Pinned key identifier (SHA-1 of the SubjectPublicKeyInfo): $pin"
  else
    echo "These executables are not pinned to a key: they need no signature on the package."
  fi
} >"$stage/VERIFY.txt"

chmod 644 "$stage/SHA256SUMS" "$stage/VERIFY.txt"
[ -e "$stage/qvupdate.msp" ] && chmod 644 "$stage/qvupdate.msp"
chmod 755 "$stage"
touch -h -d "@$SOURCE_DATE_EPOCH" "$stage"/* "$stage"
rm -rf "${out:?}/$name"
mv "$stage" "$out/$name"
trap - EXIT

echo "release: $out/$name ($([ -n "${QV_SIGN_PKCS12:-}" ] && echo "signed, pinned to $pin" || echo "unsigned: no certificate given"))"
(cd "$out/$name" && for f in *; do printf '  %-18s %8s bytes\n' "$f" "$(stat -c %s "$f")"; done)
sed 's/^/  /' "$out/$name/SHA256SUMS"
