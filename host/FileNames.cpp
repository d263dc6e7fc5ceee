#include "host/FileNames.h"

#include "host/Environment.h"
#include "host/Win32Error.h"

#include <vector>

namespace qx {

namespace {

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
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

// The long form of a path that exists; "" when it does not (or cannot be looked at).
std::wstring LongPathIfThere(const std::wstring& path) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetLongPathNameW(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return std::wstring();
        }
        if (length < buffer.size()) {
            return std::wstring(buffer.data(), length);
        }
        buffer.resize(length);
    }
}

bool NamesAVariable(const std::wstring& name) {
    if (name.empty()) {
        return false;
    }
    for (const wchar_t c : name) {
        if (IsSeparator(c)) {
            return false;
        }
    }
    return true;
}

// The first %NAME% in `text` that this run's environment lacks, read as ExpandEnvironmentStringsW
// reads it: a name it finds is replaced and skipped whole; one it does not find is left in
// place, and its closing "%" may open the next. "" when there is none. Text between two "%" that
// holds a separator is part of a path ("C:\100%\a%b"), not a name.
std::wstring MissingVariableIn(const std::wstring& text) {
    std::size_t at = text.find(L'%');
    while (at != std::wstring::npos) {
        const std::size_t closing = text.find(L'%', at + 1);
        if (closing == std::wstring::npos) {
            break;
        }
        const std::wstring name = text.substr(at + 1, closing - at - 1);
        if (!name.empty() && GetEnvironmentVariableW(name.c_str(), nullptr, 0) != 0) {
            at = text.find(L'%', closing + 1);
            continue;
        }
        if (NamesAVariable(name)) {
            return name;
        }
        at = closing;
    }
    return std::wstring();
}

Outcome<std::wstring> ExpandedLongForm(const std::wstring& path) {
    if (const std::wstring missing = MissingVariableIn(path); !missing.empty()) {
        HostError error = Win32Failure(ERROR_ENVVAR_NOT_FOUND);
        // One line for the log, naming what is missing.
        while (!error.description.empty() &&
               (error.description.back() == L'\n' || error.description.back() == L'\r')) {
            error.description.pop_back();
        }
        error.description += L" (%" + missing + L"%)";
        return error;
    }
    const auto expanded = ExpandEnvironmentText(path);
    if (!expanded) {
        return expanded.error();
    }
    return LongFormOf(expanded.value());
}

} // namespace

bool SameFileNames(const std::wstring& first, const std::wstring& second) {
    return CompareStringOrdinal(first.data(), static_cast<int>(first.size()), second.data(),
                                static_cast<int>(second.size()), TRUE) == CSTR_EQUAL;
}

std::wstring LongFormOf(const std::wstring& path) {
    std::wstring there = Tidied(path);
    std::wstring rest;
    for (;;) {
        if (const std::wstring found = Tidied(LongPathIfThere(there)); !found.empty()) {
            // A root keeps its separator, and the rest begins with one.
            return found.back() == L'\\' && !rest.empty() ? found + rest.substr(1) : found + rest;
        }
        const std::size_t cut = there.find_last_of(L'\\');
        // Nothing of it is there: not even a drive's root, or a server's share.
        if (cut == std::wstring::npos || cut < 2) {
            return Tidied(path);
        }
        if (cut == 2 && there[1] == L':') {
            if (there.size() == 3) {
                return Tidied(path);
            }
            rest = there.substr(cut) + rest;
            there.erase(cut + 1);
            continue;
        }
        rest = there.substr(cut) + rest;
        there.erase(cut);
    }
}

bool LongLocationCovers(const std::wstring& location, const std::wstring& folder,
                        bool withSubfolders) {
    if (SameFileNames(location, folder)) {
        return true;
    }
    if (!withSubfolders || folder.size() <= location.size() || location.empty() ||
        !SameFileNames(folder.substr(0, location.size()), location)) {
        return false;
    }
    // Only at a separator: "XLSTA" does not cover "XLSTART". A root ("C:\") ends in one.
    return location.back() == L'\\' || folder[location.size()] == L'\\';
}

Outcome<bool> LocationCovers(const std::wstring& location, const std::wstring& folder,
                             bool withSubfolders) {
    const auto longLocation = ExpandedLongForm(location);
    if (!longLocation) {
        return longLocation.error();
    }
    const auto longFolder = ExpandedLongForm(folder);
    if (!longFolder) {
        return longFolder.error();
    }
    return LongLocationCovers(longLocation.value(), longFolder.value(), withSubfolders);
}

} // namespace qx
