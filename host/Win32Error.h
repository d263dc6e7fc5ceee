#pragma once

#include "Outcome.h"
#include "WinApi.h"

#include <string>

namespace qx {

HostError Win32Failure(DWORD number);
HostError LastWin32Failure();
HostError ComFailure(HRESULT result);

} // namespace qx
