// The administrator's modes: what each changes, what it shows, and the exit code a deployment
// tool reads; and the toggle's exit codes.
#include "FakeHost.h"
#include "installer/MainMod.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

namespace qx::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using Op = FakeHost::Op;

const std::wstring kRecord = L"Tanrebo Software\\Merrowin";
const std::wstring kEarlierPath = L"E:\\旧版\\TORVA.xls";

class RunModeTest : public ::testing::Test {
protected:
    RunModeTest() { host.files[kSource] = "new add-in"; }

    void InstallEarlier(const std::string& bytes = "earlier add-in") {
        host.files[kInstalled] = bytes;
        host.settingsSections[kRecord] = {
            {L"Path", kEarlierPath}, {L"Unit", L"Halvetri"}, {L"Theme", L"蓝色"}};
    }

    int Run(RunMode mode, bool quiet) {
        MainMod mainMod(host, {mode, quiet});
        mainMod.Main();
        return mainMod.ExitCode();
    }

    std::wstring Record(const std::wstring& key) const {
        return host.Setting(L"Tanrebo Software", L"Merrowin", key);
    }

    FakeHost host;
};

TEST_F(RunModeTest, QuietInstallOnACleanProfileInstallsAndShowsNothing) {
    EXPECT_EQ(Run(RunMode::Install, true), 0);

    EXPECT_EQ(host.files[kInstalled], "new add-in");
    EXPECT_EQ(Record(L"Path"), kProgram + L"\\TORVA.xls");
    EXPECT_EQ(Record(L"Unit"), L"Halvetri");
    EXPECT_FALSE(host.ShowedAnything());
}

TEST_F(RunModeTest, InstallWithoutQuietEndsInTheSuccessWindowLikeTheToggle) {
    EXPECT_EQ(Run(RunMode::Install, false), 0);

    EXPECT_TRUE(host.successWindowShown);
    EXPECT_TRUE(host.shownMessages.empty());
}

// An update asks nothing and replaces the add-in and the record's own values, whatever state
// the earlier install was left in.
TEST_F(RunModeTest, InstallOverAnInstalledAddinUpdatesItWithoutAsking) {
    const std::pair<const char*, std::function<void(FakeHost&)>> earlierStates[] = {
        {"as installed", [](FakeHost&) {}},
        {"made read-only", [](FakeHost& h) { h.readOnlyFiles.insert(kInstalled); }},
        // A record deleted by hand or by a cleaner leaves an add-in that still needs updating.
        {"record gone", [](FakeHost& h) { h.settingsSections.erase(kRecord); }},
    };
    for (const auto& [name, arrange] : earlierStates) {
        SCOPED_TRACE(name);
        host = FakeHost();
        host.files[kSource] = "new add-in";
        InstallEarlier();
        arrange(host);

        EXPECT_EQ(Run(RunMode::Install, true), 0);

        EXPECT_EQ(host.files[kInstalled], "new add-in");
        EXPECT_EQ(Record(L"Path"), kProgram + L"\\TORVA.xls");
        EXPECT_EQ(Record(L"Unit"), L"Halvetri");
        EXPECT_FALSE(host.ShowedAnything());
    }
}

TEST_F(RunModeTest, AnUpdateKeepsTheRecordsOtherValues) {
    InstallEarlier();

    EXPECT_EQ(Run(RunMode::Install, true), 0);

    EXPECT_EQ(Record(L"Theme"), L"蓝色");
}

TEST_F(RunModeTest, QuietUninstallRemovesTheAddinAndRecordAndShowsNothing) {
    InstallEarlier();

    EXPECT_EQ(Run(RunMode::Uninstall, true), 0);

    EXPECT_EQ(host.files.count(kInstalled), 0u);
    EXPECT_FALSE(host.HasSection(L"Tanrebo Software", L"Merrowin"));
    EXPECT_FALSE(host.ShowedAnything());
}

TEST_F(RunModeTest, UninstallWithoutQuietTellsOfTheRemovalWithoutAsking) {
    InstallEarlier();

    EXPECT_EQ(Run(RunMode::Uninstall, false), 0);

    EXPECT_THAT(host.shownMessages, ElementsAre(L"Inform: Quorvale已经从您的系统中移除！   "));
}

