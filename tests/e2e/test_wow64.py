"""What running as 32-bit code on 64-bit Windows (WoW64) changes for the program: the registry
views, the Program Files (x86) folder, the system folder its DLLs come from."""

import os
import shutil
import unittest

from harness import test_tool
from installer_scenario import (
    SETTINGS_SECTION,
    SUCCESS_CAPTION,
    InstallerScenario,
    assert_installed,
)


class RecordTest(unittest.TestCase):
    def test_record_reads_the_same_through_both_registry_views(self):
        # HKCU\Software is shared between the views: the add-in's VBA in a 64-bit Excel reads
        # what the 32-bit program wrote.
        s = InstallerScenario()
        self.addCleanup(s.close)
        self.assertEqual(s.run("/install", "/quiet").exit_code(), 0)

        expected = {"Path": s.prefix.win_path(s.program) + "\\TORVA.xls", "Unit": "Halvetri"}
        for view in ("HKCU:32", "HKCU:64"):
            with self.subTest(view):
                for key, value in expected.items():
                    self.assertEqual(s.prefix.reg_get(view, SETTINGS_SECTION, key), value)


class ProgramFilesTest(unittest.TestCase):
    def test_program_under_program_files_x86_is_recorded_whole(self):
        folder = "C:\\Program Files (x86)\\Quorvale 数据 (共享)"
        s = InstallerScenario(program_win_path=folder)
        self.addCleanup(s.close)

        self.assertEqual(s.install(), 0)

        self.assertEqual(s.setting("Path"), folder + "\\TORVA.xls")
        assert_installed(self, s)


class DllSearchTest(unittest.TestCase):
    # Loaded by the window after the program has started, so only the program's own rule for
    # where DLLs may come from keeps the planted copy out. Windows takes any DLL that is not a
    # KnownDLL from the program's folder first; Wine does so when told to prefer a DLL found on
    # the search path over its own.
    PLANTED = "uxtheme.dll"

    def test_a_dll_planted_beside_the_program_is_not_loaded(self):
        s = InstallerScenario()
        self.addCleanup(s.close)
        shutil.copy2(test_tool("PlantedLibrary.dll", s.bits), os.path.join(s.program, self.PLANTED))
        s.prefix.env["WINEDLLOVERRIDES"] += ";%s=n,b" % self.PLANTED[:-4]

        process = s.start()
        window = s.prefix.driver_json("wait-window", SUCCESS_CAPTION)
        loaded = s.prefix.driver_json("modules", window["pid"])
        s.prefix.driver("close", SUCCESS_CAPTION)
        self.assertEqual(process.wait(), 0)

        self.assertEqual(loaded["bits"], s.bits)
        program = s.prefix.win_path(s.program).lower() + "\\"
        dlls = [m for m in loaded["modules"] if not m.lower().endswith("\\qxsetup.exe")]
        self.assertIn(self.PLANTED, [os.path.basename(m.replace("\\", "/")).lower() for m in dlls])
        for module in dlls:
            with self.subTest(module):
                self.assertFalse(module.lower().startswith(program), "loaded from the program's folder")
                # Under Wine a 64-bit viewer names a WoW64 process's system folder System32.
                self.assertTrue(module.lower().startswith("c:\\windows\\"), "not a system DLL")


if __name__ == "__main__":
    unittest.main()
