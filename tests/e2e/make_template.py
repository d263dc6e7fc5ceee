#!/usr/bin/python3
"""Builds the Wine prefix template the e2e tests copy: make_template.py TEMPLATE_DIR STANDIN_EXE"""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import harness  # noqa: E402


def main(argv):
    if len(argv) != 3:
        sys.stderr.write("usage: make_template.py TEMPLATE_DIR STANDIN_EXE\n")
        return 2
    started = time.monotonic()
    path = harness.make_template(argv[1], argv[2])
    print("template ready at %s in %.1f s" % (path, time.monotonic() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
