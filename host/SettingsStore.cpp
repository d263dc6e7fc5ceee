#include "host/SettingsStore.h"

#include "host/ScopedWin.h"
#include "host/UserRegistry.h"
#include "host/Win32Error.h"

namespace qx {

namespace {

constexpr wchar_t kProgramSettingsRoot[] = L"Software\\VB and VBA Program Settings\\";

std::wstring SectionPath(const std::wstring& application, const std::wstring& section) {
    return kProgramSettingsRoot + application + L"\\" + section;
}

} // namespace

Status SaveSettingValue(const std::wstring& application, const std::wstring& section,
                        const std::wstring& key, const std::wstring& value) {
    HKEY opened = nullptr;
    if (const LSTATUS created = RegCreateKeyExW(
            HKEY_CURRENT_USER, SectionPath(application, section).c_str(), 0, nullptr,
            REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &opened, nullptr);
        created != ERROR_SUCCESS) {
        return Win32Failure(static_cast<DWORD>(created));
    }
    const UniqueHKey sectionKey(opened);
    const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    if (const LSTATUS written = RegSetValueExW(sectionKey.get(), key.c_str(), 0, REG_SZ,
                                               reinterpret_cast<const BYTE*>(value.c_str()), bytes);
        written != ERROR_SUCCESS) {
        return Win32Failure(static_cast<DWORD>(written));
    }
    return Completed();
}

Outcome<std::wstring> ReadSettingValue(const std::wstring& application, const std::wstring& section,
                                       const std::wstring& key) {
    return ReadUserRegSz(SectionPath(application, section), key);
}

Status DeleteSettingSection(const std::wstring& application, const std::wstring& section) {
    // An empty name would make RegDeleteTreeW empty the whole application key.
    if (application.empty() || section.empty()) {
        return Win32Failure(ERROR_INVALID_PARAMETER);
    }
    const std::wstring applicationPath = kProgramSettingsRoot + application;
    HKEY opened = nullptr;
    if (const LSTATUS status = RegOpenKeyExW(
            HKEY_CURRENT_USER, applicationPath.c_str(), 0,
            DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE, &opened);
        status != ERROR_SUCCESS) {
        return Win32Failure(static_cast<DWORD>(status));
    }
    const UniqueHKey applicationKey(opened);
    // Removes the section with every value and subkey in it; the application key stays.
    if (const LSTATUS status = RegDeleteTreeW(applicationKey.get(), section.c_str());
        status != ERROR_SUCCESS) {
        return Win32Failure(static_cast<DWORD>(status));
    }
    return Completed();
}

Status FlushSettingSection(const std::wstring& application, const std::wstring& section) {
    const auto sectionKey = OpenUserKey(SectionPath(application, section), KEY_QUERY_VALUE);
    if (!sectionKey) {
        return sectionKey.error();
    }
    if (const LSTATUS status = RegFlushKey(sectionKey.value().get()); status != ERROR_SUCCESS) {
        return Win32Failure(static_cast<DWORD>(status));
    }
    return Completed();
}

Status DeleteSettingValue(const std::wstring& application, const std::wstring& section,
                          const std::wstring& key) {
    return DeleteUserValueAt(SectionPath(application, section), key);
}

} // namespace qx
