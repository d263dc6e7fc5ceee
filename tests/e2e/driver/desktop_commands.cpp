// The desktop as a user sees it: which windows are up, which one is in front, and windows of
// the test's own that stand in for another program or for the shell.
#include "commands.h"
#include "toplevel.h"

#include "host/ScopedWin.h"
#include "tests/e2e/tool_owners.h"

#include <string>

namespace qxdriver {
namespace {

using qxtools::UniqueWindow;

struct Listing {
    const std::wstring* title;
    std::string json;
};

BOOL CALLBACK list_window(HWND hwnd, LPARAM param) {
    auto* listing = reinterpret_cast<Listing*>(param);
    if (!IsWindowVisible(hwnd) || window_text(hwnd) != *listing->title)
        return TRUE;
    listing->json += (listing->json.empty() ? "" : ",") + std::string("{\"hwnd\":") +
                     std::to_string(reinterpret_cast<uintptr_t>(hwnd)) +
                     ",\"pid\":" + std::to_string(process_of(hwnd)) +
                     ",\"class\":" + json_string(class_of(hwnd)) + "}";
    return TRUE;
}

LRESULT CALLBACK held_window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_DESTROY)
        PostQuitMessage(0);
    return DefWindowProcW(hwnd, message, wparam, lparam);
}

UniqueWindow create_held_window(const std::wstring& title) {
    const wchar_t class_name[] = L"QxDriverHeldWindow";
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = held_window_proc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = class_name;
    if (!RegisterClassW(&window_class))
        throw Failure("RegisterClassW failed: " + win32_error_text(GetLastError()));
    UniqueWindow window(CreateWindowExW(0, class_name, title.c_str(),
                                        WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 320, 200, nullptr,
                                        nullptr, window_class.hInstance, nullptr));
    if (!window)
        throw Failure("CreateWindowExW failed: " + win32_error_text(GetLastError()));
    return window;
}

// The window stays, and answers messages as a live program's would, until the test kills the
// process; the timeout bounds what a test that died leaves behind.
int hold(const UniqueWindow& window, DWORD timeout_ms) {
    write_stdout("{\"hwnd\":" + std::to_string(reinterpret_cast<uintptr_t>(window.get())) +
                 ",\"pid\":" + std::to_string(GetCurrentProcessId()) + "}\n");
    const Deadline deadline(timeout_ms);
    while (!deadline.passed()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, deadline.remaining_ms(), QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT)
                return 0;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return 0;
}

} // namespace

// Every visible top-level window titled TITLE, and the foreground window, read in one go.
int cmd_windows(const Invocation& call) {
    require_args(call, 1, "windows TITLE");
    Listing listing{&call.args[0], {}};
    EnumWindows(list_window, reinterpret_cast<LPARAM>(&listing));
    const HWND front = GetForegroundWindow();
    write_stdout("{\"foreground\":" +
                 (front ? "{\"hwnd\":" + std::to_string(reinterpret_cast<uintptr_t>(front)) +
                              ",\"title\":" + json_string(window_text(front)) + "}"
                        : std::string("null")) +
                 ",\"windows\":[" + listing.json + "]}\n");
    return 0;
}

// Another program's window that the user last worked in, so that whatever comes to the front
// afterwards must have been brought there.
int cmd_front_window(const Invocation& call) {
    require_args(call, 1, "front-window TITLE");
    const UniqueWindow window = create_held_window(call.args[0]);
    const Deadline deadline(call.timeout_ms);
    while (SetForegroundWindow(window.get()), GetForegroundWindow() != window.get()) {
        if (deadline.passed())
            throw Failure("the window did not come to the foreground");
        Sleep(poll_interval_ms);
    }
    return hold(window, deadline.remaining_ms());
}

// Wine starts no shell: without one the installer cannot tell whose desktop it runs on. A
// window of this process made the shell window lets it compare its user with a real one.
int cmd_shell_window(const Invocation& call) {
    require_args(call, 1, "shell-window TITLE");
    using SetShellWindowFn = BOOL(WINAPI*)(HWND);
    const auto set_shell_window = reinterpret_cast<SetShellWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetShellWindow")));
    if (!set_shell_window)
        throw Failure("user32 has no SetShellWindow");
    const UniqueWindow window = create_held_window(call.args[0]);
    if (!set_shell_window(window.get()))
        throw Failure("SetShellWindow failed: " + win32_error_text(GetLastError()));
    if (GetShellWindow() != window.get())
        throw Failure("SetShellWindow succeeded, but GetShellWindow names another window");
    return hold(window, call.timeout_ms);
}

} // namespace qxdriver
