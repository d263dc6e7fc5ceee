"""Failures the user must hear about, and that must leave nothing half done."""

import os
import unittest

from installer_scenario import (
    ADDIN_BYTES,
    EXIT_FAILED,
    IDOK,
    IDYES,
    STARTUP_FOLDER_UNKNOWN,
    InstallerScenario,
)

ERROR_CHILD_MUST_BE_VOLATILE = 1021
HIDDEN_AND_READ_ONLY = 0x2 | 0x1


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
