#!/usr/bin/python3
"""Start-up time of the shipped 32-bit QXSetup.exe against the least program that opens one
window, built the same way, both run under Wine in one prefix (64-bit, with its 32-bit side),
alternately, and closed the same way (WM_CLOSE once shown).

QXSetup runs its install each time (the add-in is taken away between runs) and ends in its
success window. Timed three times: with the stand-in Excel already running as a server, so that
the figures are the program's own; with the user's Excel open, which the program asks instead
of starting one and where it opens the add-in; and with the stand-in started by COM for the
run, as Excel is when it is not open. Prints the medians, the ratios and the exe sizes. Where this machine runs no 32-bit code,
it measures the 64-bit twin and its 64-bit minimal window instead, and says so.

Usage (scripts/bench.sh sets it up): bench.py TOOLS_BUILD_DIR SHIPPED_BUILD_DIR [--pairs N]
"""

import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))

import harness  # noqa: E402

SUCCESS_CAPTION = "安装成功："
MINIMAL_CAPTION = "Minimal window"
USERS_EXCEL_CAPTION = "Microsoft Excel - 工作簿1"


class Bench:
    def __init__(self, prefix, tools, measured):
        self.prefix = prefix
        self.timer = os.path.join(tools, "tests", "bench", "windowtimer.exe")
        self.minimal = os.path.join(measured, "tests", "bench", "MinimalWindow.exe")
        self.holder = os.path.join(tools, "tests", "bench", "excelholder.exe")
        self.program = os.path.join(prefix.root, "Quorvale")
        self.startup = os.path.join(prefix.root, "XLSTART")
        os.makedirs(self.program)
        os.makedirs(self.startup)
        harness.place_program(os.path.join(measured, "QXSetup.exe"),
                              os.path.join(self.program, "QXSetup.exe"))
        with open(os.path.join(self.program, "安装.xla"), "wb") as f:
            f.write(bytes(range(256)) * 40)
        prefix.configure_standin(startup_path=prefix.win_path(self.startup))
        self.users_excel = False

    def time_window(self, exe, caption):
        """Milliseconds from start to the process's end, the window closed once shown."""
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            done = subprocess.run(
                [harness.WINE64, self.timer, self.prefix.win_path(exe), caption],
                env=self.prefix.env, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                timeout=harness.WAIT, check=False)
            out.seek(0)
            err.seek(0)
            if done.returncode != 0:
                raise harness.HarnessError("windowtimer: " + err.read().decode("utf-8", "replace"))
            result = json.loads(out.read().decode("utf-8").strip().splitlines()[-1])
        if result["exit_code"] != 0:
            raise harness.HarnessError("%s ended with %d" % (exe, result["exit_code"]))
        return result["closed_ms"]

    def time_minimal(self):
        return self.time_window(self.minimal, MINIMAL_CAPTION)

    def time_qxsetup(self):
        exe = os.path.join(self.program, "QXSetup.exe")
        ms = self.time_window(exe, SUCCESS_CAPTION)
        # Not installed again before the next run: it would ask to uninstall instead. The
        # user's Excel has it open, and only QXSetup takes it out of there.
        if self.users_excel:
            if self.prefix.run(exe, ["/uninstall", "/quiet"]).exit_code() != 0:
                raise harness.HarnessError("the uninstall between two runs failed")
        else:
            os.remove(os.path.join(self.startup, "QxButton.xla"))
        return ms

    def pairs(self, count):
        """Alternating runs, the order swapped every pair so that neither always goes first.
        The first pair only warms the prefix up."""
        minimal, qxsetup = [], []
        for index in range(count + 1):
            first_minimal = index % 2 == 0
            a = self.time_minimal() if first_minimal else self.time_qxsetup()
            b = self.time_qxsetup() if first_minimal else self.time_minimal()
            if index:
                minimal.append(a if first_minimal else b)
                qxsetup.append(b if first_minimal else a)
        return statistics.median(minimal), statistics.median(qxsetup)

    def open_users_excel(self):
        """The user's Excel, shown and registered once its window is up."""
        excel = self.prefix.start_users_excel()
        self.prefix.driver("wait-window", USERS_EXCEL_CAPTION)
        self.users_excel = True
        return excel

    def hold_excel(self):
        """Starts the holder and returns it once it holds Excel's object: only then is the
        class registered, and a run that came earlier would start Excel after all."""
        said = os.path.join(self.prefix.root, "holder.out")
        with open(said, "wb") as out:
            holder = subprocess.Popen([harness.WINE64, self.holder], env=self.prefix.env,
                                      stdin=subprocess.DEVNULL, stdout=out,
                                      stderr=subprocess.DEVNULL)

        def holding():
            if holder.poll() is not None:
                raise harness.HarnessError("excelholder ended with %d" % holder.returncode)
            with open(said, "rb") as f:
                return b"holding" in f.read()

        self.prefix.wait_for(holding, what="excelholder to hold Excel")
        return holder


