#!/usr/bin/env python3
"""sealprobe-explain gives the status sealprobe gives: over every file the
fixtures hold, its JSON parses, and its status and verdict line are
sealprobe's own for the same file. A few rows also check the deciding rule's
certificate and the evidence behind it.

Usage: explain_test.py --tool SEALPROBE --explain SEALPROBE_EXPLAIN
                       --fixtures DIR [unittest options]
"""
import base64
import glob
import hashlib
import json
import os
import re
import resource
import shutil
import ssl
import subprocess
import sys
import unittest

import jsonschema
import junitparser

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                os.pardir, "testing"))
import harness  # noqa: E402
from harness import CONFIG, Der, tlv  # noqa: E402

# Processor seconds any one explanation may take: twice the 1 s target, as
# the mutation test allows, so that a busy machine does not fail it; not
# judged on a sanitizer build, slower by design.
SECONDS = 2.0


def with_long_common_name(data, length):
    """`data`, a signed file, with its signer's subject one common name of
    `length` octets and no space (its certificate's signature breaks)."""
    root = Der(data, harness.PeLayout(data).blob)
    tbs = root.kids[1].kids[0].kids[3].kids[0].kids[0]
    tbs.kids[5] = Der(tlv(0x30, tlv(0x31, tlv(0x30, tlv(0x06, b"\x55\x04\x03")
                                              + tlv(0x0C, b"x" * length)))))
    return harness.with_certificate_table(
        data, harness.certificate_entry(root.encode()))

# sealprobe's lines that name no status, and the status each stands for.
NAMED_LINES = [
    (r'^".*" has a valid digital signature\.$', 0),
    (r"^The file .* is not digitally signed\.$", 0x800B0100),
    (r"^An unknown error occurred trying", 0x800B0100),
    (r"specifically disallowed\.$", 0x800B0111),
    (r"not trusted by the trust provider\.$", 0x800B0109),
]


def status_of_line(line):
    match = re.match(r"^Error is: 0x([0-9a-f]+)\.$", line)
    if match:
        return int(match.group(1), 16)
    for pattern, status in NAMED_LINES:
        if re.search(pattern, line):
            return status
    raise AssertionError("not a verdict line: %r" % line)


# What SARIF 2.1.0 requires of a log, a run, its tool and a result (the
# properties its published schema marks required), and what code scanning
# reads besides, by its documented rules for uploads: a rule with its help
# for each result, a file and a region, a fingerprint to track it by.
def required(*names, **properties):
    return {"type": "object", "required": list(names),
            "properties": properties}


TEXT = required("text")
SARIF_SCHEMA = required(
    "version", "runs", version={"const": "2.1.0"},
    runs={"type": "array", "items": required(
        "tool", "results", "invocations",
        tool=required("driver", driver=required(
            "name", "version", "rules", rules={"type": "array", "items": required(
                "id", "shortDescription", "fullDescription", "help",
                "helpUri", shortDescription=TEXT, fullDescription=TEXT,
                help=required("text", "markdown"))})),
        invocations={"type": "array", "minItems": 1, "items": required(
            "executionSuccessful", "exitCode")},
        results={"type": "array", "items": required(
            "message", "ruleId", "locations", "partialFingerprints",
            message=TEXT,
            partialFingerprints=required("primaryLocationLineHash"),
            locations={"type": "array", "minItems": 1, "items": required(
                "physicalLocation", physicalLocation=required(
                    "artifactLocation", "region",
                    artifactLocation=required("uri"),
                    region=required("startLine")))})})})


def certificate_digest(pem_path, name):
    with open(pem_path) as f:
        der = ssl.PEM_cert_to_DER_cert(f.read())
    return hashlib.new(name, der).hexdigest()


