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

std::wstring ParentFolder(const std::wstring& folder) {
    std::wstring parent = folder;
    while (!parent.empty() && parent.back() == L'\\') {
        parent.pop_back();
    }
    const auto separator = parent.find_last_of(L'\\');
    if (separator == std::wstring::npos) {
        return folder;
    }
    parent.resize(separator);
    return parent;
}

} // namespace qx
