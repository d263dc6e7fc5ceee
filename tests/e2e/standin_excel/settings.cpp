#include "settings.h"

#include <cwchar>

namespace standin {
namespace {

constexpr wchar_t section[] = L"StandInExcel";

std::wstring settings_file() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const size_t dot = path.rfind(L'.');
    const size_t slash = path.rfind(L'\\');
    if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash))
        path.resize(dot);
    return path + L".ini";
}

std::wstring read_setting(const wchar_t* name) {
    const std::wstring file = settings_file();
    std::wstring value(256, L'\0');
    for (;;) {
        const DWORD length = GetPrivateProfileStringW(
            section, name, L"", value.data(), static_cast<DWORD>(value.size()), file.c_str());
        // A value that fills the buffer may have been cut short.
        if (length + 1 < value.size()) {
            value.resize(length);
            return value;
        }
        value.resize(value.size() * 2);
    }
}

} // namespace

std::wstring startup_path() {
    return read_setting(L"StartupPath");
}

std::wstring excel_version() {
    const std::wstring version = read_setting(L"Version");
    return version.empty() ? L"16.0" : version;
}

namespace {

bool setting_names(const wchar_t* name, std::wstring_view wanted) {
    const std::wstring named = read_setting(name);
    return CompareStringOrdinal(named.data(), static_cast<int>(named.size()), wanted.data(),
                                static_cast<int>(wanted.size()), TRUE) == CSTR_EQUAL;
}

// Far past any test, yet bounded: a server left behind by a test that died ends by itself.
constexpr DWORD default_hang_ms = 600000;

} // namespace

bool should_fail(std::wstring_view property) {
    return setting_names(L"Fail", property);
}

bool should_hang(std::wstring_view where) {
    return setting_names(L"Hang", where);
}

DWORD hang_ms() {
    return GetPrivateProfileIntW(section, L"HangMs", default_hang_ms, settings_file().c_str());
}

std::wstring fail_description() {
    const std::wstring written = read_setting(L"FailWith");
    std::wstring description;
    for (size_t i = 0; i < written.size(); ++i) {
        if (written[i] == L'\\' && i + 1 < written.size() &&
            (written[i + 1] == L'r' || written[i + 1] == L'n')) {
            description += written[++i] == L'r' ? L'\r' : L'\n';
        } else {
            description += written[i];
        }
    }
    return description;
}

std::wstring log_path() {
    return read_setting(L"Log");
}

namespace {

// "<request>:<milliseconds>"
BusyPeriod busy_period(const wchar_t* name) {
    const std::wstring value = read_setting(name);
    const size_t colon = value.rfind(L':');
    if (colon == std::wstring::npos)
        return {};
    return {value.substr(0, colon),
            static_cast<DWORD>(wcstoul(value.c_str() + colon + 1, nullptr, 10))};
}

} // namespace

BusyPeriod reject_calls() {
    return busy_period(L"RejectCalls");
}

BusyPeriod stall_calls() {
    return busy_period(L"StallCalls");
}

DWORD register_delay_ms() {
    return GetPrivateProfileIntW(section, L"RegisterDelayMs", 0, settings_file().c_str());
}

} // namespace standin
