#pragma once

#include "host/Outcome.h"

#include <string>

namespace qx {

// Whether this process runs as the user whose desktop it is on: the user of the shell's
// process. Fails when it cannot tell (no shell yet, as in a logon script).
Outcome<bool> RunsAsDesktopUser();

// Appends the SID of the account this process runs as, as text ("S-1-5-21-…"); false, and
// nothing appended, when it cannot be read.
bool AppendOwnUserSid(std::wstring& text);

} // namespace qx
