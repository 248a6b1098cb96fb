#!/usr/bin/python3
"""SealProbe.exe as installers run it: a custom action of an MSI package,
under Wine's msiexec, and a step of an NSIS installer.

Usage:
  msi_test.py --runner RUNNER --tool SEALPROBE_EXE --fixtures DIR --work DIR
              [--wixl WIXL] [--msiinfo MSIINFO] [--makensis MAKENSIS]
              [unittest options]

RUNNER is the build's Wine wrapper; DIR (under the build tree) gets the
packages and a Wine prefix of this test's own, made afresh each run. Exits 77
(a skip) when wixl, msiinfo or makensis is not installed; the /qf case is
skipped without Xvfb and xdotool.

Each package, built with wixl at test time, installs signed files under
ProgramFiles (INSTALLDIR) and a CommonFiles folder (COMMONDIR), SealProbe.exe
among them, and runs the installed tool after InstallFiles as a deferred,
impersonated custom action whose failure fails the install (Return="check"),
with the quoting installer authors write: "[INSTALLDIR]". The examples of
docs/installers.md (docs/examples/) are built as they stand. Each fails on a
tampered file and leaves nothing installed, and the MSI example's check also
runs, and fails, when a reinstall lays a tampered file down.
"""
import os
import re
import shutil
import subprocess
import sys
import time
import unittest
import uuid
import xml.etree.ElementTree as ElementTree
from string import Template
from xml.sax.saxutils import quoteattr

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                os.pardir, os.pardir, "testing"))
import harness  # noqa: E402
from harness import CONFIG  # noqa: E402

# A directory property ends in a backslash ("C:\Program Files\Tarvo\"):
# https://learn.microsoft.com/en-us/windows/win32/msi/using-a-directory-property-in-a-path
# so "[INSTALLDIR]" hands the tool a folder followed by \". Braces without a
# property inside are kept as they are, so {FileName} reaches the tool:
# https://learn.microsoft.com/en-us/windows/win32/msi/formatted
EXE_COMMAND = ('"[INSTALLDIR]" "[COMMONDIR]" "[ProductName]" '
               '"[ProductName] cannot verify {FileName}." [UILevel]')

# wixl 0.101 writes no row for some CustomAction forms and reads an omitted
# Impersonate as "no"; FileKey+ExeCommand with Impersonate="yes" is the form
# that works (each package's table is checked below).
WXS = Template("""\
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="$product_code" Name=$name Language="1033" Version="7.0.0"
           Manufacturer="Tarvo" UpgradeCode="$upgrade_code">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="product.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFiles64Folder">
        <Directory Id="INSTALLDIR" Name=$product_folder>
$product_files
        </Directory>
      </Directory>
$common_open
        <Directory Id="COMMONDIR" Name=$common_folder>
$common_files
        </Directory>
$common_close
    </Directory>
    <Feature Id="Complete" Level="1">
$component_refs
    </Feature>
    <CustomAction Id="CheckSignatures" FileKey="SealProbeExe"
                  ExeCommand=$command Execute="deferred"
                  Impersonate="yes" Return="check"/>
    <InstallExecuteSequence>
      <Custom Action="CheckSignatures" After="InstallFiles">NOT REMOVE~="ALL"</Custom>
    </InstallExecuteSequence>
  </Product>
</Wix>
""")

# Type 18 (an installed file run with a command line) + 0x400 (deferred,
# in the installation script); neither 0x800 (no impersonation) nor 0x40
# (exit code ignored):
# https://learn.microsoft.com/en-us/windows/win32/msi/custom-action-type-18
# https://learn.microsoft.com/en-us/windows/win32/msi/custom-action-in-script-execution-options
# https://learn.microsoft.com/en-us/windows/win32/msi/custom-action-return-processing-options
CUSTOM_ACTION_TYPE = 18 + 0x400

# msiexec's exit code when a Return="check" action fails: Windows returns
# ERROR_INSTALL_FAILURE (1603), Wine 8 ERROR_FUNCTION_FAILED (1627), which a
# Unix exit status keeps as 1627 & 0xFF.
# https://learn.microsoft.com/en-us/windows/win32/msi/error-codes
WINE_INSTALL_FAILED = 1627 & 0xFF

# NSIS's exit code when the script aborts the install ("Error Levels",
# https://nsis.sourceforge.io/Docs/AppendixD.html#errorlevels).
NSIS_ABORTED = 2

PRODUCT_FILES = ("SealProbe.exe", "TarvoSetup.exe", "TarvoPanel.exe")
COMMON_FILES = ("tv-Common.v5.21.40.0.dll", "tv-Strings.dll")
EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                        *[os.pardir] * 3, "docs", "examples")


