#!/usr/bin/python3
"""The native tool and the Windows tool under Wine, on the same files.

Usage: differential_test.py --native SEALPROBE --windows SEALPROBE.EXE
                            --runner WINE_RUN --fixtures DIR

Each file goes alone into an installation folder, and both tools check it:
their output must be the same line for line once the Windows tool's paths
are written back as host paths. Only files whose verdict does not depend on
chain trust, expiry or key usage take part: Wine checks digests and
signatures, not chains. Exits 77 (skipped) when the native tool is missing.
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile

# Where the two are known to part, with the native line. Wine takes any
# file that starts with "MZ" for a PE and reports one it cannot read as
# unsigned, where the native service calls a file whose headers do not fit
# "not a PE"; Wine reports a signer signature that does not verify as
# TRUST_E_CERT_SIGNATURE, the native service as TRUST_E_BAD_DIGEST. Both
# are failures either way; only the wording differs.
KNOWN_DIFFERENCES = {
    "truncated-headers": b"Error is: 0x800b0003.\n",
    "damaged-signature-value": b"Error is: 0x80096010.\n",
}

# Fixture files on which Wine stands in for Windows.
FILES = (
    "files/valid.exe", "files/valid32.exe", "files/sha1.exe",
    "files/sha384.exe", "files/sha512.exe", "files/pagehash.exe",
    "files/pagehash32.exe", "files/nested.exe", "files/intermediate.exe",
    "files/tampered.exe", "files/tampered32.exe", "files/unsigned.exe",
    "pe/small32.exe", "files/notpe.txt",
)


def variants(fixtures):
    """(label, bytes): the fixture files, and a few shapes made from them."""
    for name in FILES:
        with open(os.path.join(fixtures, name), "rb") as f:
            yield name, f.read()
    with open(os.path.join(fixtures, "files/valid.exe"), "rb") as f:
        signed = f.read()
    yield "empty", b""
    yield "truncated-headers", signed[:200]
    yield "appended-after-table", signed + b"\0" * 8
    pe = struct.unpack_from("<I", signed, 0x3C)[0]
    entry = pe + 24 + 112 + 4 * 8
    offset, size = struct.unpack_from("<II", signed, entry)
    yield "unsigned-with-table-cut", signed[:offset]
    # The last byte of the SignedData is the end of the signer's signature
    # value (valid.exe has no unsigned attributes).
    der = offset + 8
    der_end = der + 4 + struct.unpack_from(">H", signed, der + 2)[0]
    damaged = bytearray(signed)
    damaged[der_end - 1] ^= 0xFF
    yield "damaged-signature-value", bytes(damaged)


def wine_path(host):
    return "Z:" + host.replace("/", "\\")


def run(cmd, env=None):
    result = subprocess.run(cmd, stdin=subprocess.DEVNULL, env=env,
                            capture_output=True, timeout=120)
    return result.returncode, result.stdout


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--native", required=True)
    parser.add_argument("--windows", required=True)
    parser.add_argument("--runner", required=True)
    parser.add_argument("--fixtures", required=True)
    args = parser.parse_args()
    if not os.access(args.native, os.X_OK):
        print("no native tool at %s: build the native preset" % args.native)
        return 77

    env = dict(os.environ, SSL_CERT_FILE=os.path.join(
        args.fixtures, "pki", "anchors.pem"))
    env.pop("SSL_CERT_DIR", None)
    env.pop("DISPLAY", None)
    failures = 0
    with tempfile.TemporaryDirectory() as tmp:
        folder = tmp + "/"
        target = folder + "tv-Common.v5.21.40.0.dll"
        checked = 0
        for label, data in variants(args.fixtures):
            with open(target, "wb") as f:
                f.write(data)
            native = run([args.native, folder, folder, "T", "{FileName}", "0"],
                         env)
            windows = run([args.runner, args.windows, wine_path(folder),
                           wine_path(folder), "T", "{FileName}", "0"], env)
            translated = windows[1].replace(b"\r\n", b"\n").replace(
                wine_path(folder).encode(), folder.encode())
            checked += 1
            if label in KNOWN_DIFFERENCES:
                first = native[1].split(b"\n")[0] + b"\n"
                if first != KNOWN_DIFFERENCES[label]:
                    failures += 1
                    print("CHANGED   %s: native says %r" % (label, first))
                else:
                    print("known     %s: Wine says %r" % (
                        label, translated.split(b"\n")[0]))
            elif native != (windows[0], translated):
                failures += 1
                print("DIFFERENT %s:\n  native  %r\n  windows %r" % (
                    label, native[1].split(b"\n")[:2],
                    translated.split(b"\n")[:2]))
            else:
                print("same      %s: %s" % (
                    label, native[1].split(b"\n")[0].decode("latin-1")))
        print("%d passed, %d failed" % (checked - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
