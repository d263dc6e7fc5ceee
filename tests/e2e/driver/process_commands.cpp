#include "commands.h"

#include "host/ScopedWin.h"
#include "toplevel.h"
#include "tests/e2e/tool_owners.h"

#include <psapi.h>
#include <sddl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <string>
#include <vector>

namespace qxdriver {

namespace {

// The ids of every process running that image, by its file name in any letter case.
std::vector<DWORD> processes_of(const std::wstring& image) {
    const qxtools::UniqueSnapshot snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        throw Failure("CreateToolhelp32Snapshot failed: " + win32_error_text(GetLastError()));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    std::vector<DWORD> ids;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (CompareStringOrdinal(entry.szExeFile, -1, image.c_str(), -1, TRUE) == CSTR_EQUAL)
            ids.push_back(entry.th32ProcessID);
    }
    return ids;
}

std::string json_ids(const std::vector<DWORD>& ids) {
    std::string list;
    for (const DWORD id : ids)
        list += (list.empty() ? "" : ",") + std::to_string(id);
    return "[" + list + "]\n";
}

} // namespace

// Lets a test see a process nobody handed it, such as a server COM started.
int cmd_processes(const Invocation& call) {
    require_args(call, 1, "processes IMAGE_NAME");
    write_stdout(json_ids(processes_of(call.args[0])));
    return 0;
}

// Ends every process of that image at once, as Task Manager's End task does, so that a run a
// failed test left behind (its box or window still open) cannot keep the next one out.
int cmd_terminate(const Invocation& call) {
    require_args(call, 1, "terminate IMAGE_NAME");
    const std::vector<DWORD> ids = processes_of(call.args[0]);
    for (const DWORD id : ids) {
        const qx::UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
        if (!process || !TerminateProcess(process.get(), 1) ||
            WaitForSingleObject(process.get(), call.timeout_ms) != WAIT_OBJECT_0)
            throw Failure("could not end process " + std::to_string(id) + ": " +
                          win32_error_text(GetLastError()));
    }
    write_stdout(json_ids(ids));
    return 0;
}

// The files a running process has loaded, and whether it runs as 32-bit code, so that a test can
// see where its DLLs came from (for a 32-bit process on 64-bit Windows: SysWOW64).
int cmd_modules(const Invocation& call) {
    require_args(call, 1, "modules PID");
    const auto pid = static_cast<DWORD>(parse_number(call.args[0]));
    const qx::UniqueHandle process(
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
    if (!process)
        throw Failure("OpenProcess failed: " + win32_error_text(GetLastError()));
    BOOL wow64 = FALSE;
    if (!IsWow64Process(process.get(), &wow64))
        throw Failure("IsWow64Process failed: " + win32_error_text(GetLastError()));
    std::vector<HMODULE> modules(512);
    DWORD needed = 0;
    if (!EnumProcessModulesEx(process.get(), modules.data(),
                              static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &needed,
                              LIST_MODULES_ALL))
        throw Failure("EnumProcessModulesEx failed: " + win32_error_text(GetLastError()));
    modules.resize(std::min<size_t>(modules.size(), needed / sizeof(HMODULE)));
    std::string paths;
    for (const HMODULE module : modules) {
        wchar_t path[MAX_PATH * 4] = {};
        if (GetModuleFileNameExW(process.get(), module, path, MAX_PATH * 4))
            paths += (paths.empty() ? "" : ",") + json_string(path);
    }
    write_stdout(std::string("{\"bits\":") + (wow64 ? "32" : "64") + ",\"modules\":[" + paths +
                 "]}\n");
    return 0;
}

namespace {

// Quoted so that the C runtime's split gives the argument back unchanged: backslashes double
// only before a quote, and quotes are escaped.
std::wstring quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos)
        return argument;
    std::wstring text = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        text.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        text += c;
    }
    text.append(backslashes * 2, L'\\');
    return text + L"\"";
}

struct SeenWindows {
    DWORD process_id;
    std::vector<std::wstring> titles;
    bool any_now = false;
};

BOOL CALLBACK note_visible_window(HWND hwnd, LPARAM param) {
    auto* seen = reinterpret_cast<SeenWindows*>(param);
    if (process_of(hwnd) != seen->process_id || !IsWindowVisible(hwnd))
        return TRUE;
    seen->any_now = true;
    const std::wstring title = window_text(hwnd);
    if (std::find(seen->titles.begin(), seen->titles.end(), title) == seen->titles.end())
        seen->titles.push_back(title);
    return TRUE;
}

} // namespace

