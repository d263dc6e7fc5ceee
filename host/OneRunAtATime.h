#pragma once

#include "host/ScopedWin.h"

#include <string>

namespace qx {

// Real Excel takes seconds to start, with nothing on screen, and users start the program again
// meanwhile. Held for the whole run, this lets a second start of the same account see that a run
// is in progress, in whichever session it runs; another account's run is not this user's concern.
class OneRunAtATime {
public:
    OneRunAtATime();
    OneRunAtATime(const OneRunAtATime&) = delete;
    OneRunAtATime& operator=(const OneRunAtATime&) = delete;

    bool AnotherRunInProgress() const { return anotherRun_; }

    // Brings the running instance's message box or window to the front, if it shows one.
    void BringOtherRunForward() const;

private:
    bool Take(const std::wstring& name, SECURITY_ATTRIBUTES* attributes);

    UniqueHandle mutex_;
    UniqueHandle runningProcessId_; // a small shared section that names the running process
    bool anotherRun_ = false;
};

} // namespace qx
