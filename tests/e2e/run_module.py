#!/usr/bin/python3
"""Runs one end-to-end test module against the program QXSETUP_EXE names:
run_module.py MODULE

Each module is registered for the shipped 32-bit QXSetup.exe and for its 64-bit twin. The
shipped file is what users run, so it is what runs: where this machine cannot run 32-bit code,
its modules fail, and scripts/install-prerequisites.sh says why. The twin runs in its place
only when asked for (QXSETUP_E2E=twin); the modules not asked for exit with
QXSETUP_E2E_SKIP_CODE, which CTest counts as skipped, never as passed.

Every module has an X server of its own, so that modules can run side by side without one's
windows covering another's screenshots and pixel reads.
"""

import hashlib
import os
import sys
import unittest

import harness


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    skipped = int(harness.required_env("QXSETUP_E2E_SKIP_CODE"))
    twin_asked = harness.twin_asked()
    program = os.environ.get("QXSETUP_EXE")
    if program:
        if not os.path.isfile(program):
            raise harness.HarnessError("%s is not built" % program)
        bits = harness.pe_bits(program)
        if bits == 32 and twin_asked:
            print("skipped: QXSETUP_E2E=twin asks for the 64-bit twin in place of the shipped file")
            return skipped
        if bits == 64 and not twin_asked:
            print("skipped: the 64-bit twin runs only when QXSETUP_E2E=twin asks for it")
            return skipped
        if bits == 32 and not harness.runs_32bit_code():
            print("FAILED: this machine cannot run 32-bit code (%s does not start); "
                  "scripts/install-prerequisites.sh says why" % harness.WINE32)
            return 1
        with open(program, "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        print("program under test: %s (%d-bit, sha256 %s)" % (program, bits, digest))
    # Screenshots by module, as modules run side by side.
    shots = os.environ.get("QXSETUP_SCREENSHOTS")
    if shots:
        os.environ["QXSETUP_SCREENSHOTS"] = os.path.join(shots, argv[1].replace("test_", "", 1))
    with harness.own_display():
        suite = unittest.defaultTestLoader.loadTestsFromName(argv[1])
        result = unittest.TextTestRunner(verbosity=2).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
