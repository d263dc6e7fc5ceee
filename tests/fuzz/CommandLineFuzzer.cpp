// libFuzzer's entry: arbitrary arguments for the command-line parser, and what must hold for
// whatever it makes of them. A broken rule aborts with the rule and the arguments.
#include "installer/CommandLine.h"
#include "installer/UsageAnswer.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

using qx::RunMode;
using Arguments = std::vector<std::wstring>;

// The input is the arguments as the C runtime hands them to wWinMain, not the raw command line:
// the split is the runtime's, and any sequence of arguments can come out of it. Each pair of
// bytes is one UTF-16 code unit, little-endian as Windows keeps them, and unit 0 ends an
// argument, being the one unit no argument can hold. Units are widened to wchar_t (32 bits here)
// as they are, never decoded, so that a lone surrogate reaches the parser as Windows passes it.
// An odd last byte is dropped; fewer than two bytes are no arguments at all. A seed is made with
//     printf '/install\0/quiet' | iconv -f UTF-8 -t UTF-16LE > corpus/install-quiet
Arguments ArgumentsFrom(const std::uint8_t* data, std::size_t size) {
    Arguments arguments;
    if (size < 2) {
        return arguments;
    }
    arguments.emplace_back();
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const auto unit = static_cast<wchar_t>(data[i] | data[i + 1] << 8);
        if (unit == L'\0') {
            arguments.emplace_back();
        } else {
            arguments.back() += unit;
        }
    }
    return arguments;
}

[[noreturn]] void Broken(const char* rule, const Arguments& arguments) {
    std::fprintf(stderr, "\nBroken: %s\nArguments (%zu):", rule, arguments.size());
    for (const std::wstring& argument : arguments) {
        std::fputs(" \"", stderr);
        for (const wchar_t unit : argument) {
            if (unit >= 0x20 && unit < 0x7F && unit != L'"' && unit != L'\\') {
                std::fputc(static_cast<char>(unit), stderr);
            } else {
                std::fprintf(stderr, "\\u%04X", static_cast<unsigned>(unit));
            }
        }
        std::fputc('"', stderr);
    }
    std::fputc('\n', stderr);
    std::abort();
}

void Require(bool holds, const char* rule, const Arguments& arguments) {
    if (!holds) {
        Broken(rule, arguments);
    }
}

// The switch an argument names, in lower case, or nothing.
std::wstring SwitchNamed(const std::wstring& argument) {
    if (argument.size() < 2 || (argument[0] != L'/' && argument[0] != L'-')) {
        return {};
    }
    std::wstring name;
    for (std::size_t i = 1; i < argument.size(); ++i) {
        const wchar_t c = argument[i];
        name += c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
    }
    return name;
}

std::optional<RunMode> ModeNamed(const std::wstring& name) {
    if (name == L"install") {
        return RunMode::Install;
    }
    if (name == L"uninstall") {
        return RunMode::Uninstall;
    }
    if (name == L"status") {
        return RunMode::StatusQuery;
    }
    if (name == L"?" || name == L"help") {
        return RunMode::Help;
    }
    return std::nullopt;
}

// The arguments read a second time by the usage's rules, written apart from the parser, so that
// its results are checked against the text and not against itself.
struct Reading {
    RunMode mode = RunMode::Toggle;
    bool quiet = false;
    std::wstring logFile;
    const char* refusal = nullptr; // a rule the arguments break
};

Reading ReadByTheUsage(const Arguments& arguments) {
    Reading reading;
    int modes = 0;
    int quiets = 0;
    int logs = 0;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::wstring name = SwitchNamed(arguments[i]);
        if (name == L"log") {
            ++logs;
            const bool fileFollows = i + 1 < arguments.size() && !arguments[i + 1].empty() &&
                                     SwitchNamed(arguments[i + 1]).empty();
            if (fileFollows) {
                reading.logFile = arguments[++i];
            } else {
                reading.refusal = "/log without its file name";
            }
        } else if (name == L"quiet") {
            ++quiets;
            reading.quiet = true;
        } else if (const std::optional<RunMode> mode = ModeNamed(name)) {
            ++modes;
            reading.mode = *mode;
        } else {
            reading.refusal = "an argument that is no switch of the usage";
        }
    }
    if (modes > 1) {
        reading.refusal = "more than one thing to do";
    }
    if (quiets > 1 || logs > 1) {
        reading.refusal = "a switch given twice";
    }
    if (reading.quiet && (reading.mode == RunMode::Toggle || reading.mode == RunMode::Help)) {
        reading.refusal = "/quiet where the run must show something";
    }
    return reading;
}

