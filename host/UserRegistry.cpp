#include "host/UserRegistry.h"

#include "host/ScopedWin.h"
#include "host/Win32Error.h"

namespace qx {

namespace {

// A value of another type than asked counts as absent.
HostError RegistryFailure(LSTATUS status) {
    HostError error = Win32Failure(static_cast<DWORD>(status));
    error.notFound = error.notFound || status == ERROR_UNSUPPORTED_TYPE;
    return error;
}

// A string value of one of `types` (RRF_RT_…); failures as Windows numbers them.
Outcome<std::wstring> ReadString(const std::wstring& key, const std::wstring& name, DWORD types) {
    std::wstring value;
    for (;;) {
        // The size asked first may grow before the read; then the read is simply asked again.
        DWORD bytes = 0;
        LSTATUS status = RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name.c_str(), types, nullptr,
                                      nullptr, &bytes);
        if (status != ERROR_SUCCESS) {
            return Win32Failure(static_cast<DWORD>(status));
        }
        value.resize(bytes / sizeof(wchar_t) + 1);
        bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
        status = RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name.c_str(), types, nullptr,
                              value.data(), &bytes);
        if (status == ERROR_MORE_DATA) {
            continue;
        }
        if (status != ERROR_SUCCESS) {
            return Win32Failure(static_cast<DWORD>(status));
        }
        value.resize(bytes / sizeof(wchar_t));
        while (!value.empty() && value.back() == L'\0') {
            value.pop_back();
        }
        return value;
    }
}

} // namespace

Outcome<UniqueHKey> OpenUserKey(const std::wstring& key, REGSAM access) {
    HKEY opened = nullptr;
    if (const LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, access, &opened);
        status != ERROR_SUCCESS) {
        return Win32Failure(static_cast<DWORD>(status));
    }
    return UniqueHKey(opened);
}

Outcome<std::uint32_t> ReadUserDword(const std::wstring& key, const std::wstring& name) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (const LSTATUS status = RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name.c_str(),
                                            RRF_RT_REG_DWORD, nullptr, &value, &size);
        status != ERROR_SUCCESS) {
        return RegistryFailure(status);
    }
    return std::uint32_t{value};
}

Outcome<std::wstring> ReadUserString(const std::wstring& key, const std::wstring& name) {
    auto read = ReadString(key, name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND);
    if (!read && read.error().number == ERROR_UNSUPPORTED_TYPE) {
        return RegistryFailure(ERROR_UNSUPPORTED_TYPE);
    }
    return read;
}

Outcome<std::wstring> ReadUserRegSz(const std::wstring& key, const std::wstring& name) {
    return ReadString(key, name, RRF_RT_REG_SZ);
}

Outcome<std::vector<std::wstring>> UserSubkeys(const std::wstring& key) {
    auto opened = OpenUserKey(key, KEY_ENUMERATE_SUB_KEYS);
    if (!opened) {
        return opened.error();
    }
    std::vector<std::wstring> names;
    // A key name is at most 255 characters.
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        const LSTATUS status = RegEnumKeyExW(opened.value().get(), index, name, &length, nullptr,
                                             nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            return names;
        }
        if (status != ERROR_SUCCESS) {
            return RegistryFailure(status);
        }
        names.emplace_back(name, length);
    }
}

Outcome<std::vector<RegistryValue>> UserValues(const std::wstring& key) {
    auto opened = OpenUserKey(key, KEY_QUERY_VALUE);
    if (!opened) {
        return opened.error();
    }
    const HKEY handle = opened.value().get();
    DWORD longestName = 0;
    DWORD longestData = 0;
    if (const LSTATUS status =
            RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             &longestName, &longestData, nullptr, nullptr);
        status != ERROR_SUCCESS) {
        return RegistryFailure(status);
    }
    std::vector<RegistryValue> values;
    std::wstring name(longestName + 1, L'\0');
    std::string data(longestData, '\0');
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataLength = static_cast<DWORD>(data.size());
        const LSTATUS status =
            RegEnumValueW(handle, index, name.data(), &nameLength, nullptr, nullptr,
                          reinterpret_cast<BYTE*>(data.data()), &dataLength);
        if (status == ERROR_NO_MORE_ITEMS) {
            return values;
        }
        if (status != ERROR_SUCCESS) {
            // ERROR_MORE_DATA: a value grew while it was listed; the list is not to be trusted.
            return RegistryFailure(status);
        }
        values.push_back({name.substr(0, nameLength), data.substr(0, dataLength)});
    }
}

Status DeleteUserValueAt(const std::wstring& key, const std::wstring& name) {
    auto opened = OpenUserKey(key, KEY_SET_VALUE);
    if (!opened) {
        return opened.error();
    }
    if (const LSTATUS status = RegDeleteValueW(opened.value().get(), name.c_str());
        status != ERROR_SUCCESS) {
        return RegistryFailure(status);
    }
    return Completed();
}

} // namespace qx
