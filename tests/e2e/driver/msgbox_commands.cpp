#include "commands.h"
#include "icon_match.h"
#include "toplevel.h"

#include "tests/e2e/tool_owners.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace qxdriver {
namespace {

const wchar_t box_class[] = L"#32770";

const int answer_ids[] = {IDOK, IDCANCEL, IDABORT, IDRETRY,    IDIGNORE,  IDYES,
                          IDNO, IDCLOSE,  IDHELP,  IDTRYAGAIN, IDCONTINUE};

struct StyleName {
    const wchar_t* name;
    UINT value;
};

const StyleName style_names[] = {
    {L"MB_OK", MB_OK},
    {L"MB_OKCANCEL", MB_OKCANCEL},
    {L"MB_YESNO", MB_YESNO},
    {L"MB_ICONERROR", MB_ICONERROR},
    {L"MB_ICONQUESTION", MB_ICONQUESTION},
    {L"MB_ICONWARNING", MB_ICONWARNING},
    {L"MB_ICONINFORMATION", MB_ICONINFORMATION},
    {L"MB_DEFBUTTON2", MB_DEFBUTTON2},
};

UINT parse_style(const std::wstring& text) {
    UINT style = 0;
    size_t start = 0;
    for (;;) {
        const size_t bar = text.find(L'|', start);
        const std::wstring token = text.substr(start, bar - start);
        const auto named = std::find_if(std::begin(style_names), std::end(style_names),
                                        [&](const StyleName& s) { return token == s.name; });
        if (named == std::end(style_names))
            throw Failure("unknown message box style: " + utf8(token));
        style |= named->value;
        if (bar == std::wstring::npos)
            return style;
        start = bar + 1;
    }
}

HWND visible_button(HWND box, int id) {
    const HWND button = GetDlgItem(box, id);
    if (!button || !IsWindowVisible(button))
        return nullptr;
    if (CompareStringOrdinal(class_of(button).c_str(), -1, L"Button", -1, TRUE) != CSTR_EQUAL)
        return nullptr;
    return button;
}

// Left to right as the user sees them, whatever order the platform created them in.
std::vector<int> buttons_of(HWND box) {
    std::vector<std::pair<std::pair<LONG, LONG>, int>> found;
    for (const int id : answer_ids) {
        if (const HWND button = visible_button(box, id)) {
            RECT r{};
            GetWindowRect(button, &r);
            found.push_back({{r.top, r.left}, id});
        }
    }
    std::sort(found.begin(), found.end());
    std::vector<int> ids;
    for (const auto& entry : found)
        ids.push_back(entry.second);
    return ids;
}

// The button Enter would press: the one drawn as default. DM_GETDEFID alone is not enough,
// since Wine's box answers it with IDOK even when it has no such button.
int default_button(HWND box, const std::vector<int>& buttons, const Deadline& deadline) {
    for (const int id : buttons) {
        const auto style = GetWindowLongPtrW(GetDlgItem(box, id), GWL_STYLE);
        if ((style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            return id;
    }
    DWORD_PTR reply = 0;
    if (SendMessageTimeoutW(box, DM_GETDEFID, 0, 0, SMTO_NORMAL, deadline.remaining_ms(), &reply) &&
        HIWORD(reply) == DC_HASDEFID &&
        std::find(buttons.begin(), buttons.end(), LOWORD(reply)) != buttons.end())
        return LOWORD(reply);
    return 0;
}

// show-box's holds, as a slow program shows and paints a box: once the box is shown, its
// thread takes no message for hold_ms; then its first paint takes paint_ms.
DWORD hold_ms = 0;
DWORD paint_ms = 0;

LRESULT CALLBACK hold_once_shown(int code, WPARAM from_this_thread, LPARAM param) {
    const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(param);
    if (code == HC_ACTION && call->message == WM_WINDOWPOSCHANGED && hold_ms &&
        (reinterpret_cast<const WINDOWPOS*>(call->lParam)->flags & SWP_SHOWWINDOW) &&
        class_of(call->hwnd) == box_class) {
        Sleep(hold_ms);
        hold_ms = 0;
    }
    return CallNextHookEx(nullptr, code, from_this_thread, param);
}

LRESULT CALLBACK slow_first_paint(int code, WPARAM removal, LPARAM param) {
    const auto* message = reinterpret_cast<const MSG*>(param);
    if (code == HC_ACTION && removal == PM_REMOVE && message->message == WM_PAINT && paint_ms) {
        Sleep(paint_ms);
        paint_ms = 0;
    }
    return CallNextHookEx(nullptr, code, removal, param);
}

} // namespace

int cmd_box(const Invocation& call) {
    require_args(call, 1, "box TITLE");
    const Deadline deadline(call.timeout_ms);
    const HWND box = wait_top_level(call.args[0], deadline, box_class);
    const HWND text = GetDlgItem(box, 0xFFFF);
    if (!text)
        throw Failure("the box has no text control 0xFFFF");
    const std::vector<int> buttons = buttons_of(box);
    std::string list;
    for (const int id : buttons)
        list += (list.empty() ? "" : ",") + std::to_string(id);
    const int defid = default_button(box, buttons, deadline);
    write_stdout("{\"hwnd\":" + std::to_string(reinterpret_cast<uintptr_t>(box)) +
                 ",\"text\":" + json_string(window_text(text)) + ",\"buttons\":[" + list +
                 "],\"default\":" + (defid ? std::to_string(defid) : "null") + ",\"icon\":\"" +
                 identify_box_icon(box, deadline) + "\"}\n");
    return 0;
}

int cmd_press(const Invocation& call) {
    require_args(call, 2, "press TITLE ID");
    const HWND box = wait_top_level(call.args[0], Deadline(call.timeout_ms), box_class);
    const int id = static_cast<int>(parse_number(call.args[1]));
    const HWND button = visible_button(box, id);
    if (!button)
        throw Failure("the box has no visible button " + std::to_string(id));
    if (!PostMessageW(button, BM_CLICK, 0, 0))
        throw Failure("PostMessageW failed: " + win32_error_text(GetLastError()));
    return 0;
}

// show-box STYLE TEXT [HOLD_MS [PAINT_MS [BUSY_MS]]]. BUSY_MS: before the box, its thread
// takes no message for that long, as a program that waited for a hung Excel; past 5 s the
// system counts it as not responding until it takes one again.
int cmd_show_box(const Invocation& call) {
    if (call.args.size() < 2 || call.args.size() > 5)
        throw Failure("usage: qxdriver show-box STYLE TEXT [HOLD_MS [PAINT_MS [BUSY_MS]]]");
    const auto number = [&](size_t index) {
        return call.args.size() > index ? static_cast<DWORD>(parse_number(call.args[index])) : 0;
    };
    hold_ms = number(2);
    paint_ms = number(3);
    const DWORD busy_ms = number(4);
    const qxtools::UniqueHook holding(
        SetWindowsHookExW(WH_CALLWNDPROCRET, hold_once_shown, nullptr, GetCurrentThreadId()));
    const qxtools::UniqueHook painting(
        SetWindowsHookExW(WH_GETMESSAGE, slow_first_paint, nullptr, GetCurrentThreadId()));
    if (!holding || !painting)
        throw Failure("SetWindowsHookExW failed: " + win32_error_text(GetLastError()));
    // Its last look at its messages before the box: from here on it is busy (and, having
    // looked, no longer a program that has yet to start up).
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
    Sleep(busy_ms);
    const int answer =
        MessageBoxW(nullptr, call.args[1].c_str(), L"Setup", parse_style(call.args[0]));
    if (answer == 0)
        throw Failure("MessageBoxW failed: " + win32_error_text(GetLastError()));
    write_stdout(std::to_string(answer) + "\n");
    return answer;
}

} // namespace qxdriver
