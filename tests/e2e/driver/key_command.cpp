#include "commands.h"
#include "toplevel.h"

#include <cwctype>
#include <string>

namespace qxdriver {
namespace {

struct NamedKey {
    const wchar_t* name;
    WORD vk;
};

const NamedKey named_keys[] = {
    {L"RETURN", VK_RETURN}, {L"ENTER", VK_RETURN}, {L"ESCAPE", VK_ESCAPE}, {L"ESC", VK_ESCAPE},
    {L"TAB", VK_TAB},       {L"SPACE", VK_SPACE},  {L"LEFT", VK_LEFT},     {L"RIGHT", VK_RIGHT},
    {L"UP", VK_UP},         {L"DOWN", VK_DOWN},    {L"F1", VK_F1},         {L"F4", VK_F4},
    {L"BACK", VK_BACK},     {L"DELETE", VK_DELETE}};

WORD parse_vk(std::wstring text) {
    for (auto& c : text)
        c = static_cast<wchar_t>(std::towupper(c));
    if (text.rfind(L"VK_", 0) == 0)
        text.erase(0, 3);
    for (const auto& key : named_keys) {
        if (text == key.name)
            return key.vk;
    }
    if (text.size() == 1 &&
        ((text[0] >= L'A' && text[0] <= L'Z') || (text[0] >= L'0' && text[0] <= L'9')))
        return static_cast<WORD>(text[0]);
    const long long value = parse_number(text);
    if (value <= 0 || value > 0xFE)
        throw Failure("not a virtual-key code: " + utf8(text));
    return static_cast<WORD>(value);
}

// The window a keystroke from the user would reach: the focus of the target's GUI thread.
HWND focus_of(HWND top) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(top, nullptr), &info)) {
        if (info.hwndFocus)
            return info.hwndFocus;
        if (info.hwndActive)
            return info.hwndActive;
    }
    return top;
}

// Posted keys skip the hardware queue, so the target's key state never changes; the receiving
// loop's TranslateMessage still makes the WM_CHAR, as for a real key.
void post_key(HWND top, WORD vk) {
    const HWND target = focus_of(top);
    const UINT scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
    const LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16);
    const LPARAM up = down | (1 << 30) | (static_cast<LPARAM>(1) << 31);
    if (!PostMessageW(target, WM_KEYDOWN, vk, down) || !PostMessageW(target, WM_KEYUP, vk, up))
        throw Failure("PostMessageW failed: " + win32_error_text(GetLastError()));
}

void input_key(HWND top, WORD vk, const Deadline& deadline) {
    SetForegroundWindow(top);
    while (GetForegroundWindow() != top) {
        if (deadline.passed())
            throw Failure("could not bring the window to the foreground");
        Sleep(poll_interval_ms);
        SetForegroundWindow(top);
    }
    INPUT inputs[2] = {};
    const WORD scan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    for (auto& input : inputs) {
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = vk;
        input.ki.wScan = scan;
    }
    inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
    if (SendInput(2, inputs, sizeof(INPUT)) != 2)
        throw Failure("SendInput failed: " + win32_error_text(GetLastError()));
}

} // namespace

int cmd_key(const Invocation& call) {
    if (call.args.size() != 2 && call.args.size() != 3)
        throw Failure("usage: qxdriver key TITLE VK [input|post]");
    const Deadline deadline(call.timeout_ms);
    const HWND top = wait_top_level(call.args[0], deadline);
    const WORD vk = parse_vk(call.args[1]);
    const std::wstring mode = call.args.size() == 3 ? call.args[2] : L"input";
    if (mode == L"post")
        post_key(top, vk);
    else if (mode == L"input")
        input_key(top, vk, deadline);
    else
        throw Failure("key mode must be input or post");
    return 0;
}

} // namespace qxdriver
