#!/usr/bin/python3
"""The built tool, run end to end on installation folders made at test time.

Usage:
  e2e_test.py --tool-kind win|posix --tool TOOL [--runner RUNNER]
              --fixtures DIR [unittest options]

TOOL is the tool as built; RUNNER, when given, is the command that runs it
(the build's Wine wrapper for the Windows tool). DIR is what
src/trust/testdata/make_fixtures.sh made.

The Windows tool sees host folders as Wine paths (a host folder /a/b/ is
Z:\\a\\b\\), and its runtime writes "\\r\\n" for every "\\n"; output is
compared after folding "\\r\\n" back. The POSIX tool gets host paths as they
are, and the fixtures' test roots as its only trust anchors. Every run
happens without a display and without a controlling terminal, so the error
dialog returns at once and cannot hold a run.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

# The product's files, in the order the tool checks them.
MANIFEST = (
    "tv-Common.v5.21.40.0.dll",
    "tv-HostBridge.dll",
    "tv-NetBridge.dll",
    "tv-StageOne.dll",
    "tv-ReshapeStage.dll",
    "tv-GuardStage.dll",
    "tv-MarkupStage.dll",
    "tv-RelayStage.dll",
    "tv-StageCommon.v5.21.40.0.dll",
    "tv-RasterStage.dll",
    "tv-Strings.dll",
    "tv-Messaging.v5.21.40.0.dll",
    "tv-Palette.dll",
    "tv-ShellVerbs.dll",
    "tv-ShellVerbsRelay.dll",
    "TarvoSetup.exe",
    "TarvoGlance.exe",
    "TarvoOptions.exe",
    "TarvoInquiry.exe",
    "TarvoOptionsStore.exe",
    "TvEnroll.exe",
    "SealProbe.exe",
    "SealProbe.exe",
    "TarvoPopup.exe",
    "TarvoTaskWatch.exe",
    "TarvoTaskWatchStarter.exe",
    "TarvoTaskWatchDaemon.exe",
    "tv-QueueHook.dll",
    "TarvoWorkspace.exe",
    "Workspace.exe",
    "TarvoPanel.exe",
    "Panel.exe",
    "TarvoMonitor.exe",
    "Monitor.exe",
)

USAGE = (
    "\n"
    "ERROR: Invalid argument.\n"
    "\n"
    "Synopsis:\n"
    "    SealProbe <Product Path> <CommonFiles Path> <ProductName> "
    "<Localized Error Message> UILevel\n"
    "\n"
    "    Returns 0 if the file has a valid digital signature.\n"
    "    Returns a value >0 otherwise.\n"
)

SUCCEEDED = "SealProbe: SUCCEEDED.\n"
FAILED = "SealProbe: FAILED.\n"

# What the tool says about each kind of file, by the path it opened.
VERDICTS = {
    "valid": '"{path}" has a valid digital signature.\n',
    # TRUST_E_NOSIGNATURE
    "unsigned": 'The file "{path}" is not digitally signed.\n',
    # TRUST_E_BAD_DIGEST
    "tampered": "Error is: 0x80096010.\n",
    # TRUST_E_SUBJECT_FORM_UNKNOWN, which has no sentence of its own.
    "notpe": "Error is: 0x800b0003.\n",
}

# Files made by make_fixtures.sh, and the kind of verdict each one gets. Only
# files on which Windows and Wine agree: Wine checks digests and signatures
# but not chain trust, expiry or key usage.
FIXTURES = {
    "valid": ("files/valid.exe", "valid"),
    "unsigned": ("files/unsigned.exe", "unsigned"),
    "tampered": ("files/tampered.exe", "tampered"),
    "notpe": ("files/notpe.txt", "notpe"),
    "valid32": ("files/valid32.exe", "valid"),
    "tampered32": ("files/tampered32.exe", "tampered"),
    "unsigned32": ("pe/small32.exe", "unsigned"),
    "sha1": ("files/sha1.exe", "valid"),
    "sha512": ("files/sha512.exe", "valid"),
    "pagehash": ("files/pagehash.exe", "valid"),
    "nested": ("files/nested.exe", "valid"),
    "intermediate": ("files/intermediate.exe", "valid"),
    # Signed while the certificate was valid, per a trusted timestamp.
    "expired-ts": ("files/expired-ts.exe", "valid"),
}
# Made by the test itself: an empty file is no PE either.
EMPTY = "empty"

CONFIG = argparse.Namespace()


def missing(name):
    return "\tNon-existing file: %s\n" % name


def verdict(found):
    path, kind = found
    return VERDICTS[kind].format(path=path)


def walk(found):
    """The output of a run, given what it finds.

    `found` maps a manifest name to (path the tool opens, verdict kind).
    Names not in it are missing. The walk ends after the first file that is
    not validly signed.
    """
    out = ""
    for name in MANIFEST:
        if name not in found:
            out += missing(name)
            continue
        out += verdict(found[name])
        if found[name][1] != "valid":
            return out + FAILED
        out += SUCCEEDED
    return out


def traced_names(trace, function):
    """The wide strings Wine's trace shows as the first argument of
    `function` ("channel:Function"), unescaped; long ones are cut short."""
    pattern = re.compile(r'trace:%s \(?L"((?:[^"\\]|\\.)*)"' %
                         re.escape(function))
    return [re.sub(r"\\(.)", r"\1", name)
            for name in pattern.findall(trace)]


class Tool:
    """The tool under test, and how it spells folders."""

    def __init__(self, kind, tool, runner, fixtures):
        self.kind = kind
        self.command = ([runner] if runner else []) + [tool]
        self.tool = tool
        self.fixtures = fixtures

    def path(self, host_path):
        """`host_path` as the tool spells it."""
        if self.kind == "win":
            return "Z:" + host_path.replace("/", "\\")
        return host_path

    def folder(self, host_folder):
        """A folder argument: the folder with its trailing separator."""
        return self.path(host_folder) + ("\\" if self.kind == "win" else "/")

    def run(self, args, cwd=None, timeout=60, env=None):
        """Runs the tool; `env` adds to or overrides the environment."""
        env = dict(os.environ, **(env or {}))
        for name in ("DISPLAY", "WAYLAND_DISPLAY"):
            env.pop(name, None)
        if self.kind == "win":
            # Wine turns the arguments and host file names into UTF-16 by
            # the locale's character set; UTF-8 keeps every name intact.
            env["LC_ALL"] = "C.UTF-8"
        else:
            # The POSIX tool trusts OpenSSL's default anchors; the fixtures'
            # test roots stand in for them.
            env["SSL_CERT_FILE"] = os.path.join(self.fixtures,
                                                "pki/anchors.pem")
            env.pop("SSL_CERT_DIR", None)
        # Output goes to files, not pipes: a Wine server started by this run
        # inherits the descriptors and outlives the run by seconds, and a
        # pipe would stay open until it exits.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            code = subprocess.run(self.command + list(args), cwd=cwd, env=env,
                                  stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=err, start_new_session=True,
                                  timeout=timeout).returncode
            out.seek(0)
            err.seek(0)
            stdout = out.read().replace(b"\r\n", b"\n")
            stderr = err.read()
        return (code, stdout.decode("utf-8", "surrogateescape"),
                stderr.decode("utf-8", "replace"))


class EndToEndTest(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        self.tool = Tool(CONFIG.tool_kind, CONFIG.tool, CONFIG.runner,
                         CONFIG.fixtures)
        tmp = tempfile.TemporaryDirectory(prefix="sealprobe-e2e-")
        self.addCleanup(tmp.cleanup)
        self.root = os.path.realpath(tmp.name)
        self.installations = 0
        self.new_installation()

    def new_installation(self):
        """Fresh, empty Product and CommonFiles folders."""
        self.installations += 1
        base = "inst%d" % self.installations
        self.product = self.make_folder(os.path.join(base, "Product"))
        self.common = self.make_folder(os.path.join(base, "CommonFiles"))

    def make_folder(self, name):
        path = os.path.join(self.root, name)
        os.makedirs(path)
        return path

    def put(self, folder, name, fixture):
        """Places `fixture` as `folder`/`name`. Returns what the tool finds
        there when given `folder` with its separator: (path, verdict kind).
        """
        target = os.path.join(folder, name)
        if fixture == EMPTY:
            open(target, "wb").close()
            kind = "notpe"
        else:
            source, kind = FIXTURES[fixture]
            shutil.copyfile(os.path.join(self.tool.fixtures, source), target)
        return self.tool.folder(folder) + name, kind

    def run_tool(self, product=None, common=None, ui_level="0",
                 product_name="Tarvo", message="Cannot verify {FileName}.",
                 cwd=None, env=None):
        product = self.tool.folder(self.product) if product is None else product
        common = self.tool.folder(self.common) if common is None else common
        return self.tool.run(
            [product, common, product_name, message, ui_level], cwd=cwd,
            env=env)

    def assert_run(self, expected_out, expected_code, **kwargs):
        code, out, err = self.run_tool(**kwargs)
        self.assertEqual(out, expected_out)
        self.assertEqual(code, expected_code, "stderr:\n" + err)

    def test_wrong_argument_count_prints_usage(self):
        for count in (0, 4, 6):
            with self.subTest(arguments=count):
                code, out, err = self.tool.run(["x"] * count)
                self.assertEqual(out, USAGE)
                self.assertEqual(len(out.splitlines()), 8)
                self.assertEqual(code, 100, "stderr:\n" + err)

    def test_nothing_installed_lists_every_entry_and_succeeds(self):
        self.assert_run(walk({}), 0)

    def test_everything_valid_walks_all_entries(self):
        # Alternating folders, so both lookups find files in one walk; the
        # tool's own name comes twice in a row and is verified twice.
        found = {}
        for name in MANIFEST:
            if name in found:
                continue
            folder = self.common if len(found) % 2 else self.product
            found[name] = self.put(folder, name, "valid")
        expected = walk(found)
        self.assertEqual(expected.count(SUCCEEDED), 34)
        self.assert_run(expected, 0)

    def test_common_files_copy_wins_and_product_copy_is_never_verified(self):
        found = {}
        for name in MANIFEST:
            found[name] = self.put(self.common, name, "valid")
            self.put(self.product, name, "tampered")
        self.assert_run(walk(found), 0)

    def test_product_copy_is_verified_when_common_files_has_none(self):
        found = {"TarvoPanel.exe": self.put(self.product, "TarvoPanel.exe",
                                            "valid")}
        self.assert_run(walk(found), 0)

    def test_first_bad_file_fails_the_run_and_ends_the_walk(self):
        # Valid files stand before and after the bad one; nothing after it
        # may be reported.
        cases = (
            ("unsigned", 0, "common"),
            ("tampered", 10, "product"),
            ("notpe", 33, "common"),
            (EMPTY, 21, "product"),
            ("unsigned32", 15, "product"),
            ("tampered32", 1, "common"),
        )
        for fixture, index, where in cases:
            bad = MANIFEST[index]
            with self.subTest(fixture=fixture, entry=bad, folder=where):
                self.new_installation()
                found = {}
                for name in MANIFEST:
                    if name == bad:
                        folder = self.common if where == "common" else \
                            self.product
                        found[name] = self.put(folder, name, fixture)
                    elif name not in found:
                        found[name] = self.put(self.product, name, "valid")
                expected = walk(found)
                self.assertTrue(expected.endswith(verdict(found[bad]) + FAILED))
                self.assert_run(expected, 1)

    def test_signatures_of_every_shape_verify(self):
        # 32-bit images, other digests, page hashes, a nested signature, a
        # chain through an intermediate, a certificate expired after a
        # timestamped signing.
        found = {}
        shapes = ("valid32", "sha1", "sha512", "pagehash", "nested",
                  "intermediate", "expired-ts")
        for name, fixture in zip(MANIFEST, shapes):
            found[name] = self.put(self.common, name, fixture)
        self.assert_run(walk(found), 0)

    def test_folder_in_place_of_a_file_counts_as_missing(self):
        os.mkdir(os.path.join(self.common, "tv-Strings.dll"))
        os.mkdir(os.path.join(self.product, "tv-Strings.dll"))
        # A folder in CommonFiles does not hide the Product copy.
        os.mkdir(os.path.join(self.common, "TarvoSetup.exe"))
        found = {"TarvoSetup.exe": self.put(self.product, "TarvoSetup.exe",
                                            "valid")}
        self.assert_run(walk(found), 0)

    def test_folder_arguments_are_joined_to_names_without_a_separator(self):
        # "<root>/CommonFiles" + "tv-Strings.dll" names the file
        # "<root>/CommonFilestv-Strings.dll", beside the folder, not in it.
        beside_common = self.common + "tv-Strings.dll"
        beside_product = self.product + "TarvoSetup.exe"
        for beside in (beside_common, beside_product):
            shutil.copyfile(
                os.path.join(self.tool.fixtures, FIXTURES["valid"][0]), beside)
        # Inside the folders: never found, so never verified.
        self.put(self.common, "TvEnroll.exe", "unsigned")
        self.put(self.product, "TarvoPopup.exe", "unsigned")
        found = {
            "tv-Strings.dll": (self.tool.path(beside_common), "valid"),
            "TarvoSetup.exe": (self.tool.path(beside_product), "valid"),
        }
        self.assert_run(walk(found), 0, product=self.tool.path(self.product),
                        common=self.tool.path(self.common))

    def test_empty_folder_arguments_look_in_the_current_folder(self):
        here = self.make_folder("cwd")
        self.put(here, "tv-Strings.dll", "valid")
        self.put(here, "TarvoSetup.exe", "unsigned")
        found = {
            "tv-Strings.dll": ("tv-Strings.dll", "valid"),
            "TarvoSetup.exe": ("TarvoSetup.exe", "unsigned"),
        }
        self.assert_run(walk(found), 1, product="", common="", cwd=here)

    def test_ui_level_does_not_change_the_output_without_a_display(self):
        # Without a display the dialog returns at once; the run still fails
        # the same way at every level.
        found = {"tv-HostBridge.dll": self.put(self.common, "tv-HostBridge.dll",
                                               "tampered")}
        for level in ("4", "5", "3", "0", "-1", "abc"):
            with self.subTest(ui_level=level):
                self.assert_run(walk(found), 1, ui_level=level)

    def test_non_ascii_folder_keeps_every_line_whole(self):
        # The console may not be able to show every character of a path, but
        # each line must still end where it should.
        folder = self.make_folder("Pr\u00fcfung-\u6587\u4ef6")
        self.put(folder, MANIFEST[0], "valid")
        code, out, err = self.run_tool(common=self.tool.folder(folder))
        first, rest = out.split("\n", 1)
        self.assertTrue(first.startswith('"' + self.tool.folder(self.root)),
                        first)
        separator = "\\" if self.tool.kind == "win" else "/"
        self.assertTrue(first.endswith(
            separator + MANIFEST[0] + '" has a valid digital signature.'),
            first)
        self.assertEqual(rest, SUCCEEDED + walk({})[len(missing(MANIFEST[0])):])
        self.assertEqual(code, 0, "stderr:\n" + err)

    def test_paths_longer_than_max_path(self):
        # Past the classic 260-character limit: the file is still found,
        # verified and named in full.
        folder = self.make_folder(os.path.join(*(["d" * 60] * 5)))
        found = {"tv-Strings.dll": self.put(folder, "tv-Strings.dll", "valid"),
                 "TarvoSetup.exe": self.put(folder, "TarvoSetup.exe",
                                            "tampered")}
        self.assertGreater(len(found["tv-Strings.dll"][0]), 300)
        if self.tool.kind != "win":
            self.assert_run(walk(found), 1, common=self.tool.folder(folder))
            return
        # Wine opens a long path in any form; a default Windows only in the
        # extended-length form "\\?\Z:\..." ("Maximum Path Length
        # Limitation", learn.microsoft.com/windows/win32/fileio/
        # maximum-file-path-limitation). Wine's traces show the form the
        # probe's CreateFileW got, and the form WinVerifyTrust got (it hands
        # its path to crypt32's CryptSIPRetrieveSubjectGuid). They cut names
        # at about 280 characters, so folders are told apart by their start.
        code, out, err = self.run_tool(common=self.tool.folder(folder),
                                       env={"WINEDEBUG": "+file,+crypt"})
        self.assertEqual(out, walk(found))
        self.assertEqual(code, 1)
        opened = traced_names(err, "file:CreateFileW")
        verified = traced_names(err, "crypt:CryptSIPRetrieveSubjectGuid")
        deep = self.tool.path(folder)[:len(self.tool.path(self.root)) + 30]
        extended = "\\\\?\\" + deep
        # Entries 0 to 15 are looked for in the deep folder, up to the
        # tampered one; the two found there are verified.
        self.assertGreaterEqual(
            sum(name.startswith(extended) for name in opened), 16)
        self.assertEqual(
            sum(name.startswith(extended) for name in verified), 2)
        self.assertEqual([n for n in opened + verified if n.startswith(deep)],
                         [])
        # Short paths keep the form they were given.
        short = [n for n in opened if n.startswith(self.tool.path(self.root))]
        self.assertGreaterEqual(len(short), 14)
        self.assertTrue(all(n.startswith(self.tool.folder(self.product))
                            for n in short), short)

    def test_signed_tool_verifies_its_own_copy_twice(self):
        if self.tool.kind != "win":
            self.skipTest("only the Windows tool carries an Authenticode "
                          "signature")
        target = os.path.join(self.common, "SealProbe.exe")
        shutil.copyfile(self.tool.tool, target)
        found = {"SealProbe.exe": (
            self.tool.folder(self.common) + "SealProbe.exe", "valid")}
        expected = walk(found)
        self.assertEqual(
            expected.count(verdict(found["SealProbe.exe"]) + SUCCEEDED), 2)
        self.assert_run(expected, 0)


def main():
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--tool-kind", choices=("win", "posix"), required=True)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--runner")
    parser.add_argument("--fixtures", required=True)
    known, rest = parser.parse_known_args()
    CONFIG.tool_kind = known.tool_kind
    CONFIG.tool = os.path.abspath(known.tool)
    CONFIG.runner = known.runner and os.path.abspath(known.runner)
    CONFIG.fixtures = os.path.abspath(known.fixtures)
    unittest.main(argv=[sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
