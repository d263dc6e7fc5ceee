"""The per-user Windows Installer package as the release command builds it, installed, upgraded,
repaired and removed by Wine's own msiexec in a WoW64 prefix with the stand-in Excel; and its
tables read back, for what only Windows would show.

Two releases are built once for the module, from clones of HEAD (so they hold the last commit):
the commit itself, and a commit on top of it that changes only the version, each with an add-in
of its own. Wine's msiexec differs from Windows where the README says; the tests hold to what
both do, and name Wine's own exit codes where they differ.
"""

import os
import re
import shutil
import subprocess
import tempfile
import unittest

from harness import HarnessError, required_env
from installer_scenario import IDOK, InstallerScenario

SOURCE = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
RELEASE_VERSIONS = ("1.01.0003", "1.01.0004")
PACKAGE_VERSIONS = ("1.1.3", "1.1.4")
UPGRADE_CODE = "{BBA6BD6C-763B-46C4-A8E0-049546CFC310}"
# Derived from the version: every build of 1.1.3 carries this one.
PRODUCT_CODE_1_1_3 = "{823BFF55-9A1D-5EE4-B650-6AD64531B3B8}"
MSIEXEC = "C:\\windows\\system32\\msiexec.exe"

EXIT_DONE = 0
EXIT_FAILED = 1603
# Wine's msiexec ends an install that a custom action failed, and rolled back, with 1627
# (ERROR_FUNCTION_FAILED); Windows gives 1603.
WINE_EXIT_ROLLED_BACK = 1627

PER_MACHINE_REFUSED = "Quorvale须按用户安装：请把本安装包分配给用户，而不是计算机。未做任何更改。   "
DOWNGRADE_REFUSED = "已经安装了较新版本的Quorvale，不能再安装这个较旧的版本。未做任何更改。   "

ADDINS = (bytes((i * 37 + 11) % 256 for i in range(6000)),
          bytes((i * 53 + 5) % 256 for i in range(6500)))
WORKBOOK = b"the workbook as Quorvale ships it"
USERS_WORK = b"the workbook with a month of the user's work in it"

# Wine's Apps & features entry of a per-user product (on Windows it is the user's own).
ARP_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"

releases = []


def git(*args, cwd):
    return subprocess.run(["git", *args], cwd=cwd, check=True, capture_output=True,
                          text=True).stdout.strip()


class Release:
    """scripts/release.sh run in a clone; package is the path of the .msi it wrote."""

    def __init__(self, clone, version, addin, workbook, scratch):
        env = {k: v for k, v in os.environ.items()
               if not k.startswith("QXSETUP_SIGN") and k not in ("SOURCE_DATE_EPOCH",
                                                                   "QXSETUP_TIMESTAMP_URL")}
        env.update(QXSETUP_ADDIN=addin, QXSETUP_WORKBOOK=workbook, TMPDIR=scratch)
        done = subprocess.run(["scripts/release.sh"], cwd=clone, env=env, capture_output=True,
                              text=True)
        if done.returncode != 0:
            raise HarnessError("release.sh failed: " + done.stdout + done.stderr)
        folder = os.path.join(clone, "dist", "QXSetup-" + version)
        self.package = os.path.join(folder, "QXSetup-%s.msi" % version)
        self.exe = os.path.join(folder, "QXSetup.exe")
        with open(addin, "rb") as f:
            self.addin = f.read()
        if not os.path.isfile(self.package):
            raise HarnessError("release.sh wrote no package: " + done.stdout)


