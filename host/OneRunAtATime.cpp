#include "host/OneRunAtATime.h"

#include "host/DesktopUser.h"

#include <aclapi.h>
#include <sddl.h>

#include <initializer_list>
#include <string>

namespace qx {

namespace {

#define QX_GUARD_NAME L"Quorvale.QXSetup.OneRun.c2f92dd2-f453-4bd0-b827-0e9755bd4a55"
constexpr wchar_t kAccountGuardPrefix[] = L"Global\\" QX_GUARD_NAME L".";
constexpr wchar_t kSessionGuardName[] = L"Local\\" QX_GUARD_NAME;
#undef QX_GUARD_NAME
// A section in the machine-wide namespace would need SeCreateGlobalPrivilege, which a user's run
// lacks; it stays in the session's own, where a run it names is one whose window this session
// can bring forward at all.
constexpr wchar_t kProcessIdName[] =
    L"Local\\Quorvale.QXSetup.RunningProcess.c2f92dd2-f453-4bd0-b827-0e9755bd4a55";

// One allocation and one loop, rather than a temporary string for every `+`.
std::wstring Concatenated(std::initializer_list<const wchar_t*> parts) {
    std::wstring text;
    for (const wchar_t* part : parts) {
        text += part;
    }
    return text;
}

// Whether the guard that exists under `name` is this account's. Made by a run of this account,
// its owner is this account; another account that made the name first (on a terminal server,
// say) cannot make it so, and must not keep this user's runs out. An elevated run's guard is
// read through a handle that asks to read only, which its integrity level lets a plain run do.
bool GuardIsThisAccounts(const wchar_t* name, const std::wstring& sid) {
    const UniqueHandle guard(OpenMutexW(READ_CONTROL, FALSE, name));
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR described = nullptr;
    if (!guard || GetSecurityInfo(guard.get(), SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                  nullptr, nullptr, nullptr, &described) != ERROR_SUCCESS) {
        return false;
    }
    const UniqueLocalMemory<void> description(described);
    wchar_t* ownerText = nullptr;
    if (!owner || !ConvertSidToStringSidW(owner, &ownerText)) {
        return false;
    }
    const UniqueLocalMemory<wchar_t> text(ownerText);
    return sid == ownerText;
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

// The same user may be logged on in several sessions at once (a console and a remote desktop,
// or fast user switching), and both runs would change the same profile: the guard is one per
// account, in the machine-wide namespace, where a mutex needs no privilege, owned by the account
// and open to it alone. Where the account's SID cannot be read, the session's own namespace: the
// guard then still covers every run in this session.
OneRunAtATime::OneRunAtATime() {
    std::wstring sid;
    if (!AppendOwnUserSid(sid)) {
        Take(kSessionGuardName, nullptr);
        return;
    }
    const std::wstring onlyThisAccount =
        Concatenated({L"O:", sid.c_str(), L"D:P(A;;GA;;;", sid.c_str(), L")"});
    PSECURITY_DESCRIPTOR described = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            onlyThisAccount.c_str(), SDDL_REVISION_1, &described, nullptr)) {
        return;
    }
    const UniqueLocalMemory<void> description(described);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, described, FALSE};
    const std::wstring name = Concatenated({kAccountGuardPrefix, sid.c_str()});
    if (Take(name, &attributes)) {
        anotherRun_ = GuardIsThisAccounts(name.c_str(), sid);
    }
}

// Creates and holds the guard; hands back whether it existed already. Access denied: it exists,
// and this run's token does not pass its security (an elevated run made it, or another account).
bool OneRunAtATime::Take(const std::wstring& name, SECURITY_ATTRIBUTES* attributes) {
    mutex_.reset(CreateMutexW(attributes, TRUE, name.c_str()));
    const DWORD created = GetLastError();
    const bool existed = !mutex_ ? created == ERROR_ACCESS_DENIED : created == ERROR_ALREADY_EXISTS;
    anotherRun_ = existed;
    if (existed || !mutex_) {
        mutex_.reset();
        return existed;
    }
    runningProcessId_.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                               sizeof(DWORD), kProcessIdName));
    if (!runningProcessId_) {
        return false;
    }
    const UniqueMappedView view(
        MapViewOfFile(runningProcessId_.get(), FILE_MAP_WRITE, 0, 0, sizeof(DWORD)));
    if (view) {
        *static_cast<DWORD*>(view.get()) = GetCurrentProcessId();
    }
    return false;
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
