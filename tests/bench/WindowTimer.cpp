// windowtimer EXE TITLE [ARGS...]: starts EXE, waits until a visible top-level window titled
// TITLE is shown and its process is idle, closes it with WM_CLOSE, waits for the process to
// end, and prints {"shown_ms":…,"closed_ms":…,"exit_code":…}. Measuring inside the prefix
// keeps the timer's own start-up (a Wine process) out of the figures.
#include "host/ScopedWin.h"

#include <cstdio>
#include <string>

namespace {

struct Search {
    const wchar_t* title;
    DWORD processId;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    if (processId == search->processId && IsWindowVisible(window) &&
        std::wstring(text) == search->title) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

double MillisecondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now = {};
    LARGE_INTEGER frequency = {};
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) * 1000.0 /
           static_cast<double>(frequency.QuadPart);
}

std::wstring Quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fputs("usage: windowtimer EXE TITLE [ARGS...]\n", stderr);
        return 2;
    }
    std::wstring commandLine = Quoted(argv[1]);
    for (int i = 3; i < argc; ++i) {
        commandLine += L" " + Quoted(argv[i]);
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    LARGE_INTEGER start = {};
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(argv[1], commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &started)) {
        std::fprintf(stderr, "CreateProcessW failed: %lu\n", GetLastError());
        return 1;
    }
    const qx::UniqueHandle process(started.hProcess);
    const qx::UniqueHandle thread(started.hThread);

    Search search{argv[2], started.dwProcessId, nullptr};
    constexpr double kGiveUpMs = 60000;
    while (!search.found) {
        EnumWindows(&MatchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            break;
        }
        if (WaitForSingleObject(process.get(), 1) == WAIT_OBJECT_0 ||
            MillisecondsSince(start) > kGiveUpMs) {
            std::fputs("the window never appeared\n", stderr);
            return 1;
        }
    }
    // Shown means painted and ready for the user: the program has drained its queue.
    WaitForInputIdle(process.get(), static_cast<DWORD>(kGiveUpMs));
    const double shown = MillisecondsSince(start);

    PostMessageW(search.found, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.get(), static_cast<DWORD>(kGiveUpMs)) != WAIT_OBJECT_0) {
        std::fputs("the program did not end after WM_CLOSE\n", stderr);
        return 1;
    }
    const double closed = MillisecondsSince(start);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.get(), &exitCode);
    std::printf("{\"shown_ms\":%.1f,\"closed_ms\":%.1f,\"exit_code\":%lu}\n", shown, closed,
                exitCode);
    return 0;
}
