#pragma once

#include "host/Outcome.h"

#include <string>

namespace qx {

// Per-user program settings, kept where Visual Basic programs keep them so that the add-in
// and the workbook find them: HKCU\Software\VB and VBA Program Settings\<application>\<section>.
Status SaveSettingValue(const std::wstring& application, const std::wstring& section,
                        const std::wstring& key, const std::wstring& value);
Outcome<std::wstring> ReadSettingValue(const std::wstring& application, const std::wstring& section,
                                       const std::wstring& key);
Status DeleteSettingSection(const std::wstring& application, const std::wstring& section);
// Writes the section's hive to disk; a value saved but not flushed may be lost to a power cut.
Status FlushSettingSection(const std::wstring& application, const std::wstring& section);
Status DeleteSettingValue(const std::wstring& application, const std::wstring& section,
                          const std::wstring& key);

} // namespace qx