def setUpModule():
    os.makedirs(required_env("QXSETUP_E2E_WORK"), exist_ok=True)
    work = tempfile.mkdtemp(prefix="msi-releases-", dir=required_env("QXSETUP_E2E_WORK"))
    unittest.addModuleCleanup(shutil.rmtree, work, ignore_errors=True)
    clone = os.path.join(work, "clone")
    git("clone", "--quiet", "--shared", "--no-checkout", SOURCE, clone, cwd=work)
    git("checkout", "--quiet", "--detach", git("rev-parse", "HEAD", cwd=SOURCE), cwd=clone)
    workbook = os.path.join(work, "TORVA.xls")
    with open(workbook, "wb") as f:
        f.write(WORKBOOK)
    for index, version in enumerate(RELEASE_VERSIONS):
        if index:
            # A later release: only the version changes.
            cmake = os.path.join(clone, "CMakeLists.txt")
            with open(cmake, encoding="utf-8") as f:
                text = f.read()
            text, count = re.subn(r"project\(QXSetup VERSION 1\.1\.0\.3 ",
                                  "project(QXSetup VERSION 1.1.0.4 ", text)
            if count != 1:
                raise HarnessError("CMakeLists.txt has no project(QXSetup VERSION 1.1.0.3")
            with open(cmake, "w", encoding="utf-8") as f:
                f.write(text)
            git("-c", "user.name=QXSetup test", "-c", "user.email=test@invalid", "commit",
                "--quiet", "-am", "the next release", cwd=clone)
        addin = os.path.join(work, "addin-%d.xla" % index)
        with open(addin, "wb") as f:
            f.write(ADDINS[index])
        releases.append(Release(clone, version, addin, workbook, work))


def table(package, name):
    """A table of the package as msitools reads it: a list of rows, each a list of strings."""
    lines = subprocess.run(["msiinfo", "export", package, name], check=True,
                           capture_output=True).stdout.decode("utf-8").split("\r\n")
    return [line.split("\t") for line in lines[3:] if line]


def properties(package):
    return dict(table(package, "Property"))


