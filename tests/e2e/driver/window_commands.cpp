#include "commands.h"
#include "painting.h"
#include "toplevel.h"

#include <string>

namespace qxdriver {
namespace {

std::string rect_json(const RECT& r) {
    return "{\"left\":" + std::to_string(r.left) + ",\"top\":" + std::to_string(r.top) +
           ",\"right\":" + std::to_string(r.right) + ",\"bottom\":" + std::to_string(r.bottom) +
           "}";
}

std::string handle_number(HWND hwnd) {
    return std::to_string(reinterpret_cast<uintptr_t>(hwnd));
}

std::string style_of(HWND hwnd, int which) {
    return std::to_string(static_cast<DWORD>(GetWindowLongPtrW(hwnd, which)));
}

std::string child_json(HWND parent, HWND child) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return "{\"hwnd\":" + handle_number(child) + ",\"class\":" + json_string(class_of(child)) +
           ",\"id\":" + std::to_string(GetDlgCtrlID(child)) +
           ",\"text\":" + json_string(window_text(child)) +
           ",\"style\":" + style_of(child, GWL_STYLE) +
           ",\"visible\":" + (IsWindowVisible(child) ? "true" : "false") +
           ",\"rect\":" + rect_json(r) + "}";
}

HWND child_at(HWND parent, long long index) {
    const std::vector<HWND> children = children_of(parent);
    if (index < 0 || static_cast<size_t>(index) >= children.size())
        throw Failure("no child " + std::to_string(index) + " (the window has " +
                      std::to_string(children.size()) + ")");
    return children[static_cast<size_t>(index)];
}

void post(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (!PostMessageW(hwnd, message, wparam, lparam))
        throw Failure("PostMessageW failed: " + win32_error_text(GetLastError()));
}

} // namespace

int cmd_wait_window(const Invocation& call) {
    require_args(call, 1, "wait-window TITLE");
    const HWND hwnd = wait_top_level(call.args[0], Deadline(call.timeout_ms));
    write_stdout("{\"hwnd\":" + handle_number(hwnd) +
                 ",\"pid\":" + std::to_string(process_of(hwnd)) + "}\n");
    return 0;
}

int cmd_wait_gone(const Invocation& call) {
    require_args(call, 1, "wait-gone TITLE");
    const Deadline deadline(call.timeout_ms);
    while (find_top_level(call.args[0])) {
        if (deadline.passed())
            throw Failure("window \"" + utf8(call.args[0]) + "\" still there at the timeout");
        Sleep(poll_interval_ms);
    }
    return 0;
}

int cmd_painted(const Invocation& call) {
    require_args(call, 1, "painted TITLE");
    const Deadline deadline(call.timeout_ms);
    wait_painted(wait_top_level(call.args[0], deadline), deadline);
    return 0;
}

int cmd_window(const Invocation& call) {
    require_args(call, 1, "window TITLE");
    const HWND hwnd = wait_top_level(call.args[0], Deadline(call.timeout_ms));
    RECT r{};
    GetWindowRect(hwnd, &r);
    RECT client{};
    GetClientRect(hwnd, &client);
    POINT origin{0, 0};
    ClientToScreen(hwnd, &origin);
    std::string children;
    for (const HWND child : children_of(hwnd))
        children += (children.empty() ? "" : ",") + child_json(hwnd, child);
    write_stdout(
        "{\"hwnd\":" + handle_number(hwnd) + ",\"pid\":" + std::to_string(process_of(hwnd)) +
        ",\"class\":" + json_string(class_of(hwnd)) +
        ",\"text\":" + json_string(window_text(hwnd)) + ",\"style\":" + style_of(hwnd, GWL_STYLE) +
        ",\"exstyle\":" + style_of(hwnd, GWL_EXSTYLE) + ",\"rect\":" + rect_json(r) +
        ",\"client\":{\"width\":" + std::to_string(client.right) +
        ",\"height\":" + std::to_string(client.bottom) + "}" +
        ",\"client_origin\":{\"x\":" + std::to_string(origin.x) +
        ",\"y\":" + std::to_string(origin.y) + "}" + ",\"children\":[" + children + "]}\n");
    return 0;
}

namespace {

struct MouseTarget {
    HWND window;
    LPARAM where;
};

// A child by its index, at its centre; or, for INDEX -1, the top-level window at X Y.
MouseTarget mouse_target(const Invocation& call, const char* usage) {
    if (call.args.size() != 2 && call.args.size() != 4)
        throw Failure(std::string("usage: qxdriver ") + usage);
    const HWND top = wait_top_level(call.args[0], Deadline(call.timeout_ms));
    const long long index = parse_number(call.args[1]);
    if (index == -1) {
        if (call.args.size() != 4)
            throw Failure("INDEX -1 needs X Y in client coordinates");
        return {top, MAKELPARAM(parse_number(call.args[2]), parse_number(call.args[3]))};
    }
    const HWND child = child_at(top, index);
    RECT client{};
    GetClientRect(child, &client);
    return {child, MAKELPARAM(client.right / 2, client.bottom / 2)};
}

} // namespace

int cmd_click(const Invocation& call) {
    const MouseTarget target = mouse_target(call, "click TITLE INDEX [X Y]");
    post(target.window, WM_LBUTTONDOWN, MK_LBUTTON, target.where);
    // A static control tells its parent of a click as the button goes down, and the program may
    // close the window before the release is posted (seen on a loaded machine): the click has
    // happened then.
    if (!PostMessageW(target.window, WM_LBUTTONUP, 0, target.where)) {
        const DWORD error = GetLastError();
        if (IsWindow(target.window))
            throw Failure("PostMessageW failed: " + win32_error_text(error));
    }
    return 0;
}

// The end of a drag that began elsewhere: the button comes up over the target, which never saw
// it go down.
int cmd_release(const Invocation& call) {
    const MouseTarget target = mouse_target(call, "release TITLE INDEX [X Y]");
    post(target.window, WM_LBUTTONUP, 0, target.where);
    return 0;
}

int cmd_close(const Invocation& call) {
    require_args(call, 1, "close TITLE");
    post(wait_top_level(call.args[0], Deadline(call.timeout_ms)), WM_CLOSE, 0, 0);
    return 0;
}

int cmd_syscommand_close(const Invocation& call) {
    require_args(call, 1, "syscommand-close TITLE");
    post(wait_top_level(call.args[0], Deadline(call.timeout_ms)), WM_SYSCOMMAND, SC_CLOSE, 0);
    return 0;
}

} // namespace qxdriver
