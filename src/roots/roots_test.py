#!/usr/bin/env python3
"""sealprobe-roots against a web server of the test's own on the loopback,
which serves lists made as Microsoft makes its own (make_windows_trust.py):
signed under a test root through a CA the list carries, by a signer that
expired yesterday, with an empty NotBefore and an empty Disable date, a
Disallowed list by signature hash (MD5, SHA-1, SHA-256) and key MD5,
extensions and no nextUpdate. A failed sync must leave the folder as it was,
byte for byte and file for file.

Usage: roots_test.py --roots SEALPROBE_ROOTS --tool SEALPROBE
                     --explain SEALPROBE_EXPLAIN --fixtures DIR
"""
import glob
import hashlib
import http.server
import json
import os
import shutil
import signal
import subprocess
import sys
import threading
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                os.pardir, "testing"))
import harness  # noqa: E402
from harness import CONFIG  # noqa: E402

MAKER = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir,
                     "authenticode", "root_program", "testdata",
                     "make_windows_trust.py")
ROOTS = ["ctl-root.crt,eku=cs+ts", "root.crt,eku=cs+ts,notbefore=",
         "broot.crt,eku=cs+ts,disable="]
NEWER = ROOTS + ["inter.crt,eku=cs+ts"]
DISALLOWED = ["distrusted.crt", "sha1-ca.crt", "md5-ca.crt",
              "sha1-signer.crt,id=keymd5"]


def pki(name):
    return os.path.join(CONFIG.fixtures, "pki", name)


def der(name):
    return subprocess.run(["openssl", "x509", "-in", pki(name), "-outform",
                           "DER"], check=True, capture_output=True).stdout


