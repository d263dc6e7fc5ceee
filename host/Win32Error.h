#pragma once

#include "host/Outcome.h"
#include "host/WinApi.h"

#include <string>

namespace qx {

// The system's own wording of an error number, trailing line breaks included; "" when the
// system has none.
std::wstring SystemErrorText(DWORD number);

HostError Win32Failure(DWORD number);
HostError LastWin32Failure();
HostError ComFailure(HRESULT result);

} // namespace qx
