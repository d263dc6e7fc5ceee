#include "commands.h"

#include "host/ScopedWin.h"
#include "host/Win32Error.h"

#include <sddl.h>

#include <string>

namespace qxdriver {
namespace {

constexpr int exit_missing = 2;

HKEY parse_root(const std::wstring& name) {
    if (name == L"HKCU")
        return HKEY_CURRENT_USER;
    if (name == L"HKLM")
        return HKEY_LOCAL_MACHINE;
    throw Failure("ROOT must be HKCU or HKLM, not " + utf8(name));
}

// An empty value name means the key's default value, as in the registry APIs.
const wchar_t* value_name(const std::wstring& name) {
    return name.empty() ? nullptr : name.c_str();
}

void check(LSTATUS status, const char* what) {
    if (status != ERROR_SUCCESS)
        throw Failure(std::string(what) + " failed: " + win32_error_text(status));
}

int report_missing(LSTATUS status, const std::wstring& key) {
    write_stderr("not found: " + utf8(key) + ": " + win32_error_text(status) + "\n");
    return exit_missing;
}

qx::UniqueHKey create_key(HKEY root, const std::wstring& path, DWORD options, DWORD* disposition,
                          LSTATUS& status) {
    HKEY raw = nullptr;
    status = RegCreateKeyExW(root, path.c_str(), 0, nullptr, options, KEY_SET_VALUE, nullptr, &raw,
                             disposition);
    return qx::UniqueHKey(status == ERROR_SUCCESS ? raw : nullptr);
}

} // namespace

int cmd_reg_get(const Invocation& call) {
    require_args(call, 3, "reg-get ROOT KEY VALUE");
    const HKEY root = parse_root(call.args[0]);
    std::wstring data;
    for (;;) {
        DWORD bytes = 0;
        LSTATUS status = RegGetValueW(root, call.args[1].c_str(), value_name(call.args[2]),
                                      RRF_RT_REG_SZ, nullptr, nullptr, &bytes);
        if (status == ERROR_FILE_NOT_FOUND)
            return report_missing(status, call.args[1] + L"\\" + call.args[2]);
        check(status, "RegGetValueW");
        data.assign(bytes / sizeof(wchar_t) + 1, L'\0');
        bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        status = RegGetValueW(root, call.args[1].c_str(), value_name(call.args[2]), RRF_RT_REG_SZ,
                              nullptr, data.data(), &bytes);
        if (status == ERROR_MORE_DATA)
            continue;
        check(status, "RegGetValueW");
        data.resize(bytes / sizeof(wchar_t));
        while (!data.empty() && data.back() == L'\0')
            data.pop_back();
        write_stdout(utf8(data));
        return 0;
    }
}

int cmd_reg_exists(const Invocation& call) {
    require_args(call, 2, "reg-exists ROOT KEY");
    HKEY raw = nullptr;
    const LSTATUS status =
        RegOpenKeyExW(parse_root(call.args[0]), call.args[1].c_str(), 0, KEY_READ, &raw);
    const qx::UniqueHKey key(status == ERROR_SUCCESS ? raw : nullptr);
    if (status == ERROR_FILE_NOT_FOUND)
        return report_missing(status, call.args[1]);
    check(status, "RegOpenKeyExW");
    return 0;
}

int cmd_reg_set(const Invocation& call) {
    require_args(call, 4, "reg-set ROOT KEY VALUE DATA");
    LSTATUS status = ERROR_SUCCESS;
    const qx::UniqueHKey key = create_key(parse_root(call.args[0]), call.args[1],
                                          REG_OPTION_NON_VOLATILE, nullptr, status);
    check(status, "RegCreateKeyExW");
    const std::wstring& data = call.args[3];
    check(RegSetValueExW(key.get(), value_name(call.args[2]), 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(data.c_str()),
                         static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))),
          "RegSetValueExW");
    return 0;
}

int cmd_reg_set_dword(const Invocation& call) {
    require_args(call, 4, "reg-set-dword ROOT KEY VALUE NUMBER");
    LSTATUS status = ERROR_SUCCESS;
    const qx::UniqueHKey key = create_key(parse_root(call.args[0]), call.args[1],
                                          REG_OPTION_NON_VOLATILE, nullptr, status);
    check(status, "RegCreateKeyExW");
    const auto number = static_cast<DWORD>(parse_number(call.args[3]));
    check(RegSetValueExW(key.get(), value_name(call.args[2]), 0, REG_DWORD,
                         reinterpret_cast<const BYTE*>(&number), sizeof number),
          "RegSetValueExW");
    return 0;
}

int cmd_reg_make_volatile(const Invocation& call) {
    require_args(call, 2, "reg-make-volatile ROOT KEY");
    LSTATUS status = ERROR_SUCCESS;
    DWORD disposition = 0;
    const qx::UniqueHKey key = create_key(parse_root(call.args[0]), call.args[1],
                                          REG_OPTION_VOLATILE, &disposition, status);
    check(status, "RegCreateKeyExW");
    // An existing key keeps whatever kind it was, so it would not refuse anything.
    if (disposition != REG_CREATED_NEW_KEY)
        throw Failure("key already existed, so it is not volatile: " + utf8(call.args[1]));
    return 0;
}

int cmd_reg_create(const Invocation& call) {
    require_args(call, 2, "reg-create ROOT KEY");
    LSTATUS status = ERROR_SUCCESS;
    const qx::UniqueHKey key = create_key(parse_root(call.args[0]), call.args[1],
                                          REG_OPTION_NON_VOLATILE, nullptr, status);
    write_stdout(std::to_string(status) + "\n");
    check(status, "RegCreateKeyExW");
    return 0;
}

int cmd_reg_delete_tree(const Invocation& call) {
    require_args(call, 2, "reg-delete-tree ROOT KEY");
    const LSTATUS status = RegDeleteTreeW(parse_root(call.args[0]), call.args[1].c_str());
    if (status == ERROR_FILE_NOT_FOUND)
        return report_missing(status, call.args[1]);
    check(status, "RegDeleteTreeW");
    return 0;
}

// Wine enforces a key's access list: with only reading allowed, the program's writes there fail
// with ERROR_ACCESS_DENIED, as under a locked-down profile.
int cmd_reg_deny_writes(const Invocation& call) {
    require_args(call, 2, "reg-deny-writes ROOT KEY");
    HKEY raw = nullptr;
    check(RegOpenKeyExW(parse_root(call.args[0]), call.args[1].c_str(), 0, WRITE_DAC, &raw),
          "RegOpenKeyExW");
    const qx::UniqueHKey key(raw);
    PSECURITY_DESCRIPTOR made = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;KR;;;WD)", SDDL_REVISION_1,
                                                              &made, nullptr))
        throw Failure("ConvertStringSecurityDescriptorToSecurityDescriptorW failed: " +
                      win32_error_text(GetLastError()));
    const qx::UniqueLocalMemory<void> descriptor(made);
    check(RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor.get()),
          "RegSetKeySecurity");
    return 0;
}

int cmd_describe(const Invocation& call) {
    require_args(call, 1, "describe N");
    const auto code = static_cast<DWORD>(parse_number(call.args[0]));
    std::wstring text = qx::SystemErrorText(code);
    if (text.empty())
        throw Failure("the system has no text for " + hex32(code));
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n'))
        text.pop_back();
    write_stdout(utf8(text));
    return 0;
}

} // namespace qxdriver