def body_name(name):
    return hashlib.sha1(der(name)).hexdigest().upper() + ".crt"


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def flipped(data, at):
    return data[:at] + bytes([data[at] ^ 1]) + data[at + 1:]


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        name = self.path.rsplit("/", 1)[-1]
        fault = self.server.faults.get(name)
        body = self.server.files.get(name)
        if fault == 500 or body is None:
            self.send_error(fault or 404)
            return
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if fault == "stall":  # half the file, then nothing
            self.wfile.write(body[:len(body) // 2])
            self.wfile.flush()
            self.server.stalled.set()
            self.server.release.wait(60)
            return
        self.wfile.write(body)


class Server(http.server.ThreadingHTTPServer):
    """Serves `files` (name: bytes); `faults` maps a name to 500 or
    "stall"."""
    daemon_threads = True

    def __init__(self):
        super().__init__(("127.0.0.1", 0), Handler)
        self.files, self.faults = {}, {}
        self.stalled, self.release = threading.Event(), threading.Event()
        self.url = "http://127.0.0.1:%d/trustedr/en/" % self.server_address[1]
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def publish(self, sequence="10", this_update="2024-06-01", roots=ROOTS,
                signer="ctl-expired"):
        """Microsoft's files as it serves them: the lists in cabinets."""
        work = harness.temp_folder(self.test)
        made = lambda kind, out, entries: subprocess.run(  # noqa: E731
            [sys.executable, MAKER, "--sequence", sequence, "--this-update",
             this_update, "--chain", pki("ctl-ca.crt"), "ctl", out, kind,
             pki(signer + ".crt"), pki(signer + ".key")]
            + [pki(e) for e in entries], check=True)
        made("roots", os.path.join(work, "authroot.stl"), roots)
        made("disallowed-hash", os.path.join(work, "disallowedcert.stl"),
             DISALLOWED)
        subprocess.run([sys.executable, MAKER, "sst",
                        os.path.join(work, "disallowedcert.sst"),
                        pki("distrusted.crt")], check=True)
        for stl, cab in (("authroot.stl", "authrootstl.cab"),
                         ("disallowedcert.stl", "disallowedcertstl.cab")):
            subprocess.run(["gcab", "-c", "-z", cab, stl], cwd=work,
                           check=True)
        self.files = {name: read(os.path.join(work, name))
                      for name in ("authrootstl.cab", "disallowedcertstl.cab",
                                   "disallowedcert.sst")}
        self.files.update({body_name(r.split(",")[0]): der(r.split(",")[0])
                           for r in roots})
        self.faults = {}
        return work


def snapshot(folder):
    """Every file of `folder` and the folder itself: bytes, inode, time."""
    state = {".": (os.stat(folder).st_ino,)}
    for name in os.listdir(folder):
        info = os.stat(os.path.join(folder, name))
        state[name] = (read(os.path.join(folder, name)), info.st_ino,
                       info.st_mtime_ns)
    return state


class RootsTest(unittest.TestCase):
    def setUp(self):
        self.server = Server()
        self.server.test = self
        self.addCleanup(self.server.server_close)
        self.addCleanup(self.server.shutdown)
        self.addCleanup(self.server.release.set)
        self.server.publish()
        self.pin = hashlib.sha256(der("ctl-root.crt")).hexdigest()
        self.folder = os.path.join(harness.temp_folder(self), "wt")

    def roots(self, *args, pin=True, prefix=(), env=None):
        command = [CONFIG.roots, args[0], "--dir", self.folder]
        if args[0] == "sync":
            command += ["--url", self.server.url]
        if pin:  # before the row's own options, which may name another
            command += ["--pin-sha256=" + self.pin]
        command += list(args[1:])
        run = subprocess.run(list(prefix) + command, capture_output=True,
                             text=True, env=env, timeout=120)
        return harness.Result(run.returncode, run.stdout, run.stderr)

    def test_sync_then_current(self):
        run = self.roots("sync")
        self.assertEqual(run.code, 0, run.err)
        self.assertIn("updated from " + self.server.url, run.out)
        bodies = sorted(body_name(r.split(",")[0]) for r in ROOTS)
        self.assertEqual(sorted(os.listdir(self.folder)), bodies + [
            "authroot.stl", "disallowedcert.sst", "disallowedcert.stl",
            "sealprobe-roots.txt"])
        self.assertEqual(os.stat(self.folder).st_mode & 0o777, 0o755)
        self.assertEqual(os.stat(os.path.join(
            self.folder, bodies[0])).st_mode & 0o777, 0o644)
        before = snapshot(self.folder)
        run = self.roots("sync")
        self.assertEqual(run.code, 0, run.err)
        self.assertIn("already current, nothing written", run.out)
        self.assertEqual(snapshot(self.folder), before)
        show = self.roots("show")
        self.assertEqual(show.code, 0, show.err)
        for line in ("thisUpdate 2024-06-01T00:00:00Z, sequence number 10",
                     "signer:          CN=SealProbe Test List Signer",
                     "under CN=SealProbe Test List CA", "authentic:       yes",
                     "4 entries; 1 certificates in disallowedcert.sst",
                     "source:          " + self.server.url):
            self.assertIn(line, show.out)

    def test_failures_leave_the_folder_as_it_was(self):
        """Each row changes what the server holds after a first sync."""
        def changed_list(s):  # a listed root's SHA-1, one bit off
            work = s.publish("11", roots=NEWER)
            stl = read(os.path.join(work, "authroot.stl"))
            write(os.path.join(work, "authroot.stl"), flipped(
                stl, stl.index(hashlib.sha1(der("root.crt")).digest())))
            subprocess.run(["gcab", "-c", "-z", "authrootstl.cab",
                            "authroot.stl"], cwd=work, check=True)
            s.files["authrootstl.cab"] = read(
                os.path.join(work, "authrootstl.cab"))

        def newer(change):
            def publish(s):
                s.publish("11", roots=NEWER)
                change(s, body_name("inter.crt"))
            return publish
        broot = hashlib.sha256(der("broot.crt")).hexdigest()
        rows = [  # name, change, options, exit, what stderr says
            ("rollback", lambda s: s.publish("0f"), [], 4,
             "older than the folder's (sequence number 0f against 10"),
            ("earlier thisUpdate", lambda s: s.publish(
                "11", this_update="2024-05-01"), [], 4, "older than"),
            ("changed list", changed_list, [], 3,
             "not a valid trust list: its signature does not verify"),
            ("signer not yet valid at thisUpdate", lambda s: s.publish(
                "11", this_update="2019-06-01"), [], 3,
             "does not chain to the pinned root"),
            ("signer without the list usage", lambda s: s.publish(
                "11", signer="ctl-nousage"), [], 3, "may not sign root lists"),
            ("another pinned root", lambda s: None,
             ["--pin-sha256", broot], 3, "does not chain to the pinned root"),
            ("Microsoft's pin", lambda s: None, ["--pin-sha256",
             "DF545BF919A2439C36983B54CDFC903DFA4F37D3996D8D84B4C31EEC6F3C163E"],
             3, "names no root with the SHA-256 df545bf9"),
            ("changed body", newer(lambda s, n: s.files.update(
                {n: flipped(s.files[n], 100)})), [], 3,
             "its SHA-1 is not the one the root list gives"),
            ("missing body", newer(lambda s, n: s.files.pop(n)), [], 1,
             "not there"),
            ("server error mid-way", newer(lambda s, n: s.faults.update(
                {n: 500})), [], 1, "HTTP 500"),
            ("no Disallowed list", lambda s: s.files.pop(
                "disallowedcertstl.cab"), [], 1,
             "disallowedcertstl.cab: not there, nor disallowedcert.stl"),
            ("a folder holding more", lambda s: write(os.path.join(
                self.folder, "notes.md"), b"mine"), [], 5,
             "holds more than a folder of Windows' root program holds"),
        ]
        self.assertEqual(self.roots("sync").code, 0)
        base, self.folder = self.folder, self.folder + "-row"
        for name, change, options, code, says in rows:
            with self.subTest(name):
                shutil.rmtree(self.folder, ignore_errors=True)
                shutil.copytree(base, self.folder)
                self.server.publish()
                change(self.server)
                before = snapshot(self.folder)
                run = self.roots("sync", *options)
                self.assertEqual(run.code, code, run.err)
                self.assertIn(says, run.err)
                self.assertIn("left as it was", run.err)
                self.assertEqual(snapshot(self.folder), before)
                self.assertEqual(glob.glob(os.path.join(
                    os.path.dirname(self.folder), ".wt-row.new-*")), [])

    def test_update_and_a_killed_sync(self):
        """A sync killed while it fetches a root leaves the folder whole;
        the next one removes what it left and brings the newer list."""
        self.assertEqual(self.roots("sync").code, 0)
        before = snapshot(self.folder)
        self.server.publish("11", roots=NEWER)
        self.server.faults[body_name("inter.crt")] = "stall"
        process = subprocess.Popen(
            [CONFIG.roots, "sync", "--dir", self.folder, "--url",
             self.server.url, "--pin-sha256", self.pin],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.assertTrue(self.server.stalled.wait(60))
        os.kill(process.pid, signal.SIGKILL)
        process.wait()
        self.assertEqual(snapshot(self.folder), before)
        left = os.path.join(os.path.dirname(self.folder), ".wt.new-*")
        self.assertEqual(len(glob.glob(left)), 1)
        self.server.faults = {}
        run = self.roots("sync")
        self.assertEqual(run.code, 0, run.err)
        self.assertIn("root certificates: 4, 1 of them new", run.out)
        self.assertIn(body_name("inter.crt"), os.listdir(self.folder))
        self.assertEqual(glob.glob(left), [])

    def test_import_and_without_disallowed(self):
        """The files carried by hand, bare lists and a folder of them; then
        a sync from a server that has no Disallowed list."""
        work = self.server.publish()
        files = [os.path.join(work, "authroot.stl"),
                 os.path.join(work, "disallowedcert.stl"),
                 os.path.join(work, "disallowedcert.sst"), work]
        for name, data in self.server.files.items():
            if name.endswith(".crt"):
                write(os.path.join(work, name), data)
        run = self.roots("import", *files[:3])
        self.assertEqual(run.code, 1, run.err)
        self.assertIn(body_name("ctl-root.crt") + ": not there among the "
                      "files given", run.err)
        run = self.roots("import", *files)
        self.assertEqual(run.code, 2)
        self.assertIn("both stand for", run.err)
        run = self.roots("import", work)
        self.assertEqual(run.code, 0, run.err)
        self.assertIn(b"source import", read(os.path.join(
            self.folder, "sealprobe-roots.txt")))
        for name in ("disallowedcertstl.cab", "disallowedcert.sst"):
            self.server.files.pop(name)
        run = self.roots("sync", "--without-disallowed")
        self.assertEqual(run.code, 0, run.err)
        self.assertEqual(sorted(os.listdir(self.folder))[-2:],
                         ["authroot.stl", "sealprobe-roots.txt"])
        self.assertIn("Disallowed list: none", self.roots("show").out)

    def test_default_folder(self):
        """With SEALPROBE_WINDOWS_TRUST unset, sealprobe and
        sealprobe-explain take the folder sealprobe-roots keeps by default,
        when it holds a list; set but empty, OpenSSL's store. Run as an
        unprivileged user, whose default is under XDG_DATA_HOME (root's,
        /var/lib/sealprobe, is never touched)."""
        home = harness.temp_folder(self)
        os.chmod(home, 0o755)
        self.folder = os.path.join(home, "data", "sealprobe", "windows-trust")
        self.assertEqual(self.roots("sync").code, 0)
        # Copies the unprivileged user can reach, wherever the build lies.
        for name, source in (("sealprobe", CONFIG.tool),
                             ("sealprobe-explain", CONFIG.explain),
                             ("sealprobe-roots", CONFIG.roots),
                             ("TarvoSetup.exe",
                              harness.fixture_path("files/valid.exe"))):
            shutil.copy(source, os.path.join(home, name))
        prefix = []
        if os.geteuid() == 0:
            prefix = ["setpriv", "--reuid=65534", "--regid=65534",
                      "--clear-groups"]
        env = {"PATH": os.environ["PATH"], "HOME": home,
               "XDG_DATA_HOME": os.path.join(home, "data")}
        here = home + "/"
        for trust, code, store in ((None, 0, "windows-root-program"),
                                   ("", 1, "system")):
            with self.subTest(trust=trust):
                run_env = dict(env)
                if trust is not None:
                    run_env["SEALPROBE_WINDOWS_TRUST"] = trust
                run = subprocess.run(
                    prefix + [here + "sealprobe", here, here, "Tarvo", "x",
                              "0"], env=run_env, capture_output=True)
                self.assertEqual(run.returncode, code, run.stdout)
                run = subprocess.run(
                    prefix + [here + "sealprobe-explain", "--json",
                              here + "TarvoSetup.exe"],
                    env=run_env, capture_output=True, text=True)
                trust = json.loads(run.stdout)[0]["trust"]
                self.assertEqual(trust["store"], store)
                # Each report names where the list came from; one of
                # 2024 is more than 90 days old, which is said, not fatal.
                self.assertEqual(trust["origin"] and
                                 trust["origin"]["source"],
                                 trust["ctl_this_update"] and self.server.url)
                self.assertEqual("days old; sealprobe-roots sync" in run.stderr,
                                 trust["ctl_this_update"] is not None)
        run = subprocess.run(prefix + [here + "sealprobe-roots", "show"],
                             env=env, capture_output=True, text=True)
        self.assertIn("folder:          " + self.folder + "\n", run.stdout)


if __name__ == "__main__":
    harness.main("roots", "tool", "explain", "fixtures",
                 needs=("gcab", "setpriv"))
