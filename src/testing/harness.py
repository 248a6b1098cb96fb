"""What the Python tests share: their options, running either tool, Wine's
view of host paths, the tests' trust store, what the tool prints, a headless
X display for the dialogs, and PE, DER and compound file layout.

A test finds this module by a path relative to its own file:

    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(
        __file__)), os.pardir, "testing"))

Every test takes the same options for the same things: --tool (a program of
the build), --runner (the build's Wine wrapper, given for the Windows build
only), --fixtures (what src/authenticode/testdata/make_fixtures.sh made).
"""
import argparse
import collections
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest

import pefile

# CTest's SKIP_RETURN_CODE for the tests that need something not installed.
SKIP = 77

CONFIG = argparse.Namespace()


def main(*required, optional=None, flags=(), needs=()):
    """Reads the options --NAME into CONFIG, runs the tests of __main__ with
    the other arguments, and exits with their result.

    `required` and `optional` (name: default) name the options; values that
    hold a "/" are paths, made absolute. `flags` are options without a
    value. `needs` are programs that must be installed, else the run exits
    with SKIP; a name that is also an option's stands for its value.
    """
    parser = argparse.ArgumentParser(add_help=False)
    for name in required:
        parser.add_argument("--" + name, required=True)
    for name, default in (optional or {}).items():
        parser.add_argument("--" + name, default=default)
    for name in flags:
        parser.add_argument("--" + name, action="store_true")
    known, rest = parser.parse_known_args()
    for name, value in vars(known).items():
        if isinstance(value, str) and "/" in value:
            value = os.path.abspath(value)
        setattr(CONFIG, name, value)
    missing = [program for program in
               (getattr(CONFIG, name, name) or name for name in needs)
               if shutil.which(program) is None]
    if missing:
        print("skipped: not found: %s" % ", ".join(missing))
        sys.exit(SKIP)
    program = unittest.main(argv=[sys.argv[0]] + rest, exit=False)
    sys.exit(not program.result.wasSuccessful())


def temp_folder(test, prefix="sealprobe-"):
    """A new folder, removed when `test` (a TestCase) is done; its real path,
    as the tool will report it."""
    tmp = tempfile.TemporaryDirectory(prefix=prefix)
    test.addCleanup(tmp.cleanup)
    return os.path.realpath(tmp.name)


def wait_until(predicate, timeout):
    """The first true value `predicate` returns within `timeout` seconds,
    else None."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.2)
    return None


# --- What the tool prints ----------------------------------------------------

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

# Printed, with exit code 100, for anything but five arguments.
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

# Files make_fixtures.sh makes, and the kind of verdict each one gets. Only
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


def fixture_path(name):
    """The file of FIXTURES[name], or any file under --fixtures."""
    return os.path.join(CONFIG.fixtures, FIXTURES.get(name, (name,))[0])


def walk(found):
    """The output of a run, given what it finds.

    `found` maps a manifest name to (path the tool opens, verdict kind).
    Names not in it are missing. The walk ends after the first file that is
    not validly signed.
    """
    out = ""
    for name in MANIFEST:
        if name not in found:
            out += "\tNon-existing file: %s\n" % name
            continue
        path, kind = found[name]
        out += VERDICTS[kind].format(path=path)
        if kind != "valid":
            return out + FAILED
        out += SUCCEEDED
    return out


# --- Running the tools -------------------------------------------------------

Result = collections.namedtuple("Result", "code out err")


class Process:
    """A started program in a session of its own, its output going to files:
    a Wine server started by the run inherits the descriptors and outlives
    it by seconds, and would hold a pipe open until it exits."""

    def __init__(self, command, env=None, cwd=None, **popen):
        self.out = tempfile.TemporaryFile()
        self.err = tempfile.TemporaryFile()
        self.started = time.monotonic()
        self.proc = subprocess.Popen(
            command, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
            stdout=self.out, stderr=self.err, start_new_session=True, **popen)
        self.pid = self.proc.pid

    def poll(self):
        return self.proc.poll()

    def wait(self, timeout):
        """The exit code; after `timeout` seconds the whole session is
        killed and subprocess.TimeoutExpired raised."""
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise

    def kill(self):
        if self.proc.poll() is None:
            # The whole group: a launcher's child is a process of its own.
            os.killpg(self.proc.pid, signal.SIGKILL)
            self.proc.wait()

    def stdout(self):
        """Standard output, with the Windows runtime's "\\r\\n" folded."""
        self.out.seek(0)
        return self.out.read().replace(b"\r\n", b"\n").decode(
            "utf-8", "surrogateescape")

    def stderr(self):
        self.err.seek(0)
        return self.err.read().decode("utf-8", "replace")

    def close(self):
        self.kill()
        self.out.close()
        self.err.close()


