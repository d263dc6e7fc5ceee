// What the test asked of this run. A server that COM starts does not inherit its client's
// environment, so the test leaves its wishes in StandInExcel.ini beside the exe; it is read on
// every call, so the file in force is the one written before the run.
#pragma once

#include "host/WinApi.h"

#include <string>
#include <string_view>

namespace standin {

std::wstring startup_path();
// What the application's Version answers: Excel 2016 and later call themselves "16.0".
std::wstring excel_version();
// True when the test wants reads of this property to fail.
bool should_fail(std::wstring_view property);
// The description the failure gives, "" for the usual one; "\r" and "\n" in the setting stand
// for the line breaks an Excel description may hold.
std::wstring fail_description();
// The file the events go to, or "" for none.
std::wstring log_path();
// How long a slow Excel takes from its start to offering its classes.
DWORD register_delay_ms();
// True when the test wants this server never to return from `where` ("CreateInstance",
// "StartupPath"): it then sleeps for hang_ms, far past any test but not for ever.
bool should_hang(std::wstring_view where);
DWORD hang_ms();

// A time during which the user's Excel is busy, from the first call it gets after the test
// asked for it: the test names each request anew, so that one request is served once.
struct BusyPeriod {
    std::wstring request; // "" for none
    DWORD ms = 0;
};
// Rejects every call (a dialog open, a cell being edited).
BusyPeriod reject_calls();
// Holds up the first call without answering (Excel hung on a long recalculation).
BusyPeriod stall_calls();

} // namespace standin
