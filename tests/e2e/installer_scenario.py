"""One QXSetup.exe in a fresh Wine prefix, in a program folder beside its add-in and workbook,
with the stand-in Excel reporting a start-up folder of the test's choosing."""

import os

from harness import Prefix, pe_bits, place_program, required_env
from limits import WAIT

SETTINGS_APPLICATION = "Software\\VB and VBA Program Settings\\Tanrebo Software"
SETTINGS_SECTION = SETTINGS_APPLICATION + "\\Merrowin"

IDOK, IDYES, IDNO = 1, 6, 7

# QXSetup's exit codes are Windows Installer's. wine64 hands Unix only their low 8 bits, which
# still tell QXSetup's codes apart; 0 is 0.
EXIT_DECLINED = 1602 & 0xFF
EXIT_FAILED = 1603 & 0xFF

UNINSTALL_QUESTION = "Quorvale已经安装，是否要卸载？   "
REMOVAL_NOTICE = "Quorvale已经从您的系统中移除！   "
STARTUP_FOLDER_UNKNOWN = "无法从 Excel 获取启动文件夹，请确认本机已安装 Excel。未做任何更改。   "
SUCCESS_CAPTION = "安装成功："

# Not a real add-in, but bytes a careless copy would not reproduce (NULs, high bytes).
ADDIN_BYTES = bytes((i * 37 + 11) % 256 for i in range(6000))


def screenshot_dir():
    folder = os.environ.get("QXSETUP_SCREENSHOTS") or os.path.join(
        required_env("QXSETUP_E2E_WORK"), "screenshots"
    )
    os.makedirs(folder, exist_ok=True)
    return folder


