#!/bin/sh
# sign-exe.sh IN OUT PKCS12 PASSWORD_FILE [TIMESTAMP_URL [DEFAULT_TIME]]
# Signs IN into OUT with an embedded SHA-256 Authenticode signature; OUT
# appears only when signing succeeded. The signature's signing time is
# SOURCE_DATE_EPOCH when set, else DEFAULT_TIME (seconds since 1970), else
# the clock.
set -eu
in="$1" out="$2" p12="$3" pass="$4" ts="${5:-}" default_time="${6:-}"
tmp="$out.signing"
rm -f "$tmp"
set --
if [ -n "$ts" ]; then
  set -- "$@" -ts "$ts"
fi
when="${SOURCE_DATE_EPOCH:-$default_time}"
case "$when" in
  "") ;;
  *[!0-9]*) echo "SOURCE_DATE_EPOCH must be seconds since 1970: $when" >&2
            exit 1 ;;
  *) set -- "$@" -time "$when" ;;
esac
osslsigncode sign -pkcs12 "$p12" -readpass "$pass" -h sha256 \
  -n "SealProbe" "$@" -in "$in" -out "$tmp" >/dev/null
chmod 755 "$tmp"
mv -f "$tmp" "$out"
