#!/usr/bin/python3
"""The native tool and the Windows tool under Wine, on the same files.

Usage: differential_test.py --native SEALPROBE --tool SEALPROBE.EXE
                            --runner WINE_RUN --fixtures DIR
                            [unittest options]

Each file goes alone into an installation folder, and both tools check it:
their output must be the same line for line once the Windows tool's paths
are written back as host paths. Only files whose verdict does not depend on
chain trust, expiry or key usage take part: Wine checks digests and
signatures, not chains. Exits 77 (skipped) when the native tool is missing.
"""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                os.pardir, "testing"))
import harness  # noqa: E402
from harness import CONFIG  # noqa: E402

# Where the two are known to part, with the native line. Wine takes any
# file that starts with "MZ" for a PE and reports one it cannot read as
# unsigned, where the native service calls a file whose headers do not fit
# "not a PE"; Wine reports a signer signature that does not verify as
# TRUST_E_CERT_SIGNATURE, the native service as TRUST_E_BAD_DIGEST. Both
# are failures either way; only the wording differs.
KNOWN_DIFFERENCES = {
    "truncated-headers": "Error is: 0x800b0003.\n",
    "damaged-signature-value": "Error is: 0x80096010.\n",
}

# Fixture files on which Wine stands in for Windows.
FILES = (
    "files/valid.exe", "files/valid32.exe", "files/sha1.exe",
    "files/sha384.exe", "files/sha512.exe", "files/pagehash.exe",
    "files/pagehash32.exe", "files/nested.exe", "files/intermediate.exe",
    "files/tampered.exe", "files/tampered32.exe", "files/unsigned.exe",
    "pe/small32.exe", "files/notpe.txt",
)


def variants():
    """(label, bytes): the fixture files, and a few shapes made from them."""
    for name in FILES:
        with open(harness.fixture_path(name), "rb") as f:
            yield name, f.read()
    with open(harness.fixture_path("valid"), "rb") as f:
        signed = f.read()
    layout = harness.PeLayout(signed)
    yield "empty", b""
    yield "truncated-headers", signed[:200]
    yield "appended-after-table", signed + b"\0" * 8
    yield "unsigned-with-table-cut", signed[:layout.cert_offset]
    # The last byte of the SignedData is the end of the signer's signature
    # value (valid.exe has no unsigned attributes).
    damaged = bytearray(signed)
    damaged[harness.Der(signed, layout.blob).end - 1] ^= 0xFF
    yield "damaged-signature-value", bytes(damaged)


class DifferentialTest(unittest.TestCase):
    def test_both_tools_say_the_same(self):
        native = harness.tool(CONFIG.native, runner=None)
        windows = harness.tool()
        folder = harness.temp_folder(self)
        target = os.path.join(folder, harness.MANIFEST[0])
        for label, data in variants():
            with self.subTest(label):
                with open(target, "wb") as f:
                    f.write(data)
                ours = native.run([native.folder(folder)] * 2 +
                                  ["T", "{FileName}", "0"])
                theirs = windows.run([windows.folder(folder)] * 2 +
                                     ["T", "{FileName}", "0"])
                if label in KNOWN_DIFFERENCES:
                    self.assertEqual(ours.out.split("\n")[0] + "\n",
                                     KNOWN_DIFFERENCES[label])
                    continue
                self.assertEqual(
                    (ours.code, ours.out),
                    (theirs.code, theirs.out.replace(windows.folder(folder),
                                                     native.folder(folder))))


if __name__ == "__main__":
    harness.main("native", "tool", "runner", "fixtures", needs=("native",))
