#!/usr/bin/env bash
# Builds the test Quorvia 3's Windows Installer package and its patches from the fixture programs:
#   OUT/quorvia3.msi        the product (3.10.0.68 QVApp.exe), from quorvia3.wxs by wixl
#   OUT/qvupdate.msp        the patch raising QVApp.exe to 3.10.0.69 (mkpatch.py)
#   OUT/qvupdate-other.msp  the same patch made for another version of the product (a previous
#                           release's product code): it does not apply to the installed one
#   OUT/codes.txt           NAME<TAB>GUID: product, patch and other_patch, for the cases' checks
# Usage: mkpackages.sh FIXTURES OUT
# Two things wixl does not do are done afterwards with msibuild, as the WiX toolset does them:
# a versioned file's row carries its file version (and no hash), and the product's shortcut is a
# plain one (wixl makes advertised shortcuts only). The product and package codes are fixed;
# what still differs between two builds is the creation and save time in the package's summary
# information (wixl writes the build time). The patches are the same bytes every time.
set -euo pipefail
started=$(date +%s.%N)
here=$(cd "$(dirname "$0")" && pwd)
[ $# -eq 2 ] || { echo "usage: mkpackages.sh FIXTURES OUT" >&2; exit 64; }
for program in QVApp-68.exe QVApp-69.exe companion.exe; do
  [ -f "$1/$program" ] || { echo "mkpackages.sh: no fixture program $1/$program (cmake --preset" \
    "win64 && cmake --build --preset win64 --target qv_e2e_fixtures builds them)" >&2; exit 1; }
done
fixtures=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
PRODUCT_CODE='{5E3A7C21-9B4D-4E8F-A6C1-2D7F0B9E4A35}'
PACKAGE_CODE='{8C1F5A36-7D2E-4B9A-9E04-3A6B8C2D1F57}'
UPGRADED_PACKAGE_CODE='{8C1F5A36-7D2E-4B9A-9E04-3A6B8C2D1F58}'
PATCH_CODE='{3D0E6B54-21C7-4A9F-8B36-E5F2A4C19D70}'
OTHER_PATCH_CODE='{3D0E6B54-21C7-4A9F-8B36-E5F2A4C19D71}'
PREVIOUS_PRODUCT_CODE='{5E3A7C21-9B4D-4E8F-A6C1-2D7F0B9E4A09}'   # Quorvia 3.9
missing=
for tool in wixl msibuild msiinfo gcab; do command -v "$tool" >/dev/null || missing+=" $tool"; done
/usr/bin/python3 -c 'import gi; gi.require_version("Gsf", "1")' 2>/dev/null ||
  missing+=" python3-gi/gir1.2-gsf-1"
if [ -n "$missing" ]; then
  echo "mkpackages.sh: missing:$missing (bash scripts/setup.sh test installs them)" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$fixtures"/{QVApp-68,QVApp-69,companion}.exe "$work/"
# The cabinet records the files' times: fixed ones.
touch -d @"${SOURCE_DATE_EPOCH:-315532800}" "$work"/*.exe

# file_version FILE: the file version in the fixed file information of a program's version
# block (found by its signature 0xFEEF04BD), empty when it has none.
file_version() {
  /usr/bin/python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
at = data.find(struct.pack("<I", 0xFEEF04BD))
if at >= 0:
    ms, ls = struct.unpack_from("<II", data, at + 8)
    print("%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF))
PY
}
# source_of KEY QVAPP: the fixture a File key of quorvia3.wxs is built from.
source_of() { [ "$1" = QVApp.exe ] && echo "$2" || echo companion.exe; }

# package NAME QVAPP PACKAGE_CODE: one build of the product with the given QVApp.exe.
package() {
  local msi=$work/$1.msi
  (cd "$work" && wixl -a x86 -D QVApp="$2" -o "$msi" "$here/quorvia3.wxs") 2>&1 |
    grep -v 'builder.vala.*unimplemented' >&2 || true
  [ -s "$msi" ] || { echo "mkpackages.sh: wixl made no $1.msi" >&2; exit 1; }
  local key version
  for key in $(msiinfo export "$msi" File | tail -n +4 | cut -f1); do
    version=$(file_version "$work/$(source_of "$key" "$2")")
    [ -n "$version" ] || continue
    msibuild "$msi" -q "UPDATE \`File\` SET \`Version\` = '$version' WHERE \`File\` = '$key'" \
      -q "DELETE FROM \`MsiFileHash\` WHERE \`File_\` = '$key'"
  done
  msibuild "$msi" -q "UPDATE \`Shortcut\` SET \`Target\` = '[INSTALLDIR]QVSync.exe' WHERE \`Shortcut\` = 'SyncShortcut'"
  msibuild "$msi" -s "Quorvia 3 (test package)" orvanta "Intel;1033" "$3"
}
package quorvia3 QVApp-68.exe "$PACKAGE_CODE"
package upgraded QVApp-69.exe "$UPGRADED_PACKAGE_CODE"
[ "$(msiinfo export "$work/quorvia3.msi" Property | awk -F'\t' '$1 == "ProductCode" { print $2 }' |
  tr -d '\r')" = "$PRODUCT_CODE" ] || { echo "mkpackages.sh: the package's product code is not $PRODUCT_CODE" >&2; exit 1; }

patch() {  # OUT PATCH_CODE [mkpatch options]
  local file=$1 code=$2
  shift 2
  /usr/bin/python3 "$here/mkpatch.py" --target "$work/quorvia3.msi" --upgraded "$work/upgraded.msi" \
    --out "$work/$file" --patch-code "$code" --family QV3Update --sequence 3.10.0.69 \
    --display-name "Quorvia 3 Update 3.10.0.69" \
    --description "Raises QVApp.exe to 3.10.0.69 (test patch)" "$@"
}
patch qvupdate.msp "$PATCH_CODE"
patch qvupdate-other.msp "$OTHER_PATCH_CODE" --target-product-code "$PREVIOUS_PRODUCT_CODE" \
  --target-version 3.9.50
printf 'product\t%s\npatch\t%s\nother_patch\t%s\n' "$PRODUCT_CODE" "$PATCH_CODE" "$OTHER_PATCH_CODE" \
  >"$work/codes.txt"
mv "$work/quorvia3.msi" "$work/qvupdate.msp" "$work/qvupdate-other.msp" "$work/codes.txt" "$out/"
echo "mkpackages.sh: quorvia3.msi and both patches built in $(awk -v a="$started" \
  -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }') s"
