"""Excel already open, as most users have it: the add-in works at once, uninstall and update
need no restart of Excel, a busy or hung Excel never hangs the program, nothing else of the
user's is touched, and a program folder that cannot work is named before anything changes."""

import os
import sys
import time
import unittest

from installer_scenario import (
    IDOK,
    IDYES,
    REMOVAL_NOTICE,
    SUCCESS_CAPTION,
    UNINSTALL_QUESTION,
    InstallerScenario,
    assert_installed,
    logged_steps,
)
from limits import SCALE

RESTART_EXCEL = "Quorvale已经安装。请关闭并重新打开 Excel，“文件(F)”菜单中才会出现新的菜单项。   "
ADDIN_SOURCE_MISSING = ("Quorvale安装失败：本程序所在的文件夹中没有“安装.xla”。如果是在压缩包中直接"
                        "打开的，请先把全部文件解压到同一个文件夹，再运行本程序。未做任何更改。   ")
RUNS_FROM_TEMPORARY_FOLDER = ("Quorvale安装失败：本程序正从临时文件夹运行。请先把全部文件解压到一个"
                              "固定的文件夹，再从那里运行本程序。未做任何更改。   ")

EXIT_DONE = 0
WHOLE_EXIT_FAILED = 1603
ERROR_SHARING_VIOLATION = 32
NEWER_BYTES = bytes((i * 101 + 7) % 256 for i in range(7000))
# Past the program's 10-second limit for one step in Excel, with room for a slow start.
PAST_THE_LIMIT_MS = 25000
# Each under the limit, together past it: the first call of a step held up, the next rejected.
SLOW_FOR_MS = 6000
# The program's limit for one step in Excel, from the moment it sends the step: 10 s for Excel
# to answer. A functional bound, not a speed: not scaled with the machine.
STEP_LIMIT_S = 10
# The limit, the second the program allows for a call to be withdrawn, and room for the box to
# be found (scaled with the machine, as the rest of the suite's waits are).
GIVEN_UP_WITHIN_S = STEP_LIMIT_S + 1 + 1.0 * SCALE
# Past the program's give-up, its window and its end, by far: the call it gave up on is still
# held when it ends.
HELD_PAST_THE_END_MS = 90000
# How long after its window closes the program may still run, having given up on a hung Excel.
# A functional bound, not a speed: waiting for the thread it gave up on takes 10 s, on any
# machine, so it is not scaled with the machine's speed.
ENDS_AFTER_ITS_WINDOW_WITHIN_MS = 2000
ANOTHER_RUN_LOGGED = "Another run is in progress: nothing done"

# All a user's Excel may be asked: its start-up folder and version, and the add-in opened or
# closed.
MEMBERS_ASKED = {"StartupPath", "Version", "Workbooks", "Open", "Item", "RunAutoMacros", "Close"}


def users_excel_events(s):
    return [line[len("user: "):] for line in s.standin_log() if line.startswith("user: ")]


def excels_started_by_com(s):
    return [line for line in s.standin_log() if line.startswith("server start")]


def another_addin_the_user_has(s):
    """An add-in of someone else's, which the user's Excel opens at its start."""
    path = os.path.join(s.startup, "其他.xla")
    with open(path, "wb") as f:
        f.write(b"someone else's add-in")
    return s.prefix.win_path(path)


class TouchesNothingElse:
    def assert_touched_only_the_addin(self, s, other):
        events = users_excel_events(s)
        asked = {event.split(" ", 1)[1] for event in events if event.startswith("names ")}
        self.assertLessEqual(asked, MEMBERS_ASKED)
        self.assertNotIn("closed " + other, events)
        self.assertFalse([e for e in events if e.startswith("close ") and "QxButton.xla" not in e])


