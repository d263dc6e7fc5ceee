#include "behaviour.h"

#include "host/ScopedWin.h"
#include "../common/utf8.h"

#include "host/WinApi.h"

namespace standin {
namespace {

bool read_variable(const wchar_t* name, std::wstring& value) {
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0)
        return false;
    value.assign(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, value.data(), size);
    value.resize(length);
    return true;
}

} // namespace

std::wstring startup_path() {
    std::wstring value;
    read_variable(L"STANDIN_EXCEL_STARTUP_PATH", value);
    return value;
}

bool should_fail(std::wstring_view property) {
    std::wstring value;
    if (!read_variable(L"STANDIN_EXCEL_FAIL", value))
        return false;
    return CompareStringOrdinal(value.data(), static_cast<int>(value.size()), property.data(),
                                static_cast<int>(property.size()), TRUE) == CSTR_EQUAL;
}

void log_event(std::wstring_view line) {
    std::wstring path;
    if (!read_variable(L"STANDIN_EXCEL_LOG", path) || path.empty())
        return;
    // Opened per event so the test can read the log while the host process is still running.
    const qx::UniqueHandle file(qx::NullIfInvalid(
        CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)));
    if (!file)
        return;
    const std::string bytes = e2e::to_utf8(line) + "\n";
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

} // namespace standin
