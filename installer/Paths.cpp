#include "installer/Paths.h"

namespace qx {

std::wstring JoinPath(const std::wstring& folder, const std::wstring& backslashName) {
    if (!folder.empty() && folder.back() == L'\\' && !backslashName.empty() &&
        backslashName.front() == L'\\') {
        return folder + backslashName.substr(1);
    }
    return folder + backslashName;
}

} // namespace qx
