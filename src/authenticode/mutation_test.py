#!/usr/bin/env python3
"""Hostile variants of signed files: the native tool must never call one
valid unless the change lies outside everything the signature covers, and
must decide each one quickly, in bounded memory, without a sanitizer report.

Usage: mutation_test.py --tool SEALPROBE --fixtures DIR [--report]
                        [--sanitized | --targets] [unittest options]

DIR is the folder make_fixtures.sh filled. The signed variants are made here
from its test PKI: SHA-1/256/384/512, PE32 and PE32+, RFC 3161 timestamped
(by a trusted and by an untrusted authority), nested and with page hashes.
Each variant gets:
  - one-byte changes spread across every region of the file: each header,
    each section, the certificate table entry, the DER of the signature at
    each level, the unauthenticated attributes and the padding;
  - truncations at every header boundary;
  - lies in the headers: the certificate directory pointing past the end,
    into the headers, with size 0, with sizes that overflow 32 bits;
    dwLength below 8, odd, larger than the table; a second certificate
    entry; bytes appended after the table; NumberOfSections and
    SizeOfOptionalHeader that lie; NumberOfRvaAndSizes below 5.
Signed Windows Installer packages get one-byte changes across their
compound file's header, tables, directory entries and streams, and
truncations; hostile compound files (cycles in the directory, stream, mini
and DIFAT chains, shared sectors, sector shifts and counts no file has,
50,000 siblings in one chain, storages 5,000 deep, sparse files past and
just under the cap on sectors) are each decided within the same time and
memory.
Plus a 0-byte file and 4 GiB sparse files; trust folders that ask for
work (links that loop, as many roots of one subject as fit, the most bytes
the caps allow); and signatures that ask for work: the largest valid one,
and the attacks the caps stop (hundreds of thousands of certificates, CRLs
or attributes, millions of values in one attribute, deep nesting, huge
names, thousands of policies, name constraints or alternative names) and
the names the budget on name matching stops, each decided within the same
time and memory.

Processor time and peak memory are judged only on an optimised build, at
twice the 1 s and 64 MiB the verifier is held to: the attacks the caps stop
cost 3 to 30 s, while a loaded machine stretches a run's processor time by a
factor no test can know. With --sanitized (a sanitizer build, slower and
larger by design) only sanitizer reports, hangs, exit codes and verdicts
count. --targets judges against 1 s and 64 MiB themselves: the benchmark
(bench/worst_case_bench.sh) does that, on a quiet machine.

What the signature does not cover, where any verdict is acceptable:
  - the CheckSum field and the certificate-table directory entry (excluded
    from the image hash; a changed entry loses the table, so it fails anyway);
  - in the PKCS#7 SignedData: the version numbers, the digestAlgorithms set
    and the signer's digestEncryptionAlgorithm (none is signed), the
    unauthenticated attributes (timestamps, nested signatures), and the
    padding after the SignedData inside the certificate entry;
  - a second certificate-table entry, which Windows ignores by default.
Everything else -- every header byte, every section byte, the content and
authenticated attributes, the certificates, the signature value -- must give
a verdict other than valid.
"""
import collections
import os
import struct
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                os.pardir, "testing"))
import harness  # noqa: E402
from harness import CONFIG, Der, tlv, with_fields  # noqa: E402

TARGET_SECONDS = 1.0          # processor time of any one run
TARGET_MEMORY_KB = 64 * 1024  # its peak RSS
MARGIN = 2                    # what the suite allows over the targets
HANG_LIMIT = 60.0             # wall seconds before a run counts as hung
VALID = "valid"
# The verdict of a variant as made, where it is not VALID.
UNCHANGED_VERDICTS = {"pe32plus-untrusted-timestamp": "0x80096005"}


# --- Regions of a signed file ------------------------------------------------

def regions(data, layout):
    """(name, start, end, covered) spans over the whole file."""
    L = layout
    r = [
        ("dos-header", 0, L.dos_header_end, True),
        ("dos-stub", L.dos_header_end, L.e_lfanew, True),
        ("pe-signature", L.e_lfanew, L.coff, True),
        ("coff-header", L.coff, L.optional, True),
        ("optional-header", L.optional, L.checksum[0], True),
        ("checksum", L.checksum[0], L.checksum[1], False),
        ("optional-header", L.checksum[1], L.cert_entry[0], True),
        ("cert-directory-entry", L.cert_entry[0], L.cert_entry[1], False),
        ("data-directories", L.cert_entry[1], L.section_table, True),
        ("section-table", L.section_table, L.section_table_end, True),
        ("header-padding", L.section_table_end, L.size_of_headers, True),
    ]
    at = L.size_of_headers
    for i, (start, end) in enumerate(L.sections):
        if start > at:
            r.append(("gap", at, start, True))
        r.append(("section-%d" % i, start, end, True))
        at = max(at, end)
    if L.cert_offset > at:
        r.append(("after-sections", at, L.cert_offset, True))
    r.append(("win-certificate-header", L.cert_offset, L.blob, True))
    r.extend(der_regions(data, layout))
    return [x for x in r if x[2] > x[1]]


