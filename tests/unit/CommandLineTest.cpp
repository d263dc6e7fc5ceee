#include "installer/CommandLine.h"
#include "installer/UsageAnswer.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace qx::testing {
namespace {

struct Accepted {
    std::vector<std::wstring> arguments;
    RunMode mode;
    bool quiet;
    std::wstring logFile;
};

TEST(CommandLineTest, AcceptsEachModeWithItsOptionsInAnyOrderAndCase) {
    const Accepted cases[] = {
        {{}, RunMode::Toggle, false, L""},
        {{L"/install"}, RunMode::Install, false, L""},
        {{L"-INSTALL"}, RunMode::Install, false, L""},
        {{L"/Uninstall", L"/Quiet"}, RunMode::Uninstall, true, L""},
        {{L"-quiet", L"/install"}, RunMode::Install, true, L""},
        {{L"/status"}, RunMode::StatusQuery, false, L""},
        {{L"/status", L"/quiet"}, RunMode::StatusQuery, true, L""},
        {{L"/log", L"C:\\日志\\qx.log"}, RunMode::Toggle, false, L"C:\\日志\\qx.log"},
        {{L"/install", L"/quiet", L"/LOG", L"\\\\server\\logs\\qx setup.log"},
         RunMode::Install,
         true,
         L"\\\\server\\logs\\qx setup.log"},
        {{L"/log", L"status.log", L"/status"}, RunMode::StatusQuery, false, L"status.log"},
        {{L"/?"}, RunMode::Help, false, L""},
        {{L"-Help"}, RunMode::Help, false, L""},
    };
    for (const Accepted& c : cases) {
        std::wstring shown;
        for (const auto& argument : c.arguments) {
            shown += argument + L" ";
        }
        SCOPED_TRACE(::testing::Message() << "arguments: " << ::testing::PrintToString(shown));
        const CommandLine parsed = ParseCommandLine(c.arguments);
        EXPECT_TRUE(parsed.valid);
        EXPECT_EQ(parsed.mode, c.mode);
        EXPECT_EQ(parsed.quiet, c.quiet);
        EXPECT_EQ(parsed.logFile, c.logFile);
    }
}

struct Refused {
    const char* why;
    std::vector<std::wstring> arguments;
    bool quiet; // whether the usage box must stay hidden
};

TEST(CommandLineTest, RefusesWhatIsUnknownRepeatedIncompleteOrContradictory) {
    const Refused cases[] = {
        {"unknown switch", {L"/instal"}, false},
        {"a word that is no switch", {L"install"}, false},
        {"a stray word after a switch", {L"/install", L"now"}, false},
        {"a bare slash", {L"/"}, false},
        {"an empty argument", {L""}, false},
        {"a value glued to a switch", {L"/install:quiet"}, false},
        {"a repeated mode", {L"/install", L"-Install"}, false},
        {"a repeated option", {L"/quiet", L"/quiet", L"/uninstall"}, true},
        {"two modes", {L"/install", L"/uninstall"}, false},
        {"status and install", {L"/status", L"/install"}, false},
        {"help asked twice", {L"/?", L"/help"}, false},
        {"a log without its file", {L"/install", L"/log"}, false},
        {"a log with an empty file name", {L"/install", L"/quiet", L"/log", L""}, true},
        {"a switch where the log file should be", {L"/log", L"/quiet", L"/install"}, true},
        {"two logs", {L"/log", L"a.log", L"/log", L"b.log"}, false},
        {"quiet with the toggle, which must ask", {L"/quiet"}, true},
        {"quiet with help", {L"/?", L"/quiet"}, true},
        {"an unknown switch beside quiet", {L"/uninstall", L"/quiet", L"/force"}, true},
    };
    for (const Refused& c : cases) {
        SCOPED_TRACE(c.why);
        const CommandLine parsed = ParseCommandLine(c.arguments);
        EXPECT_FALSE(parsed.valid);
        EXPECT_EQ(parsed.quiet, c.quiet);
    }
}

struct Answered {
    const char* why;
    std::vector<std::wstring> arguments;
    std::optional<UsageBox> box; // empty: the run goes on to its work
    int exitCode;
};

TEST(CommandLineTest, AnswersARefusalOrHelpWithTheUsageAloneAndWorkWithNothing) {
    const Answered cases[] = {
        {"refused", {L"/instal"}, UsageBox::Warning, 87},
        {"refused, quiet", {L"/install", L"/quiet", L"/log"}, UsageBox::Hidden, 87},
        {"quiet with the toggle", {L"/quiet"}, UsageBox::Hidden, 87},
        {"help", {L"/?"}, UsageBox::Information, 0},
        {"help, refused for its quiet", {L"/help", L"/quiet"}, UsageBox::Hidden, 87},
        {"the toggle", {}, std::nullopt, 0},
        {"quiet work", {L"/uninstall", L"/quiet"}, std::nullopt, 0},
        {"status", {L"/status"}, std::nullopt, 0},
    };
    for (const Answered& c : cases) {
        SCOPED_TRACE(c.why);
        const std::optional<UsageAnswer> answer = AnswerWithUsage(ParseCommandLine(c.arguments));
        ASSERT_EQ(answer.has_value(), c.box.has_value());
        if (answer) {
            EXPECT_EQ(answer->box, *c.box);
            EXPECT_EQ(answer->exitCode, c.exitCode);
        }
    }
}

} // namespace
} // namespace qx::testing
