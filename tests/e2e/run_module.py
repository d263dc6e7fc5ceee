#!/usr/bin/python3
"""Runs one end-to-end test module against the program QXSETUP_EXE names:
run_module.py MODULE

Each module runs for the shipped 32-bit QXSetup.exe and for its 64-bit twin. Only one of the
two may give results: the shipped file wherever this machine runs 32-bit code, the twin only
where it cannot. The other exits with QXSETUP_E2E_SKIP_CODE, which CTest counts as skipped,
never as passed.
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
    program = os.environ.get("QXSETUP_EXE")
    if program:
        if not os.path.isfile(program):
            raise harness.HarnessError("%s is not built" % program)
        bits = harness.pe_bits(program)
        if bits == 32 and not harness.runs_32bit_code():
            print("skipped: this machine cannot run 32-bit code (%s does not start)"
                  % harness.WINE32)
            return skipped
        if bits == 64 and harness.runs_32bit_code():
            print("skipped: the 64-bit twin stands in only where 32-bit code cannot run")
            return skipped
        with open(program, "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        print("program under test: %s (%d-bit, sha256 %s)" % (program, bits, digest))
    suite = unittest.defaultTestLoader.loadTestsFromName(argv[1])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
