#pragma once

#include "Outcome.h"
#include "WinApi.h"

#include <string>

namespace qx {

// The system's own wording of an error number, without its trailing line break.
std::wstring DescribeError(DWORD number);

HostError Win32Failure(DWORD number);
HostError LastWin32Failure();
HostError ComFailure(HRESULT result);

} // namespace qx
