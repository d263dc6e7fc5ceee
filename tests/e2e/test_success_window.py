"""The success window, live: its texts, layout at two DPIs, and every way of closing it."""

import subprocess
import unittest

import glyphs
from installer_scenario import SUCCESS_CAPTION, InstallerScenario, child_rect_in_shot
from limits import QUIET_PERIOD

LABEL3 = "检查一下您的 Excel的“文件(F)”菜单中\r\n\r\n是否多了一个菜单项："
LABEL2 = "点击该菜单项，就可以使用了。\r\n\r\n感谢您选择了本软件！"

# Client area and controls in twips: (left, top, width, height), in creation order.
CLIENT_TWIPS = (4668, 2808)
CONTROLS = [
    ("Label3", (360, 240, 4332, 852), LABEL3),
    ("Image1", (360, 1080, 3480, 324), ""),
    ("Label2", (480, 1680, 3852, 732), LABEL2),
]

VK_RETURN, VK_ESCAPE, VK_SPACE = 0x0D, 0x1B, 0x20


def px(twips, dpi):
    return twips * dpi / 1440


class SuccessWindowTest(unittest.TestCase):
    def open_window(self, dpi=None):
        s = InstallerScenario()
        self.addCleanup(s.close)
        if dpi:
            s.prefix.set_dpi(dpi)
        process = s.start()
        s.prefix.driver("wait-window", SUCCESS_CAPTION)
        self.addCleanup(process.kill)
        return s, process, s.prefix.driver_json("window", SUCCESS_CAPTION)

    def assert_layout(self, info, dpi):
        self.assertAlmostEqual(info["client"]["width"], px(CLIENT_TWIPS[0], dpi), delta=1)
        self.assertAlmostEqual(info["client"]["height"], px(CLIENT_TWIPS[1], dpi), delta=1)
        self.assertEqual(len(info["children"]), len(CONTROLS))
        for child, (name, (left, top, width, height), _) in zip(info["children"], CONTROLS):
            r = child["rect"]
            with self.subTest(control=name, dpi=dpi):
                self.assertAlmostEqual(r["left"], px(left, dpi), delta=1)
                self.assertAlmostEqual(r["top"], px(top, dpi), delta=1)
                self.assertAlmostEqual(r["right"] - r["left"], px(width, dpi), delta=1)
                self.assertAlmostEqual(r["bottom"] - r["top"], px(height, dpi), delta=1)
        print("dpi %d: client %dx%d; " % (dpi, info["client"]["width"], info["client"]["height"])
              + "; ".join("%s %s" % (n, c["rect"]) for (n, _, _), c in zip(CONTROLS, info["children"])))

    def test_caption_texts_and_controls_in_order(self):
        s, _, info = self.open_window()
        shot, shown = s.screenshot_window(SUCCESS_CAPTION, "success-window")

        self.assertEqual(info["text"], SUCCESS_CAPTION)
        self.assertEqual([c["class"].upper() for c in info["children"]], ["STATIC"] * 3)
        self.assertEqual([c["text"] for c in info["children"]], [t for _, _, t in CONTROLS])
        # Missing glyphs would all draw as the same box; real text has many shapes.
        for index in (0, 2):
            with self.subTest(CONTROLS[index][0]):
                shapes = glyphs.distinct_glyph_shapes(
                    shot, child_rect_in_shot(shown, shown["children"][index]))
                self.assertGreaterEqual(shapes, 12)

    def test_layout_in_twips_at_96_dpi(self):
        _, _, info = self.open_window()
        self.assert_layout(info, 96)

    def test_layout_in_twips_at_144_dpi(self):
        s, _, info = self.open_window(dpi=144)
        s.screenshot_window(SUCCESS_CAPTION, "success-window-144dpi")
        self.assert_layout(info, 144)

    def test_every_click_target_and_close_command_ends_the_program(self):
        ways = {
            "click Label3": ("click", "0"),
            "click Image1": ("click", "1"),
            "click Label2": ("click", "2"),
            "click the bare form": ("click", "-1", "8", "120"),
            "WM_CLOSE": ("close",),
            "close box / Alt+F4": ("syscommand-close",),
        }
        for name, command in ways.items():
            with self.subTest(name):
                s, process, _ = self.open_window()
                s.prefix.driver(command[0], SUCCESS_CAPTION, *command[1:])
                self.assertEqual(process.wait(), 0)
                s.prefix.driver("wait-gone", SUCCESS_CAPTION)

    def test_a_drag_that_ends_on_the_window_is_no_click(self):
        # A press elsewhere released over the window: the platform's click is a press and a
        # release on the same control, so the window stays until it is really clicked.
        ends = {"the bare form": ("-1", "8", "120"), "Label3": ("0",), "Image1": ("1",)}
        s, process, _ = self.open_window()
        for name, where in ends.items():
            with self.subTest(name):
                s.prefix.driver("release", SUCCESS_CAPTION, *where)
                with self.assertRaises(subprocess.TimeoutExpired):
                    process.wait(QUIET_PERIOD)
        s.prefix.driver("click", SUCCESS_CAPTION, "-1", "8", "120")
        self.assertEqual(process.wait(), 0)

    def test_keys_do_nothing(self):
        s, process, _ = self.open_window()
        for vk in (VK_RETURN, VK_ESCAPE, VK_SPACE):
            s.prefix.driver("key", SUCCESS_CAPTION, str(vk))
        # The driver's round trip gives the program time to act on the keys had it wanted to.
        info = s.prefix.driver_json("window", SUCCESS_CAPTION)
        self.assertEqual(info["text"], SUCCESS_CAPTION)
        with self.assertRaises(subprocess.TimeoutExpired):
            process.wait(QUIET_PERIOD)


if __name__ == "__main__":
    unittest.main()
