// One line per thing that happened to the server, for the test to read afterwards.
#pragma once

#include <string_view>

namespace standin {

void log_event(std::wstring_view line);
// Put before every line from then on.
void set_event_prefix(std::wstring_view prefix);

} // namespace standin
