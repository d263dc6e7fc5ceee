"""Failures the user must hear about, and that must leave nothing half done."""

import hashlib
import os
import unittest

from installer_scenario import (
    ADDIN_BYTES,
    EXIT_FAILED,
    IDOK,
    IDYES,
    STARTUP_FOLDER_UNKNOWN,
    InstallerScenario,
    logged_steps,
)

ERROR_CHILD_MUST_BE_VOLATILE = 1021
HIDDEN_AND_READ_ONLY = 0x2 | 0x1
# Windows' number for a file altered from outside while it was open.
ERROR_FILE_INVALID = 1006
WHOLE_EXIT_FAILED = 1603

# Large enough that copying it takes many looks at the folder; its last bytes are the ones that
# change while the copy is still reading the first.
CHANGING_SOURCE_SIZE = 100_000_000
CHANGED_AT_THE_END = 1_000_000
LOOK_EVERY_S = 0.005
SOURCE_CHANGED = "Failed: Quorvale安装失败：复制“%s”时，它被改动了或无法再读取（"


class StartupFolderUnknownTest(unittest.TestCase):
    """Without Excel's start-up folder nothing is written anywhere, not even on a drive root."""

    CASES = {
        "excel_not_registered": dict(arrange=lambda s: s.prefix.unregister_excel(), start={}),
        "startup_path_fails": dict(arrange=lambda s: None, start={"fail": "StartupPath"}),
        "application_fails": dict(arrange=lambda s: None, start={"fail": "Application"}),
        "startup_path_empty": dict(arrange=lambda s: None, start={"startup": ""}),
    }

    def test_each_cause_changes_nothing_and_says_so(self):
        for name, case in self.CASES.items():
            with self.subTest(name):
                s = InstallerScenario()
                try:
                    case["arrange"](s)
                    # The program's current drive is Z:, the Linux root, writable by root.
                    stray = "/QxButton.xla"
                    self.assertFalse(os.path.exists(stray))

                    process = s.start(**case["start"])
                    box = s.answer_box(IDOK, screenshot_name="error-" + name)
                    self.assertEqual(process.wait(), EXIT_FAILED)

                    self.assertEqual(box["text"], STARTUP_FOLDER_UNKNOWN)
                    self.assertEqual(box["buttons"], [IDOK])
                    self.assertEqual(box["icon"], "warning")
                    self.assertEqual(os.listdir(s.startup), [])
                    self.assertFalse(os.path.exists(stray))
                    self.assertFalse(s.application_key_exists())
                finally:
                    s.close()


