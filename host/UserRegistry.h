#pragma once

#include "host/HostServices.h"
#include "host/Outcome.h"
#include "host/ScopedWin.h"

#include <string>
#include <vector>

namespace qx {

// Keys under HKEY_CURRENT_USER named by their path: where Excel and Office's policies keep the
// settings Excel starts with. A value of another type than asked counts as absent (notFound).
Outcome<std::uint32_t> ReadUserDword(const std::wstring& key, const std::wstring& name);
// As stored: an expandable string is handed back unexpanded.
Outcome<std::wstring> ReadUserString(const std::wstring& key, const std::wstring& name);
// A REG_SZ value only: another type is a failure of its own (ERROR_UNSUPPORTED_TYPE).
Outcome<std::wstring> ReadUserRegSz(const std::wstring& key, const std::wstring& name);
Outcome<UniqueHKey> OpenUserKey(const std::wstring& key, REGSAM access);
Outcome<std::vector<std::wstring>> UserSubkeys(const std::wstring& key);
Outcome<std::vector<RegistryValue>> UserValues(const std::wstring& key);
Status DeleteUserValueAt(const std::wstring& key, const std::wstring& name);

} // namespace qx
