#include "commands.h"
#include "toplevel.h"

#include <string>

namespace qxdriver {
namespace {

struct NamedKey {
    const wchar_t* name;
    WORD vk;
};

const NamedKey named_keys[] = {{L"RETURN", VK_RETURN}, {L"ESCAPE", VK_ESCAPE}};

WORD parse_vk(const std::wstring& text) {
    for (const auto& key : named_keys) {
        if (text == key.name)
            return key.vk;
    }
    const long long value = parse_number(text);
    if (value <= 0 || value > 0xFE)
        throw Failure("not a virtual-key code: " + utf8(text));
    return static_cast<WORD>(value);
}

// Typed through the system's input queue, as the user would: the key reaches whatever has the
// focus, and the target's key state changes as for a real key.
void input_key(HWND top, WORD vk, const Deadline& deadline) {
    SetForegroundWindow(top);
    while (GetForegroundWindow() != top) {
        if (deadline.passed())
            throw Failure("could not bring the window to the foreground");
        Sleep(poll_interval_ms);
        SetForegroundWindow(top);
    }
    INPUT inputs[2] = {};
    const auto scan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
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
    require_args(call, 2, "key TITLE RETURN|ESCAPE|VK");
    const Deadline deadline(call.timeout_ms);
    input_key(wait_top_level(call.args[0], deadline), parse_vk(call.args[1]), deadline);
    return 0;
}

} // namespace qxdriver
