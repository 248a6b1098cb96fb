#!/usr/bin/python3
"""SealProbe.exe started the way installers start it, under Wine.

Usage:
  installer_start_test.py --tool SEALPROBE_EXE --runner RUNNER
                          --fixtures DIR --launcher LAUNCHER
                          --control CONTROL --planted DIR [unittest options]

RUNNER is the build's Wine wrapper and DIR (fixtures) what
src/authenticode/testdata/make_fixtures.sh made. LAUNCHER hands one raw command line
to CreateProcessW, as Windows Installer does (Wine's own command line
re-quotes every argument). CONTROL is a program without the tool's defences
(undefended_control.c); --planted is the folder of DLLs built under system
DLLs' names (planted_dll.c).
"""
import glob
import os
import re
import shutil
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                os.pardir, os.pardir, "testing"))
import harness  # noqa: E402
from harness import CONFIG, FAILED, MANIFEST, USAGE  # noqa: E402

PLANTED = ("wintrust.dll", "crypt32.dll", "msisip.dll", "uxtheme.dll")
# Windows' search order, not Wine's builtin-first one, for the planted names
# (a copy in the exe's folder is found before System32's).
NATIVE_FIRST = "mscoree,mshtml=;wintrust,crypt32,msisip,uxtheme=n,b"
SYSTEM32 = "c:\\windows\\system32\\"


def loaded_dlls(trace, program):
    """Paths (lower case) of the DLLs WINEDEBUG=+loaddll shows `program`
    (the exe's file name) loading, in order."""
    lines = re.findall(r'^(\w+):trace:loaddll:\S+ Loaded L"((?:[^"\\]|\\.)*)"',
                       trace, re.MULTILINE)
    paths = [(pid, re.sub(r"\\(.)", r"\1", path).lower())
             for pid, path in lines]
    own = {pid for pid, path in paths if path.endswith("\\" + program.lower())}
    return [path for pid, path in paths
            if pid in own and not path.endswith(".exe")]


class TempRootTest(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        self.root = harness.temp_folder(self, "sealprobe-start-")
        self.assertNotIn(" ", self.root)

    def folder(self, *parts):
        path = os.path.join(self.root, *parts)
        os.makedirs(path, exist_ok=True)
        return path

    def put(self, folder, name, fixture):
        shutil.copyfile(harness.fixture_path(fixture),
                        os.path.join(folder, name))


class RawCommandLineTest(TempRootTest):
    """The command lines an installer writes, "[INSTALLDIR]" quoting and all.

    A valid first entry in the Product folder and a tampered eleventh in the
    CommonFiles folder: only a run that really looked in both folders prints
    the expected lines and fails.
    """

    def setUp(self):
        super().setUp()
        self.tool = harness.tool()
        self.product = self.folder("Program Files", "Tarvo")
        # The standard folder has two spaces, one more than the product's.
        self.common = {
            "standard": self.folder("Program Files", "Common Files"),
            "one space": self.folder("Common Files"),
        }
        self.put(self.product, MANIFEST[0], "valid")
        for folder in self.common.values():
            self.put(folder, MANIFEST[10], "tampered")

    def expected(self, product, common):
        """The lines of a run given folder arguments as the tool reads them."""
        return harness.walk({
            MANIFEST[0]: (product + MANIFEST[0], "valid"),
            MANIFEST[10]: (common + MANIFEST[10], "tampered"),
        })

    def launch(self, line):
        code, out, err = harness.tool(CONFIG.launcher).run([line])
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
            # Only the re-split reads this; it halves the doubled backslash,
            # as the runtime does.
            ("one folder doubled, one not",
             '%s "%s\\" "%s" Tarvo %s 3' % (tool, p, c, message),
             self.expected(p, c), 1),
            # The same with the tampered file in extended-length form, where
            # a doubled separator names an empty component and nothing opens
            # ("File path formats on Windows systems", learn.microsoft.com/
            # dotnet/standard/io/file-path-formats: "\\?\" skips
            # normalization): kept whole, the run would pass.
            ("extended-length folder doubled, one not",
             '%s "%s" "\\\\?\\%s\\" Tarvo %s 3' % (tool, p, c, message),
             self.expected(p, "\\\\?\\" + c), 1),
            # The runtime's own split keeps a doubled separator written as
            # four backslashes; the file functions get it single.
            ("extended-length folder with a doubled separator",
             '%s "%s\\" "\\\\?\\%s\\\\\\" Tarvo %s 3' % (tool, p, c, message),
             self.expected(p, "\\\\?\\" + c + "\\"), 1),
            ("quoted before the separator",
             '%s "%s"\\ "%s"\\ Tarvo %s 3' % (tool, p[:-1], c[:-1], message),
             self.expected(p, c), 1),
            ("a message with escaped quotes",
             '%s "%s\\" "%s\\" Tarvo "Cannot verify \\"{FileName}\\"." 3' % (
                 tool, p, c),
             self.expected(p, c), 1),
            ("too few arguments either way",
             '%s "%s" "%s" Tarvo 3' % (tool, p, c), USAGE, 100),
            ("six arguments", '%s "%s\\" "%s\\" Tarvo %s 3 extra' % (
                tool, p, c, message), USAGE, 100),
            # An unquoted \" is a quote in the folder, however it is split.
            ("a quote in a folder",
             '%s %s" "%s" Tarvo %s 3' % (
                 tool, self.tool.folder(self.folder("Plain")), c, message),
             USAGE, 100),
        ]
        for what, line, out, code in cases:
            with self.subTest(what):
                got_code, got_out, err = self.launch(line)
                self.assertEqual(got_out, out)
                self.assertEqual(got_code, code, "stderr:\n" + err)