def wine_path(host_path):
    """A host path as a Windows program under Wine sees it: Wine maps Z: to
    /, so /a/b/ is Z:\\a\\b\\."""
    return "Z:" + host_path.replace("/", "\\")


class Tool:
    """A program of the build as the tests start it: natively, or, given the
    build's Wine wrapper, as a Windows program under Wine."""

    def __init__(self, program, runner=None, fixtures=None, wineprefix=None,
                 display=None):
        self.program = program
        self.runner = runner
        self.windows = runner is not None
        self.fixtures = fixtures
        self.wineprefix = wineprefix
        self.display = display

    def path(self, host_path):
        """`host_path` as the program spells it."""
        return wine_path(host_path) if self.windows else host_path

    def folder(self, host_folder):
        """A folder argument: the folder with its trailing separator."""
        return self.path(host_folder) + ("\\" if self.windows else "/")

    def env(self, extra=None):
        """The environment of a run: no display unless one is given (the
        error dialog then returns at once), the fixtures' trust store, and
        `extra` added or overriding."""
        env = dict(os.environ)
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "SSL_CERT_DIR",
                     "SEALPROBE_WINDOWS_TRUST"):
            env.pop(name, None)
        if self.display:
            env["DISPLAY"] = self.display
        if self.windows:
            # Wine turns the arguments and host file names into UTF-16 by
            # the locale's character set; UTF-8 keeps every name intact.
            env["LC_ALL"] = "C.UTF-8"
            if self.wineprefix:
                env["SEALPROBE_WINEPREFIX"] = self.wineprefix
        elif self.fixtures:
            # The native tool trusts the fixtures' test roots (root, broot,
            # and distrusted.crt's rejection) and nothing else.
            env["SSL_CERT_FILE"] = os.path.join(self.fixtures, "pki",
                                                "anchors.pem")
            # Set but empty: OpenSSL's store, even where sealprobe-roots
            # has synced Windows' root program on this machine.
            env["SEALPROBE_WINDOWS_TRUST"] = ""
        env.update(extra or {})
        return env

    def start(self, args, cwd=None, env=None, prefix=(), **popen):
        """Starts the program with `args`, behind the command `prefix`."""
        command = list(prefix) + ([self.runner] if self.runner else [])
        return Process(command + [self.program] + list(args),
                       env=self.env(env), cwd=cwd, **popen)

    def run(self, args, cwd=None, env=None, timeout=60):
        """Runs the program to its end: Result(code, stdout, stderr)."""
        process = self.start(args, cwd=cwd, env=env)
        try:
            code = process.wait(timeout)
            return Result(code, process.stdout(), process.stderr())
        finally:
            process.close()


def tool(program=None, **kwargs):
    """The tool of the options (--tool, --runner, --fixtures), or another
    program run the same way; `kwargs` override Tool's arguments."""
    options = {"runner": getattr(CONFIG, "runner", None),
               "fixtures": getattr(CONFIG, "fixtures", None)}
    options.update(kwargs)
    return Tool(program or CONFIG.tool, **options)


def stop_wine_server(wineprefix):
    subprocess.run(["wineserver", "-k"],
                   env=dict(os.environ, WINEPREFIX=wineprefix),
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)


