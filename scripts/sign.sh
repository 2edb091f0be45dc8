#!/usr/bin/env bash
# Signs a Windows executable, or a Windows Installer package, with an Authenticode signature
# (SHA-256) using osslsigncode.
#
# Usage: sign.sh IN.exe [OUT.exe]      (without OUT.exe, IN.exe is replaced by the signed copy)
#        sign.sh --check               checks the certificate alone and prints its subject
# Environment:
#   QV_SIGN_PKCS12         the PKCS#12 file with the code-signing certificate and its key
#   QV_SIGN_PASSWORD       its password (may be empty)
#   QV_SIGN_TIMESTAMP_URL  optional: an RFC 3161 time-stamping server, so the signature stays
#                          valid after the certificate expires
# The password is handed to osslsigncode in a file only this user can read (-readpass), never
# on a command line, and is never printed. A certificate that has expired, is not valid yet or is
# not made for code signing is refused before anything is signed: Windows would not accept the
# signature. Exit status: 0 signed (or checked); 2 no certificate given or found, or one that
# cannot sign code; 64 wrong usage; otherwise osslsigncode failed (the input is left as it was).
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: sign.sh IN.exe [OUT.exe] | --check  (QV_SIGN_PKCS12, QV_SIGN_PASSWORD, QV_SIGN_TIMESTAMP_URL)" >&2
  exit 64
fi
check=0
[ "$1" = --check ] && check=1
in=$1
out=${2:-$1}
if [ $check = 0 ] && [ ! -f "$in" ]; then
  echo "sign.sh: $in: no such file" >&2
  exit 64
fi
pkcs12=${QV_SIGN_PKCS12:-}
if [ -z "$pkcs12" ]; then
  echo "sign.sh: no certificate: set QV_SIGN_PKCS12 to a PKCS#12 file with a code-signing certificate (and QV_SIGN_PASSWORD to its password); $in was not signed" >&2
  exit 2
fi
if [ ! -r "$pkcs12" ]; then
  echo "sign.sh: the certificate file $pkcs12 (QV_SIGN_PKCS12) cannot be read; $in was not signed" >&2
  exit 2
fi
work=$(umask 077 && mktemp -d "${TMPDIR:-/tmp}/qv-sign.XXXXXX")
trap 'rm -rf "$work"' EXIT
passfile=$work/password
# printf is a shell builtin: the password appears in no process's arguments.
(umask 077 && printf '%s' "${QV_SIGN_PASSWORD:-}" >"$passfile")

# The signer's own certificate (the one with the key), and what Windows requires of it.
refuse() { echo "sign.sh: the certificate in $pkcs12 $1; nothing was signed" >&2; exit 2; }
openssl pkcs12 -in "$pkcs12" -clcerts -nokeys -passin "file:$passfile" 2>/dev/null |
  openssl x509 -out "$work/cert.pem" 2>/dev/null ||
  { echo "sign.sh: no certificate in $pkcs12 (or the wrong password); nothing was signed" >&2; exit 2; }
subject=$(openssl x509 -in "$work/cert.pem" -noout -subject -nameopt compat | sed 's/^subject=//')
not_before=$(openssl x509 -in "$work/cert.pem" -noout -startdate | sed 's/^notBefore=//')
not_after=$(openssl x509 -in "$work/cert.pem" -noout -enddate | sed 's/^notAfter=//')
openssl x509 -in "$work/cert.pem" -noout -checkend 0 >/dev/null ||
  refuse "($subject) expired on $not_after"
[ "$(date -u -d "$not_before" +%s)" -le "$(date -u +%s)" ] ||
  refuse "($subject) is not valid before $not_before"
openssl x509 -in "$work/cert.pem" -noout -ext extendedKeyUsage 2>/dev/null | grep -q 'Code Signing' ||
  refuse "($subject) is not made for code signing (its extended key usage lacks Code Signing)"
if [ $check = 1 ]; then
  printf '%s\n' "$subject"
  exit 0
fi

if ! command -v osslsigncode >/dev/null; then
  echo "sign.sh: osslsigncode is not installed (bash scripts/setup.sh sign)" >&2
  exit 127
fi

chmod 600 "$passfile"
args=(sign -pkcs12 "$pkcs12" -readpass "$passfile" -h sha256
      -n "Quorvia Update Utility" -in "$in" -out "$work/signed.exe")
if [ -n "${QV_SIGN_TIMESTAMP_URL:-}" ]; then
  args+=(-ts "$QV_SIGN_TIMESTAMP_URL")
fi
# osslsigncode's own messages name no password; they go to standard error.
if ! osslsigncode "${args[@]}" >"$work/log" 2>&1; then
  sed "s/^/osslsigncode: /" "$work/log" >&2
  echo "sign.sh: signing $in failed" >&2
  exit 1
fi
cat "$work/log" >&2
mv -f "$work/signed.exe" "$out.signing"
chmod 755 "$out.signing"
mv -f "$out.signing" "$out"
echo "sign.sh: signed $out (Authenticode, SHA-256$([ -n "${QV_SIGN_TIMESTAMP_URL:-}" ] && echo ", time-stamped"))" >&2
