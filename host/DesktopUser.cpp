#include "host/DesktopUser.h"

#include "host/ScopedWin.h"
#include "host/Win32Error.h"

#include <sddl.h>

#include <vector>

namespace qx {

namespace {

// A TOKEN_USER, which carries the SID after the structure, in a buffer of its own.
using UserSidBuffer = std::vector<unsigned char>;

PSID SidOf(const UserSidBuffer& user) {
    return reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
}

Outcome<UserSidBuffer> UserOfProcess(HANDLE process) {
    HANDLE opened = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &opened)) {
        return LastWin32Failure();
    }
    const UniqueHandle token(opened);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return LastWin32Failure();
    }
    UserSidBuffer user(size);
    if (!GetTokenInformation(token.get(), TokenUser, user.data(), size, &size)) {
        return LastWin32Failure();
    }
    return user;
}

} // namespace

bool AppendOwnUserSid(std::wstring& text) {
    const auto own = UserOfProcess(GetCurrentProcess());
    wchar_t* sid = nullptr;
    if (!own || !ConvertSidToStringSidW(SidOf(own.value()), &sid)) {
        return false;
    }
    const UniqueLocalMemory<wchar_t> owner(sid);
    text += sid;
    return true;
}

Outcome<bool> RunsAsDesktopUser() {
    const auto own = UserOfProcess(GetCurrentProcess());
    if (!own) {
        return own.error();
    }
    // A service or a deployment tool running as SYSTEM has a profile no user ever sees.
    if (IsWellKnownSid(SidOf(own.value()), WinLocalSystemSid)) {
        return false;
    }
    const HWND shell = GetShellWindow();
    DWORD shellProcessId = 0;
    if (!shell || !GetWindowThreadProcessId(shell, &shellProcessId)) {
        return Win32Failure(ERROR_NOT_FOUND);
    }
    // Only an account other than the shell's, and not an administrator, is refused a look at
    // the shell's process: access denied is itself the answer.
    const UniqueHandle shellProcess(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, shellProcessId));
    if (!shellProcess) {
        return GetLastError() == ERROR_ACCESS_DENIED ? Outcome<bool>(false) : LastWin32Failure();
    }
    const auto desktopUser = UserOfProcess(shellProcess.get());
    if (!desktopUser) {
        if (desktopUser.error().number == ERROR_ACCESS_DENIED) {
            return false;
        }
        return desktopUser.error();
    }
    return EqualSid(SidOf(own.value()), SidOf(desktopUser.value())) != FALSE;
}

} // namespace qx
