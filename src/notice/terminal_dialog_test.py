#!/usr/bin/env python3
"""The native tool's error notice on a real pseudo-terminal.

Usage: terminal_dialog_test.py --tool SEALPROBE [unittest options]

The notice goes to the controlling terminal, never to standard output or the
error stream, and the run waits for Enter. Without a controlling terminal it
returns at once, with the same output and exit code (src/driver/e2e's
e2e_test.py runs the tool that way at every UI level).
"""
import os
import select
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                os.pardir, "testing"))
import harness  # noqa: E402

FAILING_NAME = "tv-Strings.dll"


def read_until(fd, needle, timeout=60.0):
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
    def test_notice_waits_for_enter_on_the_terminal(self):
        folder = harness.temp_folder(self) + "/"
        # Not a program, so it fails whatever the trust store holds.
        with open(folder + FAILING_NAME, "wb") as f:
            f.write(b"not a program\n")
        master, slave = os.openpty()
        self.addCleanup(os.close, master)
        self.addCleanup(os.close, slave)
        slave_name = os.ttyname(slave)

        def make_controlling_terminal():
            # A new session leader opening a terminal acquires it.
            os.close(os.open(slave_name, os.O_RDWR))

        run = harness.tool().start(
            [folder, folder, "Tarvo Product", "Cannot verify {FileName}.",
             "4"], preexec_fn=make_controlling_terminal)
        self.addCleanup(run.close)
        shown = read_until(master, b"Press Enter")
        self.assertIn(b"== Tarvo Product ==", shown)
        self.assertIn(b"[ERROR] Cannot verify %s." % FAILING_NAME.encode(),
                      shown)
        time.sleep(0.3)
        self.assertIsNone(run.poll(), "the run must wait for the user")
        os.write(master, b"\n")
        self.assertEqual(run.wait(timeout=20), 1)
        self.assertEqual(run.stdout(), harness.walk(
            {FAILING_NAME: (folder + FAILING_NAME, "notpe")}))
        self.assertEqual(run.stderr(), "")


if __name__ == "__main__":
    harness.main("tool")