def build(command, cwd):
    built = subprocess.run(command, cwd=cwd, capture_output=True, text=True)
    if built.returncode != 0 or "CRITICAL" in built.stdout + built.stderr:
        raise AssertionError("%s failed:\n%s%s" % (command[0], built.stdout,
                                                     built.stderr))


class Package:
    """A package built by wixl, and where it puts its files."""
    command = EXE_COMMAND
    failed = WINE_INSTALL_FAILED

    def __init__(self, name, tampered=None, common_under_common_files=True):
        self.name = name
        self.product_code = str(uuid.uuid5(uuid.NAMESPACE_URL, name)).upper()
        folder = name.replace(" ", "")
        self.product_dir = "C:\\Program Files\\%s\\" % folder
        if common_under_common_files:
            self.common_dir = ("C:\\Program Files\\Common Files\\"
                               "%s Shared\\" % folder)
        else:
            # A folder holding exactly one space.
            self.common_dir = "C:\\%s Shared\\" % folder
        self.sources = {}
        for file_name in PRODUCT_FILES + COMMON_FILES:
            self.sources[file_name] = harness.fixture_path(
                "tampered" if file_name == tampered else "valid")
        self.sources["SealProbe.exe"] = CONFIG.tool
        self.msi = os.path.join(CONFIG.work, "%s-%s.msi" % (
            folder, tampered or "sound"))
        self.build(common_under_common_files)

    def build(self, common_under_common_files):
        components = []

        def files(names):
            rows = []
            for file_name in names:
                index = len(components) + 1
                file_id = ("SealProbeExe" if file_name == "SealProbe.exe"
                           else "File%d" % index)
                guid = uuid.uuid5(uuid.NAMESPACE_URL, self.name + file_name)
                rows.append(
                    '          <Component Id="C%d" Guid="%s" Win64="yes">'
                    '<File Id="%s" Name=%s KeyPath="yes"/>'
                    '</Component>' % (index, str(guid).upper(), file_id,
                                      quoteattr(file_name)))
                components.append("C%d" % index)
            return "\n".join(rows)

        wxs = WXS.substitute(
            product_code=self.product_code,
            upgrade_code=str(uuid.uuid5(uuid.NAMESPACE_URL,
                                        self.name + " upgrade")).upper(),
            name=quoteattr(self.name),
            product_folder=quoteattr(self.product_dir.split("\\")[-2]),
            product_files=files(PRODUCT_FILES),
            common_open=('      <Directory Id="CommonFiles64Folder">'
                         if common_under_common_files else ""),
            common_close="      </Directory>" if common_under_common_files
            else "",
            common_folder=quoteattr(self.common_dir.split("\\")[-2]),
            common_files=files(COMMON_FILES),
            component_refs="\n".join('      <ComponentRef Id="%s"/>' % c
                                     for c in components),
            command=quoteattr(EXE_COMMAND))
        staging = self.stage()
        with open(os.path.join(staging, "package.wxs"), "w",
                  encoding="utf-8") as f:
            f.write(wxs)
        # -a x64: wixl ignores Package/@Platform.
        build([CONFIG.wixl, "-a", "x64", "-o", self.msi, "package.wxs"],
              staging)

    def stage(self):
        """A new folder with the files under their installed names: wixl
        cannot read a Source given as an absolute path."""
        staging = self.msi[:-len(".msi")]
        os.makedirs(staging)
        for file_name, source in self.sources.items():
            shutil.copyfile(source, os.path.join(staging, file_name))
        return staging

    def table(self, name):
        """The rows of a table of the built package, as lists of strings."""
        exported = subprocess.run([CONFIG.msiinfo, "export", self.msi, name],
                                  capture_output=True, text=True, check=True)
        # Three header lines: column names, column types, table and keys.
        return [line.split("\t")
                for line in exported.stdout.splitlines()[3:]]

    def installed_paths(self):
        """Host paths of the installed files, by Windows path."""
        paths = {}
        for folder, names in ((self.product_dir, PRODUCT_FILES),
                              (self.common_dir, COMMON_FILES)):
            for file_name in names:
                windows = folder + file_name
                paths[windows] = os.path.join(
                    CONFIG.wineprefix, "drive_c",
                    *windows[len("C:\\"):].split("\\"))
        return paths

    def start(self, ui, env):
        return wine("msiexec").start(
            ["/i", harness.wine_path(self.msi)] + ui.split(), env=env)


