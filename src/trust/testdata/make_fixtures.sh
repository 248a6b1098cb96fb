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

# --- More PKI: backdated certificates, an intermediate, trust settings -------
# openssl ca can backdate (x509 -req cannot), which expired signers and past
# timestamps need: everything under the backdated root is dated by hand.
#
#   OUT/pki/broot.crt            self-signed root valid 2010-2040
#   OUT/pki/tsa.crt              time-stamping authority under broot,
#                                critical extendedKeyUsage=timeStamping
#   OUT/pki/tsa-stranger.crt     a time-stamping authority under stranger-root
#   OUT/pki/old.crt              code signer under broot, valid 2019-2021
#   OUT/pki/oldlife.crt          the same with the lifetime-signing usage
#   OUT/pki/future.crt           code signer under root, valid from 2040
#   OUT/pki/inter.crt            intermediate CA under root
#   OUT/pki/ileaf.crt            code signer under inter
#   OUT/pki/ileaf-chain.pem      ileaf then inter
#   OUT/pki/wrongusage.crt       signer under root for serverAuth only
#   OUT/pki/noeku.crt            signer under root without extendedKeyUsage
#   OUT/pki/distrusted.crt       code signer under root...
#   OUT/pki/distrusted-reject.pem  ...and its TRUSTED CERTIFICATE form that
#                                rejects code signing
#   OUT/pki/selfsigned.crt       self-signed code signer
#   OUT/pki/stranger.crt, stranger-root.crt, stranger-chain.pem
#                                signer under an unknown root, with the chain
#   OUT/pki/tsa-chain.pem, tsa-stranger-chain.pem  TSA certificate, its root
#   OUT/pki/root-reject.pem, root-serveronly.pem   root.crt as a TRUSTED
#                                CERTIFICATE rejected for code signing, or
#                                trusted for serverAuth only
#   OUT/pki/anchors.pem          root, broot and distrusted-reject.pem: the
#                                trust store of the tests
ca_dir="$pki/ca"
mkdir -p "$ca_dir/new"
: > "$ca_dir/index.txt"
echo 1000 > "$ca_dir/serial"
cat > "$ca_dir/ca.cnf" <<CNF
[ca]
default_ca = ca_default
[ca_default]
database = $ca_dir/index.txt
new_certs_dir = $ca_dir/new
serial = $ca_dir/serial
default_md = sha256
policy = policy_any
unique_subject = no
copy_extensions = none
[policy_any]
commonName = supplied
CNF

dated_cert() {  # name subject issuer|-self start end extensions
  printf '%s\n' "$6" > "$pki/$1.ext"
  quiet openssl req -new -newkey rsa:2048 -nodes -subj "$2" \
    -keyout "$pki/$1.key" -out "$pki/$1.csr"
  if [ "$3" = -self ]; then
    self=yes ca_cert="" ca_key="$pki/$1.key"
  else
    self="" ca_cert="$pki/$3.crt" ca_key="$pki/$3.key"
  fi
  quiet openssl ca -batch -config "$ca_dir/ca.cnf" ${self:+-selfsign} \
    ${ca_cert:+-cert "$ca_cert"} -keyfile "$ca_key" \
    -notext -startdate "$4" -enddate "$5" -extfile "$pki/$1.ext" \
    -in "$pki/$1.csr" -out "$pki/$1.crt"
  rm -f "$pki/$1.csr" "$pki/$1.ext"
}

ca_ext="basicConstraints=critical,CA:TRUE
keyUsage=critical,keyCertSign,cRLSign"
signer_ext="basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature"
code_ext="$signer_ext
extendedKeyUsage=codeSigning"

dated_cert broot "/CN=SealProbe Test Backdated Root" -self \
  20100101000000Z 20400101000000Z "$ca_ext"
dated_cert tsa "/CN=SealProbe Test TSA" broot \
  20100101000000Z 20400101000000Z "$signer_ext
extendedKeyUsage=critical,timeStamping"
dated_cert old "/CN=SealProbe Test Expired Signer" broot \
  20190101000000Z 20210101000000Z "$code_ext"
dated_cert oldlife "/CN=SealProbe Test Lifetime Signer" broot \
  20190101000000Z 20210101000000Z "$code_ext,1.3.6.1.4.1.311.10.3.13"
dated_cert future "/CN=SealProbe Test Future Signer" root \
  20400101000000Z 20450101000000Z "$code_ext"
