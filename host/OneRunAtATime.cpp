#include "host/OneRunAtATime.h"

#include "host/DesktopUser.h"

#include <string>

namespace qx {

namespace {

constexpr wchar_t kMutexName[] = L"Quorvale.QXSetup.OneRun.c2f92dd2-f453-4bd0-b827-0e9755bd4a55";
// A section in the machine-wide namespace would need SeCreateGlobalPrivilege, which a user's run
// lacks; it stays in the session's own, where a run it names is one whose window this session
// can bring forward at all.
constexpr wchar_t kProcessIdName[] =
    L"Local\\Quorvale.QXSetup.RunningProcess.c2f92dd2-f453-4bd0-b827-0e9755bd4a55";

// The same user may be logged on in several sessions at once (a console and a remote desktop,
// or fast user switching), and both runs would change the same profile: the name is one per
// account, in the machine-wide namespace, where a mutex needs no privilege. Another account's
// runs have another name. Where the account's SID cannot be read, the session's own namespace:
// the guard then still covers every run in this session, as a guard without the SID can.
std::wstring GuardName() {
    std::wstring name = kMutexName;
    name += L'.';
    if (AppendOwnUserSid(name)) {
        return L"Global\\" + name;
    }
    name.pop_back();
    return L"Local\\" + name;
}

void UnmapView(void* view) {
    UnmapViewOfFile(view);
}
using UniqueMappedView = UniqueHandleOf<void*, &UnmapView>;

struct WindowSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindVisibleWindowOf(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != search->processId || !IsWindowVisible(window)) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

} // namespace

OneRunAtATime::OneRunAtATime() {
    // Named first: nothing may run between the creation and the look at its last error.
    const std::wstring name = GuardName();
    mutex_.reset(CreateMutexW(nullptr, TRUE, name.c_str()));
    // Access denied: the mutex exists, made by an elevated run of the same account, whose
    // security this run's token does not pass.
    const DWORD created = GetLastError();
    anotherRun_ = !mutex_ ? created == ERROR_ACCESS_DENIED : created == ERROR_ALREADY_EXISTS;
    if (anotherRun_ || !mutex_) {
        return;
    }
    runningProcessId_.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                               sizeof(DWORD), kProcessIdName));
    if (!runningProcessId_) {
        return;
    }
    const UniqueMappedView view(
        MapViewOfFile(runningProcessId_.get(), FILE_MAP_WRITE, 0, 0, sizeof(DWORD)));
    if (view) {
        *static_cast<DWORD*>(view.get()) = GetCurrentProcessId();
    }
}

void OneRunAtATime::BringOtherRunForward() const {
    const UniqueHandle section(OpenFileMappingW(FILE_MAP_READ, FALSE, kProcessIdName));
    if (!section) {
        return;
    }
    const UniqueMappedView view(MapViewOfFile(section.get(), FILE_MAP_READ, 0, 0, sizeof(DWORD)));
    if (!view) {
        return;
    }
    WindowSearch search{*static_cast<const DWORD*>(view.get()), nullptr};
    if (search.processId == 0) {
        return;
    }
    // Top-level windows come in Z order: the first visible one is what the user last saw.
    EnumWindows(&FindVisibleWindowOf, reinterpret_cast<LPARAM>(&search));
    if (!search.found) {
        return;
    }
    if (IsIconic(search.found)) {
        ShowWindow(search.found, SW_RESTORE);
    }
    SetForegroundWindow(search.found);
}

} // namespace qx
