// What the test asked of this run, read from the loading process's environment each time so
// a test can change it between calls.
#pragma once

#include <string>
#include <string_view>

namespace standin {

std::wstring startup_path();
// True when the test wants reads of this property to fail.
bool should_fail(std::wstring_view property);
void log_event(std::wstring_view line);

} // namespace standin
