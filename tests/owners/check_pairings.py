#!/usr/bin/python3
"""Compiles pairings.cpp with the program's compiler and fails unless the compiler refuses
exactly the lines marked "// refused", and nothing else anywhere.

Usage: check_pairings.py SOURCE_ROOT COMPILER [FLAG...]
"""

import os
import re
import subprocess
import sys

MARK = "// refused"


def refused_lines(compiler_output, source):
    """The lines of source the compiler reports an error on; errors elsewhere (in a header)
    are returned as text."""
    lines = set()
    elsewhere = []
    for line in compiler_output.splitlines():
        found = re.match(r"^(.*?):(\d+):\d+: error: ", line)
        if not found:
            continue
        if os.path.realpath(found.group(1)) == os.path.realpath(source):
            lines.add(int(found.group(2)))
        else:
            elsewhere.append(line)
    return lines, elsewhere


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    root, compiler, flags = argv[1], argv[2], argv[3:]
    source = os.path.join(os.path.dirname(os.path.abspath(__file__)), "pairings.cpp")
    with open(source, encoding="utf-8") as f:
        marked = {n for n, text in enumerate(f, 1) if text.rstrip().endswith(MARK)}
    done = subprocess.run([compiler, "-std=c++20", "-fsyntax-only", "-fmax-errors=0",
                           "-I" + root, *flags, source],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, check=False)
    output = done.stdout.decode("utf-8", "replace")
    refused, elsewhere = refused_lines(output, source)
    problems = ["line %d compiles: %s" % (n, "a wrong pairing") for n in sorted(marked - refused)]
    problems += ["line %d is refused, and should compile" % n for n in sorted(refused - marked)]
    problems += ["an error outside the file: " + line for line in elsewhere]
    if not marked or (done.returncode == 0) != (not refused):
        problems.append("the compiler exited with %d" % done.returncode)
    for problem in problems:
        print(problem)
    if problems:
        print(output)
        return 1
    print("%d wrong pairing(s) refused, the right ones compile" % len(marked))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
