#!/usr/bin/python3
"""What a release build of SealProbe.exe guarantees.

Usage:
  release_build_test.py --cmake CMAKE --source SOURCE_DIR --work DIR
                        [--fixtures DIR] [unittest options]

DIR is a folder of the build tree the test may fill and empty. FIXTURES is
what src/authenticode/testdata/make_fixtures.sh made (its test PKI stands in for a
release certificate).

- Two clean builds of the unsigned exe, in folders of different names and
  lengths, are byte for byte the same (no link time, no build folder in
  it), and a development signature made again with the same key gives the
  same bytes.
- The release preset refuses to configure without a real certificate, its
  password and a time-stamping server.
"""
import hashlib
import os
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                os.pardir, "src", "testing"))
import harness  # noqa: E402
from harness import CONFIG  # noqa: E402


def setUpModule():
    # Real paths: the exe must not hold the folders as the build saw them.
    CONFIG.source = os.path.realpath(CONFIG.source)
    CONFIG.work = os.path.realpath(CONFIG.work)
    os.makedirs(CONFIG.work, exist_ok=True)


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def cmake(*args, env=None):
    return subprocess.run([CONFIG.cmake] + list(args), cwd=CONFIG.source,
                          env=env, stdin=subprocess.DEVNULL,
                          capture_output=True, text=True)