class PlantedDllTest(TempRootTest):
    """DLLs planted under system DLLs' names beside the tool and in the
    folder it runs in, with Wine searching as Windows does."""

    def setUp(self):
        super().setUp()
        self.app = self.folder("app")
        self.work = self.folder("work")
        self.inst = self.folder("inst")
        for folder in (self.app, self.work):
            for dll in PLANTED:
                shutil.copyfile(os.path.join(CONFIG.planted, dll),
                                os.path.join(folder, dll))
        self.env = {"WINEDLLOVERRIDES": NATIVE_FIRST, "WINEDEBUG": "+loaddll"}

    def markers(self):
        """The marker files planted DLLs left, relative and in lower case
        (Wine names a module as it was asked for: WINTRUST.dll, MSISIP.DLL)."""
        return sorted(os.path.relpath(path, self.root).lower() for path in
                      glob.glob(os.path.join(self.root, "*", "*.loaded")))

    def test_control_loads_each_planted_dll_and_passes_a_tampered_file(self):
        control = os.path.join(self.app, "undefended_control.exe")
        shutil.copyfile(CONFIG.control, control)
        self.put(self.inst, "tampered.exe", "tampered")
        tool = harness.tool(control)
        code, out, err = tool.run(
            [tool.path(os.path.join(self.inst, "tampered.exe"))],
            cwd=self.work, env=self.env)
        self.assertEqual(out, "status=0x00000000\n")
        self.assertEqual(code, 0, "stderr:\n" + err)
        self.assertEqual(self.markers(),
                         sorted(os.path.join("app", dll + ".loaded")
                                for dll in PLANTED))
        beside = (tool.path(self.app) + "\\").lower()
        self.assertEqual(
            sorted(path[len(beside):] for path in
                   loaded_dlls(err, "undefended_control.exe")
                   if path.startswith(beside)),
            sorted(PLANTED))

    def test_tool_loads_every_dll_from_system32_and_fails_a_bad_file(self):
        # A tampered file goes through wintrust and crypt32; a file that is
        # no PE also makes crypt32 ask the signature-format DLLs it has
        # registered (msisip.dll among them). UI level 5 opens the dialog
        # (at once closed: no display), which loads uxtheme.dll.
        shutil.copyfile(CONFIG.tool, os.path.join(self.app, "SealProbe.exe"))
        tool = harness.tool(os.path.join(self.app, "SealProbe.exe"))
        cases = (
            ("tampered", "Error is: 0x80096010.\n",
             {"wintrust.dll", "crypt32.dll", "uxtheme.dll"}),
            ("notpe", "Error is: 0x800b0003.\n",
             {"wintrust.dll", "crypt32.dll", "msisip.dll", "uxtheme.dll"}),
        )
        for fixture, line, system_dlls in cases:
            with self.subTest(fixture):
                self.put(self.inst, MANIFEST[0], fixture)
                folder = tool.folder(self.inst)
                code, out, err = tool.run(
                    [folder, folder, "Tarvo", "Cannot verify {FileName}.", "5"],
                    cwd=self.work, env=self.env)
                self.assertEqual(out, line + FAILED)
                self.assertEqual(code, 1, "stderr:\n" + err)
                self.assertEqual(self.markers(), [])
                loaded = loaded_dlls(err, "SealProbe.exe")
                self.assertEqual(
                    [path for path in loaded if not path.startswith(SYSTEM32)],
                    [])
                self.assertLessEqual(
                    {SYSTEM32 + dll for dll in system_dlls}, set(loaded))

    def test_without_the_trust_service_a_valid_file_fails(self):
        # wintrust.dll disabled: LoadLibraryExW fails with
        # ERROR_MOD_NOT_FOUND (126), and the first file found fails with it
        # as an HRESULT instead of being verified.
        self.put(self.inst, MANIFEST[0], "valid")
        tool = harness.tool()
        folder = tool.folder(self.inst)
        code, out, err = tool.run(
            [folder, folder, "Tarvo", "Cannot verify {FileName}.", "0"],
            env={"WINEDLLOVERRIDES": "mscoree,mshtml=;wintrust="})
        self.assertEqual(out, "Error is: 0x8007007e.\n" + FAILED)
        self.assertEqual(code, 1, "stderr:\n" + err)


if __name__ == "__main__":
    harness.main("tool", "runner", "fixtures", "launcher", "control",
                 "planted")