def wine_debugstr(text):
    """`text` as Wine's traces print a wide string."""
    escaped = (text.replace("\\", "\\\\").replace('"', '\\"')
               .replace("\n", "\\n").replace("\r", "\\r")
               .replace("\t", "\\t"))
    # Other UTF-16 code units outside printable ASCII as four hex digits.
    units = escaped.encode("utf-16-le")
    escaped = "".join(
        chr(u) if 0x20 <= u < 0x7F else "\\%04x" % u
        for u in (int.from_bytes(units[i:i + 2], "little")
                  for i in range(0, len(units), 2)))
    return 'L"%s"' % escaped


# --- A headless X display ----------------------------------------------------

class Display:
    """Xvfb on a display number it picks itself, and xdotool on it."""

    def __init__(self):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
             "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end, "rb") as pipe:
            number = pipe.readline().strip()
        if not number:
            self.close()
            raise RuntimeError("Xvfb did not report a display")
        self.name = ":" + number.decode()

    def close(self):
        self.xvfb.terminate()
        self.xvfb.wait()

    def xdotool(self, *args):
        result = subprocess.run(["xdotool"] + list(args),
                                env=dict(os.environ, DISPLAY=self.name),
                                capture_output=True, text=True, timeout=30)
        return result.returncode, result.stdout

    def visible_windows(self, *search):
        """The visible windows `xdotool search` finds (e.g. "--pid", "42")."""
        code, found = self.xdotool("search", "--onlyvisible", *search)
        return found.split() if code == 0 else []

    def window_name(self, window):
        code, out = self.xdotool("getwindowname", window)
        return out[:-1] if code == 0 and out.endswith("\n") else None

    def press_return(self, window):
        self.xdotool("windowfocus", "--sync", window, "key", "Return")


# --- PE layout, read and changed by pefile -----------------------------------

SECURITY = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]
# The certificate table's entries (WIN_CERTIFICATE, wintrust.h), which
# pefile does not read.
WIN_CERTIFICATE = ("WIN_CERTIFICATE",
                   ("I,dwLength", "H,wRevision", "H,wCertificateType"))
WIN_CERT_REVISION_2_0 = 0x0200
WIN_CERT_TYPE_X509 = 0x0001
WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0002


def parse_pe(data):
    """The headers and section table of the PE file `data`."""
    return pefile.PE(data=bytes(data), fast_load=True)


def certificate_entry_header(data, offset):
    """The WIN_CERTIFICATE header at `offset` of `data`."""
    header = pefile.Structure(WIN_CERTIFICATE, file_offset=offset)
    header.__unpack__(data[offset:offset + header.sizeof()])
    return header


def header(pe, name):
    """A header of a parsed file by name: DOS_HEADER, FILE_HEADER,
    OPTIONAL_HEADER, SECURITY (the certificate table's directory entry) or
    WIN_CERTIFICATE (the header of the table's first entry)."""
    if name == "SECURITY":
        return pe.OPTIONAL_HEADER.DATA_DIRECTORY[SECURITY]
    if name == "WIN_CERTIFICATE":
        return certificate_entry_header(
            pe.__data__, pe.OPTIONAL_HEADER.DATA_DIRECTORY[SECURITY]
            .VirtualAddress)
    return getattr(pe, name)


def with_fields(data, name, **fields):
    """`data` with `fields` of the header `name` (see header()) set, and the
    rest of the file as it was."""
    structure = header(parse_pe(data), name)
    for field, value in fields.items():
        setattr(structure, field, value)
    packed = structure.__pack__()
    at = structure.get_file_offset()
    return data[:at] + packed + data[at + len(packed):]


def field_span(structure, field):
    """(start, end) file offsets of one field of a pefile structure."""
    start = structure.get_field_relative_offset(field)
    end = min([o for o in structure.__field_offsets__.values() if o > start] +
              [structure.sizeof()])
    return (structure.get_file_offset() + start,
            structure.get_file_offset() + end)