def size(path):
    return "%s: %d bytes" % (path, os.path.getsize(path))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("tools")
    parser.add_argument("shipped")
    parser.add_argument("--pairs", type=int, default=15)
    args = parser.parse_args()
    if args.pairs < 15:
        parser.error("at least 15 pairs")
    tools = os.path.abspath(args.tools)
    shipped = os.path.abspath(args.shipped)
    measured = shipped
    if not harness.runs_32bit_code():
        measured = tools
        print("This machine cannot run 32-bit code: measuring the 64-bit twin instead.")

    work = tempfile.mkdtemp(prefix="qxsetup-bench-")
    os.environ["QXSETUP_DRIVER"] = os.path.join(tools, "tests", "e2e", "qxdriver.exe")
    os.environ["QXSETUP_E2E_TOOLS_64"] = os.path.join(tools, "tests", "e2e")
    os.environ["QXSETUP_E2E_TOOLS_32"] = os.path.join(shipped, "tests", "e2e")
    os.environ["QXSETUP_E2E_TEMPLATE"] = os.path.join(work, "template")
    os.environ["QXSETUP_E2E_WORK"] = work
    try:
        harness.make_template(os.environ["QXSETUP_E2E_TEMPLATE"])
        with harness.Prefix("bench") as prefix:
            bench = Bench(prefix, tools, measured)
            started = time.monotonic()
            holder = bench.hold_excel()
            running = bench.pairs(args.pairs)
            if holder.poll() is not None:
                raise harness.HarnessError("excelholder ended during the runs")
            # Closed, not killed: Wine's COM does not notice a client that vanished, and a
            # server left registered for a dead one would answer nobody.
            prefix.driver("close", "Excel holder")
            holder.wait(harness.WAIT)
            prefix.wait_standin_gone()
            users_excel = bench.open_users_excel()
            open_there = bench.pairs(args.pairs)
            prefix.driver("close", USERS_EXCEL_CAPTION)
            users_excel.wait(harness.WAIT)
            bench.users_excel = False
            cold = bench.pairs(args.pairs)
            seconds = time.monotonic() - started
    finally:
        shutil.rmtree(work, ignore_errors=True)

    print("Sizes")
    print("  measured " + size(os.path.join(measured, "QXSetup.exe")))
    print("  minimal  " + size(bench.minimal))
    print("Start -> window shown -> closed, median of %d alternating pairs (%.0f s in all)"
          % (args.pairs, seconds))
    for name, (minimal, qxsetup) in (("Excel already running", running),
                                     ("the user's Excel open", open_there),
                                     ("Excel started for the run", cold)):
        print("  %-26s minimal %6.1f ms   QXSetup %6.1f ms   ratio %.2f"
              % (name + ":", minimal, qxsetup, qxsetup / minimal))
    return 0


if __name__ == "__main__":
    sys.exit(main())