class PackageScenario(InstallerScenario):
    """A prefix with the stand-in Excel and its start-up folder, where the program comes from the
    package into the user's own %LOCALAPPDATA%\\Programs\\Quorvale."""

    def __init__(self):
        super().__init__()
        self.prefix.configure_standin(startup_path=self.prefix.win_path(self.startup),
                                      log=self.log)
        users = os.path.join(self.prefix.path, "drive_c", "users")
        profiles = [name for name in os.listdir(users) if name != "Public"]
        if len(profiles) != 1:
            raise HarnessError("not one user profile in the prefix: %s" % profiles)
        self.install_dir_win = "C:\\users\\%s\\AppData\\Local\\Programs\\Quorvale" % profiles[0]
        self.install_dir = self.prefix.unix_path(self.install_dir_win)
        self.runs = 0

    def msiexec(self, *args, ui="/qn"):
        """msiexec's whole exit code; each run writes a verbose log beside the prefix."""
        self.runs += 1
        log = self.prefix.win_path(os.path.join(self.prefix.root, "msiexec-%d.log" % self.runs))
        run = self.prefix.run(MSIEXEC, [*args, ui, "/l*v", log])
        self.prefix.watched = run
        return run

    def install(self, release, *properties):
        return self.msiexec("/i", self.prefix.win_path(release.package),
                            *properties).exit_code()

    def uninstall(self, release):
        return self.msiexec("/x", self.prefix.win_path(release.package)).exit_code()

    def installed_file(self, name):
        try:
            with open(os.path.join(self.install_dir, name), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def product(self, code):
        return self.prefix.driver_json("msi-product", code)

    def products(self):
        return self.prefix.driver_json("msi-related", UPGRADE_CODE)

    def answer_failure_box(self):
        """The box in which msiexec says why it refused, answered. Wine titles it "Install
        Failed"; Windows, with the product's name."""
        box = self.prefix.driver_json("box", "Install Failed")
        self.prefix.driver("press", "Install Failed", IDOK)
        return box

    def program_log(self):
        """The program's own log, which the package keeps in the user's temporary folder."""
        path = self.prefix.unix_path(self.prefix.driver("temp-folder") + "QXSetup.log")
        with open(path, encoding="utf-8-sig") as f:
            return f.read().splitlines()


class PackageTest(unittest.TestCase):
    def setUp(self):
        self.s = PackageScenario()
        self.addCleanup(self.s.close)

    def assert_installed_by(self, release):
        s = self.s
        self.assertEqual(s.addin_bytes(), release.addin)
        self.assertEqual(s.setting("Path"), s.install_dir_win + "\\TORVA.xls")
        self.assertEqual(s.setting("Unit"), "Halvetri")
        with open(release.exe, "rb") as f:
            self.assertEqual(s.installed_file("QXSetup.exe"), f.read())
        self.assertEqual(s.installed_file("安装.xla"), release.addin)

    def assert_nothing_installed(self):
        s = self.s
        self.assertIsNone(s.addin_bytes())
        self.assertFalse(s.section_exists())
        self.assertEqual(s.products(), [])
        self.assertIsNone(s.installed_file("QXSetup.exe"))
        self.assertIsNone(s.installed_file("安装.xla"))

    def test_install_for_the_user_then_uninstall(self):
        s = self.s
        self.assertEqual(s.install(releases[0]), EXIT_DONE)

        self.assert_installed_by(releases[0])
        self.assertEqual(s.installed_file("TORVA.xls"), WORKBOOK)
        product = s.product(PRODUCT_CODE_1_1_3)
        self.assertEqual(product["contexts"], ["user"], "installed for the user, not the machine")
        self.assertEqual((product["name"], product["publisher"], product["version"]),
                         ("Quorvale", "Tanrebo Software", PACKAGE_VERSIONS[0]))
        self.assertTrue(product["icon"].endswith("QXSetup.ico"), product["icon"])
        self.assertEqual(s.prefix.driver("reg-get-dword", "HKLM:32", ARP_KEY + PRODUCT_CODE_1_1_3,
                                         "NoModify"), "1")
        log = s.program_log()
        self.assertIn("/install /quiet /log", log[0])
        self.assertIn("Start Excel: done", [line[20:] for line in log])
        self.assertEqual(log[-1][20:], "Exit code 0")

        self.assertEqual(s.uninstall(releases[0]), EXIT_DONE)

        self.assert_nothing_installed()
        self.assertEqual(s.product(PRODUCT_CODE_1_1_3), {"contexts": []})
        self.assertEqual(s.program_log()[-1][20:], "Exit code 0")
        # The workbook may hold the user's work: a removal leaves it.
        self.assertEqual(s.installed_file("TORVA.xls"), WORKBOOK)

    def test_another_folder_given_as_installdir(self):
        s = self.s
        folder_win = "C:\\Quorvale 数据"
        self.assertEqual(s.install(releases[0], "INSTALLDIR=" + folder_win), EXIT_DONE)

        self.assertEqual(s.setting("Path"), folder_win + "\\TORVA.xls")
        folder = s.prefix.unix_path(folder_win)
        self.assertEqual(sorted(os.listdir(folder)), ["QXSetup.exe", "TORVA.xls", "安装.xla"])
        self.assertFalse(os.path.exists(s.install_dir))

    def test_with_the_users_excel_open_it_is_opened_there(self):
        s = self.s
        s.open_users_excel()
        self.assertEqual(s.install(releases[0]), EXIT_DONE)

        self.assert_installed_by(releases[0])
        events = [line for line in s.standin_log() if line.startswith(("user: ", "server start"))]
        self.assertIn("user: opened " + s.prefix.win_path(s.installed_addin), events)
        self.assertFalse([e for e in events if e.startswith("server start")],
                         "an Excel was started")

        self.assertEqual(s.uninstall(releases[0]), EXIT_DONE)
        self.assertIn("user: closed " + s.prefix.win_path(s.installed_addin), s.standin_log())
        self.assert_nothing_installed()

    def test_without_excel_the_install_fails_and_leaves_nothing(self):
        s = self.s
        s.prefix.unregister_excel()
        self.assertEqual(s.install(releases[0]), WINE_EXIT_ROLLED_BACK)

        self.assert_nothing_installed()
        # Windows' rollback also deletes the workbook it copied; Wine's keeps it, as a removal
        # keeps a permanent component's file. The log in the temporary folder says why.
        log = [line[20:] for line in s.program_log()]
        self.assertIn("Failed: 无法从 Excel 获取启动文件夹，请确认本机已安装 Excel。未做任何更改。   ", log)
        self.assertEqual(log[-1], "Exit code 1603")

    def test_a_removal_that_fails_keeps_the_addin_the_record_and_the_program(self):
        s = self.s
        self.assertEqual(s.install(releases[0]), EXIT_DONE)
        # In use, as by an Excel the program cannot reach: it cannot be deleted.
        s.prefix.hold("hold-open", s.prefix.win_path(s.installed_addin))

        self.assertEqual(s.uninstall(releases[0]), WINE_EXIT_ROLLED_BACK)

        self.assert_installed_by(releases[0])
        # Windows' rollback keeps the product registered too; Wine's unregisters it, and also
        # runs the rollback's /install, which is armed on Windows only once the add-in went.
        runs = [line[20:] for line in s.program_log()]
        removal = next(i for i, line in enumerate(runs) if "/uninstall /quiet" in line)
        self.assertEqual(next(line for line in runs[removal:] if line.startswith("Exit code")),
                         "Exit code 1603")

    def test_upgrade_replaces_the_product_and_keeps_the_users_workbook(self):
        s = self.s
        self.assertEqual(s.install(releases[0]), EXIT_DONE)
        with open(os.path.join(s.install_dir, "TORVA.xls"), "wb") as f:
            f.write(USERS_WORK)

        self.assertEqual(s.install(releases[1]), EXIT_DONE)

        later = properties(releases[1].package)["ProductCode"]
        self.assertNotEqual(later, PRODUCT_CODE_1_1_3)
        self.assertEqual(s.products(), [later], "one product")
        self.assertEqual(s.product(later)["version"], PACKAGE_VERSIONS[1])
        self.assert_installed_by(releases[1])
        self.assertEqual(s.installed_file("TORVA.xls"), USERS_WORK)

        # And the earlier version may not come back over it.
        run = s.msiexec("/i", s.prefix.win_path(releases[0].package), ui="/qb")
        self.assertEqual(s.answer_failure_box()["text"], DOWNGRADE_REFUSED)
        self.assertEqual(run.exit_code(), EXIT_FAILED)
        self.assertEqual(s.products(), [later])
        self.assert_installed_by(releases[1])
        self.assertEqual(s.installed_file("TORVA.xls"), USERS_WORK)

    def test_repair_puts_back_the_program_and_the_addin(self):
        s = self.s
        self.assertEqual(s.install(releases[0]), EXIT_DONE)
        with open(os.path.join(s.install_dir, "TORVA.xls"), "wb") as f:
            f.write(USERS_WORK)
        os.remove(os.path.join(s.install_dir, "QXSetup.exe"))
        os.remove(s.installed_addin)

        # Wine's msiexec has no /fa (it fails with 1605); this is the repair it runs.
        self.assertEqual(s.install(releases[0], "REINSTALL=ALL", "REINSTALLMODE=omus"),
                         EXIT_DONE)

        self.assert_installed_by(releases[0])
        self.assertEqual(s.installed_file("TORVA.xls"), USERS_WORK)
        self.assertEqual(s.products(), [PRODUCT_CODE_1_1_3])

    def test_per_machine_is_refused_before_anything_changes(self):
        s = self.s
        run = s.msiexec("/i", s.prefix.win_path(releases[0].package), "ALLUSERS=1", ui="/qb")
        box = s.answer_failure_box()
        self.assertEqual(run.exit_code(), EXIT_FAILED)

        self.assertEqual(box["text"], PER_MACHINE_REFUSED)
        self.assert_nothing_installed()
        self.assertFalse(os.path.exists(s.install_dir))


class PackageTablesTest(unittest.TestCase):
    """What Wine's msiexec cannot show (it treats every user as an administrator, ignores
    NoImpersonate, runs the earlier package's /uninstall during an upgrade), read from the
    package itself."""

    def setUp(self):
        self.package = releases[0].package

    def test_per_user_without_elevation(self):
        self.assertNotIn("ALLUSERS", properties(self.package))
        summary = subprocess.run(["msiinfo", "suminfo", self.package], check=True,
                                 capture_output=True, text=True).stdout
        # The word count (msiinfo calls it "Source"): 2 compressed, 8 no elevation needed.
        word_count = int(re.search(r"^Source: (\d+)", summary, re.M).group(1))
        self.assertEqual(word_count & 8, 8, summary)
        self.assertIn("Template: Intel;2052", summary)

    def test_identity_and_apps_and_features(self):
        for name, expected in [("ProductName", "Quorvale"), ("Manufacturer", "Tanrebo Software"),
                               ("ProductVersion", PACKAGE_VERSIONS[0]),
                               ("ProductCode", PRODUCT_CODE_1_1_3), ("UpgradeCode", UPGRADE_CODE),
                               ("ARPNOMODIFY", "1"), ("ARPPRODUCTICON", "QXSetup.ico")]:
            with self.subTest(name):
                self.assertEqual(properties(self.package).get(name), expected)
        self.assertEqual(properties(releases[1].package)["UpgradeCode"], UPGRADE_CODE)

    def test_custom_actions_run_as_the_user_and_in_order(self):
        install = '/install /quiet /log "[TempFolder]QXSetup.log"'
        removal = "REMOVE~=\"ALL\" AND NOT UPGRADINGPRODUCTCODE"
        # Type: 18 the installed program, 2 its copy in the Binary table; +1024 deferred,
        # +256 rollback; never +2048, which would run it as LocalSystem.
        self.assertEqual({row[0]: tuple(row[1:4]) for row in table(self.package, "CustomAction")}, {
            "QXSetupInstall": ("1042", "QXSetup.exe", install),
            "QXSetupUninstall": ("1026", "QXSetupForRemoval",
                                 '/uninstall /quiet /log "[TempFolder]QXSetup.log"'),
            "QXSetupUninstallRollback": ("1298", "QXSetup.exe", install),
        })
        sequence = {row[0]: (row[1], int(row[2])) for row in table(self.package,
                                                                   "InstallExecuteSequence")}
        for action, expected in [("QXSetupUninstall", (removal, 1550)),
                                 ("QXSetupUninstallRollback", (removal, 1551)),
                                 ("ProcessComponents", ("", 1600)),
                                 ("QXSetupInstall", ("NOT REMOVE~=\"ALL\"", 6590)),
                                 ("RemoveFiles", ("", 3500)), ("InstallFiles", ("", 4000)),
                                 ("InstallInitialize", ("", 1500)),
                                 ("RemoveExistingProducts", ("", 1501)),
                                 ("InstallFinalize", ("", 6600))]:
            with self.subTest(action):
                self.assertEqual(sequence.get(action), expected)
        self.assertEqual(max(number for _, number in sequence.values()), 6600)
        self.assertEqual(min(number for _, number in sequence.values()), 25)

    def test_files_the_workbook_and_the_refusals(self):
        files = {row[0]: row[2:6] for row in table(self.package, "File")}
        self.assertEqual(files["AddinSource"][0], "QXADDIN.XLA|安装.xla")
        self.assertEqual(files["QXSetup.exe"][0], "QXSetup.exe")
        self.assertEqual(files["QXSetup.exe"][2:4], ["1.1.0.3", "2052"], "versioned")
        components = {row[0]: int(row[3]) for row in table(self.package, "Component")}
        # 16 Permanent, 128 NeverOverwrite.
        self.assertEqual(components, {"Program": 0, "Workbook": 144})
        self.assertEqual(sorted(table(self.package, "LaunchCondition")), sorted([
            ["NOT WIX_DOWNGRADE_DETECTED", DOWNGRADE_REFUSED],
            ['Installed OR (NOT ALLUSERS AND UserSID <> "S-1-5-18")', PER_MACHINE_REFUSED],
        ]))
        copy = subprocess.run(["msiinfo", "extract", self.package, "Binary.QXSetupForRemoval"],
                              check=True, capture_output=True).stdout
        with open(releases[0].exe, "rb") as f:
            self.assertEqual(copy, f.read(), "the copy run for the removal is the released exe")
