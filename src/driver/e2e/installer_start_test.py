#!/usr/bin/python3
"""SealProbe.exe started the way installers start it, under Wine.

Usage:
  installer_start_test.py --tool SEALPROBE_EXE --runner RUNNER
                          --fixtures DIR --launcher LAUNCHER [unittest options]

RUNNER is the build's Wine wrapper and DIR what
src/trust/testdata/make_fixtures.sh made. LAUNCHER hands one raw command line
to CreateProcessW, as Windows Installer does (Wine's own command line
re-quotes every argument).

Helpers and expected output come from e2e_test.py.
"""
import argparse
import os
import shutil
import sys
import tempfile
import unittest

import e2e_test as e2e

CONFIG = argparse.Namespace()

def wine_tool(program):
    return e2e.Tool("win", program, CONFIG.runner, CONFIG.fixtures)


class TempRootTest(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        tmp = tempfile.TemporaryDirectory(prefix="sealprobe-start-")
        self.addCleanup(tmp.cleanup)
        self.root = os.path.realpath(tmp.name)
        self.assertNotIn(" ", self.root)

    def folder(self, *parts):
        path = os.path.join(self.root, *parts)
        os.makedirs(path, exist_ok=True)
        return path

    def put(self, folder, name, fixture):
        shutil.copyfile(
            os.path.join(CONFIG.fixtures, e2e.FIXTURES[fixture][0]),
            os.path.join(folder, name))


class RawCommandLineTest(TempRootTest):
    """The command lines an installer writes, "[INSTALLDIR]" quoting and all.

    A valid first entry in the Product folder and a tampered eleventh in the
    CommonFiles folder: only a run that really looked in both folders prints
    the expected lines and fails.
    """

    def setUp(self):
        super().setUp()
        self.tool = wine_tool(CONFIG.tool)
        self.product = self.folder("Program Files", "Tarvo")
        # The standard folder has two spaces, one more than the product's.
        self.common = {
            "standard": self.folder("Program Files", "Common Files"),
            "one space": self.folder("Common Files"),
        }
        self.put(self.product, e2e.MANIFEST[0], "valid")
        for folder in self.common.values():
            self.put(folder, e2e.MANIFEST[10], "tampered")

    def expected(self, product, common):
        """The lines of a run given folder arguments as the tool reads them."""
        return e2e.walk({
            e2e.MANIFEST[0]: (product + e2e.MANIFEST[0], "valid"),
            e2e.MANIFEST[10]: (common + e2e.MANIFEST[10], "tampered"),
        })

    def launch(self, line):
        code, out, err = wine_tool(CONFIG.launcher).run([line])
        self.assertIn("launching: %s\r\n" % line, err,
                      "the launcher got another line")
        return code, out, err

    def test_every_quoting_form(self):
        tool = '"%s"' % self.tool.path(CONFIG.tool)
        p = self.tool.folder(self.product)
        message = '"Cannot verify {FileName}."'
        cases = []
        for kind, folder in sorted(self.common.items()):
            c = self.tool.folder(folder)
            cases += [
                # What "[INSTALLDIR]" gives: the runtime reads \" as a quote.
                ("installer quoting, %s" % kind,
                 '%s "%s" "%s" "Tarvo" %s 3' % (tool, p, c, message),
                 self.expected(p, c), 1),
                # "[INSTALLDIR]\": the runtime's own rules hold.
                ("doubled backslashes, %s" % kind,
                 '%s "%s\\" "%s\\" Tarvo %s 3' % (tool, p, c, message),
                 self.expected(p, c), 1),
            ]
        c = self.tool.folder(self.common["standard"])
        cases += [
            # Only the re-split reads this; it keeps both backslashes, and
            # Windows reads a doubled separator as one.
            ("one folder doubled, one not",
             '%s "%s\\" "%s" Tarvo %s 3' % (tool, p, c, message),
             self.expected(p + "\\", c), 1),
            ("quoted before the separator",
             '%s "%s"\\ "%s"\\ Tarvo %s 3' % (tool, p[:-1], c[:-1], message),
             self.expected(p, c), 1),
            ("a message with escaped quotes",
             '%s "%s\\" "%s\\" Tarvo "Cannot verify \\"{FileName}\\"." 3' % (
                 tool, p, c),
             self.expected(p, c), 1),
            ("too few arguments either way",
             '%s "%s" "%s" Tarvo 3' % (tool, p, c), e2e.USAGE, 100),
            ("six arguments", '%s "%s\\" "%s\\" Tarvo %s 3 extra' % (
                tool, p, c, message), e2e.USAGE, 100),
            # An unquoted \" is a quote in the folder, however it is split.
            ("a quote in a folder",
             '%s %s" "%s" Tarvo %s 3' % (
                 tool, self.tool.folder(self.folder("Plain")), c, message),
             e2e.USAGE, 100),
        ]
        for what, line, out, code in cases:
            with self.subTest(what):
                got_code, got_out, err = self.launch(line)
                self.assertEqual(got_out, out)
                self.assertEqual(got_code, code, "stderr:\n" + err)


def main():
    parser = argparse.ArgumentParser(add_help=False)
    for name in ("tool", "runner", "fixtures", "launcher"):
        parser.add_argument("--" + name, required=True)
    known, rest = parser.parse_known_args()
    for name, value in vars(known).items():
        setattr(CONFIG, name, os.path.abspath(value))
    unittest.main(argv=[sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
