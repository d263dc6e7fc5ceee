#!/usr/bin/env python3
"""Runs QXSetup.exe under wine64 in a demo folder, with the stand-in Excel from the tests:
first run installs, second run asks whether to uninstall.

With a display (DISPLAY set and QXSETUP_DEMO_HEADLESS unset) you click and answer yourself.
Headless, the demo answers for you and saves screenshots beside the demo folder."""

import filecmp
import os
import shutil
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

import harness  # noqa: E402

BUILD = os.path.join(ROOT, "build", "x86_64")
DEMO = os.path.join(ROOT, "demo")
SECTION = "Software\\VB and VBA Program Settings\\Tanrebo Software\\Merrowin"


def main():
    interactive = bool(os.environ.get("DISPLAY")) and not os.environ.get("QXSETUP_DEMO_HEADLESS")
    os.environ.setdefault("QXSETUP_DRIVER", os.path.join(BUILD, "tests", "e2e", "qxdriver.exe"))
    os.environ.setdefault("QXSETUP_E2E_TEMPLATE", os.path.join(BUILD, "demo-template"))
    os.environ.setdefault("QXSETUP_E2E_WORK", os.path.join(BUILD, "demo-work"))
    standin = os.path.join(BUILD, "tests", "e2e", "StandInExcel.exe")
    template = os.environ["QXSETUP_E2E_TEMPLATE"]
    installed = os.path.join(template, "drive_c", "standin", os.path.basename(standin))
    # A template from an older build may hold another stand-in, registered another way.
    if not (os.path.isfile(os.path.join(template, "system.reg")) and os.path.isfile(installed)
            and filecmp.cmp(standin, installed, shallow=False)):
        print("Preparing a Wine prefix with the stand-in Excel (once per build)...")
        harness.make_template(os.environ["QXSETUP_E2E_TEMPLATE"], standin)

    shutil.rmtree(DEMO, ignore_errors=True)
    program = os.path.join(DEMO, "Quorvale")
    startup = os.path.join(DEMO, "Excel", "XLSTART")
    os.makedirs(program)
    os.makedirs(startup)
    shutil.copy2(os.path.join(BUILD, "QXSetup.exe"), program)
    with open(os.path.join(program, "安装.xla"), "wb") as f:
        f.write(b"placeholder add-in\r\n")
    with open(os.path.join(program, "TORVA.xls"), "wb") as f:
        f.write(b"placeholder workbook\r\n")

    with harness.Prefix(name="demo", keep=False) as prefix:
        prefix.configure_standin(startup_path=prefix.win_path(startup))
        exe = os.path.join(program, "QXSetup.exe")

        print("Run 1: %s (Excel's start-up folder: %s)" % (exe, startup))
        process = prefix.start(exe)
        if interactive:
            print("  The success window is open: click it to end the program.")
            process.wait(None)
        else:
            window = prefix.driver_json("window", "安装成功：", timeout=15.0)
            shot = screenshot(prefix, window["rect"], "run1-success-window.png")
            print("  Window %r: %s" % (window["text"], " | ".join(
                c["text"].replace("\r\n", " ") for c in window["children"] if c["text"])))
            print("  Screenshot: %s; clicking it." % shot)
            prefix.driver("click", "安装成功：", "0")
            process.wait(15)
        print("  Installed add-in: %s" % os.listdir(startup))
        print("  Settings: Path=%s Unit=%s" % (prefix.reg_get("HKCU", SECTION, "Path"),
                                               prefix.reg_get("HKCU", SECTION, "Unit")))

        print("Run 2: the same program again")
        process = prefix.start(exe)
        if interactive:
            print("  Answer the uninstall question yourself.")
            process.wait(None)
        else:
            box = prefix.driver_json("box", "Setup", timeout=15.0)
            info = prefix.driver_json("window", "Setup")
            shot = screenshot(prefix, info["rect"], "run2-uninstall-question.png")
            print("  Question: %r (buttons %s); screenshot: %s; answering No." % (
                box["text"], box["buttons"], shot))
            prefix.driver("press", "Setup", "7")
            process.wait(15)
        print("  Start-up folder now holds: %s" % os.listdir(startup))
    return 0


def screenshot(prefix, rect, name):
    path = os.path.join(DEMO, name)
    return prefix.screenshot(path, (rect["left"], rect["top"], rect["right"], rect["bottom"]))


if __name__ == "__main__":
    sys.exit(main())
