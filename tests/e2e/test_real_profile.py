"""What real desktops bring: a second start while a run is going on, a fresh profile without
Excel's start-up folder, leftovers of earlier installs, Excel holding the add-in open, other
settings of the same vendor, and the question of whose desktop the program runs on."""

import os
import unittest

from installer_scenario import (
    IDNO,
    IDOK,
    IDYES,
    REMOVAL_NOTICE,
    SETTINGS_APPLICATION,
    SETTINGS_SECTION,
    SUCCESS_CAPTION,
    UNINSTALL_QUESTION,
    InstallerScenario,
    assert_installed,
    logged_steps,
)

# The whole exit codes, as qxdriver run reads them.
EXIT_DONE = 0
EXIT_NOT_INSTALLED = 1
EXIT_DECLINED = 1602
EXIT_FAILED = 1603
EXIT_ANOTHER_RUN_IN_PROGRESS = 1618

ERROR_SHARING_VIOLATION = 32
ERROR_ALREADY_EXISTS = 183
ERROR_NOT_FOUND = 1168

FILE_ATTRIBUTE_READONLY = 0x1
FILE_ATTRIBUTE_HIDDEN = 0x2
FILE_ATTRIBUTE_SYSTEM = 0x4
LEFTOVER_ATTRIBUTES = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM

READS_STARTUP_PATH = "invoke StartupPath flags=2 lcid=1033 args=0"
# The one-run guard of a user's run, whichever session it runs in: named in the machine-wide
# namespace with the account's SID.
GUARD_OF_THE_ACCOUNT = "Global\\Quorvale.QXSetup.OneRun.c2f92dd2-f453-4bd0-b827-0e9755bd4a55.%s"
# As a run makes it: owned by the account and open to it alone.
ACCOUNTS_OWN_GUARD = "O:%sD:P(A;;GA;;;%s)"
# As another account could make the name first: owned by another (here the Administrators
# group), and open to everyone, or to nobody.
TAKEN_AND_OPEN = "O:BAD:P(A;;GA;;;WD)"
TAKEN_AND_SHUT = "O:BAD:P(D;;GA;;;WD)"


def exe(s):
    return os.path.join(s.program, "QXSetup.exe")


def removal_failed(s, error):
    return "Quorvale未能移除：" + s.prefix.describe(error) + "请关闭 Excel 后重试。   "


class OneRunAtATimeTest(unittest.TestCase):
    def setUp(self):
        self.scenario = InstallerScenario()
        self.addCleanup(self.scenario.close)

    def test_two_starts_at_once_install_once(self):
        s = self.scenario
        # The second start leaves the stand-in's settings alone: rewriting them could meet
        # the first run's Excel reading them.
        runs = [s.run(), s.prefix.run(exe(s))]

        s.prefix.driver("wait-window", SUCCESS_CAPTION)
        ended = s.prefix.wait_for(lambda: [r for r in runs if not r.alive()],
                                  what="one of the two runs to end by itself")
        self.assertEqual(len(ended), 1, "both runs ended while a success window was up")
        self.assertEqual(ended[0].exit_code(), EXIT_ANOTHER_RUN_IN_PROGRESS)

        success = s.prefix.driver_json("windows", SUCCESS_CAPTION)
        self.assertEqual(len(success["windows"]), 1)
        self.assertEqual(s.prefix.driver_json("windows", "Setup")["windows"], [])
        s.prefix.driver("close", SUCCESS_CAPTION)
        winner = next(r for r in runs if r is not ended[0])
        self.assertEqual(winner.exit_code(), EXIT_DONE)

        assert_installed(self, s)
        # The run that gave way never even asked Excel.
        self.assertEqual(s.standin_log().count(READS_STARTUP_PATH), 1)

    def test_second_start_brings_the_question_forward_and_asks_nothing(self):
        s = self.scenario
        s.install()
        first = s.run()
        question = s.box()
        self.assertEqual(question["text"], UNINSTALL_QUESTION)
        # The user has since clicked into another program.
        s.prefix.hold("front-window", "另一个程序")
        before = s.prefix.driver_json("windows", "Setup")
        self.assertEqual(before["foreground"]["title"], "另一个程序")

        # An administrator reads in the log why this run did nothing.
        log = os.path.join(s.prefix.root, "second run.log")
        second = s.prefix.run(exe(s), ["/log", s.prefix.win_path(log)])
        self.assertEqual(second.exit_code(), EXIT_ANOTHER_RUN_IN_PROGRESS)
        steps = logged_steps(log)
        self.assertEqual(len(steps), 3, steps)
        self.assertTrue(steps[0].startswith("QXSetup 1.01.0003 started: "), steps[0])
        self.assertEqual(steps[1:], ["Another run is in progress: nothing done", "Exit code 1618"])

        after = s.prefix.driver_json("windows", "Setup")
        self.assertEqual([w["hwnd"] for w in after["windows"]], [question["hwnd"]])
        self.assertEqual(after["foreground"]["hwnd"], question["hwnd"])
        assert_installed(self, s)

        s.press(IDNO)
        self.assertEqual(first.exit_code(), EXIT_DECLINED)
        assert_installed(self, s)


    def hold_guard(self, security):
        """The account's guard, held by the driver with that security descriptor (SDDL, %s for
        the account's SID)."""
        s = self.scenario
        sid = s.prefix.driver("user-sid")
        guard = GUARD_OF_THE_ACCOUNT % sid
        holder, held = s.prefix.hold("hold-mutex", guard, security.replace("%s", sid))
        self.addCleanup(holder.kill)
        self.assertFalse(held["existed"], "setting up: %s was there already" % guard)
        return holder

    def test_a_run_in_another_session_of_the_same_account_keeps_this_one_out(self):
        s = self.scenario
        # As the same user's run holds it in another session (a remote desktop beside the
        # console): owned by the account and open to it alone.
        self.hold_guard(ACCOUNTS_OWN_GUARD)

        log = os.path.join(s.prefix.root, "second session.log")
        run = s.run("/install", "/quiet", "/log", s.prefix.win_path(log))

        self.assertEqual(run.exit_code(), EXIT_ANOTHER_RUN_IN_PROGRESS, logged_steps(log))
        self.assertEqual(logged_steps(log)[1:],
                         ["Another run is in progress: nothing done", "Exit code 1618"])
        self.assertIsNone(s.addin_bytes())
        self.assertFalse(s.application_key_exists())
        self.assertEqual(s.standin_log().count(READS_STARTUP_PATH), 0)

    def test_the_guards_name_taken_by_another_account_keeps_no_run_out(self):
        s = self.scenario
        # On a terminal server any account can make a name in the machine-wide namespace.
        for taken in (TAKEN_AND_OPEN, TAKEN_AND_SHUT):
            with self.subTest(taken):
                holder = self.hold_guard(taken)
                try:
                    self.assertEqual(s.run("/status", "/quiet").exit_code(), EXIT_NOT_INSTALLED)
                finally:
                    holder.kill()


