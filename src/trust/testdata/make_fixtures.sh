#!/bin/sh
# make_fixtures.sh OUT
# Makes the test fixtures into OUT: a code-signing PKI, small PE files from
# mingw-w64, and signed, tampered, unsigned and non-PE files. Nothing here is
# committed as a binary; every run makes its own.
#
#   OUT/pki/root.crt, root.key          self-signed test root (CA)
#   OUT/pki/leaf.crt, leaf.key          code-signing certificate issued by root
#   OUT/pe/small64.exe, small32.exe     unsigned PE32+ and PE32
#   OUT/files/valid.exe                 small64 signed by leaf, SHA-256
#   OUT/files/tampered.exe              valid.exe with one section byte changed
#   OUT/files/unsigned.exe              small64 as built
#   OUT/files/notpe.txt                 a text file
set -eu
out="$1"
here="$(cd "$(dirname "$0")" && pwd)"
mkdir -p "$out/pki" "$out/pe" "$out/files"
pki="$out/pki" pe="$out/pe" files="$out/files"

quiet() { "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; "$@"; exit 1; }; }

# --- PKI --------------------------------------------------------------------
make_root() {  # name subject
  quiet openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 \
    -subj "$2" -keyout "$pki/$1.key" -out "$pki/$1.crt" \
    -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign"
}
make_cert() {  # name subject issuer extensions-file-section-text [days]
  printf '%s\n' "$4" > "$pki/$1.ext"
  quiet openssl req -new -newkey rsa:2048 -nodes -subj "$2" \
    -keyout "$pki/$1.key" -out "$pki/$1.csr"
  quiet openssl x509 -req -in "$pki/$1.csr" -CA "$pki/$3.crt" \
    -CAkey "$pki/$3.key" -CAcreateserial -sha256 -days "${5:-3650}" \
    -extfile "$pki/$1.ext" -out "$pki/$1.crt"
  rm -f "$pki/$1.csr" "$pki/$1.ext"
}
make_root root "/CN=SealProbe Test Root"
make_cert leaf "/CN=SealProbe Test Signer" root \
  "basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature
extendedKeyUsage=codeSigning"

# --- PE files ---------------------------------------------------------------
quiet x86_64-w64-mingw32-gcc -O2 -s "$here/small.c" -o "$pe/small64.exe"
quiet i686-w64-mingw32-gcc -O2 -s "$here/small.c" -o "$pe/small32.exe"

sign() {  # in out [osslsigncode options...]
  in="$1" dst="$2"; shift 2
  rm -f "$dst"
  quiet osslsigncode sign -certs "$pki/leaf.crt" -key "$pki/leaf.key" \
    "$@" -in "$in" -out "$dst"
}

# Changes the byte at OFFSET (decimal) of FILE to its complement.
flip_byte() {  # file offset
  byte=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
  printf "$(printf '\\%03o' $((255 - byte)))" |
    dd of="$1" bs=1 seek="$2" conv=notrunc 2>/dev/null
}

# The file offset of the first section's raw data (PointerToRawData).
first_section_offset() {  # file
  pe_off=$(od -An -tu4 -j 60 -N4 "$1" | tr -d ' ')
  opt_size=$(od -An -tu2 -j $((pe_off + 20)) -N2 "$1" | tr -d ' ')
  sect=$((pe_off + 24 + opt_size))
  od -An -tu4 -j $((sect + 20)) -N4 "$1" | tr -d ' '
}

# --- Basic cases ------------------------------------------------------------
sign "$pe/small64.exe" "$files/valid.exe" -h sha256
cp "$files/valid.exe" "$files/tampered.exe"
flip_byte "$files/tampered.exe" $(( $(first_section_offset "$files/tampered.exe") + 16 ))
cp "$pe/small64.exe" "$files/unsigned.exe"
printf 'This is not a program.\n' > "$files/notpe.txt"
