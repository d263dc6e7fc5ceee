#pragma once

#include "host/Outcome.h"

namespace qx {

// Whether this process runs as the user whose desktop it is on: the user of the shell's
// process. Fails when it cannot tell (no shell yet, as in a logon script).
Outcome<bool> RunsAsDesktopUser();

} // namespace qx
