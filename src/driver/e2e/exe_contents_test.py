#!/usr/bin/python3
"""What the Windows build puts into SealProbe.exe.

Usage:
  exe_contents_test.py --tool SEALPROBE_EXE --version VERSION
                       --product-version PRODUCT_VERSION [--objdump OBJDUMP]
                       [--osslsigncode OSSLSIGNCODE] [unittest options]

VERSION and PRODUCT_VERSION are the build's own (project(VERSION) and
SEALPROBE_PRODUCT_VERSION in CMakeLists.txt).

An installer runs the tool on a bare machine, unelevated, often from a
download or temporary folder: a 64-bit console program whose import table
names nothing but DLLs Windows always takes from System32, that asks for no
elevation, says what it is in its version resource and carries an
Authenticode signature. The development certificate is trusted nowhere,
so the signature is checked for presence and a matching digest, not for its
chain.
"""
import collections
import os
import re
import subprocess
import sys
import unittest
import xml.etree.ElementTree as ElementTree

import pefile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                os.pardir, os.pardir, "testing"))
import harness  # noqa: E402
from harness import CONFIG  # noqa: E402

# The only DLLs the import table may name: KnownDLLs, which Windows always
# maps from System32 ("Dynamic-link library search order",
# learn.microsoft.com/windows/win32/dlls/dynamic-link-library-search-order:
# a DLL on the known-DLL list is taken from there, wherever the exe lies).
# Any other DLL, wintrust.dll included, is looked for in the exe's own folder
# first, so the tool loads it at run time, from System32 only.
KNOWN_DLLS = {"kernel32.dll", "msvcrt.dll", "user32.dll"}

# The calls that make the tool what it is, and where they must come from.
REQUIRED_IMPORTS = {
    "user32.dll": {"MessageBoxW", "GetActiveWindow", "GetProcessWindowStation",
                   "GetUserObjectInformationW", "OpenInputDesktop",
                   "GetThreadDesktop", "CloseDesktop"},
    "kernel32.dll": {"CreateFileW", "CloseHandle", "SetDefaultDllDirectories",
                     "SetErrorMode", "LoadLibraryExW", "GetProcAddress",
                     "FreeLibrary", "ProcessIdToSessionId", "GetStartupInfoW"},
}
# Reached through GetProcAddress only, never bound at load time.
FORBIDDEN_IMPORTS = {"WinVerifyTrust"}

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY_V1 = "{urn:schemas-microsoft-com:compatibility.v1}"
SMI_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
SMI_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
COMMON_CONTROLS_V6 = {
    "type": "win32",
    "name": "Microsoft.Windows.Common-Controls",
    "version": "6.0.0.0",
    "publicKeyToken": "6595b64144ccf1df",
}
# Windows 10/11, 8.1, 8 and 7.
SUPPORTED_OS = {
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
}


def four_part(version):
    """"7.0" as a version resource or a manifest holds it: "7.0.0.0"."""
    return ".".join((version.split(".") + ["0"] * 4)[:4])


def version_strings(pe):
    strings = {}
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            for table in getattr(entry, "StringTable", []):
                for key, value in table.entries.items():
                    strings[key.decode()] = value.decode()
    return strings


