#!/bin/sh
# sign-exe.sh IN OUT PKCS12 PASSWORD_FILE [TIMESTAMP_URL]
# Signs IN into OUT with an embedded SHA-256 Authenticode signature; OUT
# appears only when signing succeeded.
set -eu
in="$1" out="$2" p12="$3" pass="$4" ts="${5:-}"
tmp="$out.signing"
rm -f "$tmp"
if [ -n "$ts" ]; then
  set -- -ts "$ts"
else
  set --
fi
osslsigncode sign -pkcs12 "$p12" -readpass "$pass" -h sha256 \
  -n "SealProbe" "$@" -in "$in" -out "$tmp" >/dev/null
chmod 755 "$tmp"
mv -f "$tmp" "$out"
