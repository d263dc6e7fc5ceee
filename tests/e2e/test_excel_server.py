"""Excel as a real one is: a server in its own process, started by COM for QXSetup, that ends
by itself once QXSetup has let go of it."""

import os
import unittest

from installer_scenario import (
    ADDIN_BYTES,
    IDOK,
    IDYES,
    InstallerScenario,
)

READS_STARTUP_PATH = "invoke StartupPath flags=2 lcid=1033 args=0"


def install(s):
    return s.install()


def uninstall(s):
    process = s.start()
    s.answer_box(IDYES)
    s.answer_box(IDOK)
    return process.wait()


class ServerEndsWithQXSetupTest(unittest.TestCase):
    # name: (what is there before, the run watched)
    RUNS = {
        "install, success window closed": (lambda s: None, install),
        "uninstall": (install, uninstall),
    }

    def test_server_ends_by_itself_after_each_run(self):
        for name, (arrange, run) in self.RUNS.items():
            with self.subTest(name):
                s = InstallerScenario()
                try:
                    arrange(s)
                    s.prefix.wait_standin_gone()
                    if os.path.exists(s.log):
                        os.remove(s.log)

                    self.assertEqual(run(s), 0)

                    s.prefix.wait_standin_gone()
                    lines = s.standin_log()
                    self.assertEqual(lines[0], "server start (64-bit)")
                    self.assertIn(READS_STARTUP_PATH, lines)
                    self.assertEqual(lines[-1], "server exit")
                finally:
                    s.close()


class SlowServerTest(unittest.TestCase):
    def test_server_slow_to_offer_its_classes_still_gives_a_complete_install(self):
        s = InstallerScenario()
        self.addCleanup(s.close)

        self.assertEqual(s.install(register_delay_ms=3000), 0)

        self.assertEqual(s.addin_bytes(), ADDIN_BYTES)
        self.assertEqual(s.setting("Path"), s.prefix.win_path(s.program) + "\\TORVA.xls")
        self.assertEqual(s.setting("Unit"), "Halvetri")
        lines = s.standin_log()
        self.assertEqual(lines[:2], ["server start (64-bit)", "waiting 3000 ms before registering"])
        self.assertIn(READS_STARTUP_PATH, lines)


if __name__ == "__main__":
    unittest.main()
