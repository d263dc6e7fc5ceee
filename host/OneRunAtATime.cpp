#include "host/OneRunAtATime.h"

namespace qx {

namespace {

constexpr wchar_t kMutexName[] =
    L"Local\\Quorvale.QXSetup.OneRun.c2f92dd2-f453-4bd0-b827-0e9755bd4a55";
constexpr wchar_t kProcessIdName[] =
    L"Local\\Quorvale.QXSetup.RunningProcess.c2f92dd2-f453-4bd0-b827-0e9755bd4a55";

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
    mutex_.reset(CreateMutexW(nullptr, TRUE, kMutexName));
    // Access denied: the mutex exists, made by an elevated or other-account run in this session.
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