class ExplainTest(unittest.TestCase):
    def explain(self, *args):
        return harness.tool(CONFIG.explain).run(list(args))

    def sealprobe_line(self, path):
        """sealprobe's verdict line for the file at `path`, run as the
        product's first file, and the path it names."""
        folder = harness.temp_folder(self)
        target = os.path.join(folder, harness.MANIFEST[0])
        shutil.copyfile(path, target)
        run = harness.tool().run([folder + "/"] * 2 + ["T", "{FileName}", "0"])
        return run.out.split("\n", 1)[0], target

    def test_every_fixture_gets_the_status_sealprobe_gives(self):
        files = sorted(glob.glob(os.path.join(CONFIG.fixtures, "files", "*")))
        files = [f for f in files if not f.endswith(".txt") or "notpe" in f]
        self.assertGreater(len(files), 60)
        # A file that cannot be read is reported, and the rest explained.
        missing = os.path.join(CONFIG.fixtures, "no such file.exe")
        run = self.explain("--json", missing, *files)
        self.assertEqual(run.code, 3, run.err)
        self.assertIn(missing + ": No such file or directory", run.err)
        reports = json.loads(run.out)
        self.assertEqual([r["file"] for r in reports], [missing] + files)
        self.assertEqual(reports[0]["verdict"], "Error is: 0x80092003.")
        # Every code a report gives is one docs/verifier.md lists.
        with open(os.path.join(os.path.dirname(os.path.abspath(__file__)),
                               os.pardir, os.pardir, "docs",
                               "verifier.md")) as f:
            documented = set(re.findall(r"`([a-z_]+(?:\.[a-z_]+)+)`",
                                        f.read()))
        for path, report in zip(files, reports[1:]):
            with self.subTest(os.path.basename(path)):
                self.assertIn(report["code"] or "valid", documented | {"valid"})
                line, target = self.sealprobe_line(path)
                self.assertEqual(int(report["status"], 16),
                                 status_of_line(line))
                self.assertEqual(report["verdict"].replace(path, target), line)
                self.assertEqual(report["valid"], report["status"] == "0x0")

    def test_the_deciding_rule_names_its_certificate(self):
        subject = "CN=SealProbe Test "
        cases = [
            ("nocertsign-signer.exe", "CERT_E_WRONG_USAGE",
             subject + "CA Without keyCertSign", "now", "none"),
            ("expired.exe", "CERT_E_EXPIRED", subject + "Expired Signer",
             "now", "none"),
            ("expired-ts.exe", "ERROR_SUCCESS", None, "stamp", "rfc3161"),
            # Changed after signing: its timestamp is never looked at.
            ("tampered.exe", "TRUST_E_BAD_DIGEST", None, None, "not_examined"),
            ("stranger.exe", "CERT_E_UNTRUSTEDROOT", subject + "Unknown Root",
             "now", "none"),
            # 16 bytes after its signature, which Windows ignores.
            ("trailing.exe", "ERROR_SUCCESS", None, "now", "none"),
        ]
        files = [harness.fixture_path("files/" + c[0]) for c in cases]
        reports = json.loads(self.explain("--json", *files).out)
        for (name, status_name, certificate, why, stamp), report in zip(
                cases, reports):
            with self.subTest(name):
                self.assertEqual(report["status_name"], status_name)
                self.assertEqual(report["decided_by"]["certificate"],
                                 certificate)
                checked_at = report["checked_at"]
                self.assertEqual(checked_at and checked_at["why"], why)
                self.assertEqual(report["timestamp"]["kind"], stamp)
        self.assertEqual([r["bytes_after_signature"] for r in reports],
                         [0, 0, 0, 0, 0, 16])
        self.assertFalse(reports[3]["image"]["hash_matches"])

    def test_hostile_names_are_explained_quickly_and_as_utf8(self):
        with open(harness.fixture_path("files/valid.exe"), "rb") as f:
            valid = f.read()
        cases = [
            (b"long-cn.exe", with_long_common_name(valid, 600000)),
            (b"surrogate-\xed\xa0\x80.exe", valid),  # WTF-8
            (b"overlong-\xc0\xaf.exe", valid),
            (b"beyond-\xf4\x90\x80\x80.exe", valid),
            (b"truncated-\xe2\x82.exe", valid),
        ]
        folder = os.fsencode(harness.temp_folder(self))
        for name, data in cases:
            path = os.path.join(folder, name)
            with self.subTest(name):
                with open(path, "wb") as f:
                    f.write(data)
                before = resource.getrusage(resource.RUSAGE_CHILDREN)
                self.explain(os.fsdecode(path))  # for a person, then JSON
                run = self.explain("--json", os.fsdecode(path))
                after = resource.getrusage(resource.RUSAGE_CHILDREN)
                seconds = (after.ru_utime - before.ru_utime +
                           after.ru_stime - before.ru_stime)
                if not CONFIG.sanitized:
                    self.assertLess(seconds, SECONDS)
                # Strict UTF-8, whatever the path's bytes: U+FFFD in their
                # place, and the bytes themselves beside it.
                out = run.out.encode("utf-8", "surrogateescape").decode()
                report = json.loads(out)[0]
                self.assertEqual(report["file"], path.decode("utf-8", "replace"))
                exact = report.get("file_base64")
                self.assertEqual(exact and base64.b64decode(exact),
                                 None if name == cases[0][0] else path)

    def test_names_the_store_and_the_deciding_property(self):
        """Under Windows' root program (make_fixtures.sh: OUT/windows), each
        report names the store, its CTL and the anchor, and a root's
        property that decided; SEALPROBE_WINDOWS_TRUST is sealprobe's own
        way to name the folder, and the explanation follows it."""
        folder = harness.fixture_path("windows/program")
        tsa_folder = harness.fixture_path("windows/eku-tls")
        cases = [
            ("valid.exe", folder, "0x0", None, None),
            ("distrusted.exe", folder, "0x800b0111", "Disallowed", None),
            ("expired-ts.exe", tsa_folder, "0x800b0110", "Disable",
             "2020-01-01T00:00:00Z"),
        ]
        for name, trust, status, prop, date in cases:
            with self.subTest(name):
                path = harness.fixture_path("files/" + name)
                run = harness.tool(CONFIG.explain).run(
                    ["--json", path], env={"SEALPROBE_WINDOWS_TRUST": trust})
                report = json.loads(run.out)[0]
                self.assertEqual(report["status"], status)
                self.assertEqual(report["trust"]["store"],
                                 "windows-root-program")
                self.assertEqual(report["trust"]["ctl_sequence_number"],
                                 "0123")
                self.assertEqual(report["trust"]["anchor_source"],
                                 "listed in the CTL")
                decided = report["decided_by"]["property"]
                self.assertEqual(decided and decided["name"], prop)
                self.assertEqual(decided and decided["date"], date)
        human = " ".join(self.explain(
            "--windows-trust", folder,
            harness.fixture_path("files/valid.exe")).out.split())
        self.assertIn("trust Windows' root program in " + folder, human)
        self.assertIn("anchor CN=SealProbe Test Root (listed in the CTL)",
                      human)
        self.assertNotIn("OpenSSL's store", human)
        system = json.loads(self.explain(
            "--json", harness.fixture_path("files/valid.exe")).out)[0]
        self.assertEqual(system["trust"]["store"], "system")
        self.assertEqual(system["trust"]["disallowed_list"], None)
        # Once, before the first report, or the line that sums up when
        # --quiet leaves none: OpenSSL's verdicts are not Windows'.
        for quiet in ([], ["--quiet"]):
            human = self.explain(
                *quiet, *[harness.fixture_path("files/valid.exe")] * 2)
            self.assertEqual(human.out.count("rest on OpenSSL's store"), 1)

    def test_trust_folder_that_does_not_load(self):
        """The file at fault and why, on standard error, before any file."""
        folder = harness.temp_folder(self)
        shutil.copytree(harness.fixture_path("windows/eku-tls"),
                        os.path.join(folder, "w"))
        listing = os.path.join(folder, "w", "authroot.stl")
        with open(listing, "r+b") as f:
            f.truncate(100)
        valid = harness.fixture_path("files/valid.exe")
        for args, named in ((["--windows-trust", os.path.join(folder, "w")],
                             listing),
                            (["--windows-trust", os.path.join(folder, "x")],
                             os.path.join(folder, "x")),
                            (["--anchors", listing], listing)):
            run = self.explain(*(args + [valid]))
            self.assertEqual(run.code, 2)
            self.assertEqual(run.out, "")
            self.assertTrue(run.err.startswith("sealprobe-explain: %s: "
                                               % named), run.err)

    def test_exit_codes(self):
        valid = harness.fixture_path("valid")
        self.assertEqual(self.explain(valid).code, 0)
        anchors = harness.fixture_path("pki/root.crt")
        program = harness.fixture_path("windows/program")
        for args in ([], ["--json"], ["--bogus", valid], ["--anchors"],
                     ["--windows-trust"], ["--\x1b]0;owned\x07", valid],
                     ["--anchors", anchors, "--windows-trust", program, valid]):
            with self.subTest(args=args):
                run = self.explain(*args)
                self.assertEqual(run.code, 2)
                self.assertIn("usage: sealprobe-explain", run.err)
                self.assertEqual(run.out, "")
                # An argument quoted in the complaint cannot drive the
                # terminal.
                self.assertNotIn("\x1b", run.err)


    def fixture_copies(self, layout):
        """A new folder holding, for each (path, fixture) of `layout`, a
        copy of that fixture file (bytes when not a name)."""
        folder = harness.temp_folder(self)
        for path, source in layout:
            target = os.path.join(folder, path)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            if isinstance(source, bytes):
                with open(target, "wb") as f:
                    f.write(source)
            else:
                shutil.copyfile(harness.fixture_path("files/" + source),
                                target)
        return folder

    def test_a_folder_stands_for_what_windows_signs_in_byte_order(self):
        with open(harness.fixture_path("windows/program/authrootstl.cab"),
                  "rb") as f:
            cab = f.read()
        mixed = [("b/tampered.dll", "tampered.exe"), ("a.exe", "valid.exe"),
                 ("README", "unsigned.exe"), ("notes.exe", b"MZ? no, text"),
                 ("B.txt", b"plain text"), ("setup/Tarvo.msi",
                                            "msi-unsigned.msi"),
                 ("setup/data.cab", cab)]
        cab_only = [("data.cab", cab)]
        allow = ["--allow-unsupported"]
        cases = [
            # (layout, options, exit code, (path, code, unsupported) each,
            # the folder's counts on standard error)
            (mixed, [], 1,
             [("README", "signature.none", None), ("a.exe", None, None),
              ("b/tampered.dll", "image.hash_mismatch", None),
              ("notes.exe", "file.not_pe", None),
              ("setup/Tarvo.msi", "signature.none", None),
              ("setup/data.cab", "file.unsupported_format",
               {"format": "cabinet", "allowed": False})],
             "5 files to check, 1 file of a kind not verified here, "
             "1 other file left out"),
            (cab_only, [], 1,
             [("data.cab", "file.unsupported_format",
               {"format": "cabinet", "allowed": False})], None),
            (cab_only, allow, 0,
             [("data.cab", "file.unsupported_format",
               {"format": "cabinet", "allowed": True})], None),
            ([], [], 2, [], "nothing to check in"),
            ([("notes.txt", b"text")], [], 2, [], "1 other file left out"),
        ]
        for layout, options, code, want, err in cases:
            with self.subTest(layout=len(layout), options=options):
                folder = self.fixture_copies(layout)
                run = self.explain("--format", "jsonl", *options, folder)
                self.assertEqual(run.code, code, run.err)
                reports = [json.loads(line) for line in run.out.splitlines()]
                self.assertEqual([(r["file"][len(folder) + 1:], r["code"],
                                   r["unsupported"]) for r in reports], want)
                self.assertEqual({r["tool"]["version"] for r in reports},
                                 {CONFIG.version} if want else set())
                self.assertIn(err or "", run.err)
        # Let pass, a file not checked is JUnit's skipped case and a SARIF
        # note.
        folder = self.fixture_copies(cab_only)
        junit = self.explain("--format", "junit", *allow, folder)
        self.assertIn('skipped="1"', junit.out)
        self.assertIn('<skipped message="file.unsupported_format: ', junit.out)
        sarif = json.loads(self.explain("--format", "sarif", *allow,
                                        folder).out)
        self.assertEqual([r["level"] for r in sarif["runs"][0]["results"]],
                         ["note"])
        # For a person, quiet: what fails, its signer's SHA-256 ready for
        # --signer, and the line that sums up.
        folder = self.fixture_copies(mixed)
        quiet = self.explain("--quiet", folder).out
        self.assertNotIn("a.exe", quiet)
        self.assertIn(certificate_digest(harness.fixture_path("pki/leaf.crt"),
                                         "sha256"), quiet)
        self.assertTrue(quiet.endswith(
            "\n\n6 files: 1 valid, 5 failed (2 signature.none, 1 "
            "image.hash_mismatch, 1 file.not_pe, 1 file.unsupported_format), "
            "0 unreadable, 0 not checked\n"), quiet)

    def test_staging_is_the_installers_walk_and_fails_what_is_missing(self):
        names = harness.MANIFEST
        everything = [("P/" + n, "valid.exe") for n in names]
        cases = [
            # (layout, code, missing entries, CommonFiles-found entries,
            # the other files checked after the entries)
            (everything, 0, 0, 0, []),
            # The CommonFiles copy, tampered, wins over a sound one, which
            # is checked after the entries with a file the manifest does
            # not name; entry 1 is in neither folder.
            (everything[2:] + [("P/" + names[0], "valid.exe"),
                               ("C/" + names[0], "tampered.exe"),
                               ("P/extra/Tarvo.msi", "msi-unsigned.msi")],
             1, 1, 1, ["P/extra/Tarvo.msi", "P/" + names[0]]),
        ]
        for layout, code, missing, common, others in cases:
            with self.subTest(layout=len(layout), code=code):
                folder = self.fixture_copies(layout)
                os.makedirs(os.path.join(folder, "C"), exist_ok=True)
                run = self.explain("--json", "--staging",
                                   os.path.join(folder, "P/"),
                                   os.path.join(folder, "C/"))
                self.assertEqual(run.code, code, run.err)
                reports = json.loads(run.out)
                self.assertEqual([r["file"][len(folder) + 1:]
                                  for r in reports[len(names):]], others)
                reports = reports[:len(names)]
                self.assertEqual([r["staging"]["name"] for r in reports],
                                 list(names))
                found = [r["staging"]["found"] for r in reports]
                self.assertEqual(found.count(None), missing)
                self.assertEqual(found.count("common_files"), common)
                self.assertEqual(
                    sum(r["code"] == "staging.missing" for r in reports),
                    missing)
        # A folder without its separator: sealprobe would look beside it.
        run = self.explain("--staging", folder + "/P", folder + "/C/")
        self.assertEqual(run.code, 2)
        self.assertIn("does not end in '/'", run.err)
        self.assertEqual(run.out, "")

    def test_policy_fails_what_windows_calls_valid(self):
        leaf = harness.fixture_path("pki/leaf.crt")
        sha256 = certificate_digest(leaf, "sha256")
        sha1 = certificate_digest(leaf, "sha1").upper()
        stranger = "00" * 32
        # intermediate.exe: ileaf, under inter, under root. Pins that
        # outlive a renewal, each also with one digit changed.
        inter = certificate_digest(harness.fixture_path("pki/inter.crt"),
                                   "sha256")
        inter_off = inter[:-1] + ("1" if inter[-1] == "0" else "0")
        ileaf = certificate_digest(harness.fixture_path("pki/ileaf.crt"),
                                   "sha1")
        code_signing = "1.3.6.1.5.5.7.3.3"
        cases = [
            # (file, options, exit code, code)
            ("intermediate.exe", ["--chain-includes", inter], 0, None),
            ("intermediate.exe", ["--chain-includes", inter_off], 1,
             "policy.chain_not_pinned"),
            ("intermediate.exe", ["--signer-eku", code_signing], 0, None),
            ("intermediate.exe", ["--signer-eku", "1.3.6.1.5.5.7.3.4"], 1,
             "policy.signer_eku_not_pinned"),
            # The signer itself is not above it in its chain.
            ("intermediate.exe", ["--chain-includes", ileaf], 1,
             "policy.chain_not_pinned"),
            # Any value of a kind; every kind given.
            ("intermediate.exe", ["--chain-includes", inter_off + "," + inter,
                                  "--signer-eku", code_signing,
                                  "--signer", ileaf], 0, None),
            ("intermediate.exe", ["--chain-includes", inter,
                                  "--signer", stranger], 1,
             "policy.signer_not_pinned"),
            ("valid.exe", ["--signer", sha256], 0, None),
            ("valid.exe", ["--signer", stranger, "--signer", sha1], 0, None),
            ("valid.exe", ["--signer", stranger], 1,
             "policy.signer_not_pinned"),
            ("expired-ts.exe", ["--require-timestamp"], 0, None),
            ("valid.exe", ["--require-timestamp"], 1, "policy.no_timestamp"),
            ("tampered.exe", ["--signer", stranger], 1, "image.hash_mismatch"),
            ("nested.exe", [], 0, None),
            ("nested.exe", ["--all-signatures"], 1, "policy.signature_invalid"),
            ("dual-signed.exe", ["--all-signatures", "--signer", sha256], 0,
             None),
            ("dual-signed.exe", ["--all-signatures", "--signer", stranger], 1,
             "policy.signer_not_pinned"),
        ]
        for name, options, code, failure in cases:
            with self.subTest(name=name, options=options):
                path = harness.fixture_path("files/" + name)
                run = self.explain("--json", *options, path)
                self.assertEqual(run.code, code, run.err)
                report = json.loads(run.out)[0]
                self.assertEqual(report["code"], failure)
                # Windows' verdict is the primary's whatever the policy.
                line, target = self.sealprobe_line(path)
                self.assertEqual(report["verdict"].replace(path, target), line)

    def test_ci_formats_are_read_by_their_consumers(self):
        missing = os.path.join(CONFIG.fixtures, "no such file.exe")
        files = [harness.fixture_path("files/" + name) for name in
                 ("valid.exe", "tampered.exe", "expired.exe", "valid.exe")]
        files.append(missing)
        junit = self.explain("--format", "junit", *files)
        self.assertEqual(junit.code, 3, junit.err)
        path = os.path.join(harness.temp_folder(self), "junit.xml")
        with open(path, "w") as f:
            f.write(junit.out)
        suites = list(junitparser.JUnitXml.fromfile(path))
        self.assertLessEqual({("version", CONFIG.version),
                              ("trust.store", "system")},
                             {(p.name, p.value)
                              for p in suites[0].properties()})
        cases = [case for suite in suites for case in suite]
        self.assertEqual([case.name for case in cases], files)
        self.assertEqual(len(re.findall(r'<testcase [^>]* time="[\d.]+"',
                                        junit.out)), len(files))
        # GitLab shows a result's text alone: the code and the reason lead
        # it. A file that could not be read is an error, with the
        # system's reason.
        self.assertEqual(
            [[(type(r).__name__, r.type) for r in case.result]
             for case in cases],
            [[], [("Failure", "image.hash_mismatch")],
             [("Failure", "chain.expired")], [],
             [("Error", "file.not_opened")]])
        for result in (r for case in cases for r in case.result):
            self.assertEqual(result.text.split("\n")[0], result.message)
            self.assertTrue(result.text.startswith(result.type + ": "))
        self.assertIn("the image hash is not the one", cases[1].result[0].text)
        self.assertIn("No such file or directory", cases[4].result[0].text)

        sarif = self.explain("--format", "sarif", *files)
        log = json.loads(sarif.out)
        jsonschema.validate(log, SARIF_SCHEMA)
        run = log["runs"][0]
        self.assertEqual(run["tool"]["driver"]["version"], CONFIG.version)
        self.assertEqual(run["invocations"][0]["exitCode"], 3)

        def uri(result):
            return result["locations"][0]["physicalLocation"][
                "artifactLocation"]["uri"]
        self.assertEqual(
            [(r["ruleId"], uri(r)) for r in run["results"]],
            [("image.hash_mismatch", "file://" + files[1]),
             ("chain.expired", "file://" + files[2]),
             ("file.not_opened", "file://" + missing.replace(" ", "%20"))])
        # The alert's title is the message: the reason leads it.
        self.assertTrue(run["results"][0]["message"]["text"].startswith(
            "The image hash is not the one"))
        # Code scanning tracks an alert by its fingerprint: the same for
        # the same path and code in another run, the files in another
        # order; another for each.
        again = json.loads(self.explain("--format", "sarif",
                                        *reversed(files)).out)

        def fingerprints(log):
            return {(r["ruleId"], uri(r)):
                    r["partialFingerprints"]["primaryLocationLineHash"]
                    for r in log["runs"][0]["results"]}
        self.assertEqual(fingerprints(again), fingerprints(log))
        self.assertEqual(len(set(fingerprints(log).values())), 3)

    def test_any_number_of_jobs_gives_the_same_output(self):
        files = sorted(glob.glob(os.path.join(CONFIG.fixtures, "files",
                                              "*.exe")))
        # A chain without a timestamp is judged as of the run's start,
        # which two runs need not share.
        now = re.compile(r'[\d:T-]{19}Z(?=", "why": "(now|lifetime)| \(now)')
        # JUnit's times are how long each file and the run took.
        times = re.compile(r' time="[\d.]+"')
        for form in ("text", "jsonl", "junit", "sarif"):
            with self.subTest(form):
                runs = [self.explain("--format", form, "--jobs", jobs, *files)
                        for jobs in ("1", "4")]
                self.assertEqual(
                    *[(run.code, times.sub("", now.sub("NOW", run.out)))
                      for run in runs])

    def test_a_report_that_cannot_be_written_is_an_error(self):
        explain = harness.tool(CONFIG.explain)
        valid = harness.fixture_path("files/valid.exe")
        for args in (["--version"], [valid], ["--format", "junit", valid]):
            with self.subTest(args=args), open("/dev/full", "w") as full:
                run = subprocess.run([CONFIG.explain] + args, stdout=full,
                                     stderr=subprocess.PIPE,
                                     env=explain.env())
                self.assertEqual(run.returncode, 2)
                self.assertIn(b"No space left on device", run.stderr)
        run = self.explain("--version")
        self.assertEqual((run.code, run.out),
                         (0, "sealprobe-explain %s\n" % CONFIG.version))


if __name__ == "__main__":
    harness.main("tool", "explain", "fixtures", "version",
                 flags=("sanitized",))
