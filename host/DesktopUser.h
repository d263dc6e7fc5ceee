#pragma once

#include "host/Outcome.h"

#include <string>

namespace qx {

// Whether this process runs as the user whose desktop it is on: the user of the shell's
// process. Fails when it cannot tell (no shell yet, as in a logon script).
Outcome<bool> RunsAsDesktopUser();

// The SID of the account this process runs as, as text ("S-1-5-21-…").
Outcome<std::wstring> OwnUserSid();

} // namespace qx
