#pragma once

#include "host/HostServices.h"

#include <string>

namespace qx {

// The record the add-in and the main workbook read: the only state besides the add-in file.
// Its names are fixed by those readers and must not change.
inline constexpr wchar_t kSettingsApplication[] = L"Tanrebo Software";
inline constexpr wchar_t kSettingsSection[] = L"Merrowin";
inline constexpr wchar_t kPathKey[] = L"Path";
inline constexpr wchar_t kUnitKey[] = L"Unit";
inline constexpr wchar_t kUnitValue[] = L"Halvetri";

Status WriteWorkbookPath(HostServices& host, const std::wstring& workbookPath);
Status WriteUnit(HostServices& host);
Status DeleteSettingsRecord(HostServices& host);
Status FlushSettingsRecord(HostServices& host);

// One value of the record by its key (kPathKey, kUnitKey): what an update keeps and puts back.
Outcome<std::wstring> ReadRecordValue(HostServices& host, const wchar_t* key);
Status WriteRecordValue(HostServices& host, const wchar_t* key, const std::wstring& value);
Status DeleteRecordValue(HostServices& host, const wchar_t* key);

} // namespace qx