def der_regions(data, layout):
    content_info = Der(data, layout.blob)
    explicit = content_info.kids[1]
    signed = explicit.kids[0]
    r = [("der-contentinfo", content_info.offset, explicit.start, True),
         ("der-signeddata-header", explicit.start, signed.start, True)]
    names = {0x02: "der-signeddata-version", 0x30: "der-content",
             0xA0: "der-certificates", 0xA1: "der-crls"}
    uncovered = {"der-signeddata-version", "der-digest-algorithms"}
    sets = [part for part in signed.kids if part.tag == 0x31]
    for part in signed.kids:
        if part is sets[0]:
            name = "der-digest-algorithms"
        elif part.tag == 0x31:
            r.append(("der-signerinfos-header", part.offset, part.start, True))
            r.extend(signer_regions(part.kids[0]))
            continue
        else:
            name = names.get(part.tag, "der-other")
        r.append((name, part.offset, part.end, name not in uncovered))
    end_of_entry = layout.cert_offset + layout.dw_length
    r.append(("padding", signed.end, end_of_entry, False))
    r.append(("after-entry", end_of_entry,
              layout.cert_offset + layout.cert_size, False))
    return r


def signer_regions(signer):
    r = [("der-signerinfo-header", signer.offset, signer.start, True)]
    names = ["der-signer-version", "der-signer-id",
             "der-signer-digest-algorithm"]
    uncovered = {"der-signer-version", "der-signer-digest-encryption",
                 "der-unauthenticated-attributes"}
    i = 0
    for field in signer.kids:
        if field.tag == 0xA0:
            name = "der-authenticated-attributes"
        elif field.tag == 0xA1:
            name = "der-unauthenticated-attributes"
        elif field.tag == 0x04:
            name = "der-signature-value"
        elif i < len(names):
            name = names[i]
            i += 1
        else:
            name = "der-signer-digest-encryption"
        r.append((name, field.offset, field.end, name not in uncovered))
    return r


# --- Signed variants ---------------------------------------------------------

