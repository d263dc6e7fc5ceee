#include "commands.h"

#include "host/ScopedWin.h"
#include "host/Win32Error.h"

#include <sddl.h>

#include <string>

namespace qxdriver {
namespace {

constexpr int exit_missing = 2;

// A root key and the registry view to see it through: "HKLM" is the driver's own (64-bit) view,
// "HKLM:32" what a 32-bit program sees, as a 32-bit Office installer writes it.
struct Root {
    HKEY key;
    REGSAM view;
};

Root parse_root(const std::wstring& text) {
    const size_t colon = text.find(L':');
    const std::wstring name = text.substr(0, colon);
    const std::wstring bits = colon == std::wstring::npos ? L"" : text.substr(colon + 1);
    Root root{nullptr, 0};
    if (name == L"HKCU")
        root.key = HKEY_CURRENT_USER;
    else if (name == L"HKLM")
        root.key = HKEY_LOCAL_MACHINE;
    else
        throw Failure("ROOT must be HKCU or HKLM, with :32 or :64 for a view, not " + utf8(text));
    if (bits == L"32")
        root.view = KEY_WOW64_32KEY;
    else if (bits == L"64")
        root.view = KEY_WOW64_64KEY;
    else if (!bits.empty())
        throw Failure("the view must be :32 or :64, not " + utf8(text));
    return root;
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

qx::UniqueHKey open_key(const Root& root, const std::wstring& path, REGSAM access,
                        LSTATUS& status) {
    HKEY raw = nullptr;
    status = RegOpenKeyExW(root.key, path.c_str(), 0, access | root.view, &raw);
    return qx::UniqueHKey(status == ERROR_SUCCESS ? raw : nullptr);
}

qx::UniqueHKey create_key(const Root& root, const std::wstring& path, DWORD options,
                          DWORD* disposition, LSTATUS& status) {
    HKEY raw = nullptr;
    status = RegCreateKeyExW(root.key, path.c_str(), 0, nullptr, options, KEY_SET_VALUE | root.view,
                             nullptr, &raw, disposition);
    return qx::UniqueHKey(status == ERROR_SUCCESS ? raw : nullptr);
}

// The key named by ROOT and KEY, open to read its values; none when it is missing, which is
// reported.
qx::UniqueHKey key_to_read(const Invocation& call) {
    LSTATUS status = ERROR_SUCCESS;
    qx::UniqueHKey key = open_key(parse_root(call.args[0]), call.args[1], KEY_QUERY_VALUE, status);
    if (status == ERROR_FILE_NOT_FOUND) {
        report_missing(status, call.args[1]);
        return qx::UniqueHKey();
    }
    check(status, "RegOpenKeyExW");
    return key;
}

} // namespace

int cmd_reg_get(const Invocation& call) {
    require_args(call, 3, "reg-get ROOT KEY VALUE");
    const qx::UniqueHKey key = key_to_read(call);
    if (!key)
        return exit_missing;
    LSTATUS status = ERROR_SUCCESS;
    std::wstring data;
    for (;;) {
        DWORD bytes = 0;
        status = RegGetValueW(key.get(), nullptr, value_name(call.args[2]), RRF_RT_REG_SZ, nullptr,
                              nullptr, &bytes);
        if (status == ERROR_FILE_NOT_FOUND)
            return report_missing(status, call.args[1] + L"\\" + call.args[2]);
        check(status, "RegGetValueW");
        data.assign(bytes / sizeof(wchar_t) + 1, L'\0');
        bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        status = RegGetValueW(key.get(), nullptr, value_name(call.args[2]), RRF_RT_REG_SZ, nullptr,
                              data.data(), &bytes);
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

int cmd_reg_get_dword(const Invocation& call) {
    require_args(call, 3, "reg-get-dword ROOT KEY VALUE");
    const qx::UniqueHKey key = key_to_read(call);
    if (!key)
        return exit_missing;
    DWORD number = 0;
    DWORD bytes = sizeof number;
    const LSTATUS status = RegGetValueW(key.get(), nullptr, value_name(call.args[2]),
                                        RRF_RT_REG_DWORD, nullptr, &number, &bytes);
    if (status == ERROR_FILE_NOT_FOUND)
        return report_missing(status, call.args[1] + L"\\" + call.args[2]);
    check(status, "RegGetValueW");
    write_stdout(std::to_string(number));
    return 0;
}

int cmd_reg_exists(const Invocation& call) {
    require_args(call, 2, "reg-exists ROOT KEY");
    LSTATUS status = ERROR_SUCCESS;
    const qx::UniqueHKey key = open_key(parse_root(call.args[0]), call.args[1], KEY_READ, status);
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

namespace {

// "0a1B..." as bytes: two hex digits a byte.
std::string parse_hex(const std::wstring& text) {
    if (text.size() % 2 != 0)
        throw Failure("HEXBYTES must have two digits a byte: " + utf8(text));
    const auto digit = [&](wchar_t c) {
        if (c >= L'0' && c <= L'9')
            return c - L'0';
        if (c >= L'a' && c <= L'f')
            return c - L'a' + 10;
        if (c >= L'A' && c <= L'F')
            return c - L'A' + 10;
        throw Failure("not a hex digit in HEXBYTES: " + utf8(text));
    };
    std::string bytes;
    for (size_t i = 0; i < text.size(); i += 2)
        bytes += static_cast<char>(digit(text[i]) * 16 + digit(text[i + 1]));
    return bytes;
}

std::string hex_of(const BYTE* data, DWORD size) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (DWORD i = 0; i < size; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 0xF];
    }
    return text;
}

} // namespace

// As Excel keeps one disabled item: a binary value.
int cmd_reg_set_binary(const Invocation& call) {
    require_args(call, 4, "reg-set-binary ROOT KEY VALUE HEXBYTES");
    const std::string bytes = parse_hex(call.args[3]);
    LSTATUS status = ERROR_SUCCESS;
    const qx::UniqueHKey key = create_key(parse_root(call.args[0]), call.args[1],
                                          REG_OPTION_NON_VOLATILE, nullptr, status);
    check(status, "RegCreateKeyExW");
    check(RegSetValueExW(key.get(), value_name(call.args[2]), 0, REG_BINARY,
                         reinterpret_cast<const BYTE*>(bytes.data()),
                         static_cast<DWORD>(bytes.size())),
          "RegSetValueExW");
    return 0;
}

// Every value of the key, as [{"name", "type", "hex"}] in the registry's order, so that a test
// sees which values are left and that they are unchanged.
int cmd_reg_list_values(const Invocation& call) {
    require_args(call, 2, "reg-list-values ROOT KEY");
    const qx::UniqueHKey key = key_to_read(call);
    if (!key)
        return exit_missing;
    std::string listed;
    for (DWORD index = 0;; ++index) {
        std::wstring name(16384, L'\0');
        std::string data(64 * 1024, '\0');
        DWORD name_length = static_cast<DWORD>(name.size());
        DWORD data_size = static_cast<DWORD>(data.size());
        DWORD type = 0;
        const LSTATUS status =
            RegEnumValueW(key.get(), index, name.data(), &name_length, nullptr, &type,
                          reinterpret_cast<BYTE*>(data.data()), &data_size);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        check(status, "RegEnumValueW");
        name.resize(name_length);
        listed += std::string(listed.empty() ? "" : ",") + "{\"name\":" + json_string(name) +
                  ",\"type\":" + std::to_string(type) + ",\"hex\":\"" +
                  hex_of(reinterpret_cast<const BYTE*>(data.data()), data_size) + "\"}";
    }
    write_stdout("[" + listed + "]\n");
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
    // RegDeleteTreeW opens the subkeys it names in the caller's own view, so the key is opened in
    // the asked view first, emptied, then removed in that view.
    const Root root = parse_root(call.args[0]);
    LSTATUS status = ERROR_SUCCESS;
    const qx::UniqueHKey key =
        open_key(root, call.args[1],
                 DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE, status);
    if (status == ERROR_FILE_NOT_FOUND)
        return report_missing(status, call.args[1]);
    check(status, "RegOpenKeyExW");
    check(RegDeleteTreeW(key.get(), nullptr), "RegDeleteTreeW");
    check(RegDeleteKeyExW(root.key, call.args[1].c_str(), root.view, 0), "RegDeleteKeyExW");
    return 0;
}

// Wine enforces a key's access list: with only reading allowed, the program's writes there fail
// with ERROR_ACCESS_DENIED, as under a locked-down profile.
int cmd_reg_deny_writes(const Invocation& call) {
    require_args(call, 2, "reg-deny-writes ROOT KEY");
    LSTATUS status = ERROR_SUCCESS;
    const qx::UniqueHKey key = open_key(parse_root(call.args[0]), call.args[1], WRITE_DAC, status);
    check(status, "RegOpenKeyExW");
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
