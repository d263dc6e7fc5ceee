#pragma once

#include "host/Outcome.h"

#include <string>

namespace qx {

// `text` with each %NAME% replaced by the variable's value, as Windows expands it.
Outcome<std::wstring> ExpandEnvironmentText(const std::wstring& text);

} // namespace qx