def certificate_entry(der, revision=WIN_CERT_REVISION_2_0,
                      kind=WIN_CERT_TYPE_PKCS_SIGNED_DATA):
    """A certificate-table entry holding `der`, padded to eight bytes; its
    length counts the padding, as signing tools write it."""
    body = der + b"\0" * (-len(der) % 8)
    entry = certificate_entry_header(
        bytes(pefile.Structure(WIN_CERTIFICATE).sizeof()), 0)
    entry.dwLength = entry.sizeof() + len(body)
    entry.wRevision, entry.wCertificateType = revision, kind
    return entry.__pack__() + body


def with_certificate_table(data, table):
    """`data` with its certificate table replaced by `table`, which then
    ends the file, and the table's directory entry sized to it."""
    offset = header(parse_pe(data), "SECURITY").VirtualAddress
    return with_fields(data[:offset] + table, "SECURITY", Size=len(table))


class PeLayout:
    """Where the parts of a PE file lie, as pefile finds them."""

    def __init__(self, data):
        pe = parse_pe(data)
        dos, coff, opt = pe.DOS_HEADER, pe.FILE_HEADER, pe.OPTIONAL_HEADER
        self.e_lfanew_field = field_span(dos, "e_lfanew")
        self.dos_header_end = dos.sizeof()
        self.e_lfanew = dos.e_lfanew
        self.coff = coff.get_file_offset()
        self.sections_count = coff.NumberOfSections
        self.optional_size = coff.SizeOfOptionalHeader
        self.optional = opt.get_file_offset()
        self.checksum = field_span(opt, "CheckSum")
        self.directories = opt.DATA_DIRECTORY[0].get_file_offset()
        security = opt.DATA_DIRECTORY[SECURITY]
        self.cert_entry = (security.get_file_offset(),
                           security.get_file_offset() + security.sizeof())
        self.cert_offset = security.VirtualAddress
        self.cert_size = security.Size
        self.section_table = self.optional + self.optional_size
        self.section_table_end = self.section_table + (
            self.sections_count * pe.sections[0].sizeof())
        self.size_of_headers = opt.SizeOfHeaders
        self.sections = sorted(
            (s.PointerToRawData, s.PointerToRawData + s.SizeOfRawData)
            for s in pe.sections if s.SizeOfRawData)
        entry = certificate_entry_header(data, self.cert_offset)
        self.blob = self.cert_offset + entry.sizeof()
        self.dw_length = entry.dwLength


# --- DER ---------------------------------------------------------------------

def tlv(tag, body):
    """A DER element: tag, definite length, body."""
    n = len(body)
    if n < 0x80:
        return bytes([tag, n]) + body
    raw = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([tag, 0x80 | len(raw)]) + raw + body


class Der:
    """A DER element read from `data` at `offset` (definite lengths only):
    constructed ones as `kids`, others as their `body`. `offset`, `start`
    (of the body) and `end` are offsets in `data`. Changed kids are written
    back by encode()."""

    def __init__(self, data, offset=0):
        self.offset = offset
        self.tag = data[offset]
        length, header_size = data[offset + 1], 2
        if length & 0x80:
            n = length & 0x7F
            length = int.from_bytes(data[offset + 2:offset + 2 + n], "big")
            header_size += n
        self.start = offset + header_size
        self.end = self.start + length
        self.kids, self.body = None, data[self.start:self.end]
        if self.tag & 0x20:
            self.kids, at = [], self.start
            while at < self.end:
                kid = Der(data, at)
                self.kids.append(kid)
                at = kid.end

    def encode(self):
        if self.kids is None:
            return tlv(self.tag, self.body)
        return tlv(self.tag, b"".join(k.encode() for k in self.kids))


# --- Compound files ([MS-CFB]) ------------------------------------------------

END_OF_CHAIN, FREE_SECTOR, FAT_SECTOR = 0xFFFFFFFE, 0xFFFFFFFF, 0xFFFFFFFD
DIFAT_SECTOR, NO_STREAM = 0xFFFFFFFC, 0xFFFFFFFF
STORAGE, STREAM, ROOT = 1, 2, 5
ENTRY = struct.Struct("<64sHBBIII16sI8s8sIQ")


