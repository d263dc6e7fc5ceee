#include "toplevel.h"

#include "host/ScopedWin.h"

namespace qxdriver {
namespace {

struct Search {
    const std::wstring* title;
    const wchar_t* class_name;
    HWND found;
};

BOOL CALLBACK match_window(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    if (!IsWindowVisible(hwnd) || window_text(hwnd) != *search->title)
        return TRUE;
    if (search->class_name && class_of(hwnd) != search->class_name)
        return TRUE;
    search->found = hwnd;
    return FALSE;
}

// A window can be found between CreateWindow and its final SetWindowPos; the rect must hold
// still across two polls, and the owner must have drained its input queue. False when it
// vanished meanwhile.
bool wait_laid_out(HWND hwnd, const Deadline& deadline, const std::wstring& title) {
    RECT previous{};
    GetWindowRect(hwnd, &previous);
    for (;;) {
        Sleep(poll_interval_ms);
        RECT current{};
        if (!GetWindowRect(hwnd, &current))
            return false;
        if (EqualRect(&current, &previous))
            break;
        if (deadline.passed())
            throw Failure("window \"" + utf8(title) + "\" kept moving until the timeout");
        previous = current;
    }
    const qx::UniqueHandle process(
        OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, process_of(hwnd)));
    if (process && WaitForInputIdle(process.get(), deadline.remaining_ms()) == WAIT_TIMEOUT)
        throw Failure("process of \"" + utf8(title) + "\" did not become idle before the timeout");
    return true;
}

} // namespace

// Read as the system keeps it, without a message to the window: GetWindowTextLengthW sends one,
// and a hung program (Excel held up in a call) would hold the driver up with it.
std::wstring window_text(HWND hwnd) {
    std::wstring text(256, L'\0');
    for (;;) {
        const int copied = InternalGetWindowText(hwnd, text.data(), static_cast<int>(text.size()));
        if (copied < static_cast<int>(text.size()) - 1) {
            text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
            return text;
        }
        text.resize(text.size() * 2);
    }
}

std::wstring class_of(HWND hwnd) {
    wchar_t name[256] = {};
    const int length = GetClassNameW(hwnd, name, 256);
    return std::wstring(name, length > 0 ? static_cast<size_t>(length) : 0);
}

DWORD process_of(HWND hwnd) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    return pid;
}

HWND find_top_level(const std::wstring& title, const wchar_t* class_name) {
    Search search{&title, class_name, nullptr};
    EnumWindows(match_window, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND wait_top_level(const std::wstring& title, const Deadline& deadline,
                    const wchar_t* class_name) {
    for (;;) {
        // One that vanishes meanwhile was on its way out (a box just answered, whose program
        // shows the next under the same title): the window sought is looked for again.
        if (HWND hwnd = find_top_level(title, class_name);
            hwnd && wait_laid_out(hwnd, deadline, title)) {
            return hwnd;
        }
        if (deadline.passed())
            throw Failure("no visible window titled \"" + utf8(title) + "\"" +
                          (class_name ? " of class " + utf8(class_name) : "") +
                          " before the timeout");
        Sleep(poll_interval_ms);
    }
}

std::vector<HWND> children_of(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

} // namespace qxdriver
