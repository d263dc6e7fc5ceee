#pragma once

#include "host/Outcome.h"
#include "host/ScopedWin.h"

#include <string>

namespace qx {

// The log an administrator asks for: UTF-8, appended to, one line each, dated in local time.
// Several runs may write to one file (a logon script on a share), so it is opened for
// appending and shared.
class LogFile {
public:
    Status Open(const std::wstring& path);
    // Best effort: a log that fails mid-run must not change what the run does.
    void Write(const std::wstring& line);

private:
    UniqueFile file_;
};

} // namespace qx
