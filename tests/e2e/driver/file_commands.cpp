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

// The 8.3 name of a path that exists, as an old shortcut or a variable may spell it.
int cmd_short_path(const Invocation& call) {
    require_args(call, 1, "short-path PATH");
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetShortPathNameW(call.args[0].c_str(), path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            throw Failure("GetShortPathNameW failed: " + win32_error_text(GetLastError()));
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(length);
    }
    write_stdout(utf8(path));
    return 0;
}

} // namespace qxdriver
