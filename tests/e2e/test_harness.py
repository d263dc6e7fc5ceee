"""Proves the e2e support works without the installer: driver, registry, stand-in Excel."""

import json
import os
import struct
import unittest

import glyphs
import harness
from installer_scenario import child_rect_in_shot

STARTUP = "C:\\Program Files\\中文 目录\\Excel 启动"
REG_KEY = "Software\\QXSetupE2E"
# Longer than the driver used to allow a box for its painting, a fixed 2 s, which a slow
# (emulated) program overran.
PAINTED_LATE_MS = 3000
# Past the 5 s after which the system counts a thread that takes no message as not responding.
NOT_RESPONDING_MS = 6000


class RegistryTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = harness.Prefix("registry")

    @classmethod
    def tearDownClass(cls):
        cls.prefix.close()

    def test_chinese_value_round_trips(self):
        text = "加载项 路径 C:\\用户\\文件.xla"
        self.prefix.reg_set("HKCU", REG_KEY, "路径", text)
        self.assertEqual(self.prefix.reg_get("HKCU", REG_KEY, "路径"), text)

    def test_default_value_round_trips(self):
        self.prefix.reg_set("HKLM", REG_KEY + "\\Default", "", "默认")
        self.assertEqual(self.prefix.reg_get("HKLM", REG_KEY + "\\Default", ""), "默认")

    def test_missing_value_and_key_read_as_none(self):
        self.prefix.reg_set("HKCU", REG_KEY + "\\Present", "a", "1")
        self.assertIsNone(self.prefix.reg_get("HKCU", REG_KEY + "\\Present", "b"))
        self.assertIsNone(self.prefix.reg_get("HKCU", REG_KEY + "\\Absent", "a"))
        self.assertTrue(self.prefix.reg_exists("HKCU", REG_KEY + "\\Present"))
        self.assertFalse(self.prefix.reg_exists("HKCU", REG_KEY + "\\Absent"))

    def test_volatile_key_refuses_a_non_volatile_subkey(self):
        self.prefix.make_volatile("HKCU", REG_KEY + "\\Volatile")
        self.assertEqual(self.prefix.reg_create("HKCU", REG_KEY + "\\Volatile\\Child"), 1021)
        self.assertEqual(self.prefix.reg_create("HKCU", REG_KEY + "\\Plain\\Child"), 0)
        self.assertTrue(self.prefix.reg_exists("HKCU", REG_KEY + "\\Plain\\Child"))

    def test_describe_gives_system_text(self):
        not_found = self.prefix.describe(2)
        self.assertTrue(not_found)
        self.assertFalse(not_found.endswith(("\n", "\r")))
        self.assertNotEqual(not_found, self.prefix.describe(5))

    def test_binary_values_are_listed_with_their_bytes(self):
        key = REG_KEY + "\\Binary"
        data = b"\x01\x00\x00\x00" + "d:\\报表\\a.xla\0".encode("utf-16-le")
        self.prefix.reg_set_binary("HKCU", key, "5C1A2B", data)
        self.prefix.reg_set("HKCU", key, "文本", "值")
        self.assertEqual(self.prefix.reg_values("HKCU", key),
                         {"5C1A2B": (3, data), "文本": (1, "值\0".encode("utf-16-le"))})
        self.assertIsNone(self.prefix.reg_values("HKCU", REG_KEY + "\\Absent"))

    def test_dpi_setting_is_a_dword(self):
        self.prefix.set_dpi(144)
        # reg-get reads REG_SZ only, so a DWORD is refused rather than read as text.
        with self.assertRaises(harness.DriverError):
            self.prefix.reg_get("HKCU", "Control Panel\\Desktop", "LogPixels")
        self.assertEqual(
            self.prefix.driver("reg-get-dword", "HKCU", "Control Panel\\Desktop", "LogPixels"),
            "144")


class StandInExcelTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = harness.Prefix("excel")

    @classmethod
    def tearDownClass(cls):
        cls.prefix.close()

    def log_path(self, name):
        path = os.path.join(self.prefix.root, name + ".log")
        if os.path.exists(path):
            os.remove(path)
        return path

    def read_log(self, path):
        with open(path, encoding="utf-8") as f:
            return f.read().splitlines()

    def probe(self, **standin):
        """Reads the start-up path as QXSetup does; returns once the server has ended."""
        self.prefix.configure_standin(**standin)
        code, out, err = self.prefix.run_driver("excel-startup-path")
        self.prefix.wait_standin_gone()
        return code, json.loads(out), err

    def test_startup_path_comes_back_exactly(self):
        log = self.log_path("exact")
        code, result, err = self.probe(startup_path=STARTUP, log=log)
        self.assertEqual(code, 0, err)
        self.assertEqual(result, {"path": STARTUP, "via": "global"})
        self.assertEqual(
            self.read_log(log),
            [
                "server start (64-bit)",
                "create global",
                "names Application",
                "invoke Application flags=2 lcid=1033 args=0",
                "create application",
                "names StartupPath",
                "invoke StartupPath flags=2 lcid=1033 args=0",
                "release global",
                "release application",
                "server exit",
            ],
        )

    def test_unset_startup_path_is_empty(self):
        code, result, err = self.probe()
        self.assertEqual(code, 0, err)
        self.assertEqual(result["path"], "")

    def test_failing_startup_path_raises_an_excel_exception(self):
        log = self.log_path("fail")
        code, result, _ = self.probe(startup_path=STARTUP, fail="StartupPath", log=log)
        self.assertEqual(code, 1)
        self.assertEqual(result["hresult"], "0x80020009")
        self.assertEqual(result["step"], "StartupPath")
        self.assertEqual(result["wcode"], 1004)
        self.assertEqual(result["source"], "Microsoft Excel")
        self.assertIn("StartupPath", result["description"])
        self.assertIn("release application", self.read_log(log))

    def test_failing_application_stops_before_startup_path(self):
        log = self.log_path("fail-app")
        code, result, _ = self.probe(startup_path=STARTUP, fail="Application", log=log)
        self.assertEqual(code, 1)
        self.assertEqual((result["hresult"], result["step"]), ("0x80020009", "Application"))
        lines = self.read_log(log)
        self.assertNotIn("names StartupPath", lines)
        self.assertEqual(lines[-2:], ["release global", "server exit"])

    def test_version_is_16_unless_set(self):
        for wished, answered in ((None, "16.0"), ("15.0", "15.0")):
            with self.subTest(version=wished):
                log = self.log_path("version")
                self.prefix.configure_standin(version=wished, log=log)
                code, out, err = self.prefix.run_driver("excel-version")
                self.prefix.wait_standin_gone()
                self.assertEqual(code, 0, err)
                self.assertEqual(json.loads(out), {"version": answered, "via": "global"})
                self.assertIn("invoke Version flags=2 lcid=1033 args=0", self.read_log(log))

    def test_slow_server_is_seen_running_and_ends_by_itself(self):
        log = self.log_path("slow")
        self.prefix.configure_standin(startup_path=STARTUP, log=log, register_delay_ms=2000)
        self.assertEqual(self.prefix.standin_processes(), [])
        reader = self.prefix.start(os.environ["QXSETUP_DRIVER"], args=["excel-startup-path"])
        self.addCleanup(reader.kill)
        running = self.prefix.wait_for(self.prefix.standin_processes, what="the stand-in")
        self.assertEqual(len(running), 1)
        self.assertEqual(reader.wait(), 0)
        self.prefix.wait_standin_gone()
        lines = self.read_log(log)
        self.assertEqual(lines[:2], ["server start (64-bit)", "waiting 2000 ms before registering"])
        self.assertEqual(lines[-1], "server exit")


