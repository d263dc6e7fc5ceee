"""The administrator's command line, run for real: each mode's exit code, what it changes, that
quiet runs show nothing, and the log."""

import os
import re
import unittest

from installer_scenario import (
    ADDIN_BYTES,
    IDOK,
    SETTINGS_SECTION,
    SUCCESS_CAPTION,
    InstallerScenario,
    assert_installed,
)

# A later "安装.xla", so that an update can be told from the install before it.
NEWER_BYTES = bytes((i * 101 + 7) % 256 for i in range(7000))

ERROR_ACCESS_DENIED = 5

USAGE_START = "用法：QXSetup.exe [/install | /uninstall | /status] [/quiet] [/log <文件>]\r\n"
STAMP = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d ")


def install_quietly(s):
    if s.run("/install", "/quiet").exit_code() != 0:
        raise AssertionError("setting up: the quiet install failed")


def ship_newer_addin(s):
    with open(os.path.join(s.program, "安装.xla"), "wb") as f:
        f.write(NEWER_BYTES)


def press_ok_on_the_usage(test, s):
    box = s.box()
    test.assertTrue(box["text"].startswith(USAGE_START), box["text"])
    test.assertTrue(box["text"].endswith("   "))
    s.press(IDOK)


def close_the_success_window(test, s):
    s.prefix.driver("wait-window", SUCCESS_CAPTION)
    s.prefix.driver("close", SUCCESS_CAPTION)


class ModesTest(unittest.TestCase):
    def assert_nothing_installed(self, s):
        self.assertIsNone(s.addin_bytes())
        self.assertFalse(s.section_exists())

    def test_each_mode(self):
        rows = [
            # name, arrange, command line, exit code, windows shown, meanwhile, outcome
            ("install quietly on a clean profile",
             None, ["/install", "/quiet"], 0, [], None,
             lambda s: assert_installed(self, s)),
            ("install again: an update from the newer add-in, asking nothing",
             lambda s: (install_quietly(s), ship_newer_addin(s)),
             ["-INSTALL", "-Quiet"], 0, [], None,
             lambda s: assert_installed(self, s, NEWER_BYTES)),
            ("install without quiet ends in the success window",
             None, ["/install"], 0, [SUCCESS_CAPTION], close_the_success_window,
             lambda s: assert_installed(self, s)),
            ("status when installed",
             install_quietly, ["/status"], 0, [], None,
             lambda s: assert_installed(self, s)),
            ("status when not installed",
             None, ["/status"], 1, [], None,
             lambda s: self.assert_nothing_installed(s)),
            ("uninstall quietly",
             install_quietly, ["/uninstall", "/quiet"], 0, [], None,
             lambda s: (self.assert_nothing_installed(s),
                        self.assertTrue(s.application_key_exists()))),
            ("uninstall quietly when nothing is installed: nothing to do",
             lambda s: s.run("/uninstall", "/quiet").exit_code(), ["/uninstall", "/quiet"], 0,
             [], None,
             lambda s: self.assert_nothing_installed(s)),
            ("install quietly without the add-in beside the program",
             lambda s: os.remove(os.path.join(s.program, "安装.xla")),
             ["/install", "/quiet"], 1603, [], None,
             lambda s: self.assert_nothing_installed(s)),
            ("install over an add-in whose record is gone: an update",
             lambda s: (install_quietly(s), ship_newer_addin(s),
                        s.prefix.reg_delete_tree("HKCU", SETTINGS_SECTION)),
             ["/install", "/quiet"], 0, [], None,
             lambda s: assert_installed(self, s, NEWER_BYTES)),
            ("an update whose record cannot be written puts the earlier add-in back",
             lambda s: (install_quietly(s), ship_newer_addin(s),
                        s.prefix.deny_writes("HKCU", SETTINGS_SECTION)),
             ["/install", "/quiet"], 1603, [], None,
             lambda s: assert_installed(self, s, ADDIN_BYTES)),
            ("an unknown switch shows the usage",
             None, ["/instal"], 87, ["Setup"], press_ok_on_the_usage,
             lambda s: self.assert_nothing_installed(s)),
            ("an unknown switch beside quiet shows nothing",
             None, ["/install", "/quiet", "/force"], 87, [], None,
             lambda s: self.assert_nothing_installed(s)),
            ("a log with an empty file name is refused",
             None, ["/install", "/quiet", "/log", ""], 87, [], None,
             lambda s: self.assert_nothing_installed(s)),
            ("a log that cannot be opened stops the run before it starts",
             None, ["/install", "/quiet", "/log", "Z:\\no such folder\\qxsetup.log"], 1622, [],
             None,
             lambda s: self.assert_nothing_installed(s)),
            ("help shows the usage",
             None, ["/?"], 0, ["Setup"], press_ok_on_the_usage,
             lambda s: self.assert_nothing_installed(s)),
        ]
        for name, arrange, args, exit_code, windows, meanwhile, outcome in rows:
            with self.subTest(name):
                s = InstallerScenario()
                try:
                    if arrange:
                        arrange(s)
                    run = s.run(*args)
                    if meanwhile:
                        meanwhile(self, s)
                    result = run.result()
                    self.assertEqual(result["exit_code"], exit_code)
                    self.assertEqual(result["windows"], windows)
                    outcome(s)
                finally:
                    s.close()


