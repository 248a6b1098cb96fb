#!/usr/bin/env python3
"""Writes Windows' root-program files from their public descriptions, for
tests: a certificate trust list ([MS-CAESO]'s CertificateTrustList in a
PKCS#7 SignedData, its subjects' properties as 1.3.6.1.4.1.311.10.11.<id>
attributes) and a serialized store (Wine's dlls/crypt32/serialize.c).

  make_windows_trust.py ctl OUT KIND SIGNER_CERT SIGNER_KEY [SUBJECT...]
      KIND: roots (subjectUsage 1.3.6.1.4.1.311.10.3.9, subjects by
      SHA-1), disallowed (1.3.6.1.4.1.311.10.3.30, by SHA-1) or
      disallowed-hash (the same, by signature hash, subjectAlgorithm
      1.3.6.1.4.1.311.10.11.15, as Microsoft's is). SUBJECT:
      CERT[,PROPERTY=VALUE...] with eku, notbefore-eku, disable-eku (a list
      of cs, ts, tls joined by +) and notbefore, disable (YYYY-MM-DD, or
      nothing for an empty value, as some of Microsoft's are); raw=ID:HEX,
      property ID holding the octets HEX; eku-nonminimal, eku whose
      property number is written with a needless 0x80 octet; and, for
      disallowed-hash, id=keymd5 (the MD5 of the certificate's public key,
      not its signature hash). Like Microsoft's, the list has extensions
      ([0]) and no nextUpdate. The signer signs with SHA-256. Options,
      before `ctl`: --sequence HEX, --this-update YYYY-MM-DD (also the
      signing time), --chain PEM (certificates the SignedData carries
      besides the signer's, such as its CA).
  make_windows_trust.py sst OUT CERT...

Certificates are PEM or DER files.
"""
import base64
import datetime
import hashlib
import os
import subprocess
import sys
import tempfile