class ExeContentsTest(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(CONFIG.tool)
        with open(CONFIG.tool, "rb") as exe:
            cls.data = exe.read()

    def test_is_a_64_bit_console_program(self):
        self.assertEqual(self.pe.OPTIONAL_HEADER.Magic,
                         pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS)
        self.assertEqual(self.pe.FILE_HEADER.Machine,
                         pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"])
        self.assertEqual(self.pe.OPTIONAL_HEADER.Subsystem,
                         pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_CUI"])

    def test_loads_with_aslr_and_dep_aware_of_terminal_services(self):
        flags = self.pe.OPTIONAL_HEADER.DllCharacteristics
        for name in ("IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE",
                     "IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA",
                     "IMAGE_DLLCHARACTERISTICS_NX_COMPAT",
                     "IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE"):
            with self.subTest(flag=name):
                self.assertTrue(flags & pefile.DLL_CHARACTERISTICS[name])

    def test_functions_check_the_stack_protector_guard(self):
        # The exe is stripped, so no symbol says so; the code does. The
        # guard's failure handler is the one function that ends the process
        # with STATUS_STACK_BUFFER_OVERRUN (0xc0000409), and each function
        # compiled with the stack protector calls it when its check fails.
        listing = subprocess.run(
            [CONFIG.objdump, "-d", "--no-show-raw-insn", CONFIG.tool],
            capture_output=True, text=True, check=True).stdout
        calls = collections.Counter(
            int(target, 16) for target in
            re.findall(r"\scall\s+0x([0-9a-f]+)\s*$", listing, re.MULTILINE))
        marks = [int(at, 16) for at in re.findall(
            r"^\s*([0-9a-f]+):\s+mov\s+\$0xc0000409,", listing, re.MULTILINE)]
        self.assertEqual(len(marks), 1, "one failure handler")
        handler = max(target for target in calls if target <= marks[0])
        self.assertLess(marks[0] - handler, 32, "the handler's entry")
        self.assertGreaterEqual(calls[handler], 10)

    def imports(self):
        """{dll name in lower case: names imported from it}, whether bound at
        load time or delay-loaded."""
        imported = {}
        for entry in (getattr(self.pe, "DIRECTORY_ENTRY_IMPORT", []) +
                      getattr(self.pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])):
            names = {i.name.decode() for i in entry.imports if i.name}
            imported.setdefault(entry.dll.decode().lower(), set()).update(names)
        return imported

    def test_imports_only_known_dlls(self):
        imported = self.imports()
        self.assertTrue(imported, "no import table")
        self.assertLessEqual(set(imported), KNOWN_DLLS)

    def test_calls_the_system_services_it_stands_on(self):
        imported = self.imports()
        for dll, functions in REQUIRED_IMPORTS.items():
            with self.subTest(dll=dll):
                self.assertLessEqual(functions, imported.get(dll, set()))
        everything = set().union(*imported.values())
        self.assertEqual(everything & FORBIDDEN_IMPORTS, set())

    def test_manifest(self):
        # Windows reads an exe's manifest from RT_MANIFEST id 1. What each
        # element asks for, and its namespace:
        # https://learn.microsoft.com/en-us/windows/win32/sbscs/application-manifests
        # Common Controls v6 (the themed look of the message box):
        # https://learn.microsoft.com/en-us/windows/win32/controls/cookbook-overview
        self.assertTrue(hasattr(self.pe, "DIRECTORY_ENTRY_RESOURCE"),
                        "no resources")
        manifests = []
        for kind in self.pe.DIRECTORY_ENTRY_RESOURCE.entries:
            if kind.id != pefile.RESOURCE_TYPE["RT_MANIFEST"]:
                continue
            for name in kind.directory.entries:
                for language in name.directory.entries:
                    data = language.data.struct
                    manifests.append((name.id, self.pe.get_data(
                        data.OffsetToData, data.Size)))
        self.assertEqual([ident for ident, _ in manifests], [1],
                         "one manifest, with the id Windows reads for an exe")
        root = ElementTree.fromstring(manifests[0][1])
        self.assertEqual(root.tag, ASM_V1 + "assembly")

        def only(*tags):
            found = root.findall("/".join(tags))
            self.assertEqual(len(found), 1, tags)
            return found[0]

        with self.subTest("the tool's version"):
            self.assertEqual(only(ASM_V1 + "assemblyIdentity").get("version"),
                             four_part(CONFIG.version))
        with self.subTest("runs as invoker, without UI access"):
            level = only(ASM_V3 + "trustInfo", ASM_V3 + "security",
                         ASM_V3 + "requestedPrivileges",
                         ASM_V3 + "requestedExecutionLevel")
            self.assertEqual(level.attrib,
                             {"level": "asInvoker", "uiAccess": "false"})
        with self.subTest("Common Controls v6"):
            identity = only(ASM_V1 + "dependency",
                            ASM_V1 + "dependentAssembly",
                            ASM_V1 + "assemblyIdentity")
            self.assertEqual(
                {k: identity.get(k) for k in COMMON_CONTROLS_V6},
                COMMON_CONTROLS_V6)
            self.assertIn(identity.get("processorArchitecture"),
                          ("amd64", "*"))
        for namespace, element, value in (
                (SMI_2005, "dpiAware", "true/pm"),
                (SMI_2016, "dpiAwareness", "PerMonitorV2, PerMonitor"),
                (SMI_2016, "longPathAware", "true")):
            with self.subTest(setting=element):
                self.assertEqual(only(ASM_V3 + "application",
                                      ASM_V3 + "windowsSettings",
                                      namespace + element).text, value)
        with self.subTest("supported systems"):
            ids = {node.get("Id") for node in root.findall(
                "/".join((COMPATIBILITY_V1 + "compatibility",
                          COMPATIBILITY_V1 + "application",
                          COMPATIBILITY_V1 + "supportedOS")))}
            self.assertEqual(ids, SUPPORTED_OS)

    def test_version_resource_names_the_tool(self):
        self.assertTrue(getattr(self.pe, "VS_FIXEDFILEINFO", None),
                        "no version resource")
        fixed = self.pe.VS_FIXEDFILEINFO[0]

        def dotted(most, least):
            return "%d.%d.%d.%d" % (most >> 16, most & 0xFFFF,
                                    least >> 16, least & 0xFFFF)
        strings = version_strings(self.pe)
        names = ("FileDescription", "InternalName", "OriginalFilename",
                 "FileVersion", "ProductVersion")
        self.assertEqual(
            {"fixed file version": dotted(fixed.FileVersionMS,
                                          fixed.FileVersionLS),
             "fixed product version": dotted(fixed.ProductVersionMS,
                                             fixed.ProductVersionLS),
             **{name: strings.get(name) for name in names}},
            {"fixed file version": four_part(CONFIG.version),
             "fixed product version": four_part(CONFIG.product_version),
             "FileDescription": "SealProbe.exe",
             "InternalName": "SealProbe.exe",
             "OriginalFilename": "SealProbe.exe",
             "FileVersion": CONFIG.version,
             "ProductVersion": CONFIG.product_version})

    def test_carries_one_embedded_signature_at_the_end(self):
        layout = harness.PeLayout(self.data)
        entry = harness.certificate_entry_header(self.data, layout.cert_offset)
        self.assertGreater(layout.cert_size, entry.sizeof(),
                           "no certificate table")
        self.assertEqual(layout.cert_offset + layout.cert_size, len(self.data),
                         "bytes after the certificate table")
        self.assertEqual(entry.wRevision, harness.WIN_CERT_REVISION_2_0)
        self.assertEqual(entry.wCertificateType,
                         harness.WIN_CERT_TYPE_PKCS_SIGNED_DATA)
        # One entry, padded to eight bytes.
        self.assertEqual((entry.dwLength + 7) // 8 * 8, layout.cert_size)

    def test_signature_digest_matches_the_file(self):
        # The exit status reflects chain trust, which a development
        # certificate never has; the report says whether the digest holds.
        report = subprocess.run([CONFIG.osslsigncode, "verify", "-in",
                                 CONFIG.tool], capture_output=True, text=True)
        output = report.stdout + report.stderr
        current = re.search(r"Current message digest\s*:\s*([0-9A-F]+)",
                            output)
        calculated = re.search(
            r"Calculated message digest\s*:\s*([0-9A-F]+)", output)
        self.assertIsNotNone(current, output)
        self.assertIsNotNone(calculated, output)
        self.assertEqual(current.group(1), calculated.group(1))
        self.assertRegex(output, r"Message digest algorithm\s*:\s*SHA256")
        self.assertIn("Signer's certificate", output)


if __name__ == "__main__":
    harness.main("tool", "version", "product-version",
                 optional={"objdump": "x86_64-w64-mingw32-objdump",
                           "osslsigncode": "osslsigncode"})
