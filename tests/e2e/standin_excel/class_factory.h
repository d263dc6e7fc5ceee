// The class objects of Excel's global and application classes, offered to COM for as long as
// the server is taking clients.
#pragma once

#include "host/WinApi.h"

namespace standin {

// The HRESULT of the first registration that failed, or S_OK.
HRESULT register_classes();
// Safe to call more than once.
void revoke_classes();

} // namespace standin