def der(tag, body):
    n = len(body)
    if n < 0x80:
        length = bytes([n])
    else:
        octets = n.to_bytes((n.bit_length() + 7) // 8, "big")
        length = bytes([0x80 | len(octets)]) + octets
    return bytes([tag]) + length + body


def seq(*items):
    return der(0x30, b"".join(items))


def oid(dotted):
    parts = [int(p) for p in dotted.split(".")]
    body = bytes([40 * parts[0] + parts[1]])
    for p in parts[2:]:
        chunk = [p & 0x7F]
        while p > 0x7F:
            p >>= 7
            chunk.insert(0, 0x80 | (p & 0x7F))
        body += bytes(chunk)
    return der(0x06, body)


def read_elements(data):
    """The (tag, whole encoding, contents) of each element in `data`."""
    out, at = [], 0
    while at < len(data):
        tag, n, head = data[at], data[at + 1], 2
        if n & 0x80:
            k = n & 0x7F
            n, head = int.from_bytes(data[at + 2:at + 2 + k], "big"), 2 + k
        out.append((tag, data[at:at + head + n], data[at + head:at + head + n]))
        at += head + n
    return out


def read_cert(path):
    with open(path, "rb") as f:
        data = f.read()
    if data.startswith(b"-----"):
        body = data.split(b"-----")[2]
        data = base64.b64decode(b"".join(body.split()))
    return data


def read_certs(path):
    """Every certificate of a PEM file, as DER."""
    blocks = open(path, "rb").read().split(b"-----BEGIN CERTIFICATE-----")[1:]
    return [base64.b64decode(b"".join(b.split(b"-----")[0].split()))
            for b in blocks]


def utc_time(when):
    return der(0x17, when.strftime("%y%m%d%H%M%SZ").encode())


def filetime(day):
    when = datetime.datetime.strptime(day, "%Y-%m-%d").replace(
        tzinfo=datetime.timezone.utc)
    ticks = int((when.timestamp() + 11644473600) * 10**7)
    return ticks.to_bytes(8, "little")


USAGES = {"cs": "1.3.6.1.5.5.7.3.3", "ts": "1.3.6.1.5.5.7.3.8",
          "tls": "1.3.6.1.5.5.7.3.1"}
# CERT_*_PROP_ID of each property given on the command line.
PROPERTIES = {"eku": 9, "disable": 104, "disable-eku": 122,
              "notbefore": 126, "notbefore-eku": 127}


def prop(number, value, prefix=None):
    type_ = prefix or oid("1.3.6.1.4.1.311.10.11.%d" % number)
    return seq(type_, der(0x31, der(0x04, value)))


# The digest of each signature algorithm (sha*WithRSAEncryption, ecdsa).
SIGNATURE_DIGESTS = {
    "2a864886f70d010104": "md5", "2a864886f70d010105": "sha1",
    "2a864886f70d01010b": "sha256", "2a864886f70d01010c": "sha384",
    "2a864886f70d01010d": "sha512", "2a8648ce3d040302": "sha256",
    "2a8648ce3d040303": "sha384", "2a8648ce3d040304": "sha512"}


def signature_hash(cert, how):
    """The identifier by which a signature-hash Disallowed list names
    `cert`: its TBSCertificate hashed with its signature's digest, or the
    MD5 of its subjectPublicKey's bits."""
    tbs_whole, algorithm = read_elements(read_elements(cert)[0][2])[:2]
    if how == "keymd5":
        fields = read_elements(tbs_whole[2])
        if fields[0][0] == 0xA0:
            fields = fields[1:]
        key = read_elements(fields[5][2])[1][2]  # the BIT STRING's contents
        return hashlib.md5(key[1:]).digest()
    digest_oid = read_elements(algorithm[2])[0][2].hex()
    return hashlib.new(SIGNATURE_DIGESTS[digest_oid], tbs_whole[1]).digest()


def subject(entry, kind):
    path, *props = entry.split(",")
    cert = read_cert(path)
    # What Windows' own list carries besides: a friendly name (11), the
    # key identifier (20) and the SHA-256 hash (98).
    attributes = [prop(11, os.path.basename(path).encode("utf-16-le") + b"\0\0"),
                  prop(20, hashlib.sha1(cert[-64:]).digest()),
                  prop(98, hashlib.sha256(cert).digest())]
    identifier = hashlib.sha1(cert).digest()
    for item in props:
        name, value = item.split("=")
        if name == "id":
            identifier = signature_hash(cert, value)
        elif name == "raw":
            number, octets = value.split(":")
            attributes.append(prop(int(number), bytes.fromhex(octets)))
        elif name == "eku-nonminimal":
            body = seq(*(oid(USAGES[u]) for u in value.split("+") if u))
            prefix = oid("1.3.6.1.4.1.311.10.11")
            prefix = bytes([0x06, prefix[1] + 2]) + prefix[2:] + b"\x80\x09"
            attributes.append(prop(9, body, prefix))
        elif name.endswith("eku"):
            body = seq(*(oid(USAGES[u]) for u in value.split("+") if u))
            attributes.append(prop(PROPERTIES[name], body))
        else:
            attributes.append(prop(PROPERTIES[name],
                                   filetime(value) if value else b""))
    if kind == "disallowed-hash" and "id=" not in entry:
        identifier = signature_hash(cert, "sighash")
    attributes.sort()  # DER orders a SET OF
    return seq(der(0x04, identifier), der(0x31, b"".join(attributes)))


def ctl(out, kind, signer_cert, signer_key, entries, sequence="0123",
        this_update=None, chain=None):
    usage = {"roots": "1.3.6.1.4.1.311.10.3.9",
             "disallowed": "1.3.6.1.4.1.311.10.3.30",
             "disallowed-hash": "1.3.6.1.4.1.311.10.3.30"}[kind]
    algorithm = ("1.3.6.1.4.1.311.10.11.15" if kind == "disallowed-hash"
                 else "1.3.14.3.2.26")
    now = datetime.datetime.now(datetime.timezone.utc)
    if this_update:
        now = datetime.datetime.strptime(this_update, "%Y-%m-%d").replace(
            tzinfo=datetime.timezone.utc)
    # The extensions Microsoft's lists have carried since 2023: the
    # Certificate Transparency logs (1.3.6.1.4.1.311.10.3.52), here empty.
    extensions = der(0xA0, seq(seq(oid("1.3.6.1.4.1.311.10.3.52"),
                                   der(0x04, seq()))))
    content = seq(seq(oid(usage)),
                  der(0x02, bytes.fromhex(sequence)),  # sequenceNumber
                  utc_time(now),
                  seq(oid(algorithm), b"\x05\x00"),
                  seq(*(subject(s, kind) for s in entries)),
                  extensions)
    inner = read_elements(content)[0][2]
    ctl_type = oid("1.3.6.1.4.1.311.10.1")
    attributes = sorted([
        seq(oid("1.2.840.113549.1.9.3"), der(0x31, ctl_type)),
        seq(oid("1.2.840.113549.1.9.5"), der(0x31, utc_time(now))),
        seq(oid("1.2.840.113549.1.9.4"),
            der(0x31, der(0x04, hashlib.sha256(inner).digest()))),
    ])
    signed = der(0x31, b"".join(attributes))
    with tempfile.TemporaryDirectory() as tmp:
        with open(os.path.join(tmp, "attrs"), "wb") as f:
            f.write(signed)
        signature = subprocess.run(
            ["openssl", "dgst", "-sha256", "-sign", signer_key,
             os.path.join(tmp, "attrs")],
            check=True, capture_output=True).stdout
    cert = read_cert(signer_cert)
    tbs = read_elements(read_elements(read_elements(cert)[0][2])[0][2])
    serial, issuer = tbs[1][1], tbs[3][1]
    sha256 = seq(oid("2.16.840.1.101.3.4.2.1"), b"\x05\x00")
    signer = seq(der(0x02, b"\x01"), seq(issuer, serial), sha256,
                 b"\xa0" + signed[1:],
                 seq(oid("1.2.840.113549.1.1.1"), b"\x05\x00"),
                 der(0x04, signature))
    signed_data = seq(der(0x02, b"\x01"), der(0x31, sha256),
                      seq(ctl_type, der(0xA0, content)),
                      der(0xA0, cert + b"".join(read_certs(chain)
                                                if chain else [])),
                      der(0x31, signer))
    with open(out, "wb") as f:
        f.write(seq(oid("1.2.840.113549.1.7.2"), der(0xA0, signed_data)))


def sst(out, certs):
    def element(prop_id, value):
        return b"".join(x.to_bytes(4, "little")
                        for x in (prop_id, 1, len(value))) + value
    body = b"\0\0\0\0CERT"
    for path in certs:
        cert = read_cert(path)
        body += element(3, hashlib.sha1(cert).digest()) + element(32, cert)
    with open(out, "wb") as f:
        f.write(body + bytes(12))


if __name__ == "__main__":
    options = {}
    while sys.argv[1].startswith("--"):  # see ctl above
        options[sys.argv[1][2:].replace("-", "_")] = sys.argv[2]
        del sys.argv[1:3]
    if sys.argv[1] == "ctl":
        ctl(sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5], sys.argv[6:],
            **options)
    else:
        sst(sys.argv[2], sys.argv[3:])