class ExcelRegistrationTest(unittest.TestCase):
    def setUp(self):
        self.prefix = harness.Prefix("registration")
        self.addCleanup(self.prefix.close)

    def test_no_excel_means_class_not_registered(self):
        self.prefix.unregister_excel()
        code, out, _ = self.prefix.run_driver("excel-startup-path")
        self.assertEqual(code, 1)
        self.assertEqual(
            json.loads(out), {"hresult": "0x80040154", "step": "create"}
        )

    def test_progid_names_the_application_directly(self):
        self.prefix.unregister_excel_global_class()
        log = os.path.join(self.prefix.root, "progid.log")
        self.prefix.configure_standin(startup_path=STARTUP, log=log)
        result = self.prefix.driver_json("excel-startup-path")
        self.assertEqual(result, {"path": STARTUP, "via": "progid"})
        self.prefix.wait_standin_gone()
        with open(log, encoding="utf-8") as f:
            lines = f.read().splitlines()
        self.assertEqual(lines[:2], ["server start (64-bit)", "create application"])
        self.assertNotIn("create global", lines)
        self.assertIn("invoke StartupPath flags=2 lcid=1033 args=0", lines)

    def test_32bit_office_lives_in_the_32bit_view_only(self):
        if not harness.runs_32bit_code():
            self.skipTest("32-bit Office needs a machine that runs 32-bit code")
        self.prefix.use_office(32)
        clsid = "CLSID\\" + harness.EXCEL_GLOBAL_CLSID
        self.assertTrue(self.prefix.reg_exists("HKLM", "Software\\Classes\\Wow6432Node\\" + clsid))
        self.assertTrue(self.prefix.reg_exists("HKLM:32", "Software\\Classes\\" + clsid))
        self.assertFalse(self.prefix.reg_exists("HKLM:64", "Software\\Classes\\" + clsid))

        log = os.path.join(self.prefix.root, "office32.log")
        self.prefix.configure_standin(startup_path=STARTUP, log=log)
        self.assertEqual(self.prefix.driver_json("excel-startup-path")["path"], STARTUP)
        self.prefix.wait_standin_gone()
        with open(log, encoding="utf-8") as f:
            self.assertEqual(f.readline().rstrip("\n"), "server start (32-bit)")


class MessageBoxTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = harness.Prefix("msgbox")
        cls.driver_exe = os.environ["QXSETUP_DRIVER"]

    @classmethod
    def tearDownClass(cls):
        cls.prefix.close()

    def show(self, style, text, hold_ms=0, paint_ms=0, busy_ms=0):
        """As a slow program shows a box: before it, its thread takes no message for busy_ms;
        once it is shown, for hold_ms; then its first paint takes paint_ms."""
        box = self.prefix.start(self.driver_exe, args=[
            "show-box", style, text, str(hold_ms), str(paint_ms), str(busy_ms)])
        self.addCleanup(box.kill)
        return box

    def test_box_is_read_and_answered(self):
        text = "确定要安装加载项吗？\n第二行"
        box = self.show("MB_YESNO|MB_ICONWARNING|MB_DEFBUTTON2", text)
        info = self.prefix.driver_json("box", "Setup")
        self.assertEqual(info["text"], text)
        self.assertEqual(info["buttons"], [6, 7])
        self.assertEqual(info["default"], 7)
        self.assertEqual(info["icon"], "warning")
        self.prefix.driver("press", "Setup", 6)
        self.assertEqual(box.wait(), 6)
        self.prefix.driver("wait-gone", "Setup")

    def test_icons_are_told_apart(self):
        for style, icon in (
            ("MB_OK|MB_ICONINFORMATION", "information"),
            ("MB_OK|MB_ICONERROR", "error"),
            ("MB_OK|MB_ICONQUESTION", "question"),
            ("MB_OK", "none"),
        ):
            with self.subTest(style=style):
                box = self.show(style, "icon")
                self.assertEqual(self.prefix.driver_json("box", "Setup")["icon"], icon)
                self.prefix.driver("press", "Setup", 1)
                self.assertEqual(box.wait(), 1)
                self.prefix.driver("wait-gone", "Setup")

    def test_a_box_shown_late_and_painted_later_is_read_once_painted(self):
        # As an emulated program shows its box after waiting for a hung Excel, when the system
        # counts it as not responding, and paints it seconds later.
        box = self.show("MB_OK|MB_ICONWARNING", "迟到的绘制", hold_ms=1000,
                        paint_ms=PAINTED_LATE_MS, busy_ms=NOT_RESPONDING_MS)
        self.assertEqual(self.prefix.driver_json("box", "Setup")["icon"], "warning")
        self.prefix.driver("press", "Setup", 1)
        self.assertEqual(box.wait(), 1)

    def test_a_screenshot_after_painted_shows_what_was_painted(self):
        text = "截图里看得见的字：甲乙丙丁戊己庚辛壬癸"
        box = self.show("MB_OK", text, paint_ms=PAINTED_LATE_MS)
        self.prefix.driver("painted", "Setup")
        info = self.prefix.driver_json("window", "Setup")
        rect = info["rect"]
        png = self.prefix.screenshot(os.path.join(self.prefix.root, "painted.png"),
                                     (rect["left"], rect["top"], rect["right"], rect["bottom"]))
        label = [child for child in info["children"] if child["id"] == 0xFFFF][0]
        self.assertGreaterEqual(
            glyphs.distinct_glyph_shapes(png, child_rect_in_shot(info, label)), 15)
        self.prefix.driver("press", "Setup", 1)
        self.assertEqual(box.wait(), 1)

    def test_keys_reach_the_box(self):
        for style, key, answer in (
            ("MB_YESNO|MB_DEFBUTTON2", "RETURN", 7),
            ("MB_OKCANCEL", "ESCAPE", 2),
            ("MB_OKCANCEL", "RETURN", 1),
        ):
            with self.subTest(style=style, key=key):
                box = self.show(style, "keys")
                self.prefix.driver("wait-window", "Setup")
                self.prefix.driver("key", "Setup", key)
                self.assertEqual(box.wait(), answer)
                self.prefix.driver("wait-gone", "Setup")

    def test_window_lists_children_and_click_presses(self):
        box = self.show("MB_OKCANCEL", "窗口")
        window = self.prefix.driver_json("window", "Setup")
        self.assertEqual(window["class"], "#32770")
        self.assertEqual(window["pid"], self.prefix.driver_json("wait-window", "Setup")["pid"])
        by_id = {child["id"]: child for child in window["children"]}
        self.assertEqual(by_id[0xFFFF]["text"], "窗口")
        cancel = by_id[2]
        self.assertEqual(cancel["class"], "Button")
        self.assertLessEqual(cancel["rect"]["right"], window["client"]["width"])
        self.assertLessEqual(cancel["rect"]["bottom"], window["client"]["height"])
        index = window["children"].index(cancel)
        self.prefix.driver("click", "Setup", index)
        self.assertEqual(box.wait(), 2)

    def test_screenshot_crops_to_the_window(self):
        box = self.show("MB_OK", "截图")
        rect = self.prefix.driver_json("window", "Setup")["rect"]
        png = self.prefix.screenshot(
            os.path.join(self.prefix.root, "box.png"),
            (rect["left"], rect["top"], rect["right"], rect["bottom"]),
        )
        with open(png, "rb") as f:
            header = f.read(24)
        self.assertEqual(header[:8], b"\x89PNG\r\n\x1a\n")
        width, height = struct.unpack(">II", header[16:24])
        self.assertEqual((width, height), (rect["right"] - rect["left"], rect["bottom"] - rect["top"]))
        self.prefix.driver("press", "Setup", 1)
        self.assertEqual(box.wait(), 1)

    def test_waits_time_out(self):
        code, _, err = self.prefix.run_driver("wait-window", "不存在的窗口", timeout=0.3)
        self.assertEqual(code, 1)
        self.assertIn("timeout", err)


