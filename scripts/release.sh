#!/usr/bin/env bash
# Makes the release folder for one patch package, dist/QV3Update-<version>/: checks the inputs,
# signs the package when a certificate is given, builds both executables with the SHA-256 of the
# package as shipped compiled in (reproducibly, see tests/release/reproducible.sh), signs them,
# and writes
#   QV3Update.exe       the 32-bit release
#   QV3Update-x64.exe   the 64-bit build
#   qvupdate.msp        the patch package they apply, and no other
#   SHA256SUMS          their SHA-256 hashes (sha256sum -c SHA256SUMS)
#   VERIFY.txt          how to check the hashes and the signatures, and the package's hash
# The same commit and package give the same executables before signing.
#
# Usage: release.sh [--out DIR]          a release for the package QV_MSP
#        release.sh --development [--out DIR]
#                                        executables made for no package: they apply any
#                                        qvupdate.msp (dist/QV3Update-<version>-development/)
# Environment: QV_MSP, the patch package (a Windows Installer patch, checked before anything is
#   built); QV_SIGN_PKCS12, QV_SIGN_PASSWORD, QV_SIGN_TIMESTAMP_URL as for scripts/sign.sh
#   (without QV_SIGN_PKCS12 nothing is signed, and VERIFY.txt says so); SOURCE_DATE_EPOCH, the
#   date written into VERIFY.txt and given to every file of the folder (default: the time of the
#   last commit); QV_JOBS, parallel build jobs.
# Exit status: 0 made; 2 an input is missing or unfit (nothing built); 64 wrong usage; 1 the build
# or the signing failed. A failed release leaves no folder behind, and an existing release folder
# is never replaced: remove it first.
set -euo pipefail
usage() {
  echo "usage: release.sh [--development] [--out DIR]   (QV_MSP=qvupdate.msp; to sign:" \
    "QV_SIGN_PKCS12, QV_SIGN_PASSWORD, QV_SIGN_TIMESTAMP_URL)" >&2
  exit 64
}
fail() { echo "release.sh: $*" >&2; exit 2; }
caller=$PWD
cd "$(dirname "$0")/.."
root=$PWD
out=$root/dist
development=0
while [ $# -gt 0 ]; do
  case "$1" in
    --out) [ $# -ge 2 ] && [ -n "$2" ] || usage; out=$2; shift 2 ;;
    --development) development=1; shift ;;
    *) echo "release.sh: unknown argument $1" >&2; usage ;;
  esac
done
# A relative --out or QV_MSP is the caller's.
case "$out" in /*) ;; *) out=$caller/$out ;; esac
msp=${QV_MSP:-}
[ -z "$msp" ] || case "$msp" in /*) ;; *) msp=$caller/$msp ;; esac

sets=(base)
[ -n "${QV_SIGN_PKCS12:-}" ] && sets+=(sign)
bash scripts/setup.sh "${sets[@]}" >&2

# --- the inputs, all checked before anything is built -------------------------------------------
if [ $development = 1 ]; then
  [ -z "$msp" ] || fail "a development release is made for no package; leave out --development" \
    "for a release of $msp"
else
  [ -n "$msp" ] || fail "no patch package: set QV_MSP to the qvupdate.msp this release applies" \
    "(or pass --development for executables that apply any package, not to be shipped)"
  [ -f "$msp" ] && [ -r "$msp" ] || fail "the patch package $msp (QV_MSP) cannot be read"
  kind=$(python3 scripts/package-kind.py "$msp") || fail "$msp (QV_MSP) is $kind"
fi
signer=
if [ -n "${QV_SIGN_PKCS12:-}" ]; then
  [ -r "$QV_SIGN_PKCS12" ] || fail "the certificate file $QV_SIGN_PKCS12 (QV_SIGN_PKCS12) cannot be read"
  # Expired, not yet valid, not for code signing: refused here, not after the build.
  signer=$(bash scripts/sign.sh --check) || exit 2
fi

# The version of the version block, e.g. 3.10.0.68.
version=$(sed -n 's/^FILEVERSION *\([0-9]*\), *\([0-9]*\), *\([0-9]*\), *\([0-9]*\).*/\1.\2.\3.\4/p' \
          res/QV3Update.rc.in)
[ -n "$version" ] || { echo "release.sh: no FILEVERSION in res/QV3Update.rc.in" >&2; exit 1; }
name=QV3Update-$version
[ $development = 1 ] && name+=-development
[ ! -e "$out/$name" ] || fail "$out/$name exists already; remove it first (or choose another --out)"