class InstallWithExcelOpenTest(TouchesNothingElse, unittest.TestCase):
    # name: (the user's Excel: None for none, else how it is started; the stand-in's wishes for
    # the run; opened there; the restart box; Excels COM starts)
    CASES = {
        "the user's Excel open": (dict(), {}, True, False, 0),
        "the user's Excel busy for 3 s": (dict(), {"reject_calls_ms": 3000}, True, False, 0),
        "the user's Excel busy past the limit":
            (dict(), {"reject_calls_ms": PAST_THE_LIMIT_MS}, False, True, 1),
        "the user's Excel hung past the limit":
            (dict(), {"stall_calls_ms": PAST_THE_LIMIT_MS}, False, True, 1),
        "Excel's window up, not yet reachable": (dict(registered=False), {}, False, True, 1),
        "no Excel open": (None, {}, False, False, 1),
    }

    def test_install_opens_it_there_or_asks_for_a_restart(self):
        for name, (excel, wishes, opened, restart, com_started) in self.CASES.items():
            with self.subTest(name):
                s = InstallerScenario()
                try:
                    other = another_addin_the_user_has(s)
                    if excel is not None:
                        s.open_users_excel(**excel)

                    run = s.run(**wishes)
                    box = s.answer_box(IDOK, screenshot_name="restart-excel") if restart else None
                    s.prefix.driver("wait-window", SUCCESS_CAPTION)
                    s.prefix.driver("close", SUCCESS_CAPTION)
                    result = run.result()

                    self.assertEqual(result["exit_code"], EXIT_DONE)
                    # The box, when there is one, comes before the success window.
                    self.assertEqual(result["windows"],
                                     (["Setup"] if restart else []) + [SUCCESS_CAPTION])
                    if restart:
                        self.assertEqual(box["text"], RESTART_EXCEL)
                        self.assertEqual(box["icon"], "information")
                        self.assertEqual(box["buttons"], [IDOK])
                    assert_installed(self, s)
                    installed = s.prefix.win_path(s.installed_addin)
                    events = users_excel_events(s)
                    self.assertEqual("opened " + installed in events, opened)
                    self.assertEqual("run auto macros 1 of QxButton.xla" in events, opened)
                    self.assertEqual(len(excels_started_by_com(s)), com_started)
                    if "reject_calls_ms" in wishes:
                        self.assertIn("rejected a call", events)
                    if excel is not None:
                        self.assert_touched_only_the_addin(s, other)
                finally:
                    s.close()


class GaveUpOnHungExcelTest(unittest.TestCase):
    def test_ends_as_its_window_closes_and_a_second_start_runs(self):
        s = InstallerScenario()
        self.addCleanup(s.close)
        s.open_users_excel()
        second_log = os.path.join(s.prefix.root, "second.log")

        run = s.run(stall_calls_ms=HELD_PAST_THE_END_MS)
        s.answer_box(IDOK)
        s.prefix.driver("wait-window", SUCCESS_CAPTION)
        s.prefix.driver("close", SUCCESS_CAPTION)
        # As a user double-clicks it again at once: the guard must already be let go of.
        second = s.prefix.start(s.program_win + "\\QXSetup.exe",
                                ["/status", "/quiet", "/log", s.prefix.win_path(second_log)])
        result = run.result()
        still_held = "let the held-up call through" not in users_excel_events(s)
        # Its second line says whether it got past the guard; past it, it waits for the hung
        # Excel too, which is not this test's business.
        second_step = s.prefix.wait_for(lambda: logged_steps(second_log)[1:2],
                                        what="the second start's log")[0]
        second.kill()

        self.assertEqual(result["exit_code"], EXIT_DONE)
        self.assertEqual(result["windows"], ["Setup", SUCCESS_CAPTION])
        self.assertTrue(still_held, "the hung Excel answered before the program ended")
        self.assertLess(result["ms_after_last_window"], ENDS_AFTER_ITS_WINDOW_WITHIN_MS,
                        "the second start logged: " + second_step)
        self.assertNotEqual(second_step, ANOTHER_RUN_LOGGED)
        assert_installed(self, s)


