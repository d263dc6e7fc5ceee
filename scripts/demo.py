#!/usr/bin/env python3
"""Runs the shipped 32-bit QXSetup.exe under Wine (a 64-bit prefix with its 32-bit side, as
64-bit Windows is) in a demo folder, with the stand-in Excel from the tests: first run installs,
second run asks whether to uninstall. Its 64-bit twin only when QXSETUP_E2E=twin asks for it.

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
SHIPPED = os.path.join(ROOT, "build", "i686", "QXSetup.exe")
DEMO = os.path.join(ROOT, "demo")
SECTION = "Software\\VB and VBA Program Settings\\Tanrebo Software\\Merrowin"


def main():
    interactive = bool(os.environ.get("DISPLAY")) and not os.environ.get("QXSETUP_DEMO_HEADLESS")
    os.environ.setdefault("QXSETUP_DRIVER", os.path.join(BUILD, "tests", "e2e", "qxdriver.exe"))
    os.environ.setdefault("QXSETUP_E2E_TOOLS_64", os.path.join(BUILD, "tests", "e2e"))
    os.environ.setdefault("QXSETUP_E2E_TOOLS_32",
                          os.path.join(os.path.dirname(SHIPPED), "tests", "e2e"))
    os.environ.setdefault("QXSETUP_E2E_TEMPLATE", os.path.join(BUILD, "demo-template"))
    os.environ.setdefault("QXSETUP_E2E_WORK", os.path.join(BUILD, "demo-work"))
    template = os.environ["QXSETUP_E2E_TEMPLATE"]
    # A template from an older build may hold other stand-ins, registered another way.
    current = os.path.isfile(os.path.join(template, "system.reg"))
    for bits, folder in harness.STANDIN_DIRS.items():
        placed = os.path.join(template, "drive_c", *folder.split("\\")[1:], harness.STANDIN_IMAGE)
        current = current and os.path.isfile(placed) and filecmp.cmp(
            harness.test_tool(harness.STANDIN_IMAGE, bits), placed, shallow=False)
    if not current:
        print("Preparing a Wine prefix with the stand-in Excel (once per build)...")
        harness.make_template(template)
    if harness.twin_asked():
        program_file = os.path.join(BUILD, "QXSetup.exe")
        print("QXSETUP_E2E=twin: the demo runs the 64-bit twin, %s, not the shipped file"
              % program_file)
    elif harness.runs_32bit_code():
        program_file = SHIPPED
    else:
        print("This machine cannot run 32-bit code (%s does not start): "
              "scripts/install-prerequisites.sh says why" % harness.WINE32)
        return 1

    shutil.rmtree(DEMO, ignore_errors=True)
    program = os.path.join(DEMO, "Quorvale")
    startup = os.path.join(DEMO, "Excel", "XLSTART")
    os.makedirs(program)
    os.makedirs(startup)
    shutil.copy2(program_file, program)
    with open(os.path.join(program, "安装.xla"), "wb") as f:
        f.write(b"placeholder add-in\r\n")
    with open(os.path.join(program, "TORVA.xls"), "wb") as f:
        f.write(b"placeholder workbook\r\n")

    with harness.Prefix(name="demo", keep=False) as prefix:
        prefix.configure_standin(startup_path=prefix.win_path(startup))
        exe = os.path.join(program, "QXSetup.exe")

        print("Run 1: %s, a copy of %s (%d-bit), with Excel's start-up folder %s"
              % (exe, program_file, harness.pe_bits(program_file), startup))
        process = prefix.start(exe)
        if interactive:
            print("  The success window is open: click it to end the program.")
            process.wait(None)
        else:
            # Shown is not yet painted: a slow (emulated) program paints a while after.
            prefix.driver("painted", "安装成功：")
            window = prefix.driver_json("window", "安装成功：")
            shot = screenshot(prefix, window["rect"], "run1-success-window.png")
            print("  Window %r: %s" % (window["text"], " | ".join(
                c["text"].replace("\r\n", " ") for c in window["children"] if c["text"])))
            print("  Screenshot: %s; clicking it." % shot)
            prefix.driver("click", "安装成功：", "0")
            process.wait()
        print("  Installed add-in: %s" % os.listdir(startup))
        print("  Settings: Path=%s Unit=%s" % (prefix.reg_get("HKCU", SECTION, "Path"),
                                               prefix.reg_get("HKCU", SECTION, "Unit")))

        print("Run 2: the same program again")
        process = prefix.start(exe)
        if interactive:
            print("  Answer the uninstall question yourself.")
            process.wait(None)
        else:
            box = prefix.driver_json("box", "Setup")
            prefix.driver("painted", "Setup")
            info = prefix.driver_json("window", "Setup")
            shot = screenshot(prefix, info["rect"], "run2-uninstall-question.png")
            print("  Question: %r (buttons %s); screenshot: %s; answering No." % (
                box["text"], box["buttons"], shot))
            prefix.driver("press", "Setup", "7")
            process.wait()
        print("  Start-up folder now holds: %s" % os.listdir(startup))
    return 0


def screenshot(prefix, rect, name):
    path = os.path.join(DEMO, name)
    return prefix.screenshot(path, (rect["left"], rect["top"], rect["right"], rect["bottom"]))


if __name__ == "__main__":
    sys.exit(main())
