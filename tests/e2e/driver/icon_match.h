#pragma once

#include "cli.h"

#include "host/WinApi.h"

#include <string>

namespace qxdriver {

// "warning", "information", "error", "question", "none" or "unknown". Another process's
// HICON cannot be drawn or inspected here, so the icon is recognised by its pixels on screen.
std::string identify_box_icon(HWND box, const Deadline& deadline);

} // namespace qxdriver
