#!/usr/bin/python3
"""The built tool, run end to end on installation folders made at test time.

Usage:
  e2e_test.py --tool TOOL [--runner RUNNER] --fixtures DIR [unittest options]

TOOL is the tool as built; RUNNER, given for the Windows tool, is the
build's Wine wrapper. DIR is what src/authenticode/testdata/make_fixtures.sh made.

The Windows tool sees host folders as Wine paths, and its output is compared
after folding "\\r\\n" back. The POSIX tool gets host paths as they are, and
the fixtures' test roots as its only trust anchors. Every run happens
without a display and without a controlling terminal, so the error notice
returns at once and cannot hold a run.
"""
import os
import re
import shutil
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                os.pardir, os.pardir, "testing"))
import harness  # noqa: E402
from harness import CONFIG, FIXTURES, MANIFEST, walk  # noqa: E402

# Made by the test itself: an empty file is no PE either; a folder where a
# file should be is no file; the signed tool itself.
EMPTY, FOLDER, TOOL = "empty", "folder", "tool"


def traced_names(trace, function):
    """The wide strings Wine's trace shows as the first argument of
    `function` ("channel:Function"), unescaped; long ones are cut short."""
    pattern = re.compile(r'trace:%s \(?L"((?:[^"\\]|\\.)*)"' %
                         re.escape(function))
    return [re.sub(r"\\(.)", r"\1", name)
            for name in pattern.findall(trace)]


