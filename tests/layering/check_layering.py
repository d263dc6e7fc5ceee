#!/usr/bin/python3
"""Fails when a source file includes across the folders' one-way order:

    app/ -> ui/ -> host/        app/ -> installer/ -> host/HostServices.h, host/Outcome.h

installer/ must build without Windows, so it sees no system header of Windows either.
Usage: check_layering.py SOURCE_ROOT
"""

import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]', re.MULTILINE)
WINDOWS_HEADERS = re.compile(r"^(windows|win\w*|ole\w*|oaidl|objbase|unknwn|shellapi|commctrl)\.h$",
                             re.IGNORECASE)

# For each folder: the project files it may include (by prefix), and whether Windows' own
# headers are allowed.
RULES = {
    "installer": (("installer/", "host/HostServices.h", "host/Outcome.h"), False),
    "host": (("host/",), True),
    "ui": (("ui/", "host/", "resources/resource.h"), True),
    "app": (("app/", "ui/", "host/", "installer/", "resources/", "version.h"), True),
}
SOURCE = re.compile(r"\.(h|hpp|cpp|cc)$")


def source_files(root, folder):
    """Each C++ source file under root/folder: its path relative to root, and its text."""
    for dirpath, _, files in os.walk(os.path.join(root, folder)):
        for name in sorted(files):
            if SOURCE.search(name):
                path = os.path.join(dirpath, name)
                with open(path, encoding="utf-8") as f:
                    yield os.path.relpath(path, root).replace(os.sep, "/"), f.read()


def violations(root):
    found = []
    for folder, (allowed, windows_ok) in RULES.items():
        for relative, text in source_files(root, folder):
            for kind, header in INCLUDE.findall(text):
                if kind == '"' and not header.startswith(allowed):
                    found.append("%s includes \"%s\"" % (relative, header))
                if kind == "<" and not windows_ok and WINDOWS_HEADERS.match(header):
                    found.append("%s includes <%s>" % (relative, header))
    return found


def run(argv, usage, check, what):
    """A check's command line: SOURCE_ROOT; prints what it found and how many, fails on any."""
    if len(argv) != 2:
        sys.exit(usage)
    found = check(argv[1])
    for line in found:
        print(line)
    print("%d %s" % (len(found), what))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(run(sys.argv, __doc__, violations, "include(s) against the folders' order"))