// Accepted options written out again: in the usage's order with "/", or backwards with "-" and
// in capitals. Either must be read back as the same options.
Arguments Rendered(const qx::CommandLine& options, bool backwards) {
    std::vector<Arguments> groups;
    const auto spelled = [backwards](std::wstring name) {
        if (!backwards) {
            return L"/" + name;
        }
        for (wchar_t& c : name) {
            if (c >= L'a' && c <= L'z') {
                c = static_cast<wchar_t>(c - L'a' + L'A');
            }
        }
        return L"-" + name;
    };
    switch (options.mode) {
    case RunMode::Install:
        groups.push_back({spelled(L"install")});
        break;
    case RunMode::Uninstall:
        groups.push_back({spelled(L"uninstall")});
        break;
    case RunMode::StatusQuery:
        groups.push_back({spelled(L"status")});
        break;
    case RunMode::Help:
        groups.push_back({spelled(backwards ? L"help" : L"?")});
        break;
    case RunMode::Toggle:
        break;
    }
    if (options.quiet) {
        groups.push_back({spelled(L"quiet")});
    }
    if (!options.logFile.empty()) {
        groups.push_back({spelled(L"log"), options.logFile});
    }
    Arguments rendered;
    for (std::size_t i = 0; i < groups.size(); ++i) {
        const Arguments& group = groups[backwards ? groups.size() - 1 - i : i];
        rendered.insert(rendered.end(), group.begin(), group.end());
    }
    return rendered;
}

void CheckRefused(const Arguments& arguments, const qx::CommandLine& parsed,
                  const std::optional<qx::UsageAnswer>& answer) {
    Require(answer.has_value() && answer->exitCode == 87, "a refused command line ends with 87",
            arguments);
    Require(answer->box == (parsed.quiet ? qx::UsageBox::Hidden : qx::UsageBox::Warning),
            "a refused command line shows the usage as a warning, unless quiet", arguments);
}

void CheckAccepted(const Arguments& arguments, const qx::CommandLine& parsed,
                   const std::optional<qx::UsageAnswer>& answer, const Reading& reading) {
    Require(parsed.mode == reading.mode, "the one thing to do is the one written", arguments);
    Require(!parsed.quiet || parsed.mode == RunMode::Install || parsed.mode == RunMode::Uninstall ||
                parsed.mode == RunMode::StatusQuery,
            "quiet only where nobody need answer or read", arguments);
    Require(parsed.logFile == reading.logFile, "/log takes the argument after it as its file",
            arguments);
    if (parsed.mode == RunMode::Help) {
        Require(answer.has_value() && answer->box == qx::UsageBox::Information &&
                    answer->exitCode == 0,
                "/? shows the usage as information and ends with 0", arguments);
    } else {
        Require(!answer.has_value(), "a command line that asks for work gets no usage", arguments);
    }
    for (const bool backwards : {false, true}) {
        const qx::CommandLine again = qx::ParseCommandLine(Rendered(parsed, backwards));
        Require(again.valid && again.mode == parsed.mode && again.quiet == parsed.quiet &&
                    again.logFile == parsed.logFile,
                backwards ? "the options written backwards read back the same"
                          : "the options written out read back the same",
                arguments);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Arguments arguments = ArgumentsFrom(data, size);
    const qx::CommandLine parsed = qx::ParseCommandLine(arguments);
    const std::optional<qx::UsageAnswer> answer = qx::AnswerWithUsage(parsed);
    const Reading reading = ReadByTheUsage(arguments);

    Require(parsed.quiet == reading.quiet, "quiet exactly when /quiet is written", arguments);
    if (parsed.valid && reading.refusal) {
        std::fprintf(stderr, "\nAccepted against the rule: %s", reading.refusal);
        Broken("accepted only what the usage allows", arguments);
    }
    Require(parsed.valid || reading.refusal, "refused only what the usage does not allow",
            arguments);
    if (parsed.valid) {
        CheckAccepted(arguments, parsed, answer, reading);
    } else {
        CheckRefused(arguments, parsed, answer);
    }
    return 0;
}