class ProcessListTest(unittest.TestCase):
    def test_processes_are_found_by_image_name(self):
        with harness.Prefix("processes") as prefix:
            box = prefix.start(os.environ["QXSETUP_DRIVER"], args=["show-box", "MB_OK", "进程"])
            self.addCleanup(box.kill)
            pid = prefix.driver_json("wait-window", "Setup")["pid"]
            # The box's process and the driver that lists.
            running = prefix.driver_json("processes", "QXDRIVER.exe")
            self.assertIn(pid, running)
            self.assertEqual(len(running), 2)
            prefix.driver("press", "Setup", 1)
            self.assertEqual(box.wait(), 1)
            self.assertNotIn(pid, prefix.driver_json("processes", "qxdriver.exe"))
            self.assertEqual(prefix.standin_processes(), [])

            prefix.configure_standin()
            excel = prefix.start_users_excel()
            running = prefix.wait_for(prefix.standin_processes, what="the user's Excel")
            self.assertEqual(prefix.driver_json("terminate", "standinexcel.exe"), running)
            self.assertEqual(prefix.standin_processes(), [])
            excel.wait()


class QuarantineTest(unittest.TestCase):
    def test_the_file_goes_each_time_it_appears_and_nothing_else_does(self):
        with harness.Prefix("quarantine") as prefix:
            folder = os.path.join(prefix.root, "启动 文件夹")
            os.makedirs(folder)
            target = os.path.join(folder, "QxButton.xla")
            other = os.path.join(folder, "MyQxButton.xla")
            with open(other, "wb") as f:
                f.write(b"another add-in")
            watcher, ready = prefix.hold("quarantine", prefix.win_path(target))
            self.assertEqual(ready["watching"], prefix.win_path(folder))
            for round_ in (1, 2):
                # Renamed into place in one step, as the installer does.
                staged = os.path.join(prefix.root, "staged")
                with open(staged, "wb") as f:
                    f.write(b"add-in")
                os.rename(staged, target)
                prefix.wait_for(lambda: len(watcher.output_lines()) > round_,
                                what="the deletion to be told")
                self.assertFalse(os.path.exists(target))
            taken = [json.loads(line)["deleted"] for line in watcher.output_lines()[1:]]
            self.assertEqual(taken, [prefix.win_path(target)] * 2)
            self.assertTrue(os.path.exists(other))


class FileAttributeTest(unittest.TestCase):
    def test_hidden_and_readonly_are_seen_by_wine(self):
        with harness.Prefix("attributes") as prefix:
            path = os.path.join(prefix.root, "加载项.xla")
            with open(path, "wb"):
                pass
            win = prefix.win_path(path)
            self.assertEqual(prefix.unix_path(win), path)
            self.assertEqual(int(prefix.driver("file-attributes", win)) & 0x3, 0)
            prefix.set_hidden(path)
            self.assertEqual(int(prefix.driver("file-attributes", win)) & 0x3, 0x2)
            prefix.set_readonly(path)
            self.assertEqual(int(prefix.driver("file-attributes", win)) & 0x3, 0x3)
            prefix.set_hidden(path, False)
            self.assertEqual(int(prefix.driver("file-attributes", win)) & 0x3, 0x1)

    def test_c_drive_maps_into_the_prefix(self):
        with harness.Prefix("paths") as prefix:
            self.assertEqual(
                prefix.unix_path("C:\\standin\\x64\\StandInExcel.exe"),
                os.path.join(os.path.realpath(prefix.path), "drive_c", "standin", "x64",
                             "StandInExcel.exe"),
            )


if __name__ == "__main__":
    unittest.main()
