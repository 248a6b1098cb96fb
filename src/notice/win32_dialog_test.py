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
import os
import re
import shutil
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                os.pardir, "testing"))
import harness  # noqa: E402
from harness import CONFIG, MANIFEST, wait_until  # noqa: E402

FAILING_NAME = MANIFEST[0]
# The first entry fails, so this is the whole output.
EXPECTED_OUT = harness.walk({FAILING_NAME: ("", "tampered")})

DISPLAY = None


def setUpModule():
    global DISPLAY
    # A server left from an earlier run would keep its desktop on a display
    # that is gone.
    harness.stop_wine_server(CONFIG.wineprefix)
    DISPLAY = harness.Display()
    unittest.addModuleCleanup(DISPLAY.close)
    # Cleanups run last first: the server stops before its display.
    unittest.addModuleCleanup(harness.stop_wine_server, CONFIG.wineprefix)


class DialogTest(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        folder = harness.temp_folder(self, "sealprobe-dialog-")
        shutil.copyfile(harness.fixture_path("tampered"),
                        os.path.join(folder, FAILING_NAME))
        self.folder = harness.wine_path(folder) + "\\"

    def start(self, program, args):
        """Starts `program` of the build on the display, its message boxes
        traced."""
        run = harness.tool(program, wineprefix=CONFIG.wineprefix,
                           display=DISPLAY.name).start(
                               args, env={"WINEDEBUG": "+msgbox"})
        self.addCleanup(run.close)
        return run

    def args(self, ui_level, product_name="Tarvo Setup",
             message="Cannot verify {FileName}."):
        return [self.folder, self.folder, product_name, message, ui_level]

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
                run = self.start(CONFIG.tool,
                                 self.args(ui_level, caption, message))
                windows = wait_until(
                    lambda: DISPLAY.visible_windows("--pid", str(run.pid)), 60)
                self.assertTrue(windows, "no dialog appeared; stderr:\n" +
                                run.stderr())
                self.assertEqual(len(windows), 1, windows)
                window = windows[0]
                self.assertEqual(DISPLAY.window_name(window), caption)
                if caption:
                    self.assertEqual(DISPLAY.visible_windows(
                        "--name", "^%s$" % re.escape(caption)), [window])

                shown = wait_until(
                    lambda: re.findall(r"MSGBOX_OnInit (.*)\n", run.stderr()),
                    60)
                self.assertEqual(shown, [harness.wine_debugstr(text)])

                time.sleep(1)
                self.assertIsNone(run.poll(), "the run must wait for the user")

                DISPLAY.press_return(window)
                self.assertEqual(run.wait(timeout=30), 1, run.stderr())
                self.assertEqual(run.stdout(), EXPECTED_OUT)

    def test_levels_up_to_three_and_unseen_places_do_not_wait(self):
        # A deferred custom action that does not impersonate runs in session
        # 0, on a window station without WSF_VISIBLE ("USEROBJECTFLAGS",
        # learn.microsoft.com/windows/win32/api/winuser/
        # ns-winuser-userobjectflags: the station "has visible display
        # surfaces"), where no one can see or dismiss a message box. The
        # launcher starts a program on a new station, which
        # CreateWindowStationW never makes visible; on a new desktop of
        # WinSta0, which is not the input desktop (Wine, too, names "Default"
        # as the input desktop there); or hidden, as nsExec starts a program
        # (why each hides the box: DialogCanBeAnsweredTest).
        def launched(mode, program, args):
            return (CONFIG.launcher, ["--" + mode, " ".join(
                '"%s"' % a for a in [harness.wine_path(program)] + args)])

        modes = ("hidden-station", "second-desktop", "hidden")
        # The control shows its box wherever it runs, and waits: nothing
        # but the tool's own check keeps the tool's box away.
        for mode in modes:
            with self.subTest(control=mode):
                control = self.start(*launched(
                    mode, CONFIG.control, [self.folder + FAILING_NAME]))
                self.assertTrue(
                    wait_until(lambda: "MSGBOX_OnInit" in control.stderr(),
                               60), "no box; stderr:\n" + control.stderr())
                time.sleep(2)
                self.assertIsNone(control.poll(),
                                  "the control's box must wait")
                if mode == "hidden-station":
                    self.assertEqual(DISPLAY.visible_windows(
                        "--name", "^Undefended control$"), [])
                control.close()

        # The tool shows nothing up to level 3, nor at level 5 where nobody
        # could answer it, where it goes on as at level 3.
        cases = [(level, (CONFIG.tool, self.args(level)))
                 for level in ("3", "0", "-1", "abc")]
        cases += [("5, " + mode, launched(
            mode, CONFIG.tool, [self.folder + "\\"] * 2 + self.args("5")[2:]))
            for mode in modes]
        for what, program_and_args in cases:
            with self.subTest(ui_level=what):
                run = self.start(*program_and_args)
                # A run that waited for the user would never end.
                self.assertEqual(run.wait(timeout=60), 1, run.stderr())
                self.assertNotIn("MSGBOX_OnInit", run.stderr())
                self.assertEqual(run.stdout(), EXPECTED_OUT)

if __name__ == "__main__":
    harness.main("runner", "tool", "fixtures", "wineprefix", "launcher",
                 "control", needs=("Xvfb", "xdotool", "wineserver"))
