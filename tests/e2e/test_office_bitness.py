"""The install, the uninstall question and the uninstall with Office of either bitness. Users have
32-bit Office (the default for years) and 64-bit Office, with the same 32-bit QXSetup.exe:
with 64-bit Office every call to Excel crosses bitness, and 32-bit Office registers Excel in the
32-bit registry view (Software\\Classes\\Wow6432Node) only."""

import os
import unittest

from harness import runs_32bit_code
from installer_scenario import (
    EXIT_DECLINED,
    IDNO,
    IDOK,
    IDYES,
    REMOVAL_NOTICE,
    UNINSTALL_QUESTION,
    InstallerScenario,
    assert_installed,
)

READS_STARTUP_PATH = "invoke StartupPath flags=2 lcid=1033 args=0"


def ask_and_answer(s, button):
    process = s.start()
    question = s.answer_box(button)
    notice = s.answer_box(IDOK)["text"] if button == IDYES else None
    return process.wait(), question["text"], notice


class OfficeBitnessTest(unittest.TestCase):
    OFFICES = (64, 32)

    def test_install_question_and_uninstall(self):
        for office in self.OFFICES:
            with self.subTest("%d-bit Office" % office):
                if office == 32 and not runs_32bit_code():
                    self.skipTest("32-bit Office needs a machine that runs 32-bit code")
                s = InstallerScenario()
                try:
                    s.prefix.use_office(office)

                    self.assertEqual(s.install(), 0)
                    assert_installed(self, s)
                    # The Excel of that bitness answered, and nothing else did.
                    log = s.standin_log()
                    self.assertEqual(log[0], "server start (%d-bit)" % office)
                    self.assertIn(READS_STARTUP_PATH, log)

                    self.assertEqual(ask_and_answer(s, IDNO), (EXIT_DECLINED, UNINSTALL_QUESTION, None))
                    assert_installed(self, s)

                    self.assertEqual(ask_and_answer(s, IDYES), (0, UNINSTALL_QUESTION, REMOVAL_NOTICE))
                    self.assertIsNone(s.addin_bytes())
                    self.assertFalse(s.section_exists())
                    starts = [line for line in s.standin_log() if line.startswith("server start")]
                    self.assertEqual(starts, ["server start (%d-bit)" % office] * 3)
                finally:
                    s.close()


if __name__ == "__main__":
    unittest.main()
