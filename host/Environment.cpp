#include "host/Environment.h"

#include "host/Win32Error.h"

#include <vector>

namespace qx {

Outcome<std::wstring> ExpandEnvironmentText(const std::wstring& text) {
    std::vector<wchar_t> expanded(text.size() + 1);
    for (;;) {
        const DWORD length = ExpandEnvironmentStringsW(text.c_str(), expanded.data(),
                                                       static_cast<DWORD>(expanded.size()));
        if (length == 0) {
            return LastWin32Failure();
        }
        if (length <= expanded.size()) {
            return std::wstring(expanded.data(), length - 1);
        }
        expanded.resize(length);
    }
}

} // namespace qx
