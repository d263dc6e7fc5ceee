// Finding other processes' windows by title and waiting until they are ready to be read.
#pragma once

#include "cli.h"

#include "host/WinApi.h"

#include <string>
#include <vector>

namespace qxdriver {

std::wstring window_text(HWND hwnd);
std::wstring class_of(HWND hwnd);
DWORD process_of(HWND hwnd);

// A visible top-level window titled exactly `title` (of `class_name` when given), or null.
HWND find_top_level(const std::wstring& title, const wchar_t* class_name = nullptr);

// Waits for the window to appear and to be laid out; throws Failure at the deadline.
HWND wait_top_level(const std::wstring& title, const Deadline& deadline,
                    const wchar_t* class_name = nullptr);

// Direct children in creation order.
std::vector<HWND> children_of(HWND parent);

} // namespace qxdriver
