#!/usr/bin/env python3
"""Writes Windows' root-program files from their public descriptions, for
tests: a certificate trust list ([MS-CAESO]'s CertificateTrustList in a
PKCS#7 SignedData, its subjects' properties as 1.3.6.1.4.1.311.10.11.<id>
attributes) and a serialized store (Wine's dlls/crypt32/serialize.c).

  make_windows_trust.py ctl OUT KIND SIGNER_CERT SIGNER_KEY [SUBJECT...]
      KIND: roots (subjectUsage 1.3.6.1.4.1.311.10.3.9) or disallowed
      (1.3.6.1.4.1.311.10.3.30). SUBJECT: CERT[,PROPERTY=VALUE...] with
      eku, notbefore-eku, disable-eku (a list of cs, ts, tls joined by +)
      and notbefore, disable (YYYY-MM-DD). The signer signs with SHA-256.
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
    data = open(path, "rb").read()
    if data.startswith(b"-----"):
        body = data.split(b"-----")[2]
        data = base64.b64decode(b"".join(body.split()))
    return data


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


def prop(number, value):
    return seq(oid("1.3.6.1.4.1.311.10.11.%d" % number),
               der(0x31, der(0x04, value)))


def subject(entry):
    path, *props = entry.split(",")
    cert = read_cert(path)
    # What Windows' own list carries besides: a friendly name (11), the
    # key identifier (20) and the SHA-256 hash (98).
    attributes = [prop(11, os.path.basename(path).encode("utf-16-le")),
                  prop(20, hashlib.sha1(cert[-64:]).digest()),
                  prop(98, hashlib.sha256(cert).digest())]
    for item in props:
        name, value = item.split("=")
        if name.endswith("eku"):
            body = seq(*(oid(USAGES[u]) for u in value.split("+") if u))
        else:
            body = filetime(value)
        attributes.append(prop(PROPERTIES[name], body))
    attributes.sort()  # DER orders a SET OF
    return seq(der(0x04, hashlib.sha1(cert).digest()),
               der(0x31, b"".join(attributes)))


def ctl(out, kind, signer_cert, signer_key, entries):
    usage = {"roots": "1.3.6.1.4.1.311.10.3.9",
             "disallowed": "1.3.6.1.4.1.311.10.3.30"}[kind]
    now = datetime.datetime.now(datetime.timezone.utc)
    content = seq(seq(oid(usage)),
                  der(0x02, b"\x01\x23"),  # sequenceNumber
                  utc_time(now),
                  seq(oid("1.3.14.3.2.26"), b"\x05\x00"),
                  seq(*(subject(s) for s in entries)))
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
                      der(0xA0, cert), der(0x31, signer))
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
    if sys.argv[1] == "ctl":
        ctl(sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5], sys.argv[6:])
    else:
        sst(sys.argv[2], sys.argv[3:])
