#!/usr/bin/python3
"""The Windows tool's error dialog, under Wine on a headless X display.

Usage:
  win32_dialog_test.py --runner RUNNER --tool SEALPROBE_EXE --fixtures DIR
                       --wineprefix PREFIX --launcher LAUNCHER
                       --control CONTROL [unittest options]

RUNNER is the build's Wine wrapper. PREFIX is a Wine prefix for this test
alone: Wine binds a prefix's desktop to the display of the process that
started it, so runs without a display elsewhere must not share it. Exits 77
(a skip) when Xvfb or xdotool is not installed. LAUNCHER and CONTROL are
src/driver/e2e/launcher.cpp and undefended_control.c, built.

Above UI level 3 a failing run shows a modal message box: caption = product
name, text = the localized message with the failing file's name. The run
waits until it is dismissed, then fails with the same console output as a
run without the dialog.
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

SKIP = 77
FAILING_NAME = "tv-Common.v5.21.40.0.dll"
# The first entry fails, so this is the whole output.
EXPECTED_OUT = "Error is: 0x80096010.\nSealProbe: FAILED.\n"

CONFIG = argparse.Namespace()
DISPLAY = None


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


def xdotool(*args):
    result = subprocess.run(["xdotool"] + list(args),
                            env=dict(os.environ, DISPLAY=DISPLAY),
                            capture_output=True, text=True, timeout=30)
    return result.returncode, result.stdout


def visible_windows(pid):
    code, out = xdotool("search", "--onlyvisible", "--pid", str(pid))
    return out.split() if code == 0 else []


def window_name(window):
    code, out = xdotool("getwindowname", window)
    return out[:-1] if code == 0 and out.endswith("\n") else None


def wait_until(predicate, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.2)
    return None


def start_xvfb():
    """Starts Xvfb on a display number it picks itself; returns the process
    and ":N"."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
         "-nolisten", "tcp"],
        pass_fds=(write_end,), stdin=subprocess.DEVNULL,
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    with os.fdopen(read_end, "rb") as pipe:
        while not number.endswith(b"\n"):
            chunk = pipe.read(1)
            if not chunk:
                break
            number += chunk
    if not number.strip():
        xvfb.kill()
        xvfb.wait()
        raise RuntimeError("Xvfb did not report a display")
    return xvfb, ":" + number.decode().strip()


class Run:
    """One run of a program (the tool unless said otherwise) on the display,
    its output in files."""

    def __init__(self, args):
        self.out = tempfile.TemporaryFile()
        self.err = tempfile.TemporaryFile()
        # UTF-8, so that Wine hands every argument's characters to the tool.
        env = dict(os.environ, DISPLAY=DISPLAY, WINEDEBUG="+msgbox",
                   SEALPROBE_WINEPREFIX=CONFIG.wineprefix, LC_ALL="C.UTF-8")
        args = [CONFIG.runner] + args
        # Files rather than pipes: the Wine server inherits the descriptors
        # and outlives the run.
        self.proc = subprocess.Popen(args, env=env, stdin=subprocess.DEVNULL,
                                     stdout=self.out, stderr=self.err,
                                     start_new_session=True)
        self.started = time.monotonic()

    def stderr(self):
        self.err.seek(0)
        return self.err.read().decode("utf-8", "replace")

    def stdout(self):
        self.out.seek(0)
        return self.out.read().replace(b"\r\n", b"\n").decode(
            "utf-8", "surrogateescape")

    def wait(self, timeout):
        return self.proc.wait(timeout=timeout)

    def close(self):
        if self.proc.poll() is None:
            # The whole group: a launcher's child is a process of its own.
            os.killpg(self.proc.pid, signal.SIGKILL)
            self.proc.wait()
        self.out.close()
        self.err.close()


