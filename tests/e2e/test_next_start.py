"""Installed means the add-in runs when Excel next starts: Excel's disabled item for it is
deleted (no other), Excel's trust settings decide whether the user sees the success window or
is told what Excel will do, and an add-in a security program takes away the moment it appears
fails the install with nothing left half-done.

One prefix serves every case; each starts from a fresh profile set back through the driver."""

import json
import os
import shutil
import struct
import unittest

from installer_scenario import (
    IDOK,
    SETTINGS_APPLICATION,
    SUCCESS_CAPTION,
    InstallerScenario,
    assert_installed,
    logged_steps,
)

EXIT_DONE = 0
WHOLE_EXIT_FAILED = 1603
ERROR_FILE_NOT_FOUND = 2
REG_BINARY = 3

# Everything a case may set, deleted before each case.
OFFICE_POLICIES = "Software\\Policies\\Microsoft\\Office"
EXCEL_RESILIENCY = "Software\\Microsoft\\Office\\16.0\\Excel\\Resiliency"

DISABLED_ITEMS = "Software\\Microsoft\\Office\\16.0\\Excel\\Resiliency\\DisabledItems"
POLICY_EXCEL_LOCATIONS = (
    "Software\\Policies\\Microsoft\\Office\\16.0\\Excel\\Security\\Trusted Locations")
POLICY_EXCEL_SECURITY = "Software\\Policies\\Microsoft\\Office\\16.0\\Excel\\Security"
POLICY_COMMON_LOCATIONS = (
    "Software\\Policies\\Microsoft\\Office\\16.0\\Common\\Security\\Trusted Locations")

# Values Excel keeps its disabled items under, each named by a hash of Excel's own.
OWN_ITEM = "5C1A2B"
# The add-in's own item as another Excel wrote it: the same path in upper case.
OWN_ITEM_UPPER_CASE = "5C1A2C"
OTHER_ITEM = "7F3E01"
# Another file whose name ends in the add-in's name: it must not be taken for it.
OTHER_ITEM_PATH = "d:\\报表\\myqxbutton.xla"
# Other files that are not the installed add-in, however alike: each item must stay as it is.
OTHER_ITEMS = {
    "7F3E02": ("c:\\addins\\qxbutton.xlam", "QxButton"),
    "7F3E03": ("d:\\old\\qxbutton.xla.bak", "QxButton"),
    "7F3E04": ("\\\\server\\addins\\qxbutton.xla", "QxButton"),
    # The same name in another folder.
    "7F3E05": ("c:\\其他 文件夹\\qxbutton.xla", "QxButton"),
}
SAME_NAME_BESIDE = "7F3E06"
COPY_BESIDE = "7F3E07"

VERSION_LINE = "Excel's version: 16.0"
ITEM_DELETED = ("Delete Excel's disabled item HKCU\\Software\\Microsoft\\Office\\16.0\\Excel"
                "\\Resiliency\\DisabledItems\\%s, which names %s: done")

NEVER_RUN_BOX = ("Quorvale已经安装，但按 Excel 的安全设置，它的宏不会运行，“文件(F)”菜单中不会出现新的"
                 "菜单项。请联系 IT 部门，请他们通过组策略把 Excel 的启动文件夹“%s”设为受信任位置。   ")
ALL_LOCATIONS_DISABLED_READ = ("Read HKCU\\Software\\Policies\\Microsoft\\Office\\16.0\\Excel"
                               "\\Security\\Trusted Locations\\AllLocationsDisabled: 1")
NO_MACROS_READ = ("Read HKCU\\Software\\Policies\\Microsoft\\Office\\16.0\\Excel\\Security"
                  "\\VBAWarnings: 4")
NEVER_RUN_VERDICT = ("Trust in Excel 16.0: %s is not a trusted location (every trusted location "
                     "is disabled); the add-in's macros never run")

