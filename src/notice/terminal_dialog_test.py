#!/usr/bin/env python3
"""The native tool's error notice on a real pseudo-terminal.

Usage: terminal_dialog_test.py SEALPROBE

The notice goes to the controlling terminal, never to standard output or the
error stream, and the run waits for Enter; without a controlling terminal it
returns at once. Console output and exit code are the same either way.
"""
import os
import select
import subprocess
import sys
import tempfile
import time
import unittest

TOOL = None


def read_until(fd, needle, timeout=10.0):
    data = b""
    deadline = time.monotonic() + timeout
    while needle not in data:
        left = deadline - time.monotonic()
        if left <= 0:
            break
        ready, _, _ = select.select([fd], [], [], left)
        if not ready:
            break
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            break
        if not chunk:
            break
        data += chunk
    return data


class TerminalDialogTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        folder = self.tmp.name + "/"
        # Not a program, so it fails whatever the trust store holds.
        with open(folder + "tv-Strings.dll", "wb") as f:
            f.write(b"not a program\n")
        self.args = [TOOL, folder, folder, "Tarvo Product",
                     "Cannot verify {FileName}.", None]

    def tearDown(self):
        self.tmp.cleanup()

    def run_without_terminal(self, ui_level):
        args = self.args[:-1] + [ui_level]
        return subprocess.run(args, stdin=subprocess.DEVNULL,
                              capture_output=True, start_new_session=True,
                              timeout=20)

    def test_notice_waits_for_enter_on_the_terminal(self):
        quiet = self.run_without_terminal("3")
        self.assertEqual(quiet.returncode, 1)
        self.assertTrue(quiet.stdout.endswith(b"SealProbe: FAILED.\n"))

        master, slave = os.openpty()
        slave_name = os.ttyname(slave)

        def make_controlling_terminal():
            # A new session leader opening a terminal acquires it.
            os.close(os.open(slave_name, os.O_RDWR))

        args = self.args[:-1] + ["4"]
        proc = subprocess.Popen(args, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                start_new_session=True,
                                preexec_fn=make_controlling_terminal)
        try:
            shown = read_until(master, b"Press Enter")
            self.assertIn(b"== Tarvo Product ==", shown)
            self.assertIn(b"[ERROR] Cannot verify tv-Strings.dll.", shown)
            time.sleep(0.3)
            self.assertIsNone(proc.poll(), "the run must wait for the user")
            os.write(master, b"\n")
            out, err = proc.communicate(timeout=20)
        finally:
            if proc.poll() is None:
                proc.kill()
            os.close(master)
            os.close(slave)
        self.assertEqual(proc.returncode, 1)
        self.assertEqual(out, quiet.stdout)
        self.assertEqual(err, b"")

    def test_no_terminal_means_no_wait_and_same_output(self):
        results = [self.run_without_terminal(level)
                   for level in ("4", "5", "3", "0", "-1", "abc")]
        for result in results:
            self.assertEqual(result.returncode, 1)
            self.assertEqual(result.stdout, results[0].stdout)
            self.assertEqual(result.stderr, b"")


if __name__ == "__main__":
    TOOL = sys.argv.pop(1)
    unittest.main()