class InstallerScenario:
    """program_folder_name is a folder under the test's own folder; program_win_path, when
    given, a Windows path inside the prefix instead (C:\\Program Files (x86)\\…)."""

    def __init__(self, program_folder_name="Quorvale 程序 文件夹", program_win_path=None,
                 exe_source=None):
        # The program under test: the shipped 32-bit QXSetup.exe, or its 64-bit twin where
        # this machine runs no 32-bit code (run_module.py decides); exe_source, a signed copy.
        self.exe_source = exe_source or required_env("QXSETUP_EXE")
        self.bits = pe_bits(self.exe_source)
        self.prefix = Prefix(name="installer")
        if program_win_path:
            self.program = self.prefix.unix_path(program_win_path)
        else:
            self.program = os.path.join(self.prefix.root, program_folder_name)
        # As the program sees its folder.
        self.program_win = program_win_path or self.prefix.win_path(self.program)
        self.startup = os.path.join(self.prefix.root, "Excel 用户", "XLSTART")
        self.log = os.path.join(self.prefix.root, "standin.log")
        os.makedirs(self.program)
        os.makedirs(self.startup)
        place_program(self.exe_source, os.path.join(self.program, "QXSetup.exe"))
        with open(os.path.join(self.program, "安装.xla"), "wb") as f:
            f.write(ADDIN_BYTES)
        with open(os.path.join(self.program, "TORVA.xls"), "wb") as f:
            f.write(b"workbook placeholder")

    def close(self):
        self.prefix.close()

    def move_program(self, program_win_path):
        """Moves the program and the files beside it to another folder of the prefix, given by
        its Windows path (one the test learns from Windows, such as the temporary folder)."""
        destination = self.prefix.unix_path(program_win_path)
        os.makedirs(os.path.dirname(destination), exist_ok=True)
        os.rename(self.program, destination)
        self.program = destination
        self.program_win = program_win_path

    # Running the program

    def start(self, exe=None, startup=None, **standin):
        """Starts QXSetup.exe by its Windows path, as the user does; the stand-in reports
        `startup` (a Windows path; by default the scenario's XLSTART folder)."""
        if startup is None:
            startup = self.prefix.win_path(self.startup)
        self.prefix.configure_standin(startup_path=startup, log=self.log, **standin)
        self.prefix.watched = self.prefix.start(exe or self.program_win + "\\QXSetup.exe")
        return self.prefix.watched

    def run(self, *args, timeout=WAIT, **standin):
        """Starts QXSetup.exe by its Windows path with a command line; the result's exit_code()
        is the whole code. timeout bounds the wait for its end, in seconds."""
        self.prefix.configure_standin(startup_path=self.prefix.win_path(self.startup),
                                      log=self.log, **standin)
        self.prefix.watched = self.prefix.run(self.program_win + "\\QXSetup.exe", args,
                                              timeout=timeout)
        return self.prefix.watched

    def open_users_excel(self, registered=True):
        """Starts the Excel the user has open, with the scenario's start-up folder, and returns
        once it is ready (its start-up add-ins open, registered, its window shown)."""
        self.prefix.configure_standin(startup_path=self.prefix.win_path(self.startup),
                                      log=self.log)
        excel = self.prefix.start_users_excel(registered)
        self.prefix.wait_for(lambda: "user: ready" in self.standin_log() or not excel.alive(),
                             what="the user's Excel to be ready")
        if not excel.alive():
            raise AssertionError("the user's Excel ended: %s" % self.standin_log())
        return excel

    def box(self, timeout=WAIT):
        return self.prefix.driver_json("box", "Setup", timeout=timeout)

    def press(self, button):
        self.prefix.driver("press", "Setup", button)

    def answer_box(self, button, screenshot_name=None):
        """Reads the message box, optionally photographs it, presses `button`."""
        box = self.box()
        if screenshot_name:
            self.screenshot_window("Setup", screenshot_name)
        self.press(button)
        return box

    def install(self, **standin):
        """A whole install run: waits for the success window, then closes it."""
        process = self.start(**standin)
        self.prefix.driver("wait-window", SUCCESS_CAPTION)
        self.prefix.driver("close", SUCCESS_CAPTION)
        return process.wait()

    def screenshot_window(self, title, name):
        """Saves the window as PNG; returns the path and the window's description, whose
        child rects `child_rect_in_shot` turns into the screenshot's coordinates."""
        # Shown is not yet painted: a slow (emulated) program paints a while after.
        self.prefix.driver("painted", title)
        info = self.prefix.driver_json("window", title)
        rect = info["rect"]
        path = self.prefix.screenshot(
            os.path.join(screenshot_dir(), name + ".png"),
            (rect["left"], rect["top"], rect["right"], rect["bottom"]),
        )
        return path, info

    # What the run left behind

    @property
    def installed_addin(self):
        return os.path.join(self.startup, "QxButton.xla")

    def addin_bytes(self):
        try:
            with open(self.installed_addin, "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def setting(self, key):
        return self.prefix.reg_get("HKCU", SETTINGS_SECTION, key)

    def section_exists(self):
        return self.prefix.reg_exists("HKCU", SETTINGS_SECTION)

    def application_key_exists(self):
        return self.prefix.reg_exists("HKCU", SETTINGS_APPLICATION)

    def standin_log(self):
        try:
            with open(self.log, encoding="utf-8") as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []


def logged_steps(path):
    """The log's lines without their time stamps; [] while it does not exist."""
    try:
        with open(path, encoding="utf-8-sig") as f:
            return [line[len("2026-12-08 15:03:17 "):] for line in f.read().splitlines()]
    except FileNotFoundError:
        return []


def assert_installed(test, s, addin=ADDIN_BYTES):
    """The add-in sits in the start-up folder byte for byte, and the record names the
    program's folder."""
    test.assertEqual(s.addin_bytes(), addin)
    test.assertEqual(s.setting("Path"), s.program_win + "\\TORVA.xls")
    test.assertEqual(s.setting("Unit"), "Halvetri")


# A child window's rect, in the coordinates of a screenshot of its top-level window.
def child_rect_in_shot(info, child):
    dx = info["client_origin"]["x"] - info["rect"]["left"]
    dy = info["client_origin"]["y"] - info["rect"]["top"]
    r = child["rect"]
    return (r["left"] + dx, r["top"] + dy, r["right"] + dx, r["bottom"] + dy)
