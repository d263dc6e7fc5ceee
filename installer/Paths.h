#pragma once

#include <string>

namespace qx {

// File names, each joined to a folder with JoinPath.
inline constexpr wchar_t kInstalledAddinName[] = L"\\QxButton.xla";
inline constexpr wchar_t kAddinSourceName[] = L"\\安装.xla";
inline constexpr wchar_t kWorkbookName[] = L"\\TORVA.xls";
// Where the add-in is written before one rename puts it in place: beside the start-up folder, on
// its volume, but not in it, since Excel opens every file there.
inline constexpr wchar_t kStagingName[] = L"\\QxButton.xla.QXSetup-staging";

// The installed add-in's name alone, as Excel knows an open workbook and as the user reads it.
std::wstring InstalledAddinFileName();

// Appends a name that starts with a backslash to a folder. A drive root such as "Q:\" already
// ends in one, and a doubled separator would be recorded verbatim for the workbook to open.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& backslashName);

// The folder that holds `folder`; a folder with none above it (a drive's root) is its own.
std::wstring ParentFolder(const std::wstring& folder);

} // namespace qx