class StartupFolderTest(unittest.TestCase):
    def setUp(self):
        self.scenario = InstallerScenario()
        self.addCleanup(self.scenario.close)

    def test_missing_folder_and_parents_are_created_and_installed_into(self):
        s = self.scenario
        profile = os.path.join(s.prefix.root, "新用户")
        s.startup = os.path.join(profile, "AppData", "Roaming", "Microsoft", "Excel", "XLSTART")
        self.assertFalse(os.path.exists(profile))

        self.assertEqual(s.install(), 0)

        self.assertTrue(os.path.isdir(s.startup))
        assert_installed(self, s)

    def test_folder_that_cannot_be_created_fails_and_changes_nothing(self):
        s = self.scenario
        # A file where a parent folder should be. The program makes missing parents first, and
        # Wine answers creating a folder where the file stands with 183 (ERROR_ALREADY_EXISTS).
        blocker = os.path.join(s.prefix.root, "Excel 用户", "Microsoft")
        with open(blocker, "wb") as f:
            f.write(b"not a folder")
        s.startup = os.path.join(blocker, "Excel", "XLSTART")

        process = s.run()
        box = s.answer_box(IDOK, screenshot_name="startup-folder-not-created")
        self.assertEqual(process.exit_code(), EXIT_FAILED)

        self.assertEqual(
            box["text"], "Quorvale安装失败：" + s.prefix.describe(ERROR_ALREADY_EXISTS) + "   "
        )
        self.assertEqual(box["icon"], "warning")
        with open(blocker, "rb") as f:
            self.assertEqual(f.read(), b"not a folder")
        copies = [
            os.path.join(folder, name)
            for folder, _, names in os.walk(s.prefix.root)
            for name in names
            if name.lower() == "qxbutton.xla"
        ]
        self.assertEqual(copies, [])
        self.assertFalse(os.path.exists("/QxButton.xla"))
        self.assertFalse(s.application_key_exists())


