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
#   OUT/files/*.msi                     Windows Installer packages (below)
set -eu
out="$1"
here="$(cd "$(dirname "$0")" && pwd)"
mkdir -p "$out/pki" "$out/pe" "$out/files"
pki="$out/pki" pe="$out/pe" files="$out/files"

# Runs a command silently; when it fails, shows what it printed and stops.
quiet_log="$(mktemp)"
trap 'rm -f "$quiet_log"' EXIT
quiet() {
  "$@" >"$quiet_log" 2>&1 ||
    { echo "failed: $*" >&2; cat "$quiet_log" >&2; exit 1; }
}

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
# sign_with, adding an offline RFC 3161 timestamp by the authority TSA at
# ts_time, or at stamp_time when that is set.
sign_stamped() {  # tsa-name cert-file key-name in out [osslsigncode options...]
  tsa="$1"; shift
  sign_with "$@" -TSA-certs "$pki/$tsa-chain.pem" -TSA-key "$pki/$tsa.key" \
    -TSA-time "${stamp_time:-$ts_time}"
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
# Dual-signed as release tools do it: SHA-1 first, SHA-256 nested in it.
sign "$files/sha1.exe" "$files/dual-signed.exe" -nest -h sha256
expect dual-signed.exe 0

sign_with "$pki/ileaf-chain.pem" ileaf "$pe/small64.exe" "$files/intermediate.exe"
expect intermediate.exe 0
sign_with "$pki/ileaf.crt" ileaf "$pe/small64.exe" "$files/nochain.exe"
expect nochain.exe 800b010a
# A signature that carries its own root (OUT/windows/bare lacks it).
cat "$pki/leaf.crt" "$pki/root.crt" > "$pki/leaf-root.pem"
sign_with "$pki/leaf-root.pem" leaf "$pe/small64.exe" "$files/carries-root.exe"
expect carries-root.exe 0
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

sign_with "$pki/old.crt" old "$pe/small64.exe" "$files/expired.exe"
expect expired.exe 800b0101
sign_stamped tsa "$pki/old.crt" old "$pe/small64.exe" "$files/expired-ts.exe"
expect expired-ts.exe 0
sign_stamped tsa "$pki/old.crt" old "$pe/small32.exe" \
  "$files/expired-ts32.exe" -h sha1
expect expired-ts32.exe 0
# A timestamp whose authority is not trusted fails the file: "The time
# stamp signer and or certificate could not be verified", TRUST_E_TIME_STAMP
# (TRUST Error Codes, learn.microsoft.com/en-us/previous-versions/aa915318).
sign_stamped tsa-stranger "$pki/old.crt" old "$pe/small64.exe" \
  "$files/expired-ts-stranger.exe"
expect expired-ts-stranger.exe 80096005
sign_stamped tsa "$pki/oldlife.crt" oldlife "$pe/small64.exe" \
  "$files/lifetime-ts.exe"
expect lifetime-ts.exe 800b0101
# A timestamp from before the signer's certificate was issued: the stamp is
# good, the certificate is not valid at its time. signtool reports
# CERT_E_EXPIRED for a catalog signed by a certificate issued after its
# timestamp (protaskin/LowCDC-Win10x64 README.md, "Error 0x800B0101").
sign_stamped tsa "$pki/leaf.crt" leaf "$pe/small64.exe" \
  "$files/valid-ts-early.exe"
expect valid-ts-early.exe 800b0101

# --- Chain faults in Windows' order, keys it refuses, stamps that fail ------
# Each expected status comes with the public source for Windows' behaviour.
# "Wine chain.c" is Wine's dlls/crypt32/tests/chain.c, conformance tests
# that run on Windows: chainCheck gives the trust status of each chain,
# and basePolicyCheck, authenticodePolicyCheck and the checks beside them
# the status CertVerifyCertificateChainPolicy makes of it.
key() {  # name genpkey-options...: OUT/pki/name.key
  k="$1"; shift
  quiet openssl genpkey "$@" -out "$pki/$k.key"
}
# make_cert with a key from key(): the certificate's own, or KEY's.
# The issuer signs with SHA-256, or with the digest cert_digest names.
keyed_cert() {  # name subject issuer extensions [key-name]
  printf '%s\n' "$4" > "$pki/$1.ext"
  quiet openssl req -new -key "$pki/${5:-$1}.key" -subj "$2" \
    -out "$pki/$1.csr"
  quiet openssl x509 -req -in "$pki/$1.csr" -CA "$pki/$3.crt" \
    -CAkey "$pki/$3.key" -CAcreateserial "-${cert_digest:-sha256}" -days 3650 \
    -extfile "$pki/$1.ext" -out "$pki/$1.crt"
  rm -f "$pki/$1.csr" "$pki/$1.ext"
}
# A code signer under the CA ISSUER, with the key of NAME (one RSA key
# serves every such signer), and the file it signs: NAME.exe.
signed_under() {  # name issuer status [key-name] [signer extensions]
  keyed_cert "$1" "/CN=SealProbe Test $1" "$2" "${5:-$code_ext}" \
    "${4:-underca}"
  cat "$pki/$1.crt" "$pki/$2.crt" > "$pki/$1-chain.pem"
  sign_with "$pki/$1-chain.pem" "${4:-underca}" "$pe/small64.exe" \
    "$files/$1.exe"
  expect "$1.exe" "$3"
}
rsa_key() {  # name bits [public-exponent]
  key "$1" -algorithm RSA -pkeyopt "rsa_keygen_bits:$2" \
    -pkeyopt "rsa_keygen_pubexp:${3:-65537}"
}
ec_key() {  # name curve
  key "$1" -algorithm EC -pkeyopt "ec_paramgen_curve:$2" \
    -pkeyopt ec_param_enc:named_curve
}
rsa_key underca 2048

# Precedence. A certificate signature that does not verify comes first:
# with an untrusted root (Wine chain.c chain12) or expired (chain1) it is
# still TRUST_E_CERT_SIGNATURE. badsig.crt is a signer under root, and
# badsig-stranger.crt one under stranger-root, with the last byte of the
# signature changed.
make_cert badsig "/CN=SealProbe Test Bad Signature" root "$code_ext"
make_cert badsig-stranger "/CN=SealProbe Test Bad Signature Unknown Root" \
  stranger-root "$code_ext"
for c in badsig badsig-stranger; do
  quiet openssl x509 -in "$pki/$c.crt" -outform DER -out "$pki/$c.der"
  flip_byte "$pki/$c.der" $(( $(wc -c < "$pki/$c.der") - 1 ))
  quiet openssl x509 -inform DER -in "$pki/$c.der" -out "$pki/$c.crt"
  rm -f "$pki/$c.der"
done
sign_with "$pki/badsig.crt" badsig "$pe/small64.exe" "$files/badsig.exe"
expect badsig.exe 80096004
cat "$pki/badsig-stranger.crt" "$pki/stranger-root.crt" \
  > "$pki/badsig-stranger-chain.pem"
sign_with "$pki/badsig-stranger-chain.pem" badsig-stranger "$pe/small64.exe" \
  "$files/badsig-stranger.exe"
expect badsig-stranger.exe 80096004
# Wrong usage before time: an expired signer for server authentication
# only. Wine chain.c has no chain with both faults, and no public test
# establishes this order: weak.
dated_cert oldserver "/CN=SealProbe Test Expired Server" broot \
  20190101000000Z 20210101000000Z "$signer_ext
extendedKeyUsage=serverAuth"
sign_with "$pki/oldserver.crt" oldserver "$pe/small64.exe" \
  "$files/oldserver.exe"
expect oldserver.exe 800b0110

# Key usage is a usage, not a basic constraint: a CA not allowed to sign
# certificates (Wine chain.c chain18, and chain15 whose root is one: with
# the root allowed, CERT_E_WRONG_USAGE), and an end certificate with
# CA:FALSE that claims certificate signing (chain16), both
# CERT_TRUST_IS_NOT_VALID_FOR_USAGE.
rsa_key nocertsign-ca 2048
keyed_cert nocertsign-ca "/CN=SealProbe Test CA Without keyCertSign" root \
  "basicConstraints=critical,CA:TRUE
keyUsage=critical,digitalSignature,cRLSign"
signed_under nocertsign-signer nocertsign-ca 800b0110
keyed_cert certsign-signer "/CN=SealProbe Test Signer With keyCertSign" root \
  "basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature,keyCertSign
extendedKeyUsage=codeSigning" underca
sign_with "$pki/certsign-signer.crt" underca "$pe/small64.exe" \
  "$files/certsign-signer.exe"
expect certsign-signer.exe 800b0110

# An issuer must say it is a CA in its basic constraints: a v3 intermediate
# without them is CERT_TRUST_INVALID_BASIC_CONSTRAINTS (Wine chain.c chain8,
# TRUST_E_BASIC_CONSTRAINTS in basicConstraintsPolicyCheck), even where its
# key usage allows certificate signing.
rsa_key kuonly-ca 2048
keyed_cert kuonly-ca "/CN=SealProbe Test CA Without Basic Constraints" root \
  "keyUsage=critical,keyCertSign,cRLSign"
signed_under kuonly-signer kuonly-ca 80096019

# Critical extensions. An intermediate with an unknown one (Wine chain.c
# chain30, OID 1.2.3: CERT_TRUST_INVALID_EXTENSION and, with the root
# allowed, CERT_E_CRITICAL). A critical CRL distribution point, which
# OpenSSL handles but Windows does not act on (Wine's
# CRYPT_CriticalExtensionsSupported, its implementation, not a test: weak).
# Critical certificate policies Windows does handle (the same source).
rsa_key critical-ca 2048
keyed_cert critical-ca "/CN=SealProbe Test CA With Unknown Critical" root \
  "$ca_ext
1.2.3=critical,DER:30:00"
signed_under critical-signer critical-ca 800b0105
keyed_cert critical-crldp "/CN=SealProbe Test Critical CRL Point" root \
  "$code_ext
crlDistributionPoints=critical,URI:http://crl.example.invalid/root.crl" underca
sign_with "$pki/critical-crldp.crt" underca "$pe/small64.exe" \
  "$files/critical-crldp.exe"
expect critical-crldp.exe 800b0105
keyed_cert critical-policies "/CN=SealProbe Test Critical Policies" root \
  "$code_ext
certificatePolicies=critical,1.2.3.4" underca
sign_with "$pki/critical-policies.crt" underca "$pe/small64.exe" \
  "$files/critical-policies.exe"
expect critical-policies.exe 0

# Policy constraints, as RFC 5280 processing (OpenSSL's) finds them: a CA
# requiring an explicit policy from here on and inhibiting anyPolicy. A
# signer without policies, or with anyPolicy only, leaves no valid policy:
# CERT_TRUST_INVALID_POLICY_CONSTRAINTS ("does not have a required issuance
# policies extension", CERT_TRUST_STATUS documentation), which the policy
# reports as CERT_E_INVALID_POLICY (Wine's WINTRUST_TrustStatusToError, an
# implementation: weak).
rsa_key explicit-ca 2048
keyed_cert explicit-ca "/CN=SealProbe Test CA Requiring A Policy" root \
  "$ca_ext
certificatePolicies=2.5.29.32.0
policyConstraints=critical,requireExplicitPolicy:0
inhibitAnyPolicy=critical,0"
signed_under explicit-none explicit-ca 800b0113
signed_under explicit-any explicit-ca 800b0113 "" "$code_ext
certificatePolicies=2.5.29.32.0"
signed_under explicit-named explicit-ca 0 "" "$code_ext
certificatePolicies=1.2.3.4"

# Keys. RSA under 1024 bits anywhere in a chain: blocked since KB2661254,
# the chain marked CERT_TRUST_IS_NOT_SIGNATURE_VALID (Wine chain.c
# testVerifyCertChainPolicy: its 512-bit self-signed certificate gives
# TRUST_E_CERT_SIGNATURE on Windows 7 and 8). The exemption of signatures
# time-stamped before 2010 is not kept: failing closed. Other keys Windows
# cannot verify a certificate's signature with make that signature not
# valid too: Ed25519, DSA, secp256k1, an exponent of 2^32 or more
# (RSAPUBKEY holds 32 bits). Weak evidence for these: Windows answers
# "Invalid algorithm specified" for an Ed25519 certificate
# (rustls/rustls-platform-verifier issue 195). An exponent of 1 is no key
# (every signature checks against it); with no evidence either way it is
# refused, failing closed. 1024 bits, P-384 and an exponent of 2^32-1 are
# accepted.
rsa_key weak-signer 512
keyed_cert weak-signer "/CN=SealProbe Test 512-bit Signer" root "$code_ext"
sign_with "$pki/weak-signer.crt" weak-signer "$pe/small64.exe" \
  "$files/weak-signer.exe"
expect weak-signer.exe 80096004
rsa_key rsa1024-signer 1024
signed_under rsa1024-signer root 0 rsa1024-signer
rsa_key weak-ca 1023
key ed25519-ca -algorithm ED25519
quiet openssl genpkey -genparam -algorithm DSA \
  -pkeyopt dsa_paramgen_bits:1024 -out "$pki/dsa.param"
key dsa-ca -paramfile "$pki/dsa.param"
ec_key k256-ca secp256k1
ec_key p384-ca P-384
rsa_key bigexp-ca 1024 4294967297
rsa_key maxexp-ca 1024 4294967295
# An RSA key whose exponents are all 1: its "signature" is the padded
# digest itself, which anyone can write. openssl makes no such key; it is
# put together from two primes.
p=$(openssl prime -generate -bits 1024 -hex)
q=$(openssl prime -generate -bits 1024 -hex)
"${PYTHON:-/usr/bin/python3}" - "$p" "$q" > "$pki/e1-ca.cnf" <<'PY'
import sys
p, q = (int(x, 16) for x in sys.argv[1:3])
print("asn1=SEQUENCE:key\n[key]\nversion=INTEGER:0\nn=INTEGER:0x%X" % (p * q))
print("e=INTEGER:1\nd=INTEGER:1\np=INTEGER:0x%X\nq=INTEGER:0x%X" % (p, q))
print("exp1=INTEGER:1\nexp2=INTEGER:1\ncoeff=INTEGER:0x%X" % pow(q, -1, p))
PY
quiet openssl asn1parse -genconf "$pki/e1-ca.cnf" -noout -out "$pki/e1-ca.der"
quiet openssl pkey -inform DER -in "$pki/e1-ca.der" -out "$pki/e1-ca.key"
rm -f "$pki/e1-ca.cnf" "$pki/e1-ca.der"
for c in weak ed25519 dsa k256 bigexp e1; do
  keyed_cert "$c-ca" "/CN=SealProbe Test $c CA" root "$ca_ext"
  signed_under "$c-under" "$c-ca" 80096004
done
for c in p384 maxexp; do
  keyed_cert "$c-ca" "/CN=SealProbe Test $c CA" root "$ca_ext"
  signed_under "$c-under" "$c-ca" 0
done
# Certificate signatures. One made with MD5 below the anchor is blocked for
# code signing and time stamping (Microsoft Security Advisory 2862973; the
# exemption of files signed before March 2009 is not kept), as weak keys
# are: TRUST_E_CERT_SIGNATURE. SHA-1 is still accepted.
for d in md5 sha1; do
  cp "$pki/underca.key" "$pki/$d-ca.key"
  cert_digest=$d
  keyed_cert "$d-ca" "/CN=SealProbe Test $d CA" root "$ca_ext"
  signed_under "$d-signer" root "$(test $d = md5 && echo 80096004 || echo 0)"
  cert_digest=
  signed_under "$d-under" "$d-ca" "$(test $d = md5 && echo 80096004 || echo 0)"
done
# The signer's own key: when Windows cannot verify the signer's signature
# with it, the signature's algorithm is one it does not know, NTE_BAD_ALGID
# as for a signature algorithm that does not fit the key. Judgement, with
# weak support: "Invalid algorithm specified", NTE_BAD_ALGID's text, is
# what Windows answers for the Ed25519 certificate of rustls issue 195.
# P-256 is accepted.
ec_key p256-signer P-256
signed_under p256-signer root 0 p256-signer
for c in dsa k256 bigexp e1; do
  signed_under "$c-signer" root 80090008 "$c-ca"
done

# A stamp that is there has to verify even when the signer's certificate
# is valid now: one by an authority the store does not trust, one by an
# authority with a 512-bit key (the key rules above hold for its chain).
rsa_key weak-tsa 512
keyed_cert weak-tsa "/CN=SealProbe Test 512-bit TSA" root "$signer_ext
extendedKeyUsage=critical,timeStamping"
cat "$pki/weak-tsa.crt" "$pki/root.crt" > "$pki/weak-tsa-chain.pem"
stamp_time=$(date +%s)  # after weak-tsa.crt was issued
sign_stamped tsa-stranger "$pki/leaf.crt" leaf "$pe/small64.exe" \
  "$files/valid-ts-stranger.exe" -time "$stamp_time"
expect valid-ts-stranger.exe 80096005
sign_stamped weak-tsa "$pki/leaf.crt" leaf "$pe/small64.exe" \
  "$files/valid-ts-weak.exe" -time "$stamp_time"
expect valid-ts-weak.exe 80096005
# A good stamp on a signer whose own chain fails: the signer's status.
# WinVerifyTrust runs its provider's steps in order and the first that
# fails decides: the signature step checks the signer's and the
# counter-signer's signatures, the certificate step builds the chains, and
# the final policy judges the signer's chain before the counter-signer's
# (CRYPT_PROVIDER_FUNCTIONS and CRYPT_PROVIDER_DATA's TRUSTERROR_STEP_*
# indices, learn.microsoft.com/windows/win32/api/wintrust/). As for a
# program signed and stamped under roots the store lacks: a self-signed
# signer, and one whose root is not in the signature.
sign_stamped tsa-stranger "$pki/selfsigned.crt" selfsigned "$pe/small64.exe" \
  "$files/selfsigned-ts-stranger.exe" -time "$stamp_time"
expect selfsigned-ts-stranger.exe 800b0109
sign_stamped tsa-stranger "$pki/stranger.crt" stranger "$pe/small64.exe" \
  "$files/stranger-noroot-ts-stranger.exe" -time "$stamp_time"
expect stranger-noroot-ts-stranger.exe 800b010a
unset stamp_time

# Name constraints. A name outside an issuer's permitted subtrees, or inside
# its excluded ones: CERT_E_INVALID_NAME, "not included in the permitted
# list, or ... explicitly excluded" (CERT_CHAIN_POLICY_STATUS,
# learn.microsoft.com). An untrusted root still comes first: Wine chain.c
# chain5, whose root constrains the end certificate's name, is
# CERT_E_UNTRUSTEDROOT in basePolicyCheck and authenticodePolicyCheck.
#
# der_names nc FORM | san FORM | dns NAME: the DER, in openssl's DER: form,
# of a nameConstraints permitting one subtree of FORM (rid, edi, x400,
# othername: that name form; minimum, maximum: a DNS subtree with that
# bound), of a subjectAltName holding a name of FORM, or one holding NAME.
der_names() {
  "${PYTHON:-/usr/bin/python3}" - "$1" "$2" <<'PY'
import sys
def tlv(tag, body):
    n = len(body)
    size = bytes([n]) if n < 0x80 else bytes([0x81, n])
    return bytes([tag]) + size + body
dns = tlv(0x82, b"ok.permitted.test")
names = {"rid": tlv(0x88, b"\x2a\x03\x04"),
         "edi": tlv(0xa5, tlv(0xa1, tlv(0x0c, b"x"))),
         "x400": tlv(0xa3, tlv(0x30, b"")),
         "othername": tlv(0xa0, tlv(0x06, b"\x2a\x03\x04") +
                          tlv(0xa0, tlv(0x0c, b"x"))),
         "minimum": dns, "maximum": dns}
bounds = {"minimum": tlv(0x80, b"\x01"), "maximum": tlv(0x81, b"\x01")}
kind, arg = sys.argv[1:]
if kind == "nc":
    der = tlv(0x30, tlv(0xa0, tlv(0x30, names[arg] + bounds.get(arg, b""))))
else:
    der = tlv(0x30, tlv(0x82, arg.encode()) if kind == "dns" else names[arg])
print(":".join("%02X" % b for b in der))
PY
}
nc_ext="$ca_ext
nameConstraints=critical,permitted;DNS:permitted.test,excluded;DNS:no.permitted.test"
rsa_key nc-ca 2048
keyed_cert nc-ca "/CN=SealProbe Test Name-Constrained CA" root "$nc_ext"
for n in inside:ok.permitted.test:0 outside:other.test:800b0114 \
         excluded:x.no.permitted.test:800b0114; do
  signed_under "nc-${n%%:*}" nc-ca "${n##*:}" "" "$code_ext
subjectAltName=DNS:$(echo "$n" | cut -d: -f2)"
done
# Windows reads the legacy subjectAltName (2.5.29.7) as it reads 2.5.29.17.
# Wine chain.c chain19 (a root permitting a.com, above a certificate whose
# 2.5.29.7 names a.com) and chain21 (A.com above a.COM) have no name error
# on Windows, only CERT_TRUST_HAS_VALID_NAME_CONSTRAINTS; chain20 (a.com
# above b.com) has CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT. The same
# shapes, under roots the store trusts, and one under nc-ca.
for r in wine-a:a.com wine-A:A.com; do
  cp "$pki/underca.key" "$pki/${r%%:*}.key"
  quiet openssl req -x509 -new -key "$pki/${r%%:*}.key" -sha256 -days 3650 \
    -subj "/CN=SealProbe Test ${r%%:*} Root" -out "$pki/${r%%:*}.crt" \
    -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign" \
    -addext "nameConstraints=critical,permitted;DNS:${r#*:}"
  cat "$pki/${r%%:*}.crt" >> "$pki/anchors.pem"
done
# The anchor itself is not checked as a CA: RFC 5280 (6.1) takes it as an
# input, and checks basic constraints (6.1.4 (k)) and certificate signing
# in the key usage ((n)) on the certificates below it only. Windows keeps
# trusting Microsoft Root Authority of 1997, whose one extension is an
# authority key identifier (KB293781). A root without basic constraints
# whose key usage leaves out certificate signing anchors a valid
# signature; below it, the same intermediate as kuonly-ca still fails.
printf '[req]\ndistinguished_name = dn\n[dn]\n' > "$pki/bare.cnf"
quiet openssl req -x509 -new -key "$pki/underca.key" -sha256 -days 3650 \
  -config "$pki/bare.cnf" -subj "/CN=SealProbe Test Root Not A CA" \
  -addext "keyUsage=digitalSignature,cRLSign" -out "$pki/notca-root.crt"
for k in notca-root notca-kuonly; do cp "$pki/underca.key" "$pki/$k.key"; done
cat "$pki/notca-root.crt" >> "$pki/anchors.pem"
signed_under notca-anchored notca-root 0
keyed_cert notca-kuonly "/CN=SealProbe Test CA Without Basic Constraints 2" \
  notca-root "keyUsage=critical,keyCertSign,cRLSign"
signed_under notca-below notca-kuonly 80096019
for n in wine19:wine-a:a.com:0 wine20:wine-a:b.com:800b0114 \
         wine21:wine-A:a.COM:0 nc-legacy:nc-ca:ok.permitted.test:0; do
  set -- $(echo "$n" | tr : ' ')
  signed_under "$1" "$2" "$4" "" "$code_ext
2.5.29.7=DER:$(der_names dns "$3")"
done
# Forms Windows does not support in name constraints, whatever names the
# certificates below carry: "The minimum and maximum fields are not
# supported ... Only UPN is supported for an Other Name ... X400 Address,
# EDI Party Name, Registered Id" are not (CERT_TRUST_HAS_NOT_SUPPORTED_
# NAME_CONSTRAINT, CERT_TRUST_STATUS structure, learn.microsoft.com); RFC
# 5280 4.2.1.10 has minimum 0 and no maximum. A signer with a name of the
# form, and one with no subjectAltName.
for form in rid edi x400 othername minimum maximum; do
  cp "$pki/underca.key" "$pki/nc-$form-ca.key"
  keyed_cert "nc-$form-ca" "/CN=SealProbe Test CA Constraining $form" root \
    "$ca_ext
2.5.29.30=critical,DER:$(der_names nc $form)"
  signed_under "nc-$form-with" "nc-$form-ca" 800b0114 "" "$code_ext
subjectAltName=DER:$(der_names san $form)"
  signed_under "nc-$form-without" "nc-$form-ca" 800b0114
done
# OpenSSL's name check cannot match an internationalised mailbox against an
# email subtree that is no valid A-label, and says only
# X509_V_ERR_UNSPECIFIED, as it does past its own ceiling on names times
# constraints: a name that cannot be checked.
cp "$pki/underca.key" "$pki/nc-eai-ca.key"
keyed_cert nc-eai-ca "/CN=SealProbe Test CA Constraining Mail" root "$ca_ext
nameConstraints=critical,permitted;email:xn--zz9999999999999999999.test"
signed_under nc-eai nc-eai-ca 800b0114 "" "$code_ext
subjectAltName=otherName:1.3.6.1.5.5.7.8.9;UTF8:u@xn--zz9999999999999999999.test"
cp "$pki/nc-ca.key" "$pki/nc-stranger-ca.key"
keyed_cert nc-stranger-ca "/CN=SealProbe Test Unknown Name-Constrained CA" \
  stranger-root "$nc_ext"
keyed_cert nc-stranger "/CN=SealProbe Test nc-stranger" nc-stranger-ca \
  "$code_ext
subjectAltName=DNS:other.test" underca
cat "$pki/nc-stranger.crt" "$pki/nc-stranger-ca.crt" "$pki/stranger-root.crt" \
  > "$pki/nc-stranger-chain.pem"
sign_with "$pki/nc-stranger-chain.pem" underca "$pe/small64.exe" \
  "$files/nc-stranger.exe"
expect nc-stranger.exe 800b0109

# Lists as long as real ones: an issuer with 70 permitted subtrees above a
# signer with 70 names, and a TLS certificate with 100 names riding in the
# signature, are valid. So is a file whose nested signature carries more
# certificates than a signature may: Windows does not verify nested
# signatures by default. What bounds the work is the budget on matching
# names against constraints: 500 subtrees above 600 names are over it, a
# name that cannot be checked.
many() {  # field count value: "field.N=value" lines, value's %d being N
  i=0
  while [ "$i" -lt "$2" ]; do printf "%s.%d=$3\n" "$1" "$i" "$i"; i=$((i + 1)); done
}
for n in lists:70:70:0 budget:500:600:800b0114; do
  set -- $(echo "$n" | tr : ' ')
  cp "$pki/underca.key" "$pki/nc-$1-ca.key"
  keyed_cert "nc-$1-ca" "/CN=SealProbe Test CA With $2 Subtrees" root "$ca_ext
nameConstraints=critical,@nc
[nc]
$(many 'permitted;DNS' "$2" 's%d.test')"
  signed_under "nc-$1" "nc-$1-ca" "$4" "" "$code_ext
subjectAltName=@san
[san]
$(many DNS "$3" 'x.s%d.test')"
done
keyed_cert tls-100 "/CN=SealProbe Test TLS Server" root "$signer_ext
extendedKeyUsage=serverAuth
subjectAltName=@san
[san]
$(many DNS 100 'www%d.example.test')" underca
cat "$pki/leaf.crt" "$pki/tls-100.crt" > "$pki/leaf-tls-100.pem"
sign_with "$pki/leaf-tls-100.pem" leaf "$pe/small64.exe" "$files/tls-bag.exe"
expect tls-bag.exe 0
for i in $(seq 70); do cat "$pki/root.crt"; done > "$pki/root-70.pem"
cat "$pki/selfsigned.crt" "$pki/root-70.pem" > "$pki/nested-70.pem"
sign_with "$pki/nested-70.pem" selfsigned "$files/valid.exe" \
  "$files/nested-overcap.exe" -nest -h sha1
expect nested-overcap.exe 0

# Past 1,000 nodes, OpenSSL's RFC 5280 policy tree stops growing and the
# policy check gives up (pcy_tree.c): 15 CAs and a signer with the same 64
# policies make 1,025. The policy cannot be shown valid: CERT_E_INVALID_POLICY.
# (A cap-* fixture sits at a cap on purpose.)
policies=$(seq -s, -f '1.2.3.%g' 64)
issuer=root; : > "$pki/pol-chain.pem"
for i in $(seq 15); do
  cp "$pki/underca.key" "$pki/pol$i.key"
  keyed_cert "pol$i" "/CN=SealProbe Test Policy CA $i" "$issuer" "$ca_ext
certificatePolicies=$policies"
  cat "$pki/pol$i.crt" >> "$pki/pol-chain.pem"
  issuer=pol$i
done
keyed_cert pol-signer "/CN=SealProbe Test Policy Signer" "$issuer" "$code_ext
certificatePolicies=$policies" underca
cat "$pki/pol-signer.crt" "$pki/pol-chain.pem" > "$pki/pol-signer-chain.pem"
sign_with "$pki/pol-signer-chain.pem" underca "$pe/small64.exe" \
  "$files/cap-policies.exe"
expect cap-policies.exe 800b0113

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

# --- Certificate sets as CMS reads them --------------------------------------
# Besides X.509 certificates, a SignedData's certificate set may hold the
# other choices of RFC 5652's CertificateChoices: extended [0], attribute
# [1] and [2], and other [3] certificates. Microsoft's time-stamp service
# puts a version-1 attribute certificate beside the X.509 ones in its
# tokens, and Windows reads them: its message layer keeps attribute
# certificates apart from certificates (CryptMsgGetParam's
# CMSG_ATTR_CERT_COUNT_PARAM and CMSG_ATTR_CERT_PARAM, and
# CMSG_SIGNED_ENCODE_INFO's rgAttrCertEncoded, learn.microsoft.com). So
# they are skipped, never chain certificates: expired-ts.exe with one in
# its token, under each choice's tag, and valid.exe with one in its own set
# still verify. Under no choice's tag ([4]) the token is still malformed.
# Leaving one out shortens every length around it, and a length may then
# take fewer octets: with an extension of 65,000 octets in it, the set and
# the three elements around it fall from 65,536 octets or more to fewer,
# in the signature, in a token and in a nested signature (dual-signed.exe's),
# which all still verify. A set holding nothing but one is a signature
# without its signer's certificate.
#
# The attribute certificate, an AttributeCertificateV1 (RFC 5652, 12.2)
# whose holder is tsa.crt, is made and signed here with tsa.key.
attr_cert_in() {  # token|nested|outer|alone tag in out [extension-size]
  quiet "${PYTHON:-/usr/bin/python3}" - "$here/../../testing" "$pki" "$@" <<'PY'
import subprocess, sys
sys.path.insert(0, sys.argv[1])
from harness import Der, PeLayout, certificate_entry, tlv, with_certificate_table
pki, where, tag, src, dst = sys.argv[2:7]
padding = int(sys.argv[7]) if len(sys.argv) > 7 else 0
def run(*args, data=None):
    return subprocess.run(args, input=data, capture_output=True,
                          check=True).stdout
def seq(*parts):
    return tlv(0x30, b"".join(parts))
tsa = run("openssl", "x509", "-in", pki + "/tsa.crt", "-outform", "DER")
serial, issuer, subject = (Der(tsa).kids[0].kids[i].encode() for i in (1, 3, 5))
algorithm = seq(tlv(0x06, bytes.fromhex("2a864886f70d01010b")), b"\5\0")
info = seq(tlv(0xa0, seq(seq(tlv(0xa4, issuer)), serial)),  # holder
           seq(tlv(0xa4, subject)), algorithm, tlv(0x02, b"\1"),
           seq(tlv(0x18, b"20100101000000Z"), tlv(0x18, b"20400101000000Z")),
           seq(seq(tlv(0x06, bytes.fromhex("550448")),  # role
                   tlv(0x31, seq(tlv(0xa1, tlv(0x86, b"urn:test:tsa")))))),
           # an extension of `padding` octets, 2.25.1 (a UUID arc)
           seq(seq(tlv(0x06, b"\x69\x01"), tlv(0x04, tlv(0x04, bytes(padding)))))
           if padding else b"")
value = run("openssl", "dgst", "-sha256", "-sign", pki + "/tsa.key", data=info)
cert = Der(tlv(int(tag, 16), info + algorithm + tlv(0x03, b"\0" + value)))
data = open(src, "rb").read()
content_info = Der(data, PeLayout(data).blob)
signed = content_info.kids[1].kids[0]
if where in ("token", "nested"):
    unsigned = [k for k in signed.kids[-1].kids[0].kids if k.tag == 0xa1][0]
    oid = bytes.fromhex("2b060104018237030301" if where == "token"
                        else "2b060104018237020401")
    attribute = [a for a in unsigned.kids if a.kids[0].body == oid][0]
    signed = attribute.kids[1].kids[0].kids[1].kids[0]
certificates = [k for k in signed.kids if k.tag == 0xa0][0]
if where == "alone":
    certificates.kids = []
certificates.kids.append(cert)
table = certificate_entry(content_info.encode())
open(dst, "wb").write(with_certificate_table(data, table))
PY
}
for t in 0 1 2 3 4; do
  attr_cert_in token "0xa$t" "$files/expired-ts.exe" "$files/attrcert-ts-a$t.exe"
  expect "attrcert-ts-a$t.exe" "$(test $t = 4 && echo 80096005 || echo 0)"
done
attr_cert_in outer 0xa1 "$files/valid.exe" "$files/attrcert.exe"
expect attrcert.exe 0
attr_cert_in outer 0xa1 "$files/valid.exe" "$files/attrcert-64k.exe" 65000
attr_cert_in token 0xa1 "$files/expired-ts.exe" "$files/attrcert-ts-64k.exe" 65000
attr_cert_in nested 0xa1 "$files/dual-signed.exe" \
  "$files/attrcert-nested-64k.exe" 65000
for f in attrcert-64k.exe attrcert-ts-64k.exe attrcert-nested-64k.exe; do
  expect "$f" 0
done
attr_cert_in alone 0xa1 "$files/valid.exe" "$files/attrcert-alone.exe"
expect attrcert-alone.exe 80096002

# --- Signatures in later certificate-table entries ---------------------------
# Windows decides by the first entry alone. later-entries.exe is valid.exe
# with two more entries: sha1.exe's signature, valid over the same image,
# then selfsigned.exe's, whose root is not trusted.
with_later_entries() {  # in out donor...
  quiet "${PYTHON:-/usr/bin/python3}" - "$here/../../testing" "$@" <<'PY'
import sys
sys.path.insert(0, sys.argv[1])
from harness import Der, PeLayout, certificate_entry, with_certificate_table
src, dst, donors = sys.argv[2], sys.argv[3], sys.argv[4:]
data = open(src, "rb").read()
table = data[PeLayout(data).cert_offset:]
for donor in donors:
    signed = open(donor, "rb").read()
    table += certificate_entry(Der(signed, PeLayout(signed).blob).encode())
open(dst, "wb").write(with_certificate_table(data, table))
PY
}
with_later_entries "$files/valid.exe" "$files/later-entries.exe" \
  "$files/sha1.exe" "$files/selfsigned.exe"
expect later-entries.exe 0

# --- Bytes after the signature ----------------------------------------------
# A certificate-table entry holding 16 bytes after valid.exe's PKCS#7 and
# its padding, as a modified vendor binary does: Windows still calls it
# signed, and the verifier counts them.
quiet "${PYTHON:-/usr/bin/python3}" - "$here/../../testing" \
  "$files/valid.exe" "$files/trailing.exe" <<'PY'
import sys
sys.path.insert(0, sys.argv[1])
from harness import Der, PeLayout, certificate_entry, with_certificate_table
data = open(sys.argv[2], "rb").read()
der = Der(data, PeLayout(data).blob).encode()
der += bytes(-len(der) % 8) + b"TRAILING" * 2
open(sys.argv[3], "wb").write(with_certificate_table(data, certificate_entry(der)))
PY
expect trailing.exe 0

# --- Windows Installer packages ------------------------------------------------
# Packages built with wixl, signed with osslsigncode with and without the
# \x05MsiDigitalSignatureEx stream (-add-msi-dse), then changed after
# signing. The digest (msi_package.h) covers every stream's bytes and each
# storage's CLSID in the order of the raw names, and with that stream the
# entries' names, sizes, times and state bits too (osslsigncode's msi.c,
# msi_hash_dir and msi_prehash_dir): a name changed where the streams keep
# their order is caught only with it.
#
#   OUT/msi/small.msi    a package of 10 kB: its cabinet a stream of whole
#                        sectors, its tables in the mini stream
#   OUT/msi/big.msi      of 8 MB: its FAT outgrows the header's 109 sectors,
#                        so that DIFAT sectors list the rest (checked below;
#                        osslsigncode signs it as a version 4 file, of 4 KiB
#                        sectors, which msi-big-v3.msi rewrites as version 3)
#   OUT/msi/storages.msi a storage, names whose octet order is not
#                        [MS-CFB]'s tree order, an empty stream (no storage
#                        in a storage nor an empty one: osslsigncode 2.9
#                        links their siblings wrongly when it signs)
msi="$out/msi"
mkdir -p "$msi"
make_msi() {  # name payload-bytes
  head -c "$2" /dev/urandom > "$msi/$1.bin"
  cat > "$msi/$1.wxs" <<WXS
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="5EA1960B-0000-4000-8000-00000000000$3" Name="Tarvo $1"
           Language="1033" Version="7.0.0" Manufacturer="Tarvo"
           UpgradeCode="5EA1960B-0000-4000-8000-0000000000A$3">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="product.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="Tarvo">
          <Component Id="Payload" Guid="5EA1960B-0000-4000-8000-0000000000B$3">
            <File Id="Payload" Source="$1.bin" KeyPath="yes"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Complete" Level="1"><ComponentRef Id="Payload"/></Feature>
  </Product>
</Wix>
WXS
  (cd "$msi" && quiet wixl -o "$1.msi" "$1.wxs")
}
make_msi small 10000 1
make_msi big 8000000 2
quiet "${PYTHON:-/usr/bin/python3}" - "$here/../../testing" "$msi" <<'PY'
import sys
sys.path.insert(0, sys.argv[1])
from harness import CompoundLayout, write_compound
msi = sys.argv[2]
if not CompoundLayout(open(msi + "/big.msi", "rb").read()).difat_sectors:
    sys.exit("big.msi has no DIFAT sector")
package = bytes.fromhex("84100c0000000000c000000000000046")
# [MS-CFB]'s tree puts "b" before "AA" (shorter first) and "A" before
# U+0100; the digest's octet order puts "AA" (41 00 41 00) before "b"
# (62 00), and U+0100 (00 01) before "A".
open(msi + "/storages.msi", "wb").write(write_compound(("", package, [
    ("b", b"short"), ("AA", b"a whole-sector stream " * 200),
    ("A", b"A"), ("\u0100", b"low octet first"),
    ("sub", bytes(range(16)), [("x", b"in a storage"), ("empty", b"")])])))
open(msi + "/other.doc", "wb").write(write_compound(
    ("", bytes(16), [("WordDocument", b"not an installer")])))
PY
cp "$msi/small.msi" "$files/msi-unsigned.msi"
expect msi-unsigned.msi 800b0100
cp "$msi/other.doc" "$files/notinstaller.doc"
expect notinstaller.doc 800b0003
sign "$msi/small.msi" "$files/msi-valid.msi" -h sha256
expect msi-valid.msi 0
sign "$msi/small.msi" "$files/msi-dse.msi" -h sha256 -add-msi-dse
expect msi-dse.msi 0
sign "$files/msi-valid.msi" "$files/msi-nested.msi" -nest -h sha1
expect msi-nested.msi 0
sign "$msi/big.msi" "$files/msi-big.msi" -h sha1 -add-msi-dse
expect msi-big.msi 0
sign "$msi/storages.msi" "$files/msi-storages.msi" -h sha384 -add-msi-dse
expect msi-storages.msi 0
# Changed after signing, each in one place; and rewritten by another
# writer (harness.write_compound), the same entries in another layout,
# once as signed and once with bytes after the PKCS#7 in its stream:
# whether Windows reads past them there is not documented, so they fail
# closed, as a malformed signature.
quiet "${PYTHON:-/usr/bin/python3}" - "$here/../../testing" "$files" <<'PY'
import sys
sys.path.insert(0, sys.argv[1])
from harness import STREAM, CompoundLayout, write_compound
files = sys.argv[2]
summary, signature = "\x05SummaryInformation", "\x05DigitalSignature"

def byte_of(layout, entry, offset):
    for start, size in layout.pieces(entry):
        if offset < size:
            return start + offset
        offset -= size

def changed(source, name, where, to=None):
    data = bytearray(open(files + "/" + source, "rb").read())
    at = where(CompoundLayout(data))
    data[at] = data[at] ^ 1 if to is None else to
    open(files + "/" + name, "wb").write(data)

def biggest(layout):
    return max((e for e in layout.entries if e.type == STREAM),
               key=lambda e: e.size)

def last_letter(layout):
    return layout.named(summary).offset + 2 * len(summary) - 2

changed("msi-valid.msi", "msi-tampered.msi",
        lambda l: byte_of(l, biggest(l), 100))
changed("msi-dse.msi", "msi-dse-tampered.msi",
        lambda l: byte_of(l, l.named(summary), 100))
changed("msi-valid.msi", "msi-renamed.msi",
        lambda l: l.named(summary).offset, 0x7F)
changed("msi-valid.msi", "msi-renamed-kept.msi", last_letter, ord("N"))
changed("msi-dse.msi", "msi-dse-renamed-kept.msi", last_letter, ord("N"))
changed("msi-valid.msi", "msi-clsid.msi", lambda l: l.entries[0].offset + 0x50,
        0x86)
changed("msi-storages.msi", "msi-storages-clsid.msi",
        lambda l: l.named("sub").offset + 0x50)
changed("msi-valid.msi", "msi-badsig.msi",
        lambda l: byte_of(l, l.named(signature), l.named(signature).size - 10))
big = write_compound(CompoundLayout(
    open(files + "/msi-big.msi", "rb").read()).tree())
if not CompoundLayout(big).difat_sectors:
    sys.exit("msi-big-v3.msi has no DIFAT sector")
open(files + "/msi-big-v3.msi", "wb").write(big)
name, clsid, kids = CompoundLayout(
    open(files + "/msi-valid.msi", "rb").read()).tree()
open(files + "/msi-rewritten.msi", "wb").write(
    write_compound((name, clsid, kids)))
kids = [(k[0], k[1] + b"TRAILING") if k[0] == signature else k for k in kids]
open(files + "/msi-trailing.msi", "wb").write(
    write_compound((name, clsid, kids)))
PY
expect msi-tampered.msi 80096010
expect msi-dse-tampered.msi 80096010
expect msi-renamed.msi 80096010
expect msi-renamed-kept.msi 0
expect msi-dse-renamed-kept.msi 80096010
expect msi-clsid.msi 80096010
expect msi-storages-clsid.msi 80096010
expect msi-badsig.msi 80096010
expect msi-rewritten.msi 0
expect msi-big-v3.msi 0

# --- Windows' root program ---------------------------------------------------
# Folders laid out as certutil -syncWithWU writes them, made from the
# formats' public descriptions by make_windows_trust.py: the root list
# signed by ctl-signer.crt (with the root list signer's usage, as
# Microsoft's is), each listed root as <SHA1>.crt.
#
#   OUT/windows/program   authrootstl.cab listing root and broot for code
#                         signing and time stamping (root with a NotBefore
#                         date of 2100, broot with an empty one, as some of
#                         Microsoft's are), broot's body in roots.sst, and
#                         disallowedcert.stl naming, as Microsoft's does, by
#                         signature hash distrusted.crt (SHA-256), sha1-ca
#                         (SHA-1) and md5-ca (MD5), and sha1-signer by the
#                         MD5 of its key
#   OUT/windows/eku-tls   root for server authentication only; broot
#                         disabled for code signing from 2020-01-01
#   OUT/windows/notbefore root and broot with NotBefore 2000-01-01, broot's
#                         for code signing only
#   OUT/windows/disable   root and broot disabled from 2021-01-01
#   OUT/windows/bare      program without root's certificate, which only
#                         a signature that carries it supplies
#   OUT/windows/cross     xroot for server authentication only, root for
#                         code signing and time stamping
#   OUT/windows/nonder-*  certificates written with a longer length than
#                         DER's, named by their bytes as they are: leaf in
#                         disallowedcert.sst (-sst) or by SHA-1 in the
#                         Disallowed list (-list); root for server
#                         authentication only (-root)
# The verdicts are rows of authenticode_test.cpp's OtherTimesAndAnchors,
# with the evidence for each rule.
windows="$out/windows"
mkdir -p "$windows" && : > "$windows/expected.txt"
make_trust() { quiet "${PYTHON:-/usr/bin/python3}" "$here/../root_program/testdata/make_windows_trust.py" "$@"; }
make_cert ctl-signer "/CN=SealProbe Test CTL Signer" root "$signer_ext
extendedKeyUsage=1.3.6.1.4.1.311.10.3.9"
sha1_of() { openssl x509 -in "$1" -noout -fingerprint -sha1 | cut -d= -f2 | tr -d :; }
trust_folder() {  # name root...: a root is a pki name, then properties
  folder="$windows/$1"; shift
  rm -rf "$folder" && mkdir -p "$folder"
  roots=""
  for root in "$@"; do
    roots="$roots $pki/$root"
    quiet openssl x509 -in "$pki/${root%%,*}" -outform DER \
      -out "$folder/$(sha1_of "$pki/${root%%,*}").crt"
  done
  # shellcheck disable=SC2086
  make_trust ctl "$folder/authroot.stl" roots "$pki/ctl-signer.crt" \
    "$pki/ctl-signer.key" $roots
}
trust_folder program root.crt,eku=cs+ts,notbefore=2100-01-01 \
  broot.crt,eku=cs+ts,notbefore=
(cd "$windows/program" && quiet gcab -c -z authrootstl.cab authroot.stl &&
  rm authroot.stl "$(sha1_of "$pki/broot.crt").crt")
make_trust sst "$windows/program/roots.sst" "$pki/broot.crt"
make_trust ctl "$windows/program/disallowedcert.stl" disallowed-hash \
  "$pki/ctl-signer.crt" "$pki/ctl-signer.key" "$pki/distrusted.crt" \
  "$pki/sha1-ca.crt" "$pki/md5-ca.crt" "$pki/sha1-signer.crt,id=keymd5"
expect_under() { echo "$1 $2 $3" >> "$windows/expected.txt"; }
expect_under program distrusted.exe 800b0111
expect_under program sha1-under.exe 800b0111
expect_under program md5-under.exe 800b0111
expect_under program sha1-signer.exe 800b0111
rm -rf "$windows/bare" && cp -R "$windows/program" "$windows/bare" &&
  rm "$windows/bare/$(sha1_of "$pki/root.crt").crt"

# Windows knows a certificate by its bytes as they came; OpenSSL re-encodes
# what it decodes. leaf.crt and root.crt with their outer length in one
# octet more than DER allows, and valid.exe carrying that leaf.
long_form() {  # in.pem out.der
  openssl x509 -in "$1" -outform DER | "${PYTHON:-/usr/bin/python3}" -c '
import sys
der = sys.stdin.buffer.read()
n = int.from_bytes(der[2:4], "big")
assert der[1] == 0x82 and n == len(der) - 4
sys.stdout.buffer.write(b"\x30\x83\x00" + der[2:])' > "$2"
}
long_form "$pki/leaf.crt" "$pki/leaf-long.der"
long_form "$pki/root.crt" "$pki/root-long.der"
quiet "${PYTHON:-/usr/bin/python3}" - "$here/../../testing" "$pki" \
  "$files/valid.exe" "$files/long-leaf.exe" <<'PY'
import subprocess, sys
sys.path.insert(0, sys.argv[1])
from harness import Der, PeLayout, certificate_entry, with_certificate_table
pki, src, dst = sys.argv[2:]
class Raw:
    def __init__(self, data):
        self.data = data
    def encode(self):
        return self.data
leaf = subprocess.run(["openssl", "x509", "-in", pki + "/leaf.crt",
                       "-outform", "DER"], capture_output=True, check=True).stdout
data = open(src, "rb").read()
content_info = Der(data, PeLayout(data).blob)
certs = [k for k in content_info.kids[1].kids[0].kids if k.tag == 0xa0][0]
certs.kids = [Raw(open(pki + "/leaf-long.der", "rb").read())
              if k.encode() == leaf else k for k in certs.kids]
table = certificate_entry(content_info.encode())
open(dst, "wb").write(with_certificate_table(data, table))
PY
expect long-leaf.exe 0
rm -rf "$windows/nonder-sst" && cp -R "$windows/program" "$windows/nonder-sst"
make_trust sst "$windows/nonder-sst/disallowedcert.sst" "$pki/leaf-long.der"
rm -rf "$windows/nonder-list" && cp -R "$windows/program" "$windows/nonder-list"
make_trust ctl "$windows/nonder-list/disallowedcert.stl" disallowed \
  "$pki/ctl-signer.crt" "$pki/ctl-signer.key" "$pki/leaf-long.der"
expect_under nonder-sst long-leaf.exe 800b0111
expect_under nonder-list long-leaf.exe 800b0111
expect_under program long-leaf.exe 0
trust_folder nonder-root broot.crt,eku=cs+ts
make_trust ctl "$windows/nonder-root/authroot.stl" roots \
  "$pki/ctl-signer.crt" "$pki/ctl-signer.key" "$pki/root-long.der,eku=tls" \
  "$pki/broot.crt,eku=cs+ts"
cp "$pki/root-long.der" "$windows/nonder-root/root-long.crt"
expect_under nonder-root valid.exe 800b0110
# Lists that must not load (windows_roots_test.cpp): an EKU property whose
# number is written with a needless octet (80 09 for 9), which Windows'
# decoder reads as 9; a NotBefore of three octets; nine roots of one
# subject.
trust_folder nonminimal root.crt,eku-nonminimal=tls broot.crt,eku=cs+ts
trust_folder shortdate root.crt,eku=cs+ts,raw=126:000102
for i in 1 2 3 4 5 6 7 8 9; do
  make_root "twin$i" "/CN=SealProbe Test Twin Root"
done
trust_folder twins twin1.crt twin2.crt twin3.crt twin4.crt twin5.crt \
  twin6.crt twin7.crt twin8.crt twin9.crt
trust_folder eku-tls root.crt,eku=tls \
  broot.crt,eku=cs+ts,disable=2020-01-01,disable-eku=cs
trust_folder notbefore root.crt,eku=cs+ts,notbefore=2000-01-01 \
  broot.crt,eku=cs+ts,notbefore=2000-01-01,notbefore-eku=cs
trust_folder disable root.crt,eku=cs+ts,disable=2021-01-01 \
  broot.crt,eku=cs+ts,disable=2021-01-01
# Two paths up: cross.exe carries xroot (self-signed) and xroot's
# certificate issued by root; cross-direct.exe carries only its signer.
# Under anchors.pem xroot is no anchor; in OUT/windows/cross it is listed
# for server authentication only, and root for code signing.
make_root xroot "/CN=SealProbe Test Cross Root"
make_cert xleaf "/CN=SealProbe Test Cross Signer" xroot "$code_ext"
keyed_cert xroot-cross "/CN=SealProbe Test Cross Root" root "$ca_ext" xroot
cat "$pki/xleaf.crt" "$pki/xroot.crt" "$pki/xroot-cross.crt" \
  > "$pki/xleaf-cross.pem"
sign_with "$pki/xleaf-cross.pem" xleaf "$pe/small64.exe" "$files/cross.exe"
sign_with "$pki/xleaf.crt" xleaf "$pe/small64.exe" "$files/cross-direct.exe"
expect cross.exe 0
expect cross-direct.exe 800b010a
trust_folder cross root.crt,eku=cs+ts xroot.crt,eku=tls

# Lists signed as Microsoft signs its own, for sealprobe-roots: under a root
# of their own (ctl-root, which the list names) through an intermediate the
# list carries (ctl-ca), by a signer that expired yesterday (ctl-expired);
# ctl-nousage lacks the root list signer's usage.
#   OUT/windows/chained   a root list so signed, dated 2024-06-01
list_usage="extendedKeyUsage=1.3.6.1.4.1.311.10.3.9"
dated_cert ctl-root "/CN=SealProbe Test List Root" -self \
  20100101000000Z 20400101000000Z "$ca_ext"
dated_cert ctl-ca "/CN=SealProbe Test List CA" ctl-root \
  20100101000000Z 20400101000000Z "$ca_ext
$list_usage"
yesterday="$(date -u -d yesterday +%Y%m%d%H%M%SZ)"
dated_cert ctl-expired "/CN=SealProbe Test List Signer" ctl-ca \
  20200101000000Z "$yesterday" "$signer_ext
$list_usage"
dated_cert ctl-nousage "/CN=SealProbe Test Code Signer" ctl-ca \
  20200101000000Z 20400101000000Z "$code_ext"
mkdir -p "$windows/chained"
make_trust --this-update 2024-06-01 --chain "$pki/ctl-ca.crt" \
  ctl "$windows/chained/authroot.stl" roots "$pki/ctl-expired.crt" \
  "$pki/ctl-expired.key" "$pki/ctl-root.crt" "$pki/root.crt,eku=cs+ts,notbefore="

# The image hashes osslsigncode computes, to check ours against:
# name, digest algorithm, hash in upper-case hexadecimal. An installer's
# is its "DigitalSignature" (its "message digest" is of the whole file).
: > "$files/digests.txt"
for f in "$files"/*.exe "$files"/*.msi; do
  osslsigncode verify -in "$f" 2>/dev/null | awk -v name="$(basename "$f")" '
    /^Message digest algorithm *:/ { alg = $NF }
    /^Calculated (message digest|DigitalSignature) *:/ && !done {
      for (i = 1; i < NF; i++) if ($i == ":") break
      print name, alg, $(i + 1); done = 1
    }
  ' >> "$files/digests.txt"
done