// Twice in a row, as a logon script runs: the second finds nothing to do, and a record left
// without its add-in goes too.
TEST_F(RunModeTest, UninstallWhenNothingIsInstalledSucceedsAndTidiesALeftoverRecord) {
    host.settingsSections[kRecord] = {{L"Path", kEarlierPath}};

    EXPECT_EQ(Run(RunMode::Uninstall, true), 0);
    EXPECT_FALSE(host.HasSection(L"Tanrebo Software", L"Merrowin"));
    EXPECT_EQ(Run(RunMode::Uninstall, true), 0);
    EXPECT_FALSE(host.ShowedAnything());

    EXPECT_EQ(Run(RunMode::Uninstall, false), 0);
    EXPECT_THAT(host.shownMessages, ElementsAre(L"Inform: Quorvale尚未安装，无需卸载。   "));
}

TEST_F(RunModeTest, QuietUninstallOfAnAddinInUseFailsAndKeepsBoth) {
    InstallEarlier();
    host.lockedFiles.insert(kInstalled);

    EXPECT_EQ(Run(RunMode::Uninstall, true), 1603);

    EXPECT_EQ(host.files[kInstalled], "earlier add-in");
    EXPECT_EQ(Record(L"Path"), kEarlierPath);
    EXPECT_FALSE(host.ShowedAnything());
}

struct StatusCase {
    const char* name;
    std::function<void(FakeHost&)> arrange;
    int exitCode;
};

TEST_F(RunModeTest, StatusChangesNothingShowsNothingAndAnswersByExitCode) {
    const StatusCase cases[] = {
        {"installed", [](FakeHost& h) { h.files[kInstalled] = "x"; }, 0},
        {"not installed", [](FakeHost&) {}, 1},
        {"only a hidden leftover",
         [](FakeHost& h) {
             h.files[kInstalled] = "x";
             h.hiddenFiles.insert(kInstalled);
         },
         1},
        // What a killed run left beside the start-up folder stays for the next install.
        {"installed, a killed run's staged copy beside it",
         [](FakeHost& h) {
             h.files[kInstalled] = "x";
             h.files[kStaging] = "half";
         },
         0},
        {"cannot look", [](FakeHost& h) { h.Fail(Op::FindFile); }, 1603},
        {"no Excel", [](FakeHost& h) { h.excelInstalled = false; }, 1603},
        {"another account", [](FakeHost& h) { h.desktopUser = false; }, 1603},
    };
    for (const StatusCase& c : cases) {
        SCOPED_TRACE(c.name);
        for (const bool quiet : {false, true}) {
            FakeHost world;
            c.arrange(world);
            const auto files = world.files;
            MainMod mainMod(world, {RunMode::StatusQuery, quiet});
            mainMod.Main();

            EXPECT_EQ(mainMod.ExitCode(), c.exitCode);
            EXPECT_FALSE(world.ShowedAnything());
            EXPECT_EQ(world.files, files);
            EXPECT_TRUE(world.settingsSections.empty());
        }
    }
}

// Failures in quiet mode are exactly as safe as with boxes, and only the exit code tells.
TEST_F(RunModeTest, QuietFailuresChangeNothingAndShowNothing) {
    const std::pair<const char*, std::function<void(FakeHost&)>> cases[] = {
        {"another account", [](FakeHost& h) { h.desktopUser = false; }},
        {"no Excel", [](FakeHost& h) { h.excelInstalled = false; }},
        {"Excel reports no folder", [](FakeHost& h) { h.startupFolder.clear(); }},
        {"source missing", [](FakeHost& h) { h.files.clear(); }},
        {"record refused", [](FakeHost& h) { h.Fail(Op::SaveSetting); }},
    };
    for (const auto& [name, arrange] : cases) {
        SCOPED_TRACE(name);
        FakeHost world;
        world.files[kSource] = "new add-in";
        arrange(world);
        MainMod mainMod(world, {RunMode::Install, true});
        mainMod.Main();

        EXPECT_EQ(mainMod.ExitCode(), 1603);
        EXPECT_FALSE(world.ShowedAnything());
        EXPECT_EQ(world.files.count(kInstalled), 0u);
        EXPECT_FALSE(world.HasSection(L"Tanrebo Software", L"Merrowin"));
    }
}

struct ToggleExit {
    const char* name;
    std::function<void(FakeHost&)> arrange;
    int exitCode;
};