class LeftoverAddinTest(unittest.TestCase):
    # name: also read-only
    LEFTOVERS = {
        "hidden": False,
        "hidden and read-only": True,
    }

    def test_hidden_leftover_counts_as_absent_and_is_replaced_by_a_visible_copy(self):
        for name, readonly in self.LEFTOVERS.items():
            with self.subTest(name):
                s = InstallerScenario()
                try:
                    with open(s.installed_addin, "wb") as f:
                        f.write(b"an earlier, broken add-in")
                    s.prefix.set_hidden(s.installed_addin)
                    if readonly:
                        s.prefix.set_readonly(s.installed_addin)
                    before = self.attributes(s)
                    self.assertTrue(before & FILE_ATTRIBUTE_HIDDEN)
                    self.assertEqual(bool(before & FILE_ATTRIBUTE_READONLY), readonly)

                    # No uninstall question: install() waits for the success window.
                    self.assertEqual(s.install(), 0)

                    assert_installed(self, s)
                    after = self.attributes(s)
                    self.assertEqual(after & LEFTOVER_ATTRIBUTES, 0, "attributes 0x%x" % after)
                finally:
                    s.close()

    @staticmethod
    def attributes(s):
        return int(s.prefix.driver("file-attributes", s.prefix.win_path(s.installed_addin)))


OTHER_SECTION = SETTINGS_APPLICATION + "\\Other"
OTHER_VALUES = {"Path": "D:\\其他\\Book.xls", "Unit": "Other"}


def excel_holds_the_addin(s):
    s.prefix.hold("hold-open", s.prefix.win_path(s.installed_addin))


def another_section_of_the_vendor(s):
    for value, data in OTHER_VALUES.items():
        s.prefix.reg_set("HKCU", OTHER_SECTION, value, data)


def record_already_gone(s):
    if not s.prefix.reg_delete_tree("HKCU", SETTINGS_SECTION):
        raise AssertionError("the install wrote no record to take away")


class UninstallOnARealProfileTest(unittest.TestCase):
    CASES = {
        # Wine enforces sharing modes: the delete fails with 32 (ERROR_SHARING_VIOLATION).
        "Excel holds the add-in open": dict(
            arrange=excel_holds_the_addin,
            message=lambda s: removal_failed(s, ERROR_SHARING_VIOLATION),
            icon="warning",
            exit_code=EXIT_FAILED,
            addin_kept=True,
            other_section={},
        ),
        "another section of the vendor": dict(
            arrange=another_section_of_the_vendor,
            message=lambda s: REMOVAL_NOTICE,
            icon="information",
            exit_code=EXIT_DONE,
            addin_kept=False,
            other_section=OTHER_VALUES,
        ),
        "record already gone": dict(
            arrange=record_already_gone,
            message=lambda s: REMOVAL_NOTICE,
            icon="information",
            exit_code=EXIT_DONE,
            addin_kept=False,
            other_section={},
        ),
    }

    def test_uninstall_answered_yes(self):
        for name, case in self.CASES.items():
            with self.subTest(name):
                s = InstallerScenario()
                try:
                    self.assertEqual(s.install(), 0)
                    case["arrange"](s)

                    process = s.run()
                    self.assertEqual(s.answer_box(IDYES)["text"], UNINSTALL_QUESTION)
                    final = s.answer_box(IDOK)
                    self.assertEqual(process.exit_code(), case["exit_code"])

                    self.assertEqual(final["text"], case["message"](s))
                    self.assertEqual(final["icon"], case["icon"])
                    if case["addin_kept"]:
                        # The record stays for the add-in that stays.
                        assert_installed(self, s)
                    else:
                        self.assertIsNone(s.addin_bytes())
                        self.assertFalse(s.section_exists())
                    for value, data in case["other_section"].items():
                        self.assertEqual(s.prefix.reg_get("HKCU", OTHER_SECTION, value), data)
                finally:
                    s.close()


class WhoseDesktopTest(unittest.TestCase):
    # name: (arrange, how the account check must conclude)
    CASES = {
        # Wine starts no shell: GetShellWindow gives nothing, so the program cannot tell.
        "no shell window, as under Wine": (
            lambda s: None,
            lambda s: "Check the account: cannot tell (error %d: %s), so going on"
            % (ERROR_NOT_FOUND, s.prefix.describe(ERROR_NOT_FOUND)),
        ),
        # The shell window belongs to a process of the same user, so the users are compared.
        "shell window of the same user": (
            lambda s: s.prefix.hold("shell-window", "Program Manager"),
            lambda s: "Check the account: the desktop's own user",
        ),
    }

    def test_the_desktops_own_user_installs(self):
        for name, (arrange, verdict) in self.CASES.items():
            with self.subTest(name):
                s = InstallerScenario()
                try:
                    arrange(s)
                    log = os.path.join(s.prefix.root, "QXSetup.log")

                    process = s.run("/log", s.prefix.win_path(log))
                    s.prefix.driver("wait-window", SUCCESS_CAPTION)
                    s.prefix.driver("close", SUCCESS_CAPTION)
                    self.assertEqual(process.exit_code(), EXIT_DONE)

                    steps = logged_steps(log)
                    checks = [step for step in steps if step.startswith("Check the account")]
                    self.assertEqual(checks, [verdict(s)])
                    assert_installed(self, s)
                finally:
                    s.close()


if __name__ == "__main__":
    unittest.main()
