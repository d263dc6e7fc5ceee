#include "installer/Paths.h"

namespace qx {

std::wstring InstalledAddinFileName() {
    return std::wstring(kInstalledAddinName).substr(1);
}

std::wstring JoinPath(const std::wstring& folder, const std::wstring& backslashName) {
    if (!folder.empty() && folder.back() == L'\\' && !backslashName.empty() &&
        backslashName.front() == L'\\') {
        return folder + backslashName.substr(1);
    }
    return folder + backslashName;
}

} // namespace qx
