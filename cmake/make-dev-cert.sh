#!/bin/sh
# Makes a self-signed code-signing certificate for development builds, so a
# build without a release certificate still yields a signed tool. Its name
# says what it is; nothing signed with it is trusted anywhere.
set -eu
out="$1"
mkdir -p "$out"
cd "$out"
openssl req -x509 -newkey rsa:3072 -nodes -sha256 -days 3650 \
  -subj "/CN=SealProbe DEVELOPMENT ONLY - not for release" \
  -addext "keyUsage=critical,digitalSignature" \
  -addext "extendedKeyUsage=codeSigning" \
  -keyout dev-signing.key -out dev-signing.crt 2>/dev/null
printf 'development\n' > dev-signing.pass
openssl pkcs12 -export -inkey dev-signing.key -in dev-signing.crt \
  -passout file:dev-signing.pass -out SealProbe-DEVELOPMENT-ONLY.p12
rm -f dev-signing.key