class EndToEndTest(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        self.tool = harness.tool()
        self.root = harness.temp_folder(self, "sealprobe-e2e-")
        self.product = self.make_folder("Product")
        self.common = self.make_folder("CommonFiles")

    def make_folder(self, name):
        path = os.path.join(self.root, name)
        os.makedirs(path)
        return path

    def put(self, folder, name, fixture):
        """Places `fixture` as `folder`/`name`. Returns what the tool finds
        there when given `folder` with its separator: (path, verdict kind).
        """
        target = os.path.join(folder, name)
        kind = "valid"
        if fixture == EMPTY:
            open(target, "wb").close()
            kind = "notpe"
        elif fixture == TOOL:
            shutil.copyfile(CONFIG.tool, target)
        else:
            shutil.copyfile(harness.fixture_path(fixture), target)
            kind = FIXTURES[fixture][1]
        return self.tool.folder(folder) + name, kind

    def run_tool(self, product=None, common=None, ui_level="0", cwd=None,
                 env=None):
        product = self.tool.folder(self.product) if product is None else product
        common = self.tool.folder(self.common) if common is None else common
        return self.tool.run([product, common, "Tarvo",
                              "Cannot verify {FileName}.", ui_level],
                             cwd=cwd, env=env)

    def assert_run(self, expected_out, **kwargs):
        """The run prints `expected_out` and exits as it says: 1 when a file
        failed, else 0. Nothing goes to the error stream of the POSIX tool
        (Wine's own messages go to the Windows tool's)."""
        code, out, err = self.run_tool(**kwargs)
        self.assertEqual(out, expected_out)
        self.assertEqual(code, 1 if out.endswith(harness.FAILED) else 0,
                         "stderr:\n" + err)
        if not self.tool.windows:
            self.assertEqual(err, "")

    def test_wrong_argument_count_prints_usage(self):
        for count in (0, 4, 6):
            with self.subTest(arguments=count):
                code, out, err = self.tool.run(["x"] * count)
                self.assertEqual(out, harness.USAGE)
                self.assertEqual(code, 100, "stderr:\n" + err)

    def test_installations(self):
        # Each case places files (folder, manifest name, fixture) in a fresh
        # installation. What the tool must find: for each name the
        # CommonFiles copy when it is a file, else the Product copy when it
        # is a file, else nothing.
        names = list(dict.fromkeys(MANIFEST))
        cases = [
            ("nothing installed", []),
            # Both lookups find files in one walk; the tool's own name comes
            # twice in a row and is verified twice.
            ("every entry valid, in alternating folders",
             [(("product", "common")[i % 2], name, "valid")
              for i, name in enumerate(names)]),
            ("the CommonFiles copy wins, the Product copy is never verified",
             [("common", name, "valid") for name in names] +
             [("product", name, "tampered") for name in names]),
            ("the Product copy when CommonFiles has none",
             [("product", "TarvoPanel.exe", "valid")]),
            ("a folder counts as missing and hides no Product copy",
             [("common", "tv-Strings.dll", FOLDER),
              ("product", "tv-Strings.dll", FOLDER),
              ("common", "TarvoSetup.exe", FOLDER),
              ("product", "TarvoSetup.exe", "valid")]),
            # 32-bit images, other digests, page hashes, a nested signature,
            # a chain through an intermediate, a certificate expired after a
            # timestamped signing.
            ("signatures of every shape",
             [("common", name, shape) for name, shape in zip(
                 MANIFEST, ("valid32", "sha1", "sha512", "pagehash", "nested",
                            "intermediate", "expired-ts"))]),
        ]
        # The first bad file fails the run and ends the walk: valid files
        # stand before and after it.
        for fixture, index, where in (
                ("unsigned", 0, "common"), ("tampered", 10, "product"),
                ("notpe", 33, "common"), (EMPTY, 21, "product"),
                ("unsigned32", 15, "product"), ("tampered32", 1, "common")):
            bad = MANIFEST[index]
            cases.append(("%s as %s in %s" % (fixture, bad, where),
                          [(where, bad, fixture)] +
                          [("product", name, "valid")
                           for name in names if name != bad]))
        if self.tool.windows:
            cases.append(("the signed tool verifies its own copy twice",
                          [("common", "SealProbe.exe", TOOL)]))
        for number, (what, files) in enumerate(cases):
            with self.subTest(what):
                folders = {
                    "product": self.make_folder("%d/Product" % number),
                    "common": self.make_folder("%d/CommonFiles" % number),
                }
                found = {}
                for where in ("product", "common"):
                    for folder, name, fixture in files:
                        if folder != where:
                            continue
                        if fixture == FOLDER:
                            os.mkdir(os.path.join(folders[where], name))
                        else:
                            found[name] = self.put(folders[where], name,
                                                   fixture)
                self.assert_run(
                    walk(found), product=self.tool.folder(folders["product"]),
                    common=self.tool.folder(folders["common"]))

    def test_folder_arguments_are_joined_to_names_without_a_separator(self):
        # "<root>/CommonFiles" + "tv-Strings.dll" names the file
        # "<root>/CommonFilestv-Strings.dll", beside the folder, not in it.
        beside_common = self.common + "tv-Strings.dll"
        beside_product = self.product + "TarvoSetup.exe"
        for beside in (beside_common, beside_product):
            shutil.copyfile(harness.fixture_path("valid"), beside)
        # Inside the folders: never found, so never verified.
        self.put(self.common, "TvEnroll.exe", "unsigned")
        self.put(self.product, "TarvoPopup.exe", "unsigned")
        found = {
            "tv-Strings.dll": (self.tool.path(beside_common), "valid"),
            "TarvoSetup.exe": (self.tool.path(beside_product), "valid"),
        }
        self.assert_run(walk(found), product=self.tool.path(self.product),
                        common=self.tool.path(self.common))

    def test_empty_folder_arguments_look_in_the_current_folder(self):
        here = self.make_folder("cwd")
        self.put(here, "tv-Strings.dll", "valid")
        self.put(here, "TarvoSetup.exe", "unsigned")
        found = {
            "tv-Strings.dll": ("tv-Strings.dll", "valid"),
            "TarvoSetup.exe": ("TarvoSetup.exe", "unsigned"),
        }
        self.assert_run(walk(found), product="", common="", cwd=here)

    def test_ui_level_does_not_change_the_output_without_a_display(self):
        # Without a display or a terminal the notice returns at once; the
        # run fails the same way at every level.
        found = {"tv-HostBridge.dll": self.put(self.common, "tv-HostBridge.dll",
                                               "tampered")}
        for level in ("4", "5", "3", "0", "-1", "abc"):
            with self.subTest(ui_level=level):
                self.assert_run(walk(found), ui_level=level)

    def test_non_ascii_folder_keeps_every_line_whole(self):
        # The console may not be able to show every character of a path, but
        # each line must still end where it should.
        folder = self.make_folder("Pr\u00fcfung-\u6587\u4ef6")
        self.put(folder, MANIFEST[0], "valid")
        code, out, err = self.run_tool(common=self.tool.folder(folder))
        first, rest = out.split("\n", 1)
        self.assertTrue(first.startswith('"' + self.tool.folder(self.root)),
                        first)
        self.assertTrue(first.endswith(
            self.tool.folder(folder)[-1] + MANIFEST[0] +
            '" has a valid digital signature.'), first)
        self.assertEqual(rest, harness.SUCCEEDED + walk({}).split("\n", 1)[1])
        self.assertEqual(code, 0, "stderr:\n" + err)

    def test_paths_longer_than_max_path(self):
        # Past the classic 260-character limit: the file is still found,
        # verified and named in full.
        folder = self.make_folder(os.path.join(*(["d" * 60] * 5)))
        found = {"tv-Strings.dll": self.put(folder, "tv-Strings.dll", "valid"),
                 "TarvoSetup.exe": self.put(folder, "TarvoSetup.exe",
                                            "tampered")}
        self.assertGreater(len(found["tv-Strings.dll"][0]), 300)
        if not self.tool.windows:
            self.assert_run(walk(found), common=self.tool.folder(folder))
            return
        # Wine opens a long path in any form; a default Windows only in the
        # extended-length form "\\?\Z:\..." ("Maximum Path Length
        # Limitation", learn.microsoft.com/windows/win32/fileio/
        # maximum-file-path-limitation). Wine's traces show the form the
        # probe's CreateFileW got, and the form WinVerifyTrust got (it hands
        # its path to crypt32's CryptSIPRetrieveSubjectGuid). They cut names
        # at about 280 characters, so folders are told apart by their start.
        # The folder ends in a doubled separator, which the lines keep and
        # the extended-length form must not: there it names an empty
        # component, and no file opens.
        doubled = self.tool.folder(folder) + "\\"
        code, out, err = self.run_tool(common=doubled,
                                       env={"WINEDEBUG": "+file,+crypt"})
        self.assertEqual(out, walk({name: (doubled + name, kind)
                                    for name, (_, kind) in found.items()}))
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


if __name__ == "__main__":
    harness.main("tool", "fixtures", optional={"runner": None})