class InstallFailureTest(unittest.TestCase):
    def setUp(self):
        self.scenario = InstallerScenario()
        self.addCleanup(self.scenario.close)

    def expected(self, error):
        return "Quorvale安装失败：" + self.scenario.prefix.describe(error) + "   "

    def test_refused_settings_write_takes_the_copied_addin_back_out(self):
        s = self.scenario
        # Creating the non-volatile section under a volatile key fails in the registry itself.
        s.prefix.make_volatile("HKCU", "Software\\VB and VBA Program Settings\\Tanrebo Software")

        process = s.start()
        box = s.answer_box(IDOK)
        self.assertEqual(process.wait(), EXIT_FAILED)

        self.assertEqual(box["text"], self.expected(ERROR_CHILD_MUST_BE_VOLATILE))
        self.assertIsNone(s.addin_bytes())
        self.assertFalse(s.section_exists())

    def test_a_failed_install_puts_a_hidden_read_only_leftover_back_as_it_was(self):
        s = self.scenario
        leftover = b"an earlier, broken add-in"
        with open(s.installed_addin, "wb") as f:
            f.write(leftover)
        s.prefix.set_hidden(s.installed_addin)
        s.prefix.set_readonly(s.installed_addin)
        s.prefix.make_volatile("HKCU", "Software\\VB and VBA Program Settings\\Tanrebo Software")

        process = s.start()
        box = s.answer_box(IDOK)
        self.assertEqual(process.wait(), EXIT_FAILED)

        self.assertEqual(box["text"], self.expected(ERROR_CHILD_MUST_BE_VOLATILE))
        self.assertEqual(s.addin_bytes(), leftover)
        attributes = int(s.prefix.driver("file-attributes", s.prefix.win_path(s.installed_addin)))
        self.assertEqual(attributes & HIDDEN_AND_READ_ONLY, HIDDEN_AND_READ_ONLY,
                         "attributes 0x%x" % attributes)
        self.assertFalse(s.section_exists())

    def test_a_source_that_changes_while_it_is_copied_fails_and_leaves_nothing(self):
        s = self.scenario
        source = os.path.join(s.program, "安装.xla")
        with open(source, "wb") as f:
            f.write(hashlib.shake_128(b"as it was").digest(CHANGING_SOURCE_SIZE))
        beside = os.path.dirname(s.startup)
        before = set(os.listdir(beside))
        log = os.path.join(s.prefix.root, "changed.log")

        run = s.run("/install", "/quiet", "/log", s.prefix.win_path(log))
        # As another computer saves a new add-in over it on the share while the copy reads it:
        # written in place, the same size, from outside Windows' sharing rules.
        copied = s.prefix.wait_for(lambda: self.staged_sizes(beside, before), interval=LOOK_EVERY_S,
                                   what="the copy to begin")
        with open(source, "r+b") as f:
            f.seek(CHANGING_SOURCE_SIZE - CHANGED_AT_THE_END)
            f.write(hashlib.shake_128(b"a newer one").digest(CHANGED_AT_THE_END))
        if max(copied) >= CHANGING_SOURCE_SIZE:
            raise AssertionError("setting up: the copy was done before the source changed")
        result = run.result()

        steps = logged_steps(log)
        self.assertEqual((result["exit_code"], result["windows"]), (WHOLE_EXIT_FAILED, []), steps)
        self.assertIsNone(s.addin_bytes())
        self.assertFalse(s.application_key_exists())
        self.assertEqual(set(os.listdir(beside)), before)
        self.assertEqual(os.listdir(s.startup), [])
        self.assertTrue([line for line in steps if line.startswith("Copy ") and line.endswith(
            ": failed, error %d: %s" % (ERROR_FILE_INVALID,
                                         s.prefix.describe(ERROR_FILE_INVALID)))], steps)
        # Told as a source that changed, not as a failure of the copy's own.
        self.assertTrue([line for line in steps if line.startswith(
            SOURCE_CHANGED % (s.program_win + "\\安装.xla"))], steps)
        self.assertEqual(steps[-1], "Exit code 1603")

    @staticmethod
    def staged_sizes(folder, before):
        """The sizes of the files the run has begun to write beside the start-up folder."""
        sizes = []
        for name in set(os.listdir(folder)) - before:
            try:
                sizes.append(os.path.getsize(os.path.join(folder, name)))
            except FileNotFoundError:
                pass
        return [size for size in sizes if size > 0]

    def test_read_only_source_still_installs_an_addin_that_can_be_removed(self):
        s = self.scenario
        s.prefix.set_readonly(os.path.join(s.program, "安装.xla"))

        self.assertEqual(s.install(), 0)
        self.assertEqual(s.addin_bytes(), ADDIN_BYTES)
        self.assertTrue(os.stat(s.installed_addin).st_mode & 0o200, "installed add-in is read-only")

        process = s.start()
        s.answer_box(IDYES)
        s.answer_box(IDOK)
        self.assertEqual(process.wait(), 0)
        self.assertIsNone(s.addin_bytes())


class RemovalFailureTest(unittest.TestCase):
    def test_a_read_only_addin_keeps_its_record_and_the_user_is_told_why(self):
        s = InstallerScenario()
        self.addCleanup(s.close)
        s.install()
        s.prefix.set_readonly(s.installed_addin)

        process = s.start()
        s.answer_box(IDYES)
        box = s.answer_box(IDOK, screenshot_name="removal-failed-read-only")
        self.assertEqual(process.wait(), EXIT_FAILED)

        # Not Excel's doing, so not "close Excel"; and someone set the attribute, so it stays.
        self.assertEqual(box["text"],
                         "Quorvale未能移除：文件“QxButton.xla”是只读的。请取消其只读属性后重试。   ")
        self.assertEqual(box["icon"], "warning")
        self.assertEqual(s.addin_bytes(), ADDIN_BYTES)
        self.assertFalse(os.stat(s.installed_addin).st_mode & 0o222, "the attribute was cleared")
        self.assertEqual(s.setting("Unit"), "Halvetri")
        self.assertEqual(s.setting("Path"), s.program_win + "\\TORVA.xls")


if __name__ == "__main__":
    unittest.main()
