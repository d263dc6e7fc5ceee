#!/usr/bin/python3
"""Fails when a source file calls a Windows function anywhere but in the one wrapper around it.

CreateFileW says "no handle" with INVALID_HANDLE_VALUE, which the owner of other handles would
take for a handle; its wrapper hands the handle out as a type only the file owner takes.
Usage: check_wrapped_calls.py SOURCE_ROOT
"""

import os
import re
import sys

# The function (its A and W forms and the macro alike), and the one file that may call it.
WRAPPED = {
    "CreateFile": "host/ScopedWin.h",
}
FOLDERS = ("app", "ui", "host", "installer", "tests")
SOURCE = re.compile(r"\.(h|hpp|cpp|cc)$")
# What can hold a name without calling it: string literals, then comments.
NOT_CODE = re.compile(r'"(?:\\.|[^"\\\n])*"|//[^\n]*|/\*.*?\*/', re.DOTALL)


def calls_outside_wrappers(root):
    found = []
    for folder in FOLDERS:
        for dirpath, _, files in os.walk(os.path.join(root, folder)):
            for name in sorted(files):
                if not SOURCE.search(name):
                    continue
                path = os.path.join(dirpath, name)
                relative = os.path.relpath(path, root).replace(os.sep, "/")
                with open(path, encoding="utf-8") as f:
                    code = NOT_CODE.sub(" ", f.read())
                for function, wrapper in WRAPPED.items():
                    if relative == wrapper:
                        continue
                    for call in re.findall(r"\b(%s[AW]?)\s*\(" % function, code):
                        found.append("%s calls %s; only %s does" % (relative, call, wrapper))
    return found


def main(argv):
    if len(argv) != 2:
        sys.exit(__doc__)
    found = calls_outside_wrappers(argv[1])
    for line in found:
        print(line)
    print("%d call(s) outside their wrapper" % len(found))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