class DialogTest(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        tmp = tempfile.TemporaryDirectory(prefix="sealprobe-dialog-")
        self.addCleanup(tmp.cleanup)
        shutil.copyfile(os.path.join(CONFIG.fixtures, "files/tampered.exe"),
                        os.path.join(tmp.name, FAILING_NAME))
        self.folder = wine_path(os.path.realpath(tmp.name)) + "\\"

    def start(self, product_name, message, ui_level):
        return self.start_program([CONFIG.tool, self.folder, self.folder,
                                   product_name, message, ui_level])

    def start_program(self, args):
        run = Run(args)
        self.addCleanup(run.close)
        return run

    def test_dialog_holds_the_run_until_dismissed(self):
        cases = (
            ("4", "Tarvo Setup", "Cannot verify {FileName}. Reinstall Tarvo.",
             "Cannot verify %s. Reinstall Tarvo." % FAILING_NAME),
            ("5", "Tarvo", "Tarvo cannot start.",
             "Tarvo cannot start.\n\n%s" % FAILING_NAME),
            # An empty product name stays an empty caption, not "Error".
            ("4", "", "{FileName} is damaged.", FAILING_NAME + " is damaged."),
            # Characters no console code page holds reach the dialog intact.
            ("4", "Tarvo \u00c9dition \u6587\u4ef6",
             "\u00c9chec\u00a0: {FileName} \u2014 \U0001F512",
             "\u00c9chec\u00a0: %s \u2014 \U0001F512" % FAILING_NAME),
        )
        for ui_level, caption, message, text in cases:
            with self.subTest(ui_level=ui_level, caption=caption):
                run = self.start(caption, message, ui_level)
                windows = wait_until(lambda: visible_windows(run.proc.pid), 60)
                self.assertTrue(windows, "no dialog appeared; stderr:\n" +
                                run.stderr())
                self.assertEqual(len(windows), 1, windows)
                window = windows[0]
                self.assertEqual(window_name(window), caption)
                if caption:
                    code, found = xdotool(
                        "search", "--onlyvisible", "--name",
                        "^%s$" % re.escape(caption))
                    self.assertEqual(found.split(), [window])

                shown = wait_until(
                    lambda: re.findall(r"MSGBOX_OnInit (.*)\n", run.stderr()),
                    10)
                self.assertEqual(shown, [wine_debugstr(text)])

                time.sleep(1)
                self.assertIsNone(run.proc.poll(),
                                  "the run must wait for the user")

                xdotool("windowfocus", "--sync", window, "key", "Return")
                self.assertEqual(run.wait(timeout=30), 1, run.stderr())
                self.assertEqual(run.stdout(), EXPECTED_OUT)

    def test_levels_up_to_three_show_nothing_and_do_not_wait(self):
        for ui_level in ("3", "0", "-1", "abc"):
            with self.subTest(ui_level=ui_level):
                run = self.start("Tarvo Setup", "Cannot verify {FileName}.",
                                 ui_level)
                self.assertEqual(run.wait(timeout=30), 1, run.stderr())
                self.assertLess(time.monotonic() - run.started, 20)
                self.assertNotIn("MSGBOX_OnInit", run.stderr())
                self.assertEqual(run.stdout(), EXPECTED_OUT)

    def test_hidden_window_station_shows_nothing_and_does_not_wait(self):
        # A deferred custom action that does not impersonate runs in session
        # 0, on a window station without WSF_VISIBLE ("USEROBJECTFLAGS",
        # learn.microsoft.com/windows/win32/api/winuser/
        # ns-winuser-userobjectflags: the station "has visible display
        # surfaces"), where no one can see or dismiss a message box. The
        # launcher starts a program on a new station, which
        # CreateWindowStationW never makes visible.
        def on_hidden_station(line):
            return self.start_program(
                [CONFIG.launcher, "--hidden-station", line])

        # The control shows its box whatever the station: nobody sees it,
        # and it waits.
        control = on_hidden_station('"%s" "%s"' % (
            wine_path(CONFIG.control), self.folder + FAILING_NAME))
        self.assertTrue(wait_until(lambda: "MSGBOX_OnInit" in control.stderr(),
                                   60), "no box; stderr:\n" + control.stderr())
        time.sleep(2)
        self.assertIsNone(control.proc.poll(), "the control's box must wait")
        self.assertEqual(xdotool("search", "--onlyvisible", "--name",
                                 "^Undefended control$")[1], "")
        control.close()

        # The tool at level 5 goes on as at level 3.
        run = on_hidden_station('"%s" "%s\\" "%s\\" "Tarvo Setup" '
                                '"Cannot verify {FileName}." 5' % (
                                    wine_path(CONFIG.tool), self.folder,
                                    self.folder))
        self.assertEqual(run.wait(timeout=60), 1, run.stderr())
        self.assertLess(time.monotonic() - run.started, 30)
        self.assertNotIn("MSGBOX_OnInit", run.stderr())
        self.assertEqual(run.stdout(), EXPECTED_OUT)


def wine_path(host_path):
    return "Z:" + host_path.replace("/", "\\")


def stop_wine_server():
    subprocess.run(["wineserver", "-k"],
                   env=dict(os.environ, WINEPREFIX=CONFIG.wineprefix),
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)


def main():
    global DISPLAY
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--runner", required=True)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--fixtures", required=True)
    parser.add_argument("--wineprefix", required=True)
    parser.add_argument("--launcher", required=True)
    parser.add_argument("--control", required=True)
    known, rest = parser.parse_known_args()
    for name in ("runner", "tool", "fixtures", "wineprefix", "launcher",
                 "control"):
        setattr(CONFIG, name, os.path.abspath(getattr(known, name)))

    missing = [p for p in ("Xvfb", "xdotool", "wineserver")
               if shutil.which(p) is None]
    if missing:
        print("skipped: %s not installed" % ", ".join(missing))
        sys.exit(SKIP)

    # A server left from an earlier run would keep its desktop on a display
    # that is gone.
    stop_wine_server()
    xvfb, DISPLAY = start_xvfb()
    try:
        program = unittest.main(argv=[sys.argv[0]] + rest, exit=False)
    finally:
        stop_wine_server()
        xvfb.terminate()
        xvfb.wait()
    sys.exit(not program.result.wasSuccessful())


if __name__ == "__main__":
    main()