class ExamplePackage(Package):
    """docs/examples/tarvo.wxs, installing to the folders of its name."""

    def __init__(self, tampered=None):
        wix = {"wix": "http://schemas.microsoft.com/wix/2006/wi"}
        self.wxs = os.path.join(EXAMPLES, "tarvo.wxs")
        product = ElementTree.parse(self.wxs).find("wix:Product", wix)
        super().__init__(product.get("Name"), tampered)
        self.product_code = product.get("Id")
        self.command = product.find("wix:CustomAction", wix).get("ExeCommand")

    def build(self, common_under_common_files):
        build([CONFIG.wixl, "-a", "x64", "-D", "ProductFiles=.",
               "-D", "CommonFiles=.", "-o", self.msi, self.wxs], self.stage())


class NsisInstaller(Package):
    """docs/examples/tarvo.nsi for a product without spaces in its name,
    built by makensis, run silently (/S) unless started with "/qf". NSIS has
    no rollback: the script removes what it installed."""
    failed = NSIS_ABORTED

    def build(self, common_under_common_files):
        staging = self.stage()
        self.exe = staging + ".exe"
        build([CONFIG.makensis, "-V2", "-DPRODUCT=" + self.name,
               "-DPRODUCT_FILES=" + staging, "-DCOMMON_FILES=" + staging,
               "-DOUTFILE=" + self.exe, os.path.join(EXAMPLES, "tarvo.nsi")],
              staging)

    def start(self, ui, env):
        return wine(self.exe).start([] if ui == "/qf" else ["/S"], env=env)


DISPLAY = None


def wine(program):
    """A Windows program in this test's prefix, on its display if any."""
    return harness.tool(program, wineprefix=CONFIG.wineprefix,
                        display=DISPLAY and DISPLAY.name)


def setUpModule():
    global DISPLAY
    # A fresh prefix: nothing installed by an earlier run, and its desktop
    # on this run's display.
    CONFIG.wineprefix = os.path.join(CONFIG.work, "wineprefix")
    harness.stop_wine_server(CONFIG.wineprefix)
    shutil.rmtree(CONFIG.work, ignore_errors=True)
    os.makedirs(CONFIG.work)
    if shutil.which("Xvfb") and shutil.which("xdotool"):
        DISPLAY = harness.Display()
        unittest.addModuleCleanup(DISPLAY.close)
    # Cleanups run last first: the server stops before its display.
    unittest.addModuleCleanup(harness.stop_wine_server, CONFIG.wineprefix)
    wine("wineboot").run([], timeout=120)


