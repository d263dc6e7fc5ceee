#pragma once

#include <string>

namespace qx {

// File names, each joined to a folder with JoinPath.
inline constexpr wchar_t kInstalledAddinName[] = L"\\QxButton.xla";
inline constexpr wchar_t kAddinSourceName[] = L"\\安装.xla";
inline constexpr wchar_t kWorkbookName[] = L"\\TORVA.xls";

// The installed add-in's name alone, as Excel knows an open workbook and as the user reads it.
std::wstring InstalledAddinFileName();

// Appends a name that starts with a backslash to a folder. A drive root such as "Q:\" already
// ends in one, and a doubled separator would be recorded verbatim for the workbook to open.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& backslashName);

} // namespace qx
