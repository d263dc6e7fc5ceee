#include "commands.h"

#include <string>

namespace qxdriver {

int cmd_file_attributes(const Invocation& call) {
    require_args(call, 1, "file-attributes PATH");
    const DWORD attributes = GetFileAttributesW(call.args[0].c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        throw Failure("GetFileAttributesW failed: " + win32_error_text(GetLastError()));
    write_stdout(std::to_string(attributes) + "\n");
    return 0;
}

} // namespace qxdriver

namespace qxdriver {

// The user's temporary folder as Windows gives it to programs.
int cmd_temp_folder(const Invocation& call) {
    require_args(call, 0, "temp-folder");
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH)
        throw Failure("GetTempPathW failed: " + win32_error_text(GetLastError()));
    write_stdout(utf8(std::wstring(folder, length)));
    return 0;
}

namespace {

// What GetShortPathNameW or GetLongPathNameW makes of a path, the buffer grown until it fits.
template <typename Convert>
std::wstring converted_path(const Invocation& call, Convert convert, const char* name) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            convert(call.args[0].c_str(), path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            throw Failure(std::string(name) + " failed: " + win32_error_text(GetLastError()));
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(length);
    }
}

} // namespace

// The 8.3 name of a path that exists, as an old shortcut or a variable may spell it.
int cmd_short_path(const Invocation& call) {
    require_args(call, 1, "short-path PATH");
    write_stdout(utf8(converted_path(call, GetShortPathNameW, "GetShortPathNameW")));
    return 0;
}

// The long name of a path that exists, as a program comparing folders sees it (which letters
// keep the case they were given in is the system's business).
int cmd_long_path(const Invocation& call) {
    require_args(call, 1, "long-path PATH");
    write_stdout(utf8(converted_path(call, GetLongPathNameW, "GetLongPathNameW")));
    return 0;
}

} // namespace qxdriver