def make_variants(work):
    pki = os.path.join(CONFIG.fixtures, "pki")
    pe = os.path.join(CONFIG.fixtures, "pe")
    now = str(int(time.time()))

    def stamp(tsa):
        # An offline RFC 3161 timestamp by the fixtures' authority `tsa`.
        return ["-time", now,
                "-TSA-certs", os.path.join(pki, tsa + "-chain.pem"),
                "-TSA-key", os.path.join(pki, tsa + ".key"), "-TSA-time", now]

    variants = {}

    def sign(name, source, *opts, nest_from=None):
        out = os.path.join(work, name + ".exe")
        src = nest_from or os.path.join(pe, source)
        subprocess.run(["osslsigncode", "sign",
                        "-certs", os.path.join(pki, "leaf.crt"),
                        "-key", os.path.join(pki, "leaf.key"),
                        *opts, "-in", src, "-out", out], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        variants[name] = out

    for h in ("sha1", "sha256", "sha384", "sha512"):
        sign("pe32plus-" + h, "small64.exe", "-h", h)
    sign("pe32-sha256", "small32.exe", "-h", "sha256")
    # tsa.crt is under broot, which the tests' store trusts.
    sign("pe32plus-timestamped", "small64.exe", "-h", "sha256", *stamp("tsa"))
    # Stamped by an authority no store trusts: a stamp that is there has to
    # verify, so this one fails as it is (UNCHANGED_VERDICTS).
    sign("pe32plus-untrusted-timestamp", "small64.exe", "-h", "sha256",
         *stamp("tsa-stranger"))
    sign("pe32plus-pagehash", "small64.exe", "-h", "sha256", "-ph")
    sign("pe32plus-nested", None, "-h", "sha1", "-nest",
         nest_from=variants["pe32plus-sha256"])
    return variants


# --- Mutations ---------------------------------------------------------------

def spread(start, end, count=6):
    """Positions spread over [start, end): both ends and points between."""
    n = end - start
    if n <= count:
        return list(range(start, end))
    return sorted({start + (n - 1) * i // (count - 1) for i in range(count)})


def flipped(data, pos):
    m = bytearray(data)
    m[pos] ^= 0xFF if m[pos] in (0, 0xFF) else 0x01
    return bytes(m)


def byte_mutations(data, layout):
    for name, start, end, covered in regions(data, layout):
        for pos in spread(start, end):
            yield name, covered, flipped(data, pos)


RFC3161_ATTRIBUTE = bytes.fromhex("060a2b0601040182370303 01".replace(" ", ""))


def with_signature(data, der):
    """`data` with `der` as its only signature."""
    assert len(der) <= MAX_SIGNATURE, "%d bytes: too large to be read" % len(der)
    return harness.with_certificate_table(data, harness.certificate_entry(der))


def with_repeated_timestamp(data, layout, copies):
    """`data` with its RFC 3161 token repeated `copies` times in the
    attribute, or None when it has none. Unauthenticated attributes are
    anyone's to add to; only the first token may cost a chain check."""
    root = Der(data, layout.blob)
    signer = first_signer(root)
    for unsigned in (k for k in signer.kids if k.tag == 0xA1):
        for attribute in unsigned.kids:
            if attribute.kids[0].encode() == RFC3161_ATTRIBUTE:
                values = attribute.kids[1]
                values.kids = values.kids[:1] * copies
                return with_signature(data, root.encode())
    return None


def structural_mutations(data, layout):
    """(name, may_be_valid, bytes): lies told by the headers and table."""
    L = layout
    size = len(data)
    sz = L.cert_size

    def directory(**fields):
        return with_fields(data, "SECURITY", **fields)

    def entry(**fields):
        return with_fields(data, "WIN_CERTIFICATE", **fields)

    yield "dir-past-end", False, directory(VirtualAddress=size + 8)
    yield "dir-into-headers", False, directory(VirtualAddress=0x40)
    yield "dir-at-zero", False, directory(VirtualAddress=0)
    yield "dir-size-zero", False, directory(Size=0)
    yield "dir-size-overflow", False, directory(Size=0xFFFFFFF8)
    yield "dir-offset-overflow", False, directory(VirtualAddress=0xFFFFFFF0,
                                                  Size=0x20)
    yield "dir-size-short-by-8", False, directory(Size=sz - 8)
    yield "dir-size-long-by-8", False, directory(Size=sz + 8)
    for dw in (0, 1, 7):
        yield "dwlength-%d" % dw, False, entry(dwLength=dw)
    yield "dwlength-odd", True, entry(dwLength=L.dw_length - 1 if
                                      L.dw_length % 2 == 0 else L.dw_length)
    yield "dwlength-beyond-table", False, entry(dwLength=sz + 8)
    yield "dwlength-huge", False, entry(dwLength=0xFFFFFFF0)
    yield "revision-1", False, entry(wRevision=0x0100)
    yield "type-x509", False, entry(
        wCertificateType=harness.WIN_CERT_TYPE_X509)
    # A second entry after the first: ignored, as Windows ignores it.
    second = harness.certificate_entry(b"\x30\x03\x02\x01\x01")
    yield "second-entry", True, harness.with_certificate_table(
        data, data[L.cert_offset:] + second)
    yield "appended-after-table", False, data + b"\0" * 8
    yield "appended-garbage", False, data + b"trailing"
    for n in (0, L.sections_count + 1, 0xFFFF):
        yield "sections-%d" % n, False, with_fields(
            data, "FILE_HEADER", NumberOfSections=n)
    for n in (0, 2, L.optional_size + 8, 0xFFFF):
        yield "optional-size-%d" % n, False, with_fields(
            data, "FILE_HEADER", SizeOfOptionalHeader=n)
    for label, n in (("rva-count-0", 0), ("rva-count-4", 4),
                     ("rva-count-huge", 0xFFFFFFFF)):
        yield label, False, with_fields(data, "OPTIONAL_HEADER",
                                        NumberOfRvaAndSizes=n)
    yield "e-lfanew-past-end", False, with_fields(data, "DOS_HEADER",
                                                  e_lfanew=size + 100)
    yield "e-lfanew-huge", False, with_fields(data, "DOS_HEADER",
                                              e_lfanew=0xFFFFFFF0)
    yield "pe-magic", False, with_fields(data, "OPTIONAL_HEADER", Magic=0x0107)
    repeated = with_repeated_timestamp(data, L, 500)
    if repeated:
        yield "timestamp-repeated-500", True, repeated


def truncations(data, layout):
    L = layout
    points = {0, 1, 2, L.e_lfanew_field[0], L.dos_header_end, L.e_lfanew,
              L.coff, L.optional, L.checksum[0], L.directories,
              L.cert_entry[0], L.section_table, L.section_table_end,
              L.size_of_headers, L.cert_offset, L.blob, L.blob + 16,
              (L.blob + len(data)) // 2, len(data) - 1}
    for start, end in L.sections:
        points.update((start, end))
    for p in sorted(points):
        if 0 <= p < len(data):
            yield "truncated-at-%d" % p, data[:p]


# --- Signatures that ask for work --------------------------------------------
# Every file must be decided within the targets, whatever its signature: the
# largest valid signature the tool reads, and the attacks the caps on a
# signature stop (der_limits.h; its tests pin each cap's boundary), each far
# over a cap. All fit in the 16 MiB a signature may take.

MAX_SIGNATURE = 16 << 20


def seq(*parts):
    return tlv(0x30, b"".join(parts))


def set_of(*parts):
    return tlv(0x31, b"".join(parts))


def integer(value):
    return tlv(0x02, value.to_bytes(value.bit_length() // 8 + 1, "big"))


NULL = b"\x05\x00"
OTHER_OID = tlv(0x06, b"\x2a\x03")
OTHER_OID_ALGORITHM = seq(OTHER_OID)
RSA = seq(tlv(0x06, bytes.fromhex("2a864886f70d010101")))
UTC_TIME = tlv(0x17, b"200101000000Z")


class Raw:
    """Encoded bytes standing in a Der tree."""

    def __init__(self, encoded):
        self.encoded = encoded

    def encode(self):
        return self.encoded


def tiny_certificate(name=b"", extension=None):
    """A certificate the decoder accepts, key and all, in about 85 bytes;
    `name` is the contents of its subject, `extension` (the contents of an
    object identifier, and a value) its one extension."""
    key = tlv(0x03, b"\x00" + seq(integer(0xC1), integer(3)))
    fields = [integer(1), OTHER_OID_ALGORITHM, seq(), seq(UTC_TIME, UTC_TIME),
              tlv(0x30, name), seq(RSA, key)]
    if extension:
        oid, value = extension
        fields.insert(0, tlv(0xA0, integer(2)))
        fields.append(tlv(0xA3, seq(seq(tlv(0x06, oid), tlv(0x04, value)))))
    return seq(seq(*fields), OTHER_OID_ALGORITHM, tlv(0x03, b"\x00"))


def policies(n):
    """certificatePolicies with `n` distinct policies."""
    return (b"\x55\x1d\x20", seq(*[seq(tlv(0x06, b"\x2a\x03" + bytes(
        [0x80 | i >> 7 & 0x7F, i & 0x7F]))) for i in range(n)]))


def name_constraints(n):
    """nameConstraints permitting `n` DNS names."""
    return (b"\x55\x1d\x1e", seq(tlv(0xA0, b"".join(
        seq(tlv(0x82, b"%d.test" % i)) for i in range(n)))))


def alt_names(n):
    """subjectAltName with `n` DNS names."""
    return (b"\x55\x1d\x11", seq(*[tlv(0x82, b"%d.test" % i)
                                    for i in range(n)]))


TINY_CRL = seq(seq(OTHER_OID_ALGORITHM, seq(), UTC_TIME), OTHER_OID_ALGORITHM,
               tlv(0x03, b"\x00"))
NAME_ENTRY = set_of(seq(tlv(0x06, b"\x55\x04\x03"), tlv(0x0C, b"")))


def signed_data(root):
    return root.kids[1].kids[0]


def first_signer(root):
    return signed_data(root).kids[-1].kids[0]


def child(node, tag):
    return next((k for k in node.kids if k.tag == tag), None)


def add_to_set(parent, tag, members, before_tags=()):
    """Appends `members` to the [tag] set of `parent`, making it when missing:
    before the first child past a SignedData's version, digest algorithms and
    content that has one of `before_tags`, else at the end."""
    node = child(parent, tag)
    if node is None:
        node = Der(tlv(tag, b""))
        at = next((i for i, k in enumerate(parent.kids)
                   if i >= 3 and k.tag in before_tags), len(parent.kids))
        parent.kids.insert(at, node)
    node.kids.extend(Raw(m) for m in members)
    return node


def add_certificates(root, certificates):
    add_to_set(signed_data(root), 0xA0, certificates, (0xA1, 0x31))


def add_crls(root, crls):
    add_to_set(signed_data(root), 0xA1, crls, (0x31,))


def add_unsigned(root, attributes):
    add_to_set(first_signer(root), 0xA1, attributes)


def add_signed(root, attributes):
    add_to_set(first_signer(root), 0xA0, attributes)


def attribute(*values):
    return seq(OTHER_OID, set_of(*values))


CN = tlv(0x06, b"\x55\x04\x03")
SHA256_RSA = seq(tlv(0x06, bytes.fromhex("2a864886f70d01010b")), NULL)
CA_TRUE = seq(tlv(0x06, b"\x55\x1d\x13"), tlv(0x01, b"\xff"),
              tlv(0x04, seq(tlv(0x01, b"\xff"))))


def constrained_chain(root, values, cas):
    """The signer's certificate (its key, a new name) below `cas` CAs, each
    with 64 + 64 DNS subtrees, from a self-signed one down: its subject one
    relative name of `values` common names, each of which every CA permits
    after comparing it, octet by octet, with almost every subtree."""
    pad = b"a" * 80
    near = seq(tlv(0x82, b"." + pad + b".tesx"))
    constraints = seq(tlv(0xA0, near * 63 + seq(tlv(0x82, b"." + pad + b".test"))),
                      tlv(0xA1, near * 64))
    extensions = [CA_TRUE, seq(tlv(0x06, b"\x55\x1d\x1e"), tlv(0x01, b"\xff"),
                               tlv(0x04, constraints))]
    certificates = child(signed_data(root), 0xA0)
    key = certificates.kids[0].kids[0].kids[6].encode()

    def certificate(serial, issuer, subject, extensions):
        validity = seq(tlv(0x17, b"000101000000Z"), tlv(0x17, b"491231235959Z"))
        tbs = seq(tlv(0xA0, integer(2)), integer(serial), SHA256_RSA, issuer,
                  validity, subject, key, tlv(0xA3, seq(*extensions)))
        return seq(tbs, SHA256_RSA, tlv(0x03, bytes(257)))

    names = [seq(set_of(seq(CN, tlv(0x0C, b"ca%d" % i)))) for i in range(cas)]
    chain = [certificate(i + 1, names[max(i - 1, 0)], names[i], extensions)
             for i in range(cas)]
    subject = seq(set_of(*[seq(CN, tlv(0x0C, b"h%d.%s.test" % (i, pad)))
                           for i in range(values)]))
    signer = certificate(cas + 1, names[-1], subject, [])
    certificates.kids = [Raw(c) for c in [signer] + chain]
    first_signer(root).kids[1] = Raw(seq(names[-1], integer(cas + 1)))


def worst_cases(signed, stamped):
    """Yields (label, file, expected verdict), one file at a time: `signed`
    is a valid signed file, `stamped` one with an RFC 3161 timestamp."""
    def edit(data, change):
        root = Der(data, harness.PeLayout(data).blob)
        change(root)
        return with_signature(data, root.encode())

    def filled(root):
        # What a signature may take, in an attribute nobody signs.
        room = MAX_SIGNATURE - len(root.encode()) - 64
        add_unsigned(root, [attribute(tlv(0x04, b"\x00" * room))])

    yield "a stamped signature filled to 16 MiB", edit(stamped, filled), VALID

    # The attacks, each far over a cap: as many as fit in a signature, or
    # names just under the decoder's own 1 MiB limit on one.
    def fit(unit):
        return (MAX_SIGNATURE - (64 << 10)) // len(unit)

    attacks = [
        ("%d tiny certificates", fit(tiny_certificate()),
         lambda root, n: add_certificates(root, [tiny_certificate()] * n)),
        ("%d CRLs", fit(TINY_CRL),
         lambda root, n: add_crls(root, [TINY_CRL] * n)),
        ("%d unsigned attributes", fit(attribute(NULL)),
         lambda root, n: add_unsigned(root, [attribute(NULL)] * n)),
        ("%d values in one signed attribute", fit(NULL),
         lambda root, n: add_signed(root, [attribute(NULL * n)])),
        ("%d levels of nesting", fit(b"\x30\x80\x00\x00"),
         lambda root, n: add_unsigned(
             root, [attribute(b"\x30\x80" * n + b"\x00\x00" * n)])),
        ("a name of %d entries", 95000,
         lambda root, n: add_certificates(
             root, [tiny_certificate(NAME_ENTRY * n)])),
        ("15 certificates with names of %d entries", 95000,
         lambda root, n: add_certificates(
             root, [tiny_certificate(NAME_ENTRY * n)] * 15)),
        # Chain building multiplies these: policies by the policies above,
        # names by the name constraints above.
        ("a certificate with %d policies", 10000,
         lambda root, n: add_certificates(
             root, [tiny_certificate(extension=policies(n))])),
        ("a certificate with %d name constraints", 10000,
         lambda root, n: add_certificates(
             root, [tiny_certificate(extension=name_constraints(n))])),
        ("a certificate with %d alternative names", 10000,
         lambda root, n: add_certificates(
             root, [tiny_certificate(extension=alt_names(n))])),
    ]
    for label, count, change in attacks:
        yield (label % count, edit(signed, lambda root: change(root, count)),
               "unreadable-signature")
    # Nothing decodes a nested signature but to find its end, however deep.
    levels = fit(b"\x30\x80\x00\x00")
    nested = seq(tlv(0x06, bytes.fromhex("2b060104018237020401")),
                 set_of(b"\x30\x80" * levels + b"\x00\x00" * levels))
    yield ("a nested signature %d levels deep" % levels,
           edit(signed, lambda root: add_unsigned(root, [nested])), VALID)
    # Within every cap, matching names against constraints: 8,192 values of
    # one relative name under 17 CAs cost 2 s, before the budget on that
    # work stops it. The made-up certificates' signatures decide.
    yield ("8192 common names under 17 constrained CAs",
           edit(signed, lambda root: constrained_chain(root, 8192, 17)),
           "0x80096004")


# --- Trust folders that ask for work -------------------------------------------

def body_of_subject(serial, subject, size=0):
    """A certificate's outline (what the folder reads of a body before a
    chain asks for it) with `subject`, padded to about `size` bytes."""
    name = seq(set_of(seq(CN, tlv(0x0C, subject))))
    algorithm = seq(tlv(0x06, bytes.fromhex("2a864886f70d01010b")), NULL)
    tbs = [tlv(0xA0, integer(2)), integer(serial), algorithm, name,
           seq(tlv(0x17, b"200101000000Z"), tlv(0x17, b"400101000000Z")), name]
    padding = max(size - 64 - len(b"".join(tbs)), 0)
    tbs.append(seq(tlv(0x04, b"\0" * padding)))
    return seq(seq(*tbs), algorithm, tlv(0x03, b"\0"))


def worst_trust_folders(fixtures, work):
    """Yields (label, folder, expected verdict of valid.exe under it), one
    folder at a time, each within or just over the folder's caps: 10,000
    names, 16 MiB a file, 256 MiB in all, 8 roots of one subject."""
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                    "root_program", "testdata"))
    import make_windows_trust as trust  # noqa: E402
    program = os.path.join(fixtures, "windows", "program")
    pki = os.path.join(fixtures, "pki")

    def folder(name):
        path = os.path.join(work, name)
        subprocess.run(["cp", "-R", program, path], check=True)
        return path

    def listing(path, bodies):
        """Writes the root list naming root and broot and `bodies`."""
        files = [os.path.join(pki, "root.crt,eku=cs+ts"),
                 os.path.join(pki, "broot.crt,eku=cs+ts")]
        for i, der in enumerate(bodies):
            files.append(os.path.join(path, "%05d.crt" % i))
            with open(files[-1], "wb") as f:
                f.write(der)
        os.unlink(os.path.join(path, "authrootstl.cab"))
        trust.ctl(os.path.join(path, "authroot.stl"), "roots",
                  os.path.join(pki, "ctl-signer.crt"),
                  os.path.join(pki, "ctl-signer.key"), files)

    path = folder("loops")
    for i in range(9990):
        os.symlink("x%d" % i, os.path.join(path, "x%d" % i))
    yield "9,990 links to themselves in the folder", path, VALID
    path = folder("crt-loops")
    for i in range(9990):
        os.symlink("%d.crt" % i, os.path.join(path, "%d.crt" % i))
    yield "9,990 links to themselves as root bodies", path, "0x80096001"
    path = folder("one-subject")
    listing(path, [body_of_subject(i, b"twin") for i in range(9990)])
    yield "9,990 listed roots of one subject", path, "0x80096001"
    path = folder("eight-a-subject")
    listing(path, [body_of_subject(i, b"twin%d" % (i // 8))
                   for i in range(9990 // 8 * 8)])
    yield "9,984 listed roots, 8 of each subject", path, VALID
    path = folder("biggest")
    body = body_of_subject(1, b"unlisted", 1 << 20)
    for i in range(250):
        with open(os.path.join(path, "%03d.crt" % i), "wb") as f:
            f.write(body[:-1] + bytes([i]))
    yield "250 unlisted root bodies of 1 MiB", path, VALID
# --- Installer packages --------------------------------------------------------
# Signed packages (make_fixtures.sh) changed one byte at a time across their
# structure, and compound files that ask the reader for work.

SIGNATURE_STREAMS = ("\x05DigitalSignature", "\x05MsiDigitalSignatureEx")


def installer_regions(data):
    """(name, start, end, covered) spans of a signed package's structure and
    streams. The digest covers every stream but the signature streams and
    each storage's CLSID; with \x05MsiDigitalSignatureEx also the entries'
    names, sizes, state bits and times (the root's state bits only)."""
    L = harness.CompoundLayout(data)
    dse = any(e.name == SIGNATURE_STREAMS[1] for e in L.entries)
    r = [("cfb-header", 0, 512, False)]
    r += [("cfb-table", L.offset(s), L.offset(s) + 512, False)
          for s in L.fat_sectors[:1] + L.fat_sectors[-1:] + L.difat_sectors +
          L.chain(L.mini_fat_start)]
    for e in (e for e in L.entries if e.type):
        signed = e.name not in SIGNATURE_STREAMS
        stream = e.type == harness.STREAM
        fields = [("name", 0, e.name_size - 2, dse and signed and e.index != 0),
                  ("links", 0x40, 0x50, False),
                  ("clsid", 0x50, 0x60, not stream),
                  ("state", 0x60, 0x64, dse and signed),
                  ("times", 0x64, 0x74, dse and signed and e.index != 0),
                  ("start-size", 0x74, 0x7C, stream and signed and e.size > 0)]
        r += [("cfb-entry-" + f, e.offset + a, e.offset + b, c)
              for f, a, b, c in fields]
        if stream and e.size:
            pieces = L.pieces(e)
            r += [("cfb-stream", at, at + n, signed)
                  for at, n in (pieces[0], pieces[-1])]
    return [x for x in r if x[2] > x[1]]


def patched(data, *changes):
    """`data` with each (offset, 32-bit value) written little-endian."""
    m = bytearray(data)
    for at, value in changes:
        m[at:at + 4] = struct.pack("<I", value)
    return bytes(m)


def hostile_compound_files(signed, big):
    """(label, data, expected verdict): `signed` a signed package, `big` one
    whose FAT is listed by DIFAT sectors."""
    L, B = harness.CompoundLayout(signed), harness.CompoundLayout(big)
    broken = "0x800b0003"
    directory = L.chain(L.dir_start)
    stream = max((e for e in L.entries if e.type == harness.STREAM),
                 key=lambda e: e.size)
    mini = next(e for e in L.entries if e.type == harness.STREAM and
                64 < e.size < 4096 and e.name not in SIGNATURE_STREAMS)
    yield ("directory chain in a cycle",
           patched(signed, (L.fat_at[directory[-1]], directory[0])), broken)
    yield ("stream chain in a cycle",
           patched(signed, (L.fat_at[stream.start], stream.start)), broken)
    mini_fat = L.chain(L.mini_fat_start)
    yield ("mini chain in a cycle", patched(signed, (
        L.offset(mini_fat[mini.start // 128]) + 4 * (mini.start % 128),
        mini.start)), broken)
    yield ("two streams sharing their sectors",
           patched(signed, (mini.offset + 0x74, stream.start),
                   (mini.offset + 0x78, stream.size)), broken)
    # DIFAT sectors listing sectors of the file's tail as FAT sectors, the
    # first naming itself as the next.
    difat, tail = B.difat_sectors[0], len(big) // 512 - 1
    listed = [(B.offset(difat) + 4 * i, tail - i) for i in range(15, 127)]
    yield ("DIFAT chain in a cycle", patched(
        big, (0x2C, 109 + 2 * 127), (0x48, tail),
        (B.offset(difat) + 508, difat), *listed), broken)
    yield ("sector shift of 30", patched(signed, (0x1C, 0x001EFFFE)), broken)
    yield ("2^32 FAT sectors", patched(signed, (0x2C, 0xFFFFFFFF)), broken)
    # Degenerate trees, built whole: one storage holding 50,000 streams in
    # one chain of siblings, and 5,000 storages inside one another; each
    # given the signed package's signature, which decides once all of it
    # is hashed.
    name, clsid, kids = L.tree()
    sig = [k for k in kids if k[0] == SIGNATURE_STREAMS[0]]
    many = [("s%d" % i, b"") for i in range(50000)]
    yield ("50,000 siblings in one chain",
           harness.write_compound((name, clsid, many + sig)), "0x80096010")
    # A 32 MiB stream whose chain moves to another FAT sector at every link:
    # each step reads the FAT anew.
    jumpy = harness.write_compound((name, clsid, [("j", bytes(32 << 20))] + sig))
    J = harness.CompoundLayout(jumpy)
    start, count = J.named("j").start, (32 << 20) // 512
    order = [start + (i % (count // 128)) * 128 + i // (count // 128)
             for i in range(count)]
    links = zip(order, order[1:] + [harness.END_OF_CHAIN])
    yield ("a 32 MiB chain changing FAT sector at every link", patched(
        jumpy, (J.named("j").offset + 0x74, order[0]),
        *((J.fat_at[a], b) for a, b in links)), "0x80096010")
    deep = ("d", clsid, [])
    sys.setrecursionlimit(max(sys.getrecursionlimit(), 20000))
    for i in range(5000):
        deep = ("d", clsid, [deep, ("x", b"%d" % i)])
    yield ("5,000 storages deep",
           harness.write_compound((name, clsid, [deep] + sig)), "0x80096010")


# --- Running the tool ----------------------------------------------------------

class Runner:
    def __init__(self, work):
        self.folder = os.path.join(work, "install")
        os.makedirs(self.folder)
        self.target = os.path.join(self.folder, harness.MANIFEST[0])
        self.usage = os.path.join(work, "usage")
        self.tool = harness.tool()
        self.failures = []
        self.slowest = 0.0
        self.peak_kb = 0
        self.last = (0.0, 0)  # processor seconds and peak RSS of the last run

    def verdict_of_file(self, label, env=None):
        # GNU time reports the run's own usage: the processor time, its own
        # and the kernel's on its behalf (unlike the wall clock, not
        # stretched by a loaded machine), and its peak RSS. Read by this
        # process instead, the peak would be at least this process's own:
        # Linux carries it over into a child through fork and exec.
        folder = self.tool.folder(self.folder)
        run = self.tool.start(
            [folder, folder, "T", "{FileName}", "0"], env=env,
            prefix=["/usr/bin/time", "-f", "%U %S %M", "-o", self.usage])
        try:
            code = run.wait(HANG_LIMIT)
            out, err = run.stdout(), run.stderr()
        except subprocess.TimeoutExpired:
            self.failures.append("%s: hung" % label)
            return "hung"
        finally:
            run.close()
        with open(self.usage) as f:
            user, system, peak_kb = f.read().split("\n")[-2].split()
        elapsed = float(user) + float(system)
        peak_kb = int(peak_kb)
        self.last = (elapsed, peak_kb)
        self.slowest = max(self.slowest, elapsed)
        self.peak_kb = max(self.peak_kb, peak_kb)
        if not CONFIG.sanitized:
            margin = 1 if CONFIG.targets else MARGIN
            if elapsed > TARGET_SECONDS * margin:
                self.failures.append("%s: took %.2f s" % (label, elapsed))
            if peak_kb > TARGET_MEMORY_KB * margin:
                self.failures.append("%s: peak RSS %d KiB" % (label, peak_kb))
        if err:
            self.failures.append("%s: wrote to stderr: %r" % (label, err[:300]))
        if code not in (0, 1):
            self.failures.append("%s: exit code %d" % (label, code))
        first = out.split("\n", 1)[0]
        if first.endswith("has a valid digital signature."):
            return VALID
        if first.startswith("Error is: "):
            return first[len("Error is: "):].rstrip(".")
        if "not digitally signed" in first:
            return "unsigned"
        if first.startswith("An unknown error"):
            return "unreadable-signature"
        if "root certificate which is not trusted" in first:
            return "untrusted-root"
        if "specifically disallowed" in first:
            return "distrusted"
        return "other:" + first[:60]

    def verdict(self, label, data, env=None):
        with open(self.target, "wb") as f:
            f.write(data)
        return self.verdict_of_file(label, env)


class MutationTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.variants = make_variants(cls.tmp.name)
        cls.runner = Runner(cls.tmp.name)
        cls.counts = collections.Counter()
        cls.worst = []

    @classmethod
    def tearDownClass(cls):
        if CONFIG.report and cls.counts:
            print("\nmutations by region and verdict:")
            for (region, verdict), n in sorted(cls.counts.items()):
                print("  %-34s %-22s %5d" % (region, verdict, n))
            print("  total %d, slowest run %.3f s of processor time, "
                  "peak RSS %d KiB" % (sum(cls.counts.values()),
                                       cls.runner.slowest, cls.runner.peak_kb))
        if CONFIG.report and cls.worst:
            print("\nsignatures and trust folders that ask for work:")
            for label, cpu, rss, verdict in cls.worst:
                print("  %-52s %6.3f s %8d KiB  %s" % (label, cpu, rss, verdict))
        cls.tmp.cleanup()

    def check(self, label, region, may_be_valid, data):
        verdict = self.runner.verdict(label, data)
        self.counts[(region, verdict)] += 1
        if verdict == VALID and not may_be_valid:
            self.runner.failures.append("%s: called valid" % label)

    def judged(self, runner, label, verdict, expected):
        """Keeps a worst case's figures, and a failure unless `expected`."""
        self.worst.append((label,) + runner.last + (verdict,))
        if verdict != expected:
            runner.failures.append("%s: %s, not %s" % (label, verdict,
                                                        expected))

    def test_unchanged_variants_get_their_verdict(self):
        for name, path in self.variants.items():
            with open(path, "rb") as f:
                self.assertEqual(self.runner.verdict(name, f.read()),
                                 UNCHANGED_VERDICTS.get(name, VALID), name)

    def test_mutations(self):
        for name, path in sorted(self.variants.items()):
            with open(path, "rb") as f:
                data = f.read()
            layout = harness.PeLayout(data)
            for region, covered, mutated in byte_mutations(data, layout):
                self.check("%s/%s" % (name, region), "byte:" + region,
                           not covered, mutated)
            for label, may_be_valid, mutated in structural_mutations(data, layout):
                self.check("%s/%s" % (name, label), label, may_be_valid, mutated)
            for label, mutated in truncations(data, layout):
                self.check("%s/%s" % (name, label), "truncated", False, mutated)
        self.assertEqual(self.runner.failures, [])

    def test_signatures_that_ask_for_work(self):
        runner = Runner(os.path.join(self.tmp.name, "worst"))
        with open(self.variants["pe32plus-sha256"], "rb") as f:
            signed = f.read()
        with open(self.variants["pe32plus-timestamped"], "rb") as f:
            stamped = f.read()
        for label, data, expected in worst_cases(signed, stamped):
            self.judged(runner, label, runner.verdict(label, data), expected)
        os.unlink(runner.target)
        self.assertEqual(runner.failures, [])

    def test_installer_mutations(self):
        for name in ("msi-valid.msi", "msi-dse.msi", "msi-storages.msi",
                     "msi-big.msi", "msi-big-v3.msi"):
            with open(harness.fixture_path("files/" + name), "rb") as f:
                data = f.read()
            for region, start, end, covered in installer_regions(data):
                for pos in spread(start, end, 3):
                    self.check("%s/%s@%d" % (name, region, pos),
                               "byte:" + region, not covered,
                               flipped(data, pos))
            # The last byte may be a sector's padding, in no stream.
            for cut in (0, 8, 511, 512, len(data) // 2, len(data) - 1):
                self.check("%s/truncated-at-%d" % (name, cut), "truncated",
                           cut == len(data) - 1, data[:cut])
        self.assertEqual(self.runner.failures, [])

    def test_compound_files_that_ask_for_work(self):
        runner = Runner(os.path.join(self.tmp.name, "compound"))
        with open(harness.fixture_path("files/msi-valid.msi"), "rb") as f:
            signed = f.read()
        with open(harness.fixture_path("files/msi-big-v3.msi"), "rb") as f:
            big = f.read()
        for label, data, expected in hostile_compound_files(signed, big):
            self.judged(runner, label, runner.verdict(label, data), expected)
        # Sparse files past the cap on sectors, and just under it with a
        # package's directory: unreferenced sectors are in no stream.
        for label, size, expected in (
                ("5 GiB sparse", 5 << 30, "0x800b0003"),
                ("4 GiB sparse after a package", (4 << 30) - 512, VALID)):
            with open(runner.target, "wb") as f:
                f.write(signed)
                f.truncate(size)
            self.judged(runner, label, runner.verdict_of_file(label), expected)
        os.unlink(runner.target)
        self.assertEqual(runner.failures, [])

    def test_trust_folders_that_ask_for_work(self):
        work = os.path.join(self.tmp.name, "trust")
        runner = Runner(work)
        with open(os.path.join(CONFIG.fixtures, "files", "valid.exe"),
                  "rb") as f:
            valid = f.read()
        for label, folder, expected in worst_trust_folders(CONFIG.fixtures,
                                                           work):
            verdict = runner.verdict(label, valid,
                                     {"SEALPROBE_WINDOWS_TRUST": folder})
            self.worst.append((label,) + runner.last + (verdict,))
            if verdict != expected:
                runner.failures.append("%s: %s, not %s" %
                                       (label, verdict, expected))
            subprocess.run(["rm", "-rf", folder], check=True)
        self.assertEqual(runner.failures, [])

    def test_empty_and_huge_sparse_files(self):
        self.check("empty", "empty-file", False, b"")
        with open(self.variants["pe32plus-sha256"], "rb") as f:
            signed = f.read()
        unsigned = signed[:harness.PeLayout(signed).cert_offset]
        four_gib = 4 << 30
        # A 4 GiB file whose table at its very end holds an unreadable
        # signature: decided from the table, without hashing 4 GiB.
        table = harness.certificate_entry(b"\x04\x02\x00\x00")
        garbage = with_fields(unsigned, "SECURITY",
                              VirtualAddress=four_gib - len(table),
                              Size=len(table))
        cases = [
            # A signed file grown to 4 GiB: the table no longer ends it.
            ("sparse-after-signature", signed, b""),
            # An unsigned image 4 GiB long.
            ("sparse-unsigned", unsigned, b""),
            ("sparse-garbage-signature", garbage, table),
        ]
        for label, head, tail in cases:
            with open(self.runner.target, "wb") as f:
                f.write(head)
                f.truncate(four_gib - len(tail))
                f.seek(four_gib - len(tail))
                f.write(tail)
            verdict = self.runner.verdict_of_file(label)
            self.counts[(label, verdict)] += 1
            self.assertNotEqual(verdict, VALID, label)
        os.unlink(self.runner.target)
        self.assertEqual(self.runner.failures, [])


if __name__ == "__main__":
    harness.main("tool", "fixtures", flags=("report", "sanitized", "targets"))
