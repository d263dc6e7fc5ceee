"""The install/uninstall toggle, run for real under Wine with the stand-in Excel."""

import os
import sys
import tempfile
import unittest

from harness import required_env

import glyphs

from installer_scenario import (
    ADDIN_BYTES,
    EXIT_DECLINED,
    IDNO,
    IDOK,
    IDYES,
    REMOVAL_NOTICE,
    SUCCESS_CAPTION,
    UNINSTALL_QUESTION,
    InstallerScenario,
    assert_installed,
    child_rect_in_shot,
)


class ToggleTest(unittest.TestCase):
    def setUp(self):
        self.scenario = InstallerScenario()
        self.addCleanup(self.scenario.close)

    def test_install_copies_the_addin_and_records_the_workbook(self):
        s = self.scenario
        self.assertEqual(s.install(), 0)

        assert_installed(self, s)
        self.assertIn("invoke StartupPath flags=2 lcid=1033 args=0", s.standin_log())

    def test_run_again_and_no_changes_nothing(self):
        s = self.scenario
        s.install()

        process = s.start()
        box = s.box()
        shot, shown = s.screenshot_window("Setup", "uninstall-question")
        s.press(IDNO)
        self.assertEqual(process.wait(), EXIT_DECLINED)

        # The question reads in Chinese, not as rows of missing-glyph boxes.
        text = next(c for c in shown["children"] if c["id"] == 0xFFFF)
        self.assertGreaterEqual(glyphs.distinct_glyph_shapes(shot, child_rect_in_shot(shown, text)), 10)

        self.assertEqual(box["text"], UNINSTALL_QUESTION)
        self.assertEqual(sorted(box["buttons"]), [IDYES, IDNO])
        self.assertEqual(box["default"], IDYES)
        self.assertEqual(box["icon"], "warning")
        assert_installed(self, s)

    def test_run_again_and_yes_removes_the_addin_and_the_section(self):
        s = self.scenario
        s.install()

        process = s.start()
        s.answer_box(IDYES)
        notice = s.answer_box(IDOK, screenshot_name="removal-notice")
        self.assertEqual(process.wait(), 0)

        self.assertEqual(notice["text"], REMOVAL_NOTICE)
        self.assertEqual(notice["buttons"], [IDOK])
        self.assertEqual(notice["icon"], "information")
        self.assertFalse(os.path.exists(s.installed_addin))
        self.assertFalse(s.section_exists())
        self.assertTrue(s.application_key_exists())

    def test_third_run_installs_again(self):
        s = self.scenario
        s.install()
        process = s.start()
        s.answer_box(IDYES)
        s.answer_box(IDOK)
        process.wait()

        self.assertEqual(s.install(), 0)
        assert_installed(self, s)

    def test_uninstall_without_a_section_still_removes_the_addin(self):
        s = self.scenario
        s.install()
        s.prefix.reg_delete_tree("HKCU", "Software\\VB and VBA Program Settings\\Tanrebo Software\\Merrowin")

        process = s.start()
        s.answer_box(IDYES)
        notice = s.answer_box(IDOK)
        self.assertEqual(process.wait(), 0)

        self.assertEqual(notice["text"], REMOVAL_NOTICE)
        self.assertFalse(os.path.exists(s.installed_addin))


class SignedProgramTest(unittest.TestCase):
    """What a release ships is the exe signed: its signature must not stop it working."""

    def test_the_signed_exe_installs_and_uninstalls(self):
        sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                                        "release"))
        import throwaway_signing

        folder = tempfile.mkdtemp(prefix="signed-", dir=required_env("QXSETUP_E2E_WORK"))
        signer = throwaway_signing.make_code_signing_ca(folder)
        signed = os.path.join(folder, "QXSetup.exe")
        throwaway_signing.sign(required_env("QXSETUP_EXE"), signed, signer)
        verified, output = throwaway_signing.verify(signed, signer)
        self.assertTrue(verified, output)
        s = InstallerScenario(exe_source=signed)
        self.addCleanup(s.close)

        self.assertEqual(s.install(), 0)
        assert_installed(self, s)
        process = s.start()
        self.assertEqual(s.answer_box(IDYES)["text"], UNINSTALL_QUESTION)
        self.assertEqual(s.answer_box(IDOK)["text"], REMOVAL_NOTICE)
        self.assertEqual(process.wait(), 0)
        self.assertIsNone(s.addin_bytes())
        self.assertFalse(s.section_exists())


class WhereTheProgramLivesTest(unittest.TestCase):
    def test_drive_root_records_the_workbook_with_one_separator(self):
        s = InstallerScenario(program_folder_name="root of Q")
        self.addCleanup(s.close)
        os.symlink(s.program, os.path.join(s.prefix.path, "dosdevices", "q:"))

        # Started through its Q: name, so that the program's folder is a drive root.
        process = s.start(exe="Q:\\QXSetup.exe")
        s.prefix.driver("wait-window", SUCCESS_CAPTION)
        s.prefix.driver("close", SUCCESS_CAPTION)
        self.assertEqual(process.wait(), 0)

        self.assertEqual(s.setting("Path"), "Q:\\TORVA.xls")
        self.assertEqual(s.addin_bytes(), ADDIN_BYTES)

    def test_folder_deeper_than_max_path_is_recorded_whole(self):
        s = InstallerScenario(program_folder_name=os.path.join(*["Quorvale 数据 管理 目录"] * 16))
        self.addCleanup(s.close)
        program = s.prefix.win_path(s.program)
        self.assertGreater(len(program), 300)

        self.assertEqual(s.install(), 0)

        self.assertEqual(s.setting("Path"), program + "\\TORVA.xls")
        self.assertEqual(s.addin_bytes(), ADDIN_BYTES)

    def test_progid_fallback_reaches_excel_registered_only_by_name(self):
        s = InstallerScenario()
        self.addCleanup(s.close)
        s.prefix.unregister_excel_global_class()

        self.assertEqual(s.install(), 0)

        self.assertEqual(s.addin_bytes(), ADDIN_BYTES)
        self.assertIn("create application", s.standin_log())


if __name__ == "__main__":
    unittest.main()
