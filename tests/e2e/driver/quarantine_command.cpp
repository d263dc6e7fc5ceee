#include "commands.h"

#include "tests/e2e/tool_owners.h"

#include <string>

namespace qxdriver {
namespace {

std::wstring folder_of(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos || slash == 0)
        throw Failure("PATH must name a file in a folder: " + utf8(path));
    return path.substr(0, slash);
}

// Watches the folder that holds PATH for the changes given, and says so on the first line the
// test waits for.
qxtools::UniqueChangeNotification watch_folder_of(const std::wstring& path, DWORD changes) {
    const std::wstring folder = folder_of(path);
    qxtools::UniqueChangeNotification notification(
        FindFirstChangeNotificationW(folder.c_str(), FALSE, changes));
    if (!notification)
        throw Failure("FindFirstChangeNotificationW failed: " + win32_error_text(GetLastError()));
    write_stdout("{\"pid\":" + std::to_string(GetCurrentProcessId()) +
                 ",\"watching\":" + json_string(folder) + "}\n");
    return notification;
}

} // namespace

// As a security program quarantines a file it takes for a threat: it watches the file's folder
// and deletes the file the moment it appears there, every time, until the test kills the
// process (or the timeout passes). The folder's change notification wakes it at once; the
// short poll is a backstop for a notification the system merged or dropped.
int cmd_quarantine(const Invocation& call) {
    require_args(call, 1, "quarantine PATH");
    const std::wstring& path = call.args[0];
    const qxtools::UniqueChangeNotification changes =
        watch_folder_of(path, FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE |
                                  FILE_NOTIFY_CHANGE_LAST_WRITE);
    const ULONGLONG started = GetTickCount64();
    const Deadline deadline(call.timeout_ms);
    while (!deadline.passed()) {
        if (DeleteFileW(path.c_str())) {
            write_stdout("{\"deleted\":" + json_string(path) +
                         ",\"ms\":" + std::to_string(GetTickCount64() - started) + "}\n");
        } else if (const DWORD error = GetLastError();
                   error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            // Held open by someone for the moment: tried again at the next look.
            write_stderr("could not delete " + utf8(path) + ": " + win32_error_text(error) + "\n");
        }
        if (WaitForSingleObject(changes.get(), poll_interval_ms) == WAIT_OBJECT_0 &&
            !FindNextChangeNotification(changes.get()))
            throw Failure("FindNextChangeNotification failed: " + win32_error_text(GetLastError()));
    }
    return 0;
}

// As a resident security program scans a new file: the moment PATH appears it opens it, sharing
// it with nobody, so that anyone else opening it meanwhile meets a sharing violation; it holds it
// for MS milliseconds, then lets go and ends.
int cmd_scan(const Invocation& call) {
    require_args(call, 2, "scan PATH MS");
    const std::wstring& path = call.args[0];
    const long long hold_ms = parse_number(call.args[1]);
    if (hold_ms < 0)
        throw Failure("MS must not be negative");
    const qxtools::UniqueChangeNotification changes =
        watch_folder_of(path, FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE);
    const ULONGLONG started = GetTickCount64();
    const Deadline deadline(call.timeout_ms);
    while (!deadline.passed()) {
        qx::UniqueFile file(qx::OpenFileHandle(path.c_str(), GENERIC_READ, 0, OPEN_EXISTING,
                                               FILE_ATTRIBUTE_NORMAL));
        if (file) {
            write_stdout("{\"held\":" + json_string(path) +
                         ",\"ms\":" + std::to_string(GetTickCount64() - started) + "}\n");
            Sleep(static_cast<DWORD>(hold_ms));
            file.reset();
            write_stdout("{\"released\":" + json_string(path) +
                         ",\"ms\":" + std::to_string(GetTickCount64() - started) + "}\n");
            return 0;
        }
        if (const DWORD error = GetLastError();
            error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            // Open elsewhere without sharing for the moment: tried again at the next look.
            write_stderr("could not open " + utf8(path) + ": " + win32_error_text(error) + "\n");
        }
        if (WaitForSingleObject(changes.get(), poll_interval_ms) == WAIT_OBJECT_0 &&
            !FindNextChangeNotification(changes.get()))
            throw Failure("FindNextChangeNotification failed: " + win32_error_text(GetLastError()));
    }
    throw Failure(utf8(path) + " did not appear");
}

} // namespace qxdriver
