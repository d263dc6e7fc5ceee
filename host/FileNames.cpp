#include "host/FileNames.h"

#include "host/Win32Error.h"

namespace qx {

namespace {

bool SameNames(const wchar_t* first, std::size_t firstSize, const wchar_t* second,
               std::size_t secondSize) {
    return CompareStringOrdinal(first, static_cast<int>(firstSize), second,
                                static_cast<int>(secondSize), TRUE) == CSTR_EQUAL;
}

// Windows takes "/" for "\"; a folder named with a trailing separator is the same folder. A
// drive's root ("C:\") keeps its separator, as does a path of separators only.
std::wstring Tidied(std::wstring path) {
    for (wchar_t& c : path) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    while (path.size() > 1 && path.back() == L'\\' && !(path.size() == 3 && path[1] == L':')) {
        path.pop_back();
    }
    return path;
}

// Windows' longest path, with its terminating NUL.
constexpr DWORD kLongestPath = 32768;

// A %NAME% that ExpandEnvironmentStringsW left as written, as it leaves a variable the run lacks.
// Text between two "%" that holds a separator is part of a path ("C:\100%\a%b"), not a name.
bool LeftUnexpanded(const wchar_t* text) {
    const wchar_t* opening = nullptr;
    for (; *text != L'\0'; ++text) {
        if (*text == L'\\' || *text == L'/') {
            opening = nullptr;
        } else if (*text == L'%') {
            if (opening && text > opening + 1) {
                return true;
            }
            opening = text;
        }
    }
    return false;
}

// `path` with its environment variables expanded, by its long names: 0, or why not.
DWORD ExpandedLongForm(const std::wstring& path, std::wstring& longForm) {
    wchar_t expanded[kLongestPath];
    const DWORD length = ExpandEnvironmentStringsW(path.c_str(), expanded, kLongestPath);
    if (length == 0 || length > kLongestPath) {
        return length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
    }
    if (LeftUnexpanded(expanded)) {
        return ERROR_ENVVAR_NOT_FOUND;
    }
    longForm = LongFormOf(expanded);
    return 0;
}

} // namespace

bool SameFileNames(const std::wstring& first, const std::wstring& second) {
    return SameNames(first.data(), first.size(), second.data(), second.size());
}

std::wstring LongFormOf(const std::wstring& path) {
    const std::wstring whole = Tidied(path);
    if (whole.size() >= kLongestPath) {
        return whole;
    }
    wchar_t head[kLongestPath];
    wchar_t found[kLongestPath];
    // The whole path, then each leading part, ending at a separator, until one is there.
    for (std::size_t end = whole.size(); end != std::wstring::npos && end > 0;
         end = whole.rfind(L'\\', end - 1)) {
        // A drive's root is looked up with its separator ("C:\").
        const std::size_t kept = end == 2 && whole[1] == L':' ? 3 : end;
        head[whole.copy(head, kept)] = L'\0';
        const DWORD length = GetLongPathNameW(head, found, kLongestPath);
        if (length != 0 && length < kLongestPath) {
            // Looked up without a trailing separator, a part comes back without one; a root
            // comes back with its own, and the rest then begins after it.
            return std::wstring(found, length) + (whole.c_str() + kept);
        }
    }
    return whole;
}

bool LongLocationCovers(const std::wstring& location, const std::wstring& folder,
                        bool withSubfolders) {
    if (SameFileNames(location, folder)) {
        return true;
    }
    if (!withSubfolders || folder.size() <= location.size() || location.empty() ||
        !SameNames(folder.data(), location.size(), location.data(), location.size())) {
        return false;
    }
    // Only at a separator: "XLSTA" does not cover "XLSTART". A root ("C:\") ends in one.
    return location.back() == L'\\' || folder[location.size()] == L'\\';
}

Outcome<bool> LocationCovers(const std::wstring& location, const std::wstring& folder,
                             bool withSubfolders) {
    std::wstring longLocation;
    std::wstring longFolder;
    DWORD error = ExpandedLongForm(location, longLocation);
    if (error == 0) {
        error = ExpandedLongForm(folder, longFolder);
    }
    if (error != 0) {
        return Win32Failure(error);
    }
    return LongLocationCovers(longLocation, longFolder, withSubfolders);
}

} // namespace qx