class CompoundEntry:
    """A directory entry: its index, its offset in the file, its fields."""

    def __init__(self, index, offset, raw):
        self.index, self.offset = index, offset
        (raw_name, self.name_size, self.type, _, self.left, self.right,
         self.child, self.clsid, self.state, self.created, self.modified,
         self.start, self.size) = ENTRY.unpack(raw)
        self.name = raw_name[:max(self.name_size - 2, 0)].decode(
            "utf-16-le", "replace")
        self.size &= 0xFFFFFFFF
        self.kids = []


class CompoundLayout:
    """Where the parts of a compound file lie: its FAT (`fat_at`, the offset
    of each FAT entry), DIFAT and mini FAT, its directory entries with each
    storage's kids, and the pieces of each stream's bytes."""

    def __init__(self, data):
        self.data = bytes(data)
        self.sector_size = 1 << struct.unpack_from("<H", data, 0x1E)[0]
        words = self.sector_size // 4
        fat_count, self.dir_start = struct.unpack_from("<II", data, 0x2C)
        self.mini_fat_start, _, difat, difat_count = struct.unpack_from(
            "<4I", data, 0x3C)
        sectors = list(struct.unpack_from("<109I", data, 0x4C))
        self.difat_sectors = []
        for _ in range(difat_count):
            self.difat_sectors.append(difat)
            table = self.table(difat)
            sectors, difat = sectors + table[:-1], table[-1]
        self.fat_sectors = sectors[:fat_count]
        self.fat_at = [self.offset(s) + 4 * i
                       for s in self.fat_sectors for i in range(words)]
        self.fat = [w for s in self.fat_sectors for w in self.table(s)]
        slots = [self.offset(s) + 128 * i for s in self.chain(self.dir_start)
                 for i in range(self.sector_size // 128)]
        self.entries = [CompoundEntry(i, at, data[at:at + 128])
                        for i, at in enumerate(slots)]
        for e in self.entries:
            pending = [e.child] if e.type in (STORAGE, ROOT) else []
            while pending:
                i = pending.pop()
                if i != NO_STREAM:
                    e.kids.append(self.entries[i])
                    pending += [self.entries[i].left, self.entries[i].right]
        self.mini_stream = self.chain(self.entries[0].start)
        self.mini_fat = [w for s in self.chain(self.mini_fat_start)
                         for w in self.table(s)]

    def offset(self, sector):
        return (sector + 1) * self.sector_size

    def table(self, sector):
        """The sector's 32-bit words."""
        return list(struct.unpack_from("<%dI" % (self.sector_size // 4),
                                       self.data, self.offset(sector)))

    def chain(self, sector, table=None):
        table, out = self.fat if table is None else table, []
        while sector < 0xFFFFFFFA:
            out.append(sector)
            sector = table[sector]
        return out

    def pieces(self, entry):
        """(offset, size) in the file of each piece of a stream's bytes."""
        size = self.sector_size
        if entry.size >= 4096:
            return [(self.offset(s), min(size, entry.size - size * i))
                    for i, s in enumerate(self.chain(entry.start))
                    if size * i < entry.size]
        return [(self.offset(self.mini_stream[64 * m // size]) + 64 * m % size,
                 min(64, entry.size - 64 * i))
                for i, m in enumerate(self.chain(entry.start, self.mini_fat))
                if 64 * i < entry.size]

    def named(self, name):
        return next(e for e in self.entries if e.type and e.name == name)

    def contents(self, entry):
        return b"".join(self.data[at:at + n] for at, n in self.pieces(entry))

    def tree(self, entry=None):
        """The file as write_compound takes it, times and state bits left
        out."""
        entry = entry or self.entries[0]
        if entry.type == STREAM:
            return (entry.name, self.contents(entry))
        return (entry.name, entry.clsid, [self.tree(k) for k in entry.kids])


def write_compound(root):
    """A version 3 compound file (512-byte sectors) holding `root`. A
    storage is (name, clsid, [kids]), a stream (name, bytes); the root's
    name is not written. Each storage's kids are a chain of right siblings
    in [MS-CFB]'s order, as osslsigncode writes them; streams under 4096
    bytes are in the mini stream; past 109 FAT sectors (about 7 MB), DIFAT
    sectors list the rest."""
    nodes, mini, big = [], b"", []

    def add(node):
        index, sorted_kids = len(nodes), []
        nodes.append(None)
        if len(node) == 2:
            nodes[index] = [node[0], STREAM, bytes(16), NO_STREAM, NO_STREAM,
                            node[1]]
            return index
        for kid in sorted(node[2], key=lambda k: (len(k[0]), k[0].upper())):
            sorted_kids.append(add(kid))
        for a, b in zip(sorted_kids, sorted_kids[1:]):
            nodes[a][3] = b
        nodes[index] = [node[0], STORAGE, node[1], NO_STREAM,
                        sorted_kids[0] if sorted_kids else NO_STREAM, None]
        return index

    add(root)
    nodes[0][0], nodes[0][1] = "Root Entry", ROOT
    for n in nodes:
        if n[1] == STREAM and len(n[5]) < 4096:
            n.append(len(mini) // 64)
            mini += n[5] + bytes(-len(n[5]) % 64)
        elif n[1] == STREAM:
            big.append(n)
    counts = [(len(nodes) + 3) // 4, (len(mini) // 64 + 127) // 128,
              (len(mini) + 511) // 512] + [(len(n[5]) + 511) // 512
                                           for n in big]
    fat_count, difat_count = 1, 0
    while fat_count * 128 < fat_count + difat_count + sum(counts):
        fat_count += 1
        difat_count = max(0, fat_count - 109 + 126) // 127
    fat, starts = [FAT_SECTOR] * fat_count + [DIFAT_SECTOR] * difat_count, []
    for count in counts:
        starts.append(len(fat) if count else END_OF_CHAIN)
        fat += [len(fat) + i + 1 for i in range(count - 1)] + [END_OF_CHAIN] * (
            count > 0)
    for n, start in zip(big, starts[3:]):
        n.append(start)
    nodes[0] += [starts[2]]
    nodes[0][5] = mini
    mini_fat = []
    for n in nodes:
        if n[1] == STREAM and len(n[5]) < 4096:
            count = (len(n[5]) + 63) // 64
            mini_fat += [n[6] + i + 1 for i in range(count - 1)] + [
                END_OF_CHAIN] * (count > 0)
    directory = b"".join(
        ENTRY.pack((name + "\0").encode("utf-16-le"), 2 * len(name) + 2,
                   kind, 1, NO_STREAM, right, child, clsid, 0, bytes(8),
                   bytes(8), rest[0] if rest and data else END_OF_CHAIN,
                   len(data) if data is not None else 0)
        for name, kind, clsid, right, child, data, *rest in nodes)
    listed = list(range(fat_count)) + [FREE_SECTOR] * (
        109 + 127 * difat_count - fat_count)
    difat = b"".join(struct.pack(
        "<128I", *listed[109 + 127 * i:236 + 127 * i],
        fat_count + i + 1 if i + 1 < difat_count else END_OF_CHAIN)
        for i in range(difat_count))
    header = struct.pack(
        "<8s16sHHHHH6sIIIIIIIII", bytes.fromhex("d0cf11e0a1b11ae1"),
        bytes(16), 0x3E, 3, 0xFFFE, 9, 6, bytes(6), 0, fat_count,
        starts[0], 0, 4096, starts[1], counts[1],
        fat_count if difat_count else END_OF_CHAIN, difat_count)
    header += struct.pack("<109I", *listed[:109])

    def sectors(data):
        return data + bytes(-len(data) % 512)

    fat += [FREE_SECTOR] * (-len(fat) % 128)
    return header + b"".join(sectors(part) for part in [
        struct.pack("<%dI" % len(fat), *fat), difat, directory,
        struct.pack("<%dI" % len(mini_fat), *mini_fat) if mini_fat else b"",
        mini] + [n[5] for n in big])
