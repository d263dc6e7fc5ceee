#include "painting.h"

#include "toplevel.h"

#include "host/ScopedWin.h"

namespace qxdriver {
namespace {

// Whether the window or one of its visible children still has something to paint.
bool paint_pending(HWND hwnd) {
    if (GetUpdateRect(hwnd, nullptr, FALSE))
        return true;
    for (const HWND child : children_of(hwnd))
        if (IsWindowVisible(child) && paint_pending(child))
            return true;
    return false;
}

// Wine copies what a thread painted to the screen when the thread runs out of messages,
// before it waits for the next one. A message sent after the painting and answered, then a
// second one answered, means the thread came back to its message loop and ran dry in between.
bool through_message_loop(HWND hwnd, const Deadline& deadline) {
    for (int round = 0; round < 2; ++round) {
        DWORD_PTR ignored = 0;
        if (!SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, deadline.remaining_ms(),
                                 &ignored))
            return false;
    }
    return true;
}

} // namespace

Pixels capture_screen(const RECT& area) {
    const qx::UniqueScreenDc screen(GetDC(nullptr));
    return render(area.right - area.left, area.bottom - area.top, [&](HDC dc) {
        BitBlt(dc, 0, 0, area.right - area.left, area.bottom - area.top, screen.get(), area.left,
               area.top, SRCCOPY);
    });
}

void wait_painted(HWND hwnd, const Deadline& deadline) {
    for (;;) {
        if (!IsWindow(hwnd))
            throw Failure("the window was gone before it was painted");
        if (!paint_pending(hwnd) && through_message_loop(hwnd, deadline) && !paint_pending(hwnd)) {
            // And the screen has taken it: two reads a poll apart agree.
            RECT area{};
            GetWindowRect(hwnd, &area);
            const Pixels first = capture_screen(area);
            Sleep(poll_interval_ms);
            if (!paint_pending(hwnd) && capture_screen(area).data == first.data)
                return;
        }
        if (deadline.passed())
            throw Failure("the window was not painted before the timeout");
        Sleep(poll_interval_ms);
    }
}

} // namespace qxdriver
