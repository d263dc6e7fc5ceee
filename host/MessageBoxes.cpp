#include "host/MessageBoxes.h"

#include "host/Win32Error.h"

namespace qx {

namespace {

constexpr wchar_t kApplicationTitle[] = L"Setup";

Outcome<int> ShowBox(const std::wstring& prompt, UINT style) {
    const int answer = MessageBoxW(nullptr, prompt.c_str(), kApplicationTitle, style);
    if (answer == 0) {
        return LastWin32Failure();
    }
    return answer;
}

} // namespace

Outcome<std::int16_t> AskYesNoBox(const std::wstring& prompt) {
    // Yes/No has no Cancel, so the close box is disabled and only Yes or No comes back.
    const auto answer = ShowBox(prompt, MB_YESNO | MB_ICONEXCLAMATION);
    if (!answer) {
        return answer.error();
    }
    return static_cast<std::int16_t>(answer.value());
}

Status InformBox(const std::wstring& prompt) {
    const auto shown = ShowBox(prompt, MB_OK | MB_ICONINFORMATION);
    return shown ? Completed() : Status(shown.error());
}

Status WarnBox(const std::wstring& prompt) {
    const auto shown = ShowBox(prompt, MB_OK | MB_ICONEXCLAMATION);
    return shown ? Completed() : Status(shown.error());
}

} // namespace qx
