// One line per thing that happened to the server, for the test to read afterwards.
#pragma once

#include <string_view>

namespace standin {

void log_event(std::wstring_view line);

} // namespace standin