class LogTest(unittest.TestCase):
    def setUp(self):
        self.scenario = InstallerScenario()
        self.addCleanup(self.scenario.close)
        folder = os.path.join(self.scenario.prefix.root, "部署 日志")
        os.makedirs(folder)
        self.log = os.path.join(folder, "qx setup.log")

    def lines(self):
        with open(self.log, "rb") as f:
            data = f.read()
        # The byte-order mark lets Notepad before Windows 10 read it as UTF-8.
        self.assertTrue(data.startswith(b"\xef\xbb\xbf"), data[:8])
        lines = data[3:].decode("utf-8").split("\r\n")
        self.assertEqual(lines[-1], "", "the last line ends like the others")
        for line in lines[:-1]:
            self.assertRegex(line, STAMP)
        return [STAMP.sub("", line) for line in lines[:-1]]

    def test_a_quiet_install_logs_each_step_and_the_exit_code(self):
        s = self.scenario
        run = s.run("/install", "/quiet", "/log", s.prefix.win_path(self.log))
        self.assertEqual(run.exit_code(), 0)

        startup = s.prefix.win_path(s.startup)
        staging = s.prefix.win_path(os.path.dirname(s.startup)) + "\\QxButton.xla.QXSetup-staging"
        program = s.prefix.win_path(s.program)
        steps = self.lines()
        print("\n".join(steps))
        self.assertRegex(steps[0], r"^QXSetup 1\.01\.0003 started: .*QXSetup\.exe\" /install /quiet "
                                   r"/log \"Z:\\.*\\部署 日志\\qx setup\.log\"$")
        self.assertEqual(steps[1:], [
            # Wine has no shell window to compare the account with.
            "Check the account: cannot tell (error 1168: %s), so going on"
            % s.prefix.describe(1168),
            "Look for Excel's window on the desktop: none",
            "Reach the Excel the user has open: none running",
            "Start Excel: done",
            "Ask Excel for its start-up folder: done",
            "Excel's start-up folder: " + startup,
            "Excel used: one started for this run",
            "Look for %s\\QxButton.xla: not installed" % startup,
            "Find the program's folder: done",
            "Look for %s\\安装.xla: there" % program,
            "Create %s if missing: done" % startup,
            # Beside the start-up folder, flushed, then renamed into it after the record.
            "Copy %s\\安装.xla to %s: done" % (program, staging),
            "Record Path = %s\\TORVA.xls: done" % program,
            "Record Unit = Halvetri: done",
            "Write the record to disk: done",
            "Move %s to %s\\QxButton.xla: done" % (staging, startup),
            # The rename on disk before anything else moves.
            "Write %s to disk: done" % startup,
            # Read back once a security program has had its look, against what was written.
            "Compare %s\\QxButton.xla with what was staged, after a security program's look: "
            "the same" % startup,
            # Then what Excel will make of it at its next start, from Excel's own settings.
            "Ask Excel for its version: done",
            "Excel's version: 16.0",
            "Read HKCU\\Software\\Microsoft\\Office\\16.0\\Excel\\Resiliency\\DisabledItems: none",
            "Read HKCU\\Software\\Policies\\Microsoft\\Office\\16.0\\Excel\\Security\\Trusted "
            "Locations\\AllLocationsDisabled: not set",
            "Read HKCU\\Software\\Microsoft\\Office\\16.0\\Excel\\Security\\Trusted "
            "Locations\\AllLocationsDisabled: not set",
            "Read HKCU\\Software\\Policies\\Microsoft\\Office\\16.0\\Common\\Security\\Trusted "
            "Locations\\Allow User Locations: not set",
            "Read HKCU\\Software\\Microsoft\\Office\\16.0\\Common\\Security\\Trusted "
            "Locations\\Allow User Locations: not set",
            "Is %s on the network: no" % startup,
            "Trust in Excel 16.0: %s is a trusted location; the add-in's macros run" % startup,
            "Exit code 0",
        ])

    def test_a_failed_quiet_update_logs_the_error_and_what_was_put_back(self):
        s = self.scenario
        install_quietly(s)
        ship_newer_addin(s)
        s.prefix.deny_writes("HKCU", SETTINGS_SECTION)

        run = s.run("/install", "/quiet", "/log", s.prefix.win_path(self.log))
        self.assertEqual(run.exit_code(), 1603)

        program = s.prefix.win_path(s.program)
        staging = s.prefix.win_path(os.path.dirname(s.startup)) + "\\QxButton.xla.QXSetup-staging"
        denied = s.prefix.describe(ERROR_ACCESS_DENIED)
        steps = self.lines()
        print("\n".join(steps))
        failure = steps.index("Record Path = %s\\TORVA.xls: failed, error 5: %s"
                              % (program, denied))
        # The refused write changed nothing in the record, and the add-in was never replaced:
        # only the staged copy beside the start-up folder goes.
        self.assertEqual(steps[failure + 1:], [
            "Delete %s: done" % staging,
            "Failed: Quorvale安装失败：%s   " % denied,
            "Exit code 1603",
        ])
        self.assertEqual(s.addin_bytes(), ADDIN_BYTES)

    def test_runs_append_to_one_log(self):
        s = self.scenario
        for args in (["/status"], ["/install", "/quiet"], ["/status"]):
            s.run(*args, "/log", s.prefix.win_path(self.log)).exit_code()
        steps = self.lines()
        self.assertEqual([line for line in steps if line.startswith("Exit code")],
                         ["Exit code 1", "Exit code 0", "Exit code 0"])


if __name__ == "__main__":
    unittest.main()