make_cert inter "/CN=SealProbe Test Intermediate" root "$ca_ext"
make_cert ileaf "/CN=SealProbe Test Intermediate Signer" inter "$code_ext"
make_cert wrongusage "/CN=SealProbe Test Server" root "$signer_ext
extendedKeyUsage=serverAuth"
make_cert noeku "/CN=SealProbe Test Any Use" root "$signer_ext"
make_cert distrusted "/CN=SealProbe Test Distrusted Signer" root "$code_ext"
quiet openssl x509 -in "$pki/distrusted.crt" -addreject codeSigning \
  -trustout -out "$pki/distrusted-reject.pem"
quiet openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 \
  -subj "/CN=SealProbe Test Self-Signed Signer" \
  -keyout "$pki/selfsigned.key" -out "$pki/selfsigned.crt" \
  -addext "keyUsage=critical,digitalSignature" \
  -addext "extendedKeyUsage=codeSigning"
make_root stranger-root "/CN=SealProbe Test Unknown Root"
make_cert stranger "/CN=SealProbe Test Unknown Signer" stranger-root "$code_ext"
dated_cert tsa-stranger "/CN=SealProbe Test Unknown TSA" stranger-root \
  20100101000000Z 20400101000000Z "$signer_ext
extendedKeyUsage=critical,timeStamping"

# root.crt with trust settings: rejected for code signing, trusted for
# server authentication only.
quiet openssl x509 -in "$pki/root.crt" -addreject codeSigning -trustout \
  -out "$pki/root-reject.pem"
quiet openssl x509 -in "$pki/root.crt" -addtrust serverAuth -trustout \
  -out "$pki/root-serveronly.pem"

cat "$pki/ileaf.crt" "$pki/inter.crt" > "$pki/ileaf-chain.pem"
cat "$pki/stranger.crt" "$pki/stranger-root.crt" > "$pki/stranger-chain.pem"
cat "$pki/tsa.crt" "$pki/broot.crt" > "$pki/tsa-chain.pem"
cat "$pki/tsa-stranger.crt" "$pki/stranger-root.crt" \
  > "$pki/tsa-stranger-chain.pem"
cat "$pki/root.crt" "$pki/broot.crt" "$pki/distrusted-reject.pem" \
  > "$pki/anchors.pem"

# --- More signed files -------------------------------------------------------
# Verdicts against OUT/pki/anchors.pem, checked now (see the list in
# OUT/files/expected.txt: name, status in hex).
#
# Timestamps are at 2020-06-01T00:00:00Z, when old.crt was valid.
ts_time=1590969600

sign_with() {  # cert-file key-name in out [osslsigncode options...]
  certs="$1" key="$2" in="$3" dst="$4"; shift 4
  rm -f "$dst"
  quiet osslsigncode sign -certs "$certs" -key "$pki/$key.key" \
    "$@" -in "$in" -out "$dst"
}
stamp() {  # tsa-name: the options of an offline RFC 3161 timestamp
  echo "-TSA-certs $pki/$1-chain.pem -TSA-key $pki/$1.key -TSA-time $ts_time"
}

: > "$files/expected.txt"
expect() { echo "$1 $2" >> "$files/expected.txt"; }

expect valid.exe 0
expect tampered.exe 80096010
expect unsigned.exe 800b0100
expect notpe.txt 800b0003

for h in sha1 sha384 sha512; do
  sign "$pe/small64.exe" "$files/$h.exe" -h "$h"
  expect "$h.exe" 0
done
sign "$pe/small64.exe" "$files/md5.exe" -h md5
expect md5.exe 80090008
sign "$pe/small32.exe" "$files/valid32.exe" -h sha256
expect valid32.exe 0
cp "$files/valid32.exe" "$files/tampered32.exe"
flip_byte "$files/tampered32.exe" \
  $(( $(first_section_offset "$files/tampered32.exe") + 16 ))
expect tampered32.exe 80096010
sign "$pe/small64.exe" "$files/pagehash.exe" -h sha256 -ph
expect pagehash.exe 0
sign "$pe/small32.exe" "$files/pagehash32.exe" -h sha1 -ph
expect pagehash32.exe 0
# A nested signature by an untrusted signer does not count.
sign_with "$pki/selfsigned.crt" selfsigned "$files/valid.exe" \
  "$files/nested.exe" -nest -h sha1
expect nested.exe 0