TEST_F(RunModeTest, TheToggleEndsWithTheExitCodeOfWhatHappened) {
    const auto installed = [](FakeHost& h) { h.files[kInstalled] = "installed"; };
    const ToggleExit cases[] = {
        {"installed", [](FakeHost&) {}, 0},
        {"removed on Yes", installed, 0},
        {"kept on No",
         [&](FakeHost& h) {
             installed(h);
             h.userAnswer = kAnswerNo;
         },
         1602},
        {"question could not be asked",
         [&](FakeHost& h) {
             installed(h);
             h.userAnswer = std::nullopt;
         },
         1603},
        {"removal failed",
         [&](FakeHost& h) {
             installed(h);
             h.lockedFiles.insert(kInstalled);
         },
         1603},
        {"install failed", [](FakeHost& h) { h.Fail(Op::CopyFile); }, 1603},
        {"no start-up folder", [](FakeHost& h) { h.excelInstalled = false; }, 1603},
        {"another account", [](FakeHost& h) { h.desktopUser = false; }, 1603},
    };
    for (const ToggleExit& c : cases) {
        SCOPED_TRACE(c.name);
        FakeHost world;
        world.files[kSource] = "new add-in";
        c.arrange(world);
        MainMod mainMod(world);
        mainMod.Main();
        EXPECT_EQ(mainMod.ExitCode(), c.exitCode);
    }
}

TEST_F(RunModeTest, TheLogHasALineForEachStepWithItsOutcome) {
    Run(RunMode::Install, true);

    const std::vector<std::wstring> expected = {
        L"Check the account: the desktop's own user",
        L"Look for Excel's window on the desktop: none",
        L"Reach the Excel the user has open: none running",
        L"Start Excel: done",
        L"Ask Excel for its start-up folder: done",
        L"Excel's start-up folder: " + kStartup,
        L"Excel used: one started for this run",
        L"Look for " + kInstalled + L": not installed",
        L"Find the program's folder: done",
        L"Look for " + kSource + L": there",
        L"Create " + kStartup + L" if missing: done",
        L"Copy " + kSource + L" to " + kStaging + L": done",
        L"Record Path = " + kProgram + L"\\TORVA.xls: done",
        L"Record Unit = Halvetri: done",
        L"Write the record to disk: done",
        L"Move " + kStaging + L" to " + kInstalled + L": done",
        L"Write " + kStartup + L" to disk: done",
        L"Compare " + kInstalled +
            L" with what was staged, after a security program's look: "
            L"the same",
        L"Ask Excel for its version: done",
        L"Excel's version: 16.0",
        L"Read HKCU\\Software\\Microsoft\\Office\\16.0\\Excel\\Resiliency\\DisabledItems: none",
        L"Read HKCU\\Software\\Policies\\Microsoft\\Office\\16.0\\Excel\\Security\\Trusted "
        L"Locations\\AllLocationsDisabled: not set",
        L"Read HKCU\\Software\\Microsoft\\Office\\16.0\\Excel\\Security\\Trusted "
        L"Locations\\AllLocationsDisabled: not set",
        L"Read HKCU\\Software\\Policies\\Microsoft\\Office\\16.0\\Common\\Security\\Trusted "
        L"Locations\\Allow User Locations: not set",
        L"Read HKCU\\Software\\Microsoft\\Office\\16.0\\Common\\Security\\Trusted "
        L"Locations\\Allow User Locations: not set",
        L"Is " + kStartup + L" on the network: no",
        L"Trust in Excel 16.0: " + kStartup + L" is a trusted location; the add-in's macros run",
    };
    EXPECT_EQ(host.logLines, expected);
}

TEST_F(RunModeTest, TheLogGivesAFailuresNumberAndDescriptionAndWhatWasPutBack) {
    InstallEarlier();
    host.FailNth(Op::SaveSetting, 2,
                 HostError{1021, L"无法在易失性父项下创建稳定子项。\r\n", false});

    Run(RunMode::Install, true);

    EXPECT_THAT(host.logLines, Contains(L"Record Unit = Halvetri: failed, error 1021: "
                                        L"无法在易失性父项下创建稳定子项。"));
    EXPECT_THAT(host.logLines, Contains(L"Put back the record's Path: done"));
    EXPECT_THAT(host.logLines, Contains(L"Delete " + kStaging + L": done"));
    ASSERT_FALSE(host.logLines.empty());
    EXPECT_EQ(host.logLines.back(),
              L"Failed: Quorvale安装失败：无法在易失性父项下创建稳定子项。   ");
}

TEST_F(RunModeTest, TheLogWritesHresultsInHex) {
    host.excelInstalled = false;

    Run(RunMode::Install, true);

    EXPECT_THAT(host.logLines, Contains(L"Start Excel: failed, error 0x80040154: 没有注册类"));
}

} // namespace
} // namespace qx::testing
