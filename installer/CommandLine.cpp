#include "installer/CommandLine.h"

namespace qx {

namespace {

enum class Switch { Install, Uninstall, Status, Quiet, Log, Help, Unknown };

struct SwitchName {
    const wchar_t* name;
    Switch meaning;
};

constexpr SwitchName kSwitches[] = {
    {L"install", Switch::Install}, {L"uninstall", Switch::Uninstall},
    {L"status", Switch::Status},   {L"quiet", Switch::Quiet},
    {L"log", Switch::Log},         {L"?", Switch::Help},
    {L"help", Switch::Help},
};

bool StartsLikeASwitch(const std::wstring& argument) {
    return argument.size() > 1 && (argument[0] == L'/' || argument[0] == L'-');
}

// Switch names are plain ASCII, so folding ASCII letters is all that case-insensitivity needs.
bool EqualsIgnoringCase(const std::wstring& text, const wchar_t* name) {
    std::size_t i = 0;
    for (; i < text.size() && name[i] != L'\0'; ++i) {
        wchar_t c = text[i];
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
        if (c != name[i]) {
            return false;
        }
    }
    return i == text.size() && name[i] == L'\0';
}

Switch Recognise(const std::wstring& argument) {
    if (!StartsLikeASwitch(argument)) {
        return Switch::Unknown;
    }
    const std::wstring name = argument.substr(1);
    for (const SwitchName& known : kSwitches) {
        if (EqualsIgnoringCase(name, known.name)) {
            return known.meaning;
        }
    }
    return Switch::Unknown;
}

RunMode ModeOf(Switch given) {
    switch (given) {
    case Switch::Install:
        return RunMode::Install;
    case Switch::Uninstall:
        return RunMode::Uninstall;
    case Switch::Status:
        return RunMode::StatusQuery;
    default:
        return RunMode::Help;
    }
}

} // namespace

CommandLine ParseCommandLine(const std::vector<std::wstring>& arguments) {
    CommandLine parsed;
    bool seen[static_cast<int>(Switch::Unknown)] = {};
    bool modeGiven = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const Switch given = Recognise(arguments[i]);
        if (given == Switch::Unknown) {
            parsed.valid = false;
            continue;
        }
        bool& already = seen[static_cast<int>(given)];
        if (already) {
            parsed.valid = false;
        }
        already = true;
        switch (given) {
        case Switch::Quiet:
            parsed.quiet = true;
            break;
        case Switch::Log:
            // The file name is the next argument; a switch there means it was left out.
            if (i + 1 < arguments.size() && !StartsLikeASwitch(arguments[i + 1]) &&
                !arguments[i + 1].empty()) {
                parsed.logFile = arguments[++i];
            } else {
                parsed.valid = false;
            }
            break;
        default:
            // One thing to do per run: /install /uninstall asks for two.
            if (modeGiven && parsed.mode != ModeOf(given)) {
                parsed.valid = false;
            }
            modeGiven = true;
            parsed.mode = ModeOf(given);
            break;
        }
    }
    // Quiet is for work that asks nothing: the toggle's question needs someone to answer it.
    if (parsed.quiet && (parsed.mode == RunMode::Toggle || parsed.mode == RunMode::Help)) {
        parsed.valid = false;
    }
    return parsed;
}

} // namespace qx