sign_with "$pki/ileaf-chain.pem" ileaf "$pe/small64.exe" "$files/intermediate.exe"
expect intermediate.exe 0
sign_with "$pki/ileaf.crt" ileaf "$pe/small64.exe" "$files/nochain.exe"
expect nochain.exe 800b010a
sign_with "$pki/stranger-chain.pem" stranger "$pe/small64.exe" "$files/stranger.exe"
expect stranger.exe 800b0109
sign_with "$pki/selfsigned.crt" selfsigned "$pe/small64.exe" "$files/selfsigned.exe"
expect selfsigned.exe 800b0109
sign_with "$pki/distrusted.crt" distrusted "$pe/small64.exe" "$files/distrusted.exe"
expect distrusted.exe 800b0111
sign_with "$pki/wrongusage.crt" wrongusage "$pe/small64.exe" "$files/wrongusage.exe"
expect wrongusage.exe 800b0110
sign_with "$pki/noeku.crt" noeku "$pe/small64.exe" "$files/noeku.exe"
expect noeku.exe 0
sign_with "$pki/future.crt" future "$pe/small64.exe" "$files/notyetvalid.exe"
expect notyetvalid.exe 800b0101

# shellcheck disable=SC2046
{
sign_with "$pki/old.crt" old "$pe/small64.exe" "$files/expired.exe"
expect expired.exe 800b0101
sign_with "$pki/old.crt" old "$pe/small64.exe" "$files/expired-ts.exe" \
  $(stamp tsa)
expect expired-ts.exe 0
sign_with "$pki/old.crt" old "$pe/small32.exe" "$files/expired-ts32.exe" \
  -h sha1 $(stamp tsa)
expect expired-ts32.exe 0
# A timestamp whose authority is not trusted does not count.
sign_with "$pki/old.crt" old "$pe/small64.exe" "$files/expired-ts-stranger.exe" \
  $(stamp tsa-stranger)
expect expired-ts-stranger.exe 800b0101
sign_with "$pki/oldlife.crt" oldlife "$pe/small64.exe" "$files/lifetime-ts.exe" \
  $(stamp tsa)
expect lifetime-ts.exe 800b0101
# A timestamp from before the signer's certificate was issued.
sign "$pe/small64.exe" "$files/valid-ts-early.exe" $(stamp tsa)
expect valid-ts-early.exe 800b0101
}

# --- Names as encoded ---------------------------------------------------------
# The signer is found by its issuer's encoding, octet for octet. An
# intermediate named with a T61String, a BMPString and mixed case: a signer
# under it is still found, since its issuer and the SignerInfo's are the same
# octets.
#
#   OUT/pki/oddinter.crt        intermediate CA under root, that name
#   OUT/pki/oddleaf-chain.pem   code signer under it, then the intermediate
printf '[req]\ndistinguished_name = dn\nstring_mask = default\nutf8 = yes\nprompt = no\n[dn]\n' \
  > "$pki/oddname.cnf"
quiet openssl req -new -newkey rsa:2048 -nodes -config "$pki/oddname.cnf" \
  -subj "$(printf '/O=SealProbe \303\226DD Test/CN=SealProbe \316\251 Intermediate')" \
  -keyout "$pki/oddinter.key" -out "$pki/oddinter.csr"
printf '%s\n' "$ca_ext" > "$pki/oddinter.ext"
quiet openssl x509 -req -in "$pki/oddinter.csr" -CA "$pki/root.crt" \
  -CAkey "$pki/root.key" -CAcreateserial -sha256 -days 3650 \
  -extfile "$pki/oddinter.ext" -out "$pki/oddinter.crt"
rm -f "$pki/oddinter.csr" "$pki/oddinter.ext" "$pki/oddname.cnf"
make_cert oddleaf "/CN=SealProbe Test Odd-Name Signer" oddinter "$code_ext"
cat "$pki/oddleaf.crt" "$pki/oddinter.crt" > "$pki/oddleaf-chain.pem"
sign_with "$pki/oddleaf-chain.pem" oddleaf "$pe/small64.exe" "$files/oddname.exe"
expect oddname.exe 0

# The image hashes osslsigncode computes, to check ours against:
# name, digest algorithm, hash in upper-case hexadecimal.
: > "$files/digests.txt"
for f in "$files"/*.exe; do
  osslsigncode verify -in "$f" 2>/dev/null | awk -v name="$(basename "$f")" '
    /^Message digest algorithm *:/ { alg = $NF }
    /^Calculated message digest *:/ && !done { print name, alg, $5; done = 1 }
  ' >> "$files/digests.txt"
done