class InstallerTest(unittest.TestCase):
    maxDiff = None

    def msiexec(self, package, ui, reinstall=False, **env):
        """Starts `msiexec /i package ui`, with every file reinstalled from
        it (vomus: "v", from this package, and the default repair "omus"),
        or an NSIS installer, silently unless `ui` is /qf."""
        run = package.start(
            ui + (" REINSTALL=ALL REINSTALLMODE=vomus" if reinstall else ""),
            env)
        self.addCleanup(run.close)
        return run

    def registered(self, package):
        if isinstance(package, NsisInstaller):
            return None  # the example writes no uninstall key
        key = ("HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
               "\\{%s}" % package.product_code)
        return wine("reg").run(["query", key]).code == 0

    def assert_package(self, package):
        """wixl wrote the custom action as meant, and scheduled it between
        InstallFiles and InstallFinalize (a deferred action must run inside
        the installation script, and after the files it checks exist):
        https://learn.microsoft.com/en-us/windows/win32/msi/deferred-execution-custom-actions
        """
        rows = [row[:4] for row in package.table("CustomAction")]
        self.assertEqual(rows, [["CheckSignatures", str(CUSTOM_ACTION_TYPE),
                                 "SealProbeExe", package.command]])
        sequence = {row[0]: int(row[2])
                    for row in package.table("InstallExecuteSequence")}
        self.assertLess(sequence["InstallFiles"], sequence["CheckSignatures"])
        self.assertLess(sequence["CheckSignatures"],
                        sequence["InstallFinalize"])

    def assert_installed(self, package):
        for windows, host in package.installed_paths().items():
            with self.subTest(file=windows):
                self.assertTrue(os.path.isfile(host), "missing")
                with open(host, "rb") as installed, \
                        open(package.sources[windows.split("\\")[-1]],
                             "rb") as source:
                    self.assertEqual(installed.read(), source.read())
        self.assertIn(self.registered(package), (True, None))

    def assert_rolled_back(self, package):
        for windows, host in package.installed_paths().items():
            with self.subTest(file=windows):
                self.assertFalse(os.path.exists(host), "left installed")
        self.assertIn(self.registered(package), (False, None))

    def test_quiet_installs(self):
        tampered_example = ExamplePackage(tampered="tv-Strings.dll")
        cases = (
            # (package, installs, whether it reinstalls the installed product)
            (Package("Tarvo Sound"), True, False),
            (Package("Tarvo Tampered", tampered="TarvoSetup.exe"), False,
             False),
            # A CommonFiles folder with one space once split into five
            # garbled arguments: every file missing, exit 0, installed.
            (Package("Tarvo One Space", tampered="tv-Strings.dll",
                     common_under_common_files=False), False, False),
            # Each example fails first, on a clean prefix, then installs
            # in the same folders.
            (tampered_example, False, False),
            (ExamplePackage(), True, False),
            # A repair lays files down from the package too ("REINSTALL
            # property", learn.microsoft.com/windows/win32/msi/reinstall:
            # what msiexec /f does, which Wine's msiexec cannot do for a
            # package path). From one with a tampered file it is checked, and
            # fails; the product stays installed.
            (tampered_example, False, True),
            (NsisInstaller("TarvoNSIS", tampered="tv-Strings.dll"), False,
             False),
            (NsisInstaller("TarvoNSIS"), True, False),
        )
        for package, installs, reinstall in cases:
            with self.subTest(package=os.path.basename(package.msi)[:-4],
                              reinstall=reinstall):
                if not isinstance(package, NsisInstaller):
                    self.assert_package(package)
                run = self.msiexec(package, "/qn", reinstall)
                code = run.wait(timeout=120)
                if installs:
                    self.assertEqual(code, 0, run.stderr())
                    self.assert_installed(package)
                else:
                    self.assertEqual(code, package.failed, run.stderr())
                    if reinstall:
                        self.assertTrue(self.registered(package))
                    else:
                        self.assert_rolled_back(package)

    def test_full_ui_names_the_failing_file_and_rolls_back(self):
        if not DISPLAY:
            self.skipTest("no Xvfb or xdotool")
        failing = "TarvoPanel.exe"
        nsis = NsisInstaller("TarvoNSISUI", tampered=failing)
        cases = (
            # (package, the page to go past before the box and the one after
            # it, the box's caption and text, files in place while it waits)
            # /qf: UILevel is 5, so the tool shows its message box.
            (Package("Tarvo Dialog", tampered=failing), None, None,
             "Tarvo Dialog", "Tarvo Dialog cannot verify %s." % failing, True),
            # nsExec runs the tool hidden, at level 2: the installer's own
            # box names the file, from the tool's lines.
            (nsis, "TarvoNSISUI Setup: Installation Folder",
             "TarvoNSISUI Setup: Completed", "TarvoNSISUI Setup",
             "TarvoNSISUI cannot verify %s. Nothing was installed." % failing,
             False),
        )
        for package, before, after, caption, text, files_wait in cases:
            with self.subTest(package=package.name):
                if not isinstance(package, NsisInstaller):
                    self.assert_package(package)
                run = self.msiexec(package, "/qf", WINEDEBUG="+msgbox")

                def window(name):
                    found = harness.wait_until(
                        lambda: DISPLAY.visible_windows(
                            "--name", "^%s$" % re.escape(name)) or
                        run.poll() is not None, 90)
                    self.assertIsInstance(found, list, "no %s (exit: %s); "
                                          "stderr:\n%s" % (name, run.poll(),
                                                           run.stderr()))
                    self.assertEqual(len(found), 1, found)
                    return found[0]

                if before:
                    DISPLAY.press_return(window(before))
                box = window(caption)
                shown = harness.wait_until(
                    lambda: re.findall(r"MSGBOX_OnInit (.*)\n", run.stderr()),
                    10)
                self.assertEqual(shown, [harness.wine_debugstr(text)])

                # The install waits until the user answers.
                time.sleep(1)
                self.assertIsNone(run.poll())
                for host in package.installed_paths().values():
                    self.assertEqual(os.path.isfile(host), files_wait, host)

                DISPLAY.press_return(box)
                if after:
                    DISPLAY.press_return(window(after))
                self.assertEqual(run.wait(timeout=60), package.failed,
                                 run.stderr())
                self.assert_rolled_back(package)


if __name__ == "__main__":
    harness.main("runner", "tool", "fixtures", "work",
                 optional={"wixl": "wixl", "msiinfo": "msiinfo",
                           "makensis": "makensis"},
                 needs=("wixl", "msiinfo", "makensis", "wineserver"))
