#!/usr/bin/python3
"""Fails when a source file calls a Windows function anywhere but in the one wrapper around it.

CreateFileW says "no handle" with INVALID_HANDLE_VALUE, which the owner of other handles would
take for a handle; its wrapper hands the handle out as a type only the file owner takes. A
CryptoAPI provider and hash are both plain numbers: their wrappers likewise hand each out as a
type only its own owner takes.
Usage: check_wrapped_calls.py SOURCE_ROOT
"""

import re
import sys

from check_layering import run, source_files

# The function (its A and W forms and the macro alike), and the one file that may call it.
WRAPPED = {
    "CreateFile": "host/ScopedWin.h",
    "CryptAcquireContext": "host/ScopedWin.h",
    "CryptCreateHash": "host/ScopedWin.h",
}
FOLDERS = ("app", "ui", "host", "installer", "tests")
# What can hold a name without calling it: string literals, then comments.
NOT_CODE = re.compile(r'"(?:\\.|[^"\\\n])*"|//[^\n]*|/\*.*?\*/', re.DOTALL)


def calls_outside_wrappers(root):
    found = []
    for folder in FOLDERS:
        for relative, text in source_files(root, folder):
            code = NOT_CODE.sub(" ", text)
            for function, wrapper in WRAPPED.items():
                if relative == wrapper:
                    continue
                for call in re.findall(r"\b(%s[AW]?)\s*\(" % function, code):
                    found.append("%s calls %s; only %s does" % (relative, call, wrapper))
    return found


if __name__ == "__main__":
    sys.exit(run(sys.argv, __doc__, calls_outside_wrappers, "call(s) outside their wrapper"))
