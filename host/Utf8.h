#pragma once

#include <string>
#include <string_view>

namespace qx {

// UTF-16 as UTF-8 bytes: what the log file holds, and what the test tools print.
std::string Utf8(std::wstring_view text);

} // namespace qx
