"""How long an end-to-end test waits for anything, in one place.

Every wait ends as soon as what it waits for happens (a window, a box, a process's end, a
file), so a generous limit costs nothing when the program works; it only bounds how long a
broken run takes to fail. On a loaded 2-core machine a WoW64 prefix can take several times its
usual time, so the limits are far above what an idle machine needs.
QXSETUP_E2E_TIME_SCALE (a number, default 1) multiplies them all.
"""

import os


def _scale():
    text = os.environ.get("QXSETUP_E2E_TIME_SCALE", "1")
    try:
        scale = float(text)
    except ValueError:
        raise ValueError("QXSETUP_E2E_TIME_SCALE must be a number, not %r" % text) from None
    if scale <= 0:
        raise ValueError("QXSETUP_E2E_TIME_SCALE must be above 0, not %r" % text)
    return scale


SCALE = _scale()

# Something the test set going: a window or box to show, a program to end, Excel to start or
# to end once let go, a driver command to answer.
WAIT = 60.0 * SCALE
# A new Wine prefix (wineboot) and the registrations made in it.
SETUP = 300.0 * SCALE
# How long a helper holds a window, a file or Excel before giving up by itself, should the test
# that started it die.
HOLD = 600.0 * SCALE

# Not a limit: how long a test watches for something that must not happen (a program that must
# keep running). Longer would only slow the suite; a fault shows within it on any machine.
QUIET_PERIOD = 1.0