commit=unknown
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  commit=$(git rev-parse HEAD)
  [ -z "$(git status --porcelain --untracked-files=no)" ] || commit="$commit (with uncommitted changes)"
  : "${SOURCE_DATE_EPOCH:=$(git log -1 --format=%ct)}"
fi
: "${SOURCE_DATE_EPOCH:=0}"
export SOURCE_DATE_EPOCH
source_date=$(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S UTC')

# The folder is assembled aside and moved into place only when everything succeeded; on any
# failure the stage goes, and so does the output folder when this run made it.
[ -d "$out" ] || made_out=$out
mkdir -p "$out"
stage=$(mktemp -d "$out/.$name.XXXXXX")
cleanup() {
  rm -rf "$stage"
  [ -n "${made_out:-}" ] && rmdir "$made_out" 2>/dev/null
  return 0
}
trap cleanup EXIT

# --- the package as shipped, and its hash ---------------------------------------------------------
files=(QV3Update.exe QV3Update-x64.exe)
sha=
if [ $development = 0 ]; then
  cp "$msp" "$stage/qvupdate.msp"
  [ -n "$signer" ] && bash scripts/sign.sh "$stage/qvupdate.msp"
  chmod 644 "$stage/qvupdate.msp"
  sha=$(sha256sum "$stage/qvupdate.msp" | cut -c1-64)
  files+=(qvupdate.msp)
fi

mapfile -t exes < <(QV_PACKAGE_SHA256="$sha" bash scripts/build-windows.sh)
[ ${#exes[@]} -eq 2 ] || { echo "release.sh: the build failed" >&2; exit 1; }
cp "${exes[0]}" "$stage/QV3Update.exe"
cp "${exes[1]}" "$stage/QV3Update-x64.exe"
chmod 755 "$stage"/*.exe
if [ -n "$signer" ]; then
  for file in QV3Update.exe QV3Update-x64.exe; do
    bash scripts/sign.sh "$stage/$file"
  done
fi

(cd "$stage" && sha256sum "${files[@]}" >SHA256SUMS)

{
  echo "QV3Update $version$([ $development = 1 ] && echo " (DEVELOPMENT RELEASE: not to be shipped)")"
  echo
  echo "QV3Update.exe       the update utility, 32-bit (the release; runs on 32- and 64-bit Windows)"
  echo "QV3Update-x64.exe   the same program built for 64-bit Windows"
  [ $development = 0 ] &&
    echo "qvupdate.msp        the patch package the update utility applies (beside it)"
  echo
  echo "Built from commit $commit, dated $source_date."
  echo "The build is reproducible: the same commit and package give the same unsigned executables"
  echo "(bash scripts/release.sh, or tests/release/reproducible.sh)."
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
  if [ -n "$signer" ]; then
    echo "Both executables and the patch package carry an Authenticode signature (SHA-256) by"
    echo "$signer."
    echo "Windows:     the file's Properties, Digital Signatures tab; or"
    echo "             signtool verify /pa /v QV3Update.exe; or in PowerShell:"
    echo "             Get-AuthenticodeSignature QV3Update.exe"
    echo "Linux:       osslsigncode verify -in QV3Update.exe -CAfile ROOT.pem"
    echo "             (ROOT.pem: the certificate of the signer's root; leave -CAfile out when"
    echo "             that root is among the system's trusted ones)"
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
  echo "SYSTEM can change, holds the copy open so that nobody can change it, and gives only that"
  echo "copy to the Windows Installer."
  if [ $development = 0 ]; then
    echo "These executables carry the SHA-256 of this folder's qvupdate.msp (as signed):"
    echo "  $sha"
    echo "They apply that package and no other: any other file beside them, an older package of"
    echo "the same publisher included, is refused (exit status 1643) before anything changes."
  else
    echo "DEVELOPMENT RELEASE: these executables are made for no package and apply any"
    echo "qvupdate.msp beside them. Do not ship them."
  fi
} >"$stage/VERIFY.txt"

chmod 644 "$stage/SHA256SUMS" "$stage/VERIFY.txt"
chmod 755 "$stage"
touch -h -d "@$SOURCE_DATE_EPOCH" "$stage"/* "$stage"
mv -T "$stage" "$out/$name"
trap - EXIT

echo "release: $out/$name ($([ -n "$signer" ] && echo "signed by $signer" || echo "unsigned: no certificate given");" \
  "$([ $development = 1 ] && echo "development: applies any package" || echo "applies only qvupdate.msp, SHA-256 $sha"))"
(cd "$out/$name" && for f in *; do printf '  %-18s %8s bytes\n' "$f" "$(stat -c %s "$f")"; done)
sed 's/^/  /' "$out/$name/SHA256SUMS"
