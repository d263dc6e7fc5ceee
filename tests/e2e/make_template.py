#!/usr/bin/python3
"""Builds the Wine prefix template the e2e tests copy: make_template.py TEMPLATE_DIR

The stand-in Excels come from the folders QXSETUP_E2E_TOOLS_64 and QXSETUP_E2E_TOOLS_32, the
driver from QXSETUP_DRIVER (CTest sets all three)."""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import harness  # noqa: E402


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    started = time.monotonic()
    # A new suite run counts its own runs of the program.
    runs = os.path.join(harness.required_env("QXSETUP_E2E_WORK"), harness.PROGRAM_RUNS)
    if os.path.exists(runs):
        os.remove(runs)
    with harness.own_display():
        path = harness.make_template(argv[1])
    print("template ready at %s in %.1f s" % (path, time.monotonic() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