ONLY_POLICY_LOCATIONS_READ = ("Read HKCU\\Software\\Policies\\Microsoft\\Office\\16.0\\Common"
                              "\\Security\\Trusted Locations\\Allow User Locations: 0")
POLICY_LOCATION_PATH_READ = ("Read HKCU\\Software\\Policies\\Microsoft\\Office\\16.0\\Excel"
                             "\\Security\\Trusted Locations\\Location1\\Path: %s")
POLICY_LOCATION_SUBFOLDERS_READ = ("Read HKCU\\Software\\Policies\\Microsoft\\Office\\16.0"
                                   "\\Excel\\Security\\Trusted Locations\\Location1"
                                   "\\AllowSubfolders: 1")
TRUSTED_VERDICT = "Trust in Excel 16.0: %s is a trusted location; the add-in's macros run"
COVERS = "Does %s cover %s: "
ERROR_ENVVAR_NOT_FOUND = 203
# An environment variable the tests give the program, through Wine, which passes its own on.
PROFILES_VARIABLE = "QXE2E_PROFILES"

COMPARED = "Compare %s\\QxButton.xla with what was staged, after a security program's look: "
SAME_AFTER_THE_LOOK = COMPARED + "the same"
# How long a security program reads the new add-in, sharing it with nobody, from the moment it
# appears: past the half second the program waits before it reads the add-in back, so that it
# meets the scanner still there, and well within the two seconds more it waits for one.
SCAN_HOLDS_MS = 1800
TAKEN_AWAY_FAILURE = ("Failed: Quorvale安装失败：刚放入“%s”的“QxButton.xla”随即不见了或被改动，很可能是"
                      "安全软件（杀毒软件）把它隔离了。请让 IT 部门把该文件夹列为安全软件的例外后重试。   ")


def disabled_item(path, friendly_name, written_as=str.lower):
    """One value as Excel writes it: three numbers (the item's kind, then the byte lengths of
    the path and of the name), the path (lower-cased, unless written_as says otherwise), then
    the name, each in UTF-16LE with its NUL."""
    path_bytes = (written_as(path) + "\0").encode("utf-16-le")
    name_bytes = (friendly_name + "\0").encode("utf-16-le")
    return struct.pack("<III", 1, len(path_bytes), len(name_bytes)) + path_bytes + name_bytes


class NextStartTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.s = InstallerScenario()
        cls.folders = (cls.s.startup, os.path.dirname(cls.s.startup))

    @classmethod
    def tearDownClass(cls):
        cls.s.close()

    def setUp(self):
        s = self.s
        # A case that failed may have left its run waiting on a box or window.
        s.prefix.driver("terminate", "QXSetup.exe")
        for folder in self.folders:
            for path in self.files_in(folder):
                os.remove(path)
        for key in (SETTINGS_APPLICATION, OFFICE_POLICIES, EXCEL_RESILIENCY):
            s.prefix.reg_delete_tree("HKCU", key)
        self.startup = s.prefix.win_path(s.startup)
        self.log = os.path.join(s.prefix.root, self.id().rsplit(".", 1)[1] + ".log")

    @staticmethod
    def files_in(folder):
        with os.scandir(folder) as entries:
            return sorted(entry.path for entry in entries if entry.is_file())

    def run_logged(self, *args, log=None):
        return self.s.run(*args, "/log", self.s.prefix.win_path(log or self.log))

    def steps(self, log=None):
        return logged_steps(log or self.log)

    def versions_asked(self):
        return self.s.standin_log().count("invoke Version flags=2 lcid=1033 args=0")

    def test_only_the_addins_own_disabled_item_goes(self):
        s = self.s
        installed = self.startup + "\\QxButton.xla"
        s.prefix.reg_set_binary("HKCU", DISABLED_ITEMS, OWN_ITEM,
                                disabled_item(installed, "QxButton"))
        s.prefix.reg_set_binary("HKCU", DISABLED_ITEMS, OWN_ITEM_UPPER_CASE,
                                disabled_item(installed, "QxButton", written_as=str.upper))
        others = {OTHER_ITEM: disabled_item(OTHER_ITEM_PATH, "MyQxButton")}
        others.update({name: disabled_item(path, friendly_name)
                       for name, (path, friendly_name) in OTHER_ITEMS.items()})
        # As long as the add-in's own path or longer, so that they are compared with it: the same
        # name in a folder beside the start-up folder, and a copy of the add-in beside it.
        others[SAME_NAME_BESIDE] = disabled_item(
            self.startup + " 备份\\QxButton.xla", "QxButton")
        others[COPY_BESIDE] = disabled_item(installed + ".bak", "QxButton")
        for name, item in others.items():
            s.prefix.reg_set_binary("HKCU", DISABLED_ITEMS, name, item)
        asked_before = self.versions_asked()

        result = self.run_logged("/install", "/quiet").result()

        steps = self.steps()
        self.assertEqual((result["exit_code"], result["windows"]), (EXIT_DONE, []), steps)
        # The version that names the key came from Excel, not from a guess.
        self.assertEqual(self.versions_asked(), asked_before + 1)
        # No policy set: Office's default trusts the start-up folder, and nothing is said.
        for line in (VERSION_LINE, ITEM_DELETED % (OWN_ITEM, installed),
                     ITEM_DELETED % (OWN_ITEM_UPPER_CASE, installed),
                     TRUSTED_VERDICT % self.startup):
            self.assertIn(line, steps)
        self.assertEqual([line for line in steps for name in others if name in line], [])
        # Byte for byte as Excel left them.
        self.assertEqual(s.prefix.reg_values("HKCU", DISABLED_ITEMS),
                         {name: (REG_BINARY, item) for name, item in others.items()})
        self.assertEqual(steps[-1], "Exit code 0")
        assert_installed(self, s)

    def test_no_trusted_location_and_no_macros_warns_instead_of_the_success_window(self):
        s = self.s
        s.prefix.reg_set_dword("HKCU", POLICY_EXCEL_LOCATIONS, "AllLocationsDisabled", 1)
        s.prefix.reg_set_dword("HKCU", POLICY_EXCEL_SECURITY, "VBAWarnings", 4)

        # As the user starts it, with boxes.
        run = self.run_logged()
        box = s.answer_box(IDOK, screenshot_name="macros-never-run")
        result = run.result()

        self.assertEqual(result["exit_code"], EXIT_DONE, self.steps())
        self.assertEqual(result["windows"], ["Setup"])
        self.assertEqual((box["text"], box["icon"], box["buttons"]),
                         (NEVER_RUN_BOX % self.startup, "warning", [IDOK]))
        assert_installed(self, s)

        # As a logon script runs it: the same verdict, logged only.
        os.remove(s.installed_addin)
        s.prefix.reg_delete_tree("HKCU", SETTINGS_APPLICATION)
        quiet_log = self.log + ".quiet"
        result = self.run_logged("/install", "/quiet", log=quiet_log).result()

        steps = self.steps(quiet_log)
        self.assertEqual((result["exit_code"], result["windows"]), (EXIT_DONE, []), steps)
        for line in (VERSION_LINE, ALL_LOCATIONS_DISABLED_READ, NO_MACROS_READ,
                     NEVER_RUN_VERDICT % self.startup):
            self.assertIn(line, steps)
        self.assertEqual(steps[-1], "Exit code 0")
        assert_installed(self, s)

    def test_a_policy_location_covering_the_folder_keeps_the_success_window(self):
        s = self.s
        parent = s.prefix.win_path(self.folders[1]) + "\\"
        s.prefix.reg_set_dword("HKCU", POLICY_COMMON_LOCATIONS, "Allow User Locations", 0)
        s.prefix.reg_set("HKCU", POLICY_EXCEL_LOCATIONS + "\\Location1", "Path", parent)
        s.prefix.reg_set_dword("HKCU", POLICY_EXCEL_LOCATIONS + "\\Location1", "AllowSubfolders", 1)

        run = self.run_logged()
        s.prefix.driver("wait-window", SUCCESS_CAPTION)
        s.prefix.driver("close", SUCCESS_CAPTION)
        result = run.result()

        steps = self.steps()
        self.assertEqual((result["exit_code"], result["windows"]), (EXIT_DONE, [SUCCESS_CAPTION]),
                         steps)
        # The verdict rests on the policy's values, not on their absence.
        for line in (VERSION_LINE, ONLY_POLICY_LOCATIONS_READ, POLICY_LOCATION_PATH_READ % parent,
                     POLICY_LOCATION_SUBFOLDERS_READ, TRUSTED_VERDICT % self.startup):
            self.assertIn(line, steps)
        assert_installed(self, s)

    def test_a_policy_location_in_another_case_covers_a_folder_named_in_any_script(self):
        s = self.s
        # A profile whose folder names hold letters outside ASCII, which the policy writes in the
        # other case: "ł" as "Ł", "Ő" as "ő", and the rest of the path in upper case.
        profile = os.path.join(s.prefix.root, "Profil łódź Őrség 用户")
        startup = os.path.join(profile, "XLSTART")
        os.makedirs(startup)
        self.addCleanup(shutil.rmtree, profile)
        self.addCleanup(setattr, s, "startup", s.startup)
        s.startup = startup
        written = s.prefix.win_path(profile).swapcase() + "\\"
        self.assertIn("ŁÓDŹ őRSÉG", written)
        s.prefix.reg_set_dword("HKCU", POLICY_COMMON_LOCATIONS, "Allow User Locations", 0)
        s.prefix.reg_set("HKCU", POLICY_EXCEL_LOCATIONS + "\\Location1", "Path", written)
        s.prefix.reg_set_dword("HKCU", POLICY_EXCEL_LOCATIONS + "\\Location1", "AllowSubfolders", 1)

        run = self.run_logged()
        # No box: the folder is trusted, as Excel itself would find it. Whichever shows first
        # tells, without waiting out a success window that a box holds back.
        shown = s.prefix.wait_for(
            lambda: [title for title in (SUCCESS_CAPTION, "Setup")
                     if s.prefix.driver_json("windows", title)["windows"]],
            what="the success window or a box")
        self.assertEqual(shown, [SUCCESS_CAPTION], self.steps())
        s.prefix.driver("close", SUCCESS_CAPTION)
        result = run.result()

        steps = self.steps()
        self.assertEqual((result["exit_code"], result["windows"]), (EXIT_DONE, [SUCCESS_CAPTION]),
                         steps)
        for line in (ONLY_POLICY_LOCATIONS_READ, POLICY_LOCATION_PATH_READ % written,
                     POLICY_LOCATION_SUBFOLDERS_READ,
                     TRUSTED_VERDICT % s.prefix.win_path(startup)):
            self.assertIn(line, steps)
        assert_installed(self, s)

    def test_a_policy_location_by_a_variable_and_a_short_name_covers_the_folder(self):
        s = self.s
        # As a policy writes a location for every user: a variable for the part above the
        # profile, and a folder by its 8.3 name.
        short = s.prefix.driver("short-path", s.prefix.win_path(self.folders[1]))
        above, name = short.rsplit("\\", 1)
        self.assertNotEqual(name, os.path.basename(self.folders[1]))
        s.prefix.env[PROFILES_VARIABLE] = above
        self.addCleanup(s.prefix.env.pop, PROFILES_VARIABLE)
        written = "%%%s%%\\%s" % (PROFILES_VARIABLE, name)
        self.set_only_policy_location(written, subfolders=1)

        self.assertEqual(self.run_logged("/install", "/quiet").result()["exit_code"], EXIT_DONE)

        steps = self.steps()
        for line in (COVERS % (written, self.startup) + "yes", TRUSTED_VERDICT % self.startup):
            self.assertIn(line, steps)
        assert_installed(self, s)

    def test_a_policy_location_naming_a_variable_this_run_lacks_counts_as_covering(self):
        s = self.s
        written = "%QXE2E_NO_SUCH_VARIABLE%\\XLSTART"
        self.set_only_policy_location(written, subfolders=1)

        self.assertEqual(self.run_logged("/install", "/quiet").result()["exit_code"], EXIT_DONE)

        steps = self.steps()
        # Never a warning resting on a guess, and the log says why.
        cannot_tell = COVERS % (written, self.startup) + (
            "cannot tell (error %d: %s), so taken as covering it"
            % (ERROR_ENVVAR_NOT_FOUND, s.prefix.describe(ERROR_ENVVAR_NOT_FOUND)))
        for line in (cannot_tell, TRUSTED_VERDICT % self.startup):
            self.assertIn(line, steps)
        assert_installed(self, s)

    def set_only_policy_location(self, path, subfolders):
        """Only locations set by policy are trusted, and this is the one."""
        s = self.s
        s.prefix.reg_set_dword("HKCU", POLICY_COMMON_LOCATIONS, "Allow User Locations", 0)
        s.prefix.reg_set("HKCU", POLICY_EXCEL_LOCATIONS + "\\Location1", "Path", path)
        s.prefix.reg_set_dword("HKCU", POLICY_EXCEL_LOCATIONS + "\\Location1", "AllowSubfolders",
                               subfolders)

    def test_an_addin_a_security_program_is_still_reading_is_compared_once_it_lets_go(self):
        s = self.s
        scanner, _ = s.prefix.hold("scan", s.prefix.win_path(s.installed_addin),
                                    str(SCAN_HOLDS_MS))
        self.addCleanup(scanner.kill)

        result = self.run_logged("/install", "/quiet").result()

        steps = self.steps()
        self.assertEqual((result["exit_code"], result["windows"]), (EXIT_DONE, []), steps)
        held, released = (json.loads(line) for line in scanner.output_lines()[1:3])
        self.assertEqual((held["held"], released["released"]),
                         (s.prefix.win_path(s.installed_addin),) * 2,
                         "the security program never saw the add-in")
        self.assertIn(SAME_AFTER_THE_LOOK % self.startup, steps)
        self.assertEqual(steps[-1], "Exit code 0")
        assert_installed(self, s)

    def test_an_addin_a_security_program_takes_away_fails_the_install(self):
        s = self.s
        watcher, _ = s.prefix.hold("quarantine", s.prefix.win_path(s.installed_addin))
        self.addCleanup(watcher.kill)

        result = self.run_logged("/install", "/quiet").result()

        steps = self.steps()
        self.assertEqual((result["exit_code"], result["windows"]), (WHOLE_EXIT_FAILED, []), steps)
        taken = [json.loads(line)["deleted"] for line in watcher.output_lines()[1:]]
        self.assertEqual(taken, [s.prefix.win_path(s.installed_addin)],
                         "the security program never saw the add-in")
        self.assertIsNone(s.addin_bytes())
        self.assertEqual((s.setting("Path"), s.setting("Unit")), (None, None))
        self.assertEqual([self.files_in(folder) for folder in self.folders], [[], []])
        compared = COMPARED % self.startup
        self.assertTrue({compared + "failed, error %d: %s" % (
            ERROR_FILE_NOT_FOUND, s.prefix.describe(ERROR_FILE_NOT_FOUND)),
            compared + "different"} & set(steps), steps)
        self.assertIn(TAKEN_AWAY_FAILURE % self.startup, steps)
        self.assertEqual(steps[-1], "Exit code 1603")


if __name__ == "__main__":
    unittest.main()
