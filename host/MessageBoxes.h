#pragma once

#include "host/Outcome.h"

#include <cstdint>
#include <string>

namespace qx {

// Modal system message boxes, all titled with the program's title.
Outcome<std::int16_t> AskYesNoBox(const std::wstring& prompt);
Status InformBox(const std::wstring& prompt);
Status WarnBox(const std::wstring& prompt);

} // namespace qx