class ReleaseBuildTest(unittest.TestCase):
    maxDiff = None

    def work_folder(self, name):
        path = os.path.join(CONFIG.work, name)
        shutil.rmtree(path, ignore_errors=True)
        self.addCleanup(shutil.rmtree, path, True)
        return path

    def test_clean_builds_in_different_folders_give_the_same_exe(self):
        env = dict(os.environ)
        env.pop("SOURCE_DATE_EPOCH", None)
        builds = [self.work_folder("a"),
                  self.work_folder("second-reproducibility-build")]
        unsigned = []
        for build in builds:
            configured = cmake("--preset", "win64", "-B", build,
                               "-DBUILD_TESTING=OFF", env=env)
            self.assertEqual(configured.returncode, 0, configured.stderr)
            built = cmake("--build", build, "--target", "sealprobe_exe",
                          "-j2", env=env)
            self.assertEqual(built.returncode, 0, built.stdout + built.stderr)
            unsigned.append(os.path.join(build, "SealProbe.unsigned.exe"))
        digests = [sha256(exe) for exe in unsigned]
        print("unsigned exes: %s %s, %s %s" % (
            digests[0], os.path.basename(builds[0]),
            digests[1], os.path.basename(builds[1])), file=sys.stderr)
        self.assertEqual(digests[0], digests[1])

        with open(unsigned[0], "rb") as exe:
            data = exe.read()
        for folder in (CONFIG.source, CONFIG.work, *builds):
            for encoding in ("utf-8", "utf-16-le"):
                with self.subTest(folder=folder, encoding=encoding):
                    self.assertNotIn(folder.encode(encoding), data)

        # The development signature is dated by SOURCE_DATE_EPOCH or a fixed
        # time, so signing again with the same key repeats it exactly.
        signed = os.path.join(builds[0], "SealProbe.exe")
        signatures = []
        for _ in range(2):
            if os.path.exists(signed):
                os.remove(signed)
                time.sleep(1.1)  # a clock-dated signature would now differ
            built = cmake("--build", builds[0], "--target", "sealprobe_signed",
                          env=env)
            self.assertEqual(built.returncode, 0, built.stdout + built.stderr)
            signatures.append(sha256(signed))
        self.assertEqual(signatures[0], signatures[1])

    def test_release_preset_refuses_without_a_real_signing_setup(self):
        if not CONFIG.fixtures:
            self.skipTest("no --fixtures: no test PKI")
        secrets = self.work_folder("release-secrets")
        os.makedirs(secrets)
        password = os.path.join(secrets, "codesign.pass")
        with open(password, "w") as f:
            f.write("release-password\n")
        # As a Windows editor writes it; osslsigncode reads it so too.
        crlf_password = os.path.join(secrets, "crlf.pass")
        with open(crlf_password, "wb") as f:
            f.write(b"release-password\r\n")
        wrong_password = os.path.join(secrets, "wrong.pass")
        with open(wrong_password, "w") as f:
            f.write("something else\n")

        def pkcs12(name, cert, chain=("root",)):
            """Fixture `cert`'s key and certificate, and the certificates
            of `chain`."""
            pki = harness.fixture_path("pki")
            pem, out = (os.path.join(secrets, name + x) for x in (".pem",
                                                                   ".p12"))
            with open(pem, "wb") as f:
                for c in (cert,) + chain:
                    with open(os.path.join(pki, c + ".crt"), "rb") as part:
                        f.write(part.read())
            subprocess.run(
                ["openssl", "pkcs12", "-export", "-inkey",
                 os.path.join(pki, cert + ".key"), "-in", pem,
                 "-passout", "file:" + password, "-out", out],
                check=True, capture_output=True)
            return out

        issued = pkcs12("issued", "leaf")  # a code signer under a CA
        self_signed = pkcs12("self-signed", "selfsigned", chain=())
        server = pkcs12("server", "wrongusage")
        expired, lifetime = (pkcs12(c, c, chain=("broot",))
                             for c in ("old", "oldlife"))
        future, any_use = (pkcs12(c, c) for c in ("future", "noeku"))
        signer_only = pkcs12("signer-only", "leaf", chain=())
        no_intermediate = pkcs12("no-intermediate", "ileaf")
        whole_chain = pkcs12("whole-chain", "ileaf", chain=("inter", "root"))
        url = "http://timestamp.example.com"
        cases = (
            # (what is given, expected in the message or None if accepted)
            ({}, "SEALPROBE_SIGN_PKCS12 is not set"),
            ({"PKCS12": issued, "PASSWORD_FILE": password},
             "SEALPROBE_SIGN_TIMESTAMP_URL must name"),
            ({"PKCS12": issued, "TIMESTAMP_URL": url},
             "SEALPROBE_SIGN_PASSWORD_FILE is not set"),
            ({"PKCS12": issued + ".missing", "PASSWORD_FILE": password,
              "TIMESTAMP_URL": url}, "no such file"),
            ({"PKCS12": issued, "PASSWORD_FILE": password,
              "TIMESTAMP_URL": "timestamp.example.com"},
             "SEALPROBE_SIGN_TIMESTAMP_URL must name"),
            ({"PKCS12": issued, "PASSWORD_FILE": wrong_password,
              "TIMESTAMP_URL": url}, "cannot be opened"),
            # The development certificate is self-signed.
            ({"PKCS12": self_signed, "PASSWORD_FILE": password,
              "TIMESTAMP_URL": url}, "is self-signed"),
            ({"PKCS12": server, "PASSWORD_FILE": password,
              "TIMESTAMP_URL": url}, "is not for code signing"),
            ({"PKCS12": expired, "PASSWORD_FILE": password,
              "TIMESTAMP_URL": url}, "SEALPROBE_SIGN_PKCS12: the certificate "
             "in %s (CN=SealProbe Test Expired Signer) has expired" % expired),
            ({"PKCS12": future, "PASSWORD_FILE": password,
              "TIMESTAMP_URL": url}, "is not yet valid"),
            # Windows would take it for any use; no release certificate
            # lacks the code-signing usage.
            ({"PKCS12": any_use, "PASSWORD_FILE": password,
              "TIMESTAMP_URL": url}, "has no extended key usage"),
            ({"PKCS12": lifetime, "PASSWORD_FILE": password,
              "TIMESTAMP_URL": url}, "SEALPROBE_SIGN_PKCS12: the certificate "
             "in %s (CN=SealProbe Test Lifetime Signer) has the Lifetime "
             "Signing usage (1.3.6.1.4.1.311.10.3.13): once it expires, "
             "Windows judges its signatures as of the day it checks them"
             % lifetime),
            # The signature would carry no chain, or one without the
            # intermediate that issued the signer.
            ({"PKCS12": signer_only, "PASSWORD_FILE": password,
              "TIMESTAMP_URL": url}, "does not chain to a self-signed root "
             "through the certificates in the file (it holds no certificate "
             "besides the signer's): the signature would carry an "
             "incomplete chain"),
            ({"PKCS12": no_intermediate, "PASSWORD_FILE": password,
              "TIMESTAMP_URL": url}, "(CN=SealProbe Test Intermediate Signer) "
             "does not chain to a self-signed root through the certificates "
             "in the file (OpenSSL stops at CN=SealProbe Test Intermediate "
             "Signer: unable to get local issuer certificate)"),
            ({"PKCS12": issued, "PASSWORD_FILE": password,
              "TIMESTAMP_URL": url}, None),
            ({"PKCS12": whole_chain, "PASSWORD_FILE": crlf_password,
              "TIMESTAMP_URL": url}, None),
        )
        build = self.work_folder("release")
        for given, refusal in cases:
            with self.subTest(given=given):
                shutil.rmtree(build, ignore_errors=True)
                args = ["--preset", "release", "-B", build,
                        "-DBUILD_TESTING=OFF"]
                args += ["-DSEALPROBE_SIGN_%s=%s" % item
                         for item in given.items()]
                configured = cmake(*args)
                if refusal is None:
                    self.assertEqual(configured.returncode, 0,
                                     configured.stderr)
                    self.assertIn("will be signed by CN=SealProbe Test",
                                  configured.stdout)
                else:
                    self.assertNotEqual(configured.returncode, 0)
                    self.assertIn("must be signed with the release "
                                  "certificate", configured.stderr)
                    self.assertIn(refusal, configured.stderr.replace(
                        "\n  ", " "))


if __name__ == "__main__":
    harness.main("cmake", "source", "work", optional={"fixtures": None})
