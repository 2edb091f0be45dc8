#!/usr/bin/env bash
# Installs the Debian packages a fresh Debian 12 machine needs, by set:
#   base  building qv3sim and the two Windows executables: compilers, MinGW-w64, the JSON and
#         command-line libraries, Python for qv3sim's HTML page (scripts/run.sh, release.sh)
#   sign  signing and checking signatures: osslsigncode, openssl (scripts/sign.sh)
#   wine  running the real executable on a described machine (qv3sim --wine, --compare): Wine
#         (64-bit and, for the 32-bit release, wine32 from the i386 architecture), a virtual X
#         display and its screenshots, lnkinfo, GoogleTest's sources (the fixture programs are
#         built with the Windows presets' tests), the German locale de_DE.UTF-8, in which Wine
#         runs a machine whose Windows speaks German (its own buttons read "Abbrechen"), and the
#         emulated PC for the 32-bit Wine where the kernel refuses i386 code
#   test  everything the tests need besides the wine set: GoogleTest, clang for the fuzzers, the
#         tools that read the executables back, headless Chromium for the HTML report, msitools
#         for the patch packages the signature tests sign
# Usage: setup.sh [SET...]; without a set, all of them (what scripts/test.sh needs).
set -euo pipefail
base=(
  cmake ninja-build g++
  nlohmann-json3-dev libcli11-dev
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 python3
)
sign=(osslsigncode openssl)
# The emulated PC (scripts/emulated-pc.sh) that runs the 32-bit Wine where the kernel refuses
# i386 code: QEMU, Debian's kernel with its modules, a static busybox and cpio for its initramfs.
emulated=(qemu-system-x86 linux-image-amd64 busybox-static cpio)
wine=(wine wine64 wine32:i386 xvfb xauth xdotool imagemagick liblnk-utils googletest python3
      locales "${emulated[@]}")
# The product's Windows Installer package and its patch for the end-to-end runs with the real
# installer (tests/e2e/package/): wixl and msitools, cabinets, the compound-file library.
packaging=(wixl msitools gcab python3-gi gir1.2-gsf-1)
test=(
  "${wine[@]}" "${packaging[@]}" clang libclang-rt-14-dev libgtest-dev libgmock-dev
  icoutils libimage-exiftool-perl chromium
)
[ $# -gt 0 ] || set -- base sign test
packages=() locales=()
for set_name in "$@"; do
  case "$set_name" in
    base) packages+=("${base[@]}") ;;
    sign) packages+=("${sign[@]}") ;;
    wine) packages+=("${wine[@]}"); locales=(de_DE.UTF-8) ;;
    test) packages+=("${test[@]}"); locales=(de_DE.UTF-8) ;;
    *) echo "setup.sh: unknown package set $set_name (base, sign, wine, test)" >&2; exit 64 ;;
  esac
done
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
if [ ${#missing[@]} -gt 0 ]; then
  # Packages of another architecture (wine32:i386) need it among dpkg's foreign architectures
  # before the package lists are read.
  for p in "${missing[@]}"; do
    case "$p" in
      *:*)
        arch=${p##*:}
        if [ "$arch" != "$(dpkg --print-architecture)" ] &&
           ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
          $SUDO dpkg --add-architecture "$arch"
        fi ;;
    esac
  done
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# Locales are generated from the list in /etc/locale.gen, so one enabled there stays when
# locale-gen runs again for another.
for name in "${locales[@]}"; do
  # locale -a names de_DE.UTF-8 as de_DE.utf8.
  locale -a 2>/dev/null | grep -qix "${name/UTF-8/utf8}" && continue
  if ! grep -qx "$name UTF-8" /etc/locale.gen; then
    if grep -qx "# $name UTF-8" /etc/locale.gen; then
      $SUDO sed -i "s/^# $name UTF-8\$/$name UTF-8/" /etc/locale.gen
    else
      echo "$name UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
    fi
  fi
  $SUDO locale-gen >/dev/null
done