class RemovalWithExcelOpenTest(TouchesNothingElse, unittest.TestCase):
    def setUp(self):
        self.s = InstallerScenario()
        self.addCleanup(self.s.close)
        self.other = another_addin_the_user_has(self.s)
        self.s.open_users_excel()
        if self.s.run("/install", "/quiet").exit_code() != EXIT_DONE:
            raise AssertionError("setting up: the install failed")
        self.installed = self.s.prefix.win_path(self.s.installed_addin)
        if "opened " + self.installed not in users_excel_events(self.s):
            raise AssertionError("setting up: the user's Excel did not open the add-in")

    def test_uninstall_closes_it_there_then_removes_it(self):
        s = self.s
        process = s.run()
        self.assertEqual(s.answer_box(IDYES)["text"], UNINSTALL_QUESTION)
        notice = s.answer_box(IDOK)
        self.assertEqual(process.exit_code(), EXIT_DONE)

        self.assertEqual(notice["text"], REMOVAL_NOTICE)
        self.assertIsNone(s.addin_bytes())
        self.assertFalse(s.section_exists())
        events = users_excel_events(s)
        closing = ["run auto macros 2 of QxButton.xla", "close QxButton.xla saving false",
                   "closed " + self.installed]
        self.assertEqual([e for e in events if e in closing], closing)
        self.assertEqual(excels_started_by_com(s), [])
        self.assert_touched_only_the_addin(s, self.other)

    def test_update_closes_it_replaces_it_and_opens_it_again(self):
        s = self.s
        with open(os.path.join(s.program, "安装.xla"), "wb") as f:
            f.write(NEWER_BYTES)
        before = len(users_excel_events(s))

        self.assertEqual(s.run("/install", "/quiet").exit_code(), EXIT_DONE)

        assert_installed(self, s, NEWER_BYTES)
        update = [e for e in users_excel_events(s)[before:]
                  if e.startswith(("run auto macros", "close", "opened"))]
        self.assertEqual(update, [
            "run auto macros 2 of QxButton.xla", "close QxButton.xla saving false",
            "closed " + self.installed, "opened " + self.installed,
            "run auto macros 1 of QxButton.xla"])
        self.assert_touched_only_the_addin(s, self.other)

    def test_a_step_slow_in_every_call_is_given_up_on_at_the_limit(self):
        s = self.s
        process = s.run()
        self.assertEqual(s.box()["text"], UNINSTALL_QUESTION)
        # Taking the add-in out of the user's Excel is one step of several calls. Excel holds up
        # the first; while it does, it is asked to reject the calls that follow for as long:
        # each call is within the limit, the step is not.
        before = len(users_excel_events(s))
        s.prefix.configure_standin(startup_path=s.prefix.win_path(s.startup), log=s.log,
                                   stall_calls_ms=SLOW_FOR_MS)
        asked = time.monotonic()
        s.press(IDYES)
        s.prefix.wait_for(lambda: "holding up a call for %d ms" % SLOW_FOR_MS
                          in users_excel_events(s)[before:], what="the call to be held up")
        s.prefix.configure_standin(startup_path=s.prefix.win_path(s.startup), log=s.log,
                                   reject_calls_ms=SLOW_FOR_MS)
        failure = s.box()
        answered_in = time.monotonic() - asked
        sys.stderr.write("Excel slow in every call of a step: the box %.1f s after the Yes\n"
                         % answered_in)
        s.press(IDOK)
        self.assertEqual(process.exit_code(), WHOLE_EXIT_FAILED, failure["text"])

        events = users_excel_events(s)[before:]
        self.assertIn("rejected a call", events)
        # Given up on at the limit, not after the sum of its calls: the close never went through.
        self.assertNotIn("closed " + self.installed, events)
        self.assertGreaterEqual(answered_in, STEP_LIMIT_S, "given up on before the limit")
        self.assertLess(answered_in, GIVEN_UP_WITHIN_S, "not given up on in time")
        self.assertTrue(failure["text"].startswith("Quorvale未能移除："), failure["text"])
        assert_installed(self, s)

    def test_excels_own_error_is_shown_and_logged_on_one_line(self):
        s = self.s
        # As Excel words a refusal, line breaks of every kind included.
        description = "工作簿无法关闭：\r正在编辑单元格\n请稍后\r\n再试"
        folded = "工作簿无法关闭： 正在编辑单元格 请稍后  再试"
        log = os.path.join(s.prefix.root, "qx.log")

        quiet = s.run("/uninstall", "/quiet", "/log", s.prefix.win_path(log), fail="Close",
                      fail_with=description)
        self.assertEqual(quiet.exit_code(), WHOLE_EXIT_FAILED)
        process = s.run(fail="Close", fail_with=description)
        s.answer_box(IDYES)
        box = s.answer_box(IDOK)
        self.assertEqual(process.exit_code(), WHOLE_EXIT_FAILED)

        self.assertEqual(box["text"], "Quorvale未能移除：" + description + "请关闭 Excel 后重试。   ")
        with open(log, encoding="utf-8-sig", newline="") as f:
            lines = f.read().split("\r\n")
        self.assertEqual(lines[-1], "")
        steps = [line[len("2026-12-08 15:03:17 "):] for line in lines[:-1]]
        for line in lines[:-1]:
            self.assertRegex(line, r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d ")
        self.assertIn("Take QxButton.xla out of the user's Excel: failed, error 0x80020009: " +
                      folded, steps)
        self.assertIn("Failed: Quorvale未能移除：%s请关闭 Excel 后重试。   " % folded, steps)
        assert_installed(self, s)

    def test_uninstall_with_excel_busy_past_the_limit_keeps_both(self):
        s = self.s
        process = s.run(reject_calls_ms=PAST_THE_LIMIT_MS)
        s.answer_box(IDYES)
        failure = s.answer_box(IDOK)
        self.assertEqual(process.exit_code(), WHOLE_EXIT_FAILED)

        # The Excel that holds the add-in could not let go of it, and nothing else could.
        self.assertEqual(failure["text"], "Quorvale未能移除：" +
                         s.prefix.describe(ERROR_SHARING_VIOLATION) + "请关闭 Excel 后重试。   ")
        self.assertEqual(failure["icon"], "warning")
        assert_installed(self, s)
        self.assertIn("rejected a call", users_excel_events(s))


class ProgramFolderThatCannotWorkTest(unittest.TestCase):
    def missing_addin(self, s):
        os.remove(os.path.join(s.program, "安装.xla"))

    def in_temporary_folder(self, s):
        s.move_program(s.prefix.driver("temp-folder").rstrip("\\") + "\\Quorvale 安装 程序")

    def temporary_folder_named_by_its_8_3_name(self, s):
        # TEMP as some profiles hold it: the short name of a folder with a long one.
        home = s.prefix.driver("temp-folder").rstrip("\\").rsplit("\\", 1)[0]
        temporary = home + "\\临时 文件 Temporary"
        os.makedirs(s.prefix.unix_path(temporary))
        short = s.prefix.driver("short-path", temporary)
        self.assertNotEqual(short, temporary)
        for name in ("TEMP", "TMP"):
            s.prefix.reg_set("HKCU", "Environment", name, short)
        s.move_program(temporary + "\\Quorvale")

    def temporary_folder_spelled_in_another_case(self, s):
        # Wine's long-name step gives back a name that could be an 8.3 name as the disk has it
        # ("TEMP" as "Temp"), but any other (longer, or not ASCII) in the case it was given in:
        # only a comparison that ignores case, in every script, sees the program inside TEMP.
        home = s.prefix.driver("temp-folder").rstrip("\\").rsplit("\\", 1)[0]
        temporary = home + "\\临时 文件 Temporary Ä Ж"
        os.makedirs(s.prefix.unix_path(temporary))
        for name in ("TEMP", "TMP"):
            s.prefix.reg_set("HKCU", "Environment", name, home + "\\临时 文件 tEMPORARY ä ж")
        s.move_program(temporary + "\\Quorvale")
        seen = s.prefix.driver("long-path", s.prefix.driver("temp-folder")).rstrip("\\") + "\\"
        inside = s.prefix.driver("long-path", s.program_win)
        self.assertFalse(inside.startswith(seen), (seen, inside))
        self.assertTrue(inside.casefold().startswith(seen.casefold()), (seen, inside))

    # name: (arrange, the message)
    CASES = {
        "安装.xla not beside the program": (missing_addin, ADDIN_SOURCE_MISSING),
        "run from inside the temporary folder": (in_temporary_folder, RUNS_FROM_TEMPORARY_FOLDER),
        "run from a temporary folder known by its 8.3 name":
            (temporary_folder_named_by_its_8_3_name, RUNS_FROM_TEMPORARY_FOLDER),
        "run from a temporary folder spelled in another case":
            (temporary_folder_spelled_in_another_case, RUNS_FROM_TEMPORARY_FOLDER),
    }

    def test_named_before_anything_changes(self):
        for name, (arrange, message) in self.CASES.items():
            for quiet in (False, True):
                with self.subTest(name, quiet=quiet):
                    s = InstallerScenario()
                    try:
                        # A fresh profile: not even Excel's start-up folder may be made.
                        os.rmdir(s.startup)
                        arrange(self, s)
                        log = os.path.join(s.prefix.root, "qx.log")
                        args = (["/install", "/quiet"] if quiet else []) + [
                            "/log", s.prefix.win_path(log)]

                        run = s.run(*args)
                        box = None if quiet else s.answer_box(IDOK, screenshot_name="folder")
                        result = run.result()

                        self.assertEqual(result["exit_code"], WHOLE_EXIT_FAILED)
                        if quiet:
                            self.assertEqual(result["windows"], [])
                        else:
                            self.assertEqual((box["text"], box["icon"]), (message, "warning"))
                        with open(log, encoding="utf-8-sig") as f:
                            self.assertIn("Failed: " + message, f.read())
                        self.assertFalse(os.path.exists(s.startup))
                        self.assertFalse(s.application_key_exists())
                    finally:
                        s.close()

    def test_a_folder_beside_the_temporary_one_is_not_inside_it(self):
        s = InstallerScenario()
        self.addCleanup(s.close)
        # "...\Temp2" starts like "...\Temp" and is another folder.
        s.move_program(s.prefix.driver("temp-folder").rstrip("\\") + "2\\Quorvale")

        self.assertEqual(s.run("/install", "/quiet").exit_code(), EXIT_DONE)
        assert_installed(self, s)


if __name__ == "__main__":
    unittest.main()