// Wine hands Unix only the low byte of an exit code; the whole code needs a Windows parent.
// While it waits, it notes every visible top-level window of the program, so that a test can
// tell a run that showed nothing. A box waits for its answer and the success window for a
// click, so a 10 ms look-out misses neither. It also says whether the program ran as 32-bit
// code on this 64-bit system (WoW64), so that a test knows which build it really ran, and how
// long the program went on after its last window was gone (null when it showed none).
int cmd_run(const Invocation& call) {
    if (call.args.empty())
        throw Failure("usage: qxdriver run EXE [ARGS...]");
    std::wstring command_line = quoted(call.args[0]);
    for (size_t i = 1; i < call.args.size(); ++i)
        command_line += L" " + quoted(call.args[i]);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(call.args[0].c_str(), command_line.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &started))
        throw Failure("CreateProcessW failed: " + win32_error_text(GetLastError()));
    const qx::UniqueHandle process(started.hProcess);
    const qx::UniqueHandle thread(started.hThread);
    BOOL wow64 = FALSE;
    if (!IsWow64Process(process.get(), &wow64))
        throw Failure("IsWow64Process failed: " + win32_error_text(GetLastError()));
    SeenWindows seen{started.dwProcessId, {}};
    const Deadline deadline(call.timeout_ms);
    ULONGLONG last_window_seen = 0;
    while (WaitForSingleObject(process.get(), 10) == WAIT_TIMEOUT) {
        seen.any_now = false;
        EnumWindows(note_visible_window, reinterpret_cast<LPARAM>(&seen));
        if (seen.any_now)
            last_window_seen = GetTickCount64();
        if (deadline.passed())
            throw Failure("the program was still running at the timeout");
    }
    const std::string after_last_window =
        last_window_seen == 0 ? "null" : std::to_string(GetTickCount64() - last_window_seen);
    DWORD exit_code = 0;
    if (!GetExitCodeProcess(process.get(), &exit_code))
        throw Failure("GetExitCodeProcess failed: " + win32_error_text(GetLastError()));
    std::string windows;
    for (const auto& title : seen.titles)
        windows += (windows.empty() ? "" : ",") + json_string(title);
    write_stdout("{\"exit_code\":" + std::to_string(exit_code) +
                 ",\"bits\":" + (wow64 ? "32" : "64") + ",\"windows\":[" + windows +
                 "],\"ms_after_last_window\":" + after_last_window + "}\n");
    return 0;
}

// The SID of the account the driver runs as, which is the program's own in the same prefix: read
// here from the process token, not through the program's code, so that a program reading the
// wrong account is seen.
int cmd_user_sid(const Invocation& call) {
    require_args(call, 0, "user-sid");
    HANDLE opened = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened))
        throw Failure("OpenProcessToken failed: " + win32_error_text(GetLastError()));
    const qx::UniqueHandle token(opened);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size);
    if (size == 0 || !GetTokenInformation(token.get(), TokenUser, user.data(), size, &size))
        throw Failure("GetTokenInformation failed: " + win32_error_text(GetLastError()));
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid, &text))
        throw Failure("ConvertSidToStringSidW failed: " + win32_error_text(GetLastError()));
    const qx::UniqueLocalMemory<wchar_t> owned(text);
    write_stdout(utf8(text));
    return 0;
}

// As a run elsewhere holds its one-run guard (another session of the same account, say): owns a
// mutex of that name until the test kills the process (or the timeout passes). Says whether it
// made the mutex or found it made.
// hold-mutex NAME [SDDL]: the mutex made with that security descriptor, as a program of its
// own makes it, or with the defaults.
int cmd_hold_mutex(const Invocation& call) {
    if (call.args.empty() || call.args.size() > 2)
        throw Failure("usage: qxdriver hold-mutex NAME [SDDL]");
    PSECURITY_DESCRIPTOR described = nullptr;
    if (call.args.size() > 1 && !ConvertStringSecurityDescriptorToSecurityDescriptorW(
                                    call.args[1].c_str(), SDDL_REVISION_1, &described, nullptr))
        throw Failure("the security descriptor does not parse: " +
                      win32_error_text(GetLastError()));
    const qx::UniqueLocalMemory<void> description(described);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, described, FALSE};
    const qx::UniqueHandle mutex(
        CreateMutexW(described ? &attributes : nullptr, TRUE, call.args[0].c_str()));
    if (!mutex)
        throw Failure("CreateMutexW failed: " + win32_error_text(GetLastError()));
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    write_stdout("{\"pid\":" + std::to_string(GetCurrentProcessId()) +
                 ",\"existed\":" + (existed ? "true" : "false") + "}\n");
    Sleep(call.timeout_ms);
    return 0;
}

} // namespace qxdriver
