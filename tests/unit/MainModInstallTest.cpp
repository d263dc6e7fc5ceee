#include "FakeHost.h"
#include "installer/MainMod.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace qx::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using Op = FakeHost::Op;

const std::wstring kDisabledItemsKey =
    L"Software\\Microsoft\\Office\\16.0\\Excel\\Resiliency\\DisabledItems";
const std::wstring kPolicyExcelLocations =
    L"Software\\Policies\\Microsoft\\Office\\16.0\\Excel\\Security\\Trusted Locations";
const std::wstring kUserExcelLocations =
    L"Software\\Microsoft\\Office\\16.0\\Excel\\Security\\Trusted Locations";
const std::wstring kPolicyCommonLocations =
    L"Software\\Policies\\Microsoft\\Office\\16.0\\Common\\Security\\Trusted Locations";
const std::wstring kUserCommonLocations =
    L"Software\\Microsoft\\Office\\16.0\\Common\\Security\\Trusted Locations";

class InstallTest : public ::testing::Test {
protected:
    InstallTest() { host.files[kSource] = "add-in bytes"; }

    void Run() { MainMod(host).Main(); }

    FakeHost host;
};

// The add-in is written beside the start-up folder, the record is written and flushed, and only
// then does one rename put the add-in in place.
TEST_F(InstallTest, StagesTheAddinRecordsTheWorkbookThenRenamesItInPlace) {
    Run();

    EXPECT_THAT(
        host.calls,
        ElementsAre(L"RunsAsDesktopUser", L"ExcelWindowOpen", L"AttachToRunningExcel",
                    L"AcquireExcelApplication", L"ReadStartupPath", L"MakeFileOrdinary " + kStaging,
                    L"FindFile " + kInstalled, L"ApplicationFolder", L"FileExists " + kSource,
                    L"IsInTemporaryFolder " + kProgram, L"ReadFileBytes " + kInstalled,
                    L"ReadSetting Tanrebo Software | Merrowin | Path",
                    L"ReadSetting Tanrebo Software | Merrowin | Unit", L"CreateFolder " + kStartup,
                    L"CopyFile " + kSource + L" -> " + kStaging,
                    L"SaveSetting Tanrebo Software | Merrowin | Path = " + kProgram +
                        L"\\TORVA.xls",
                    L"SaveSetting Tanrebo Software | Merrowin | Unit = Halvetri",
                    L"FlushSettings Tanrebo Software | Merrowin", L"MakeFileOrdinary " + kInstalled,
                    L"MoveFileReplacing " + kStaging + L" -> " + kInstalled,
                    L"FlushFolder " + kStartup, L"SameBytesAfterScan " + kInstalled,
                    L"ReadExcelVersion", L"ListUserValues " + kDisabledItemsKey,
                    L"ReadUserNumber " + kPolicyExcelLocations + L" | AllLocationsDisabled",
                    L"ReadUserNumber " + kUserExcelLocations + L" | AllLocationsDisabled",
                    L"ReadUserNumber " + kPolicyCommonLocations + L" | Allow User Locations",
                    L"ReadUserNumber " + kUserCommonLocations + L" | Allow User Locations",
                    L"IsOnNetwork " + kStartup, L"ShowSuccessWindow"));
    EXPECT_EQ(host.files[kInstalled], "add-in bytes");
    EXPECT_EQ(host.files.count(kStaging), 0u);
    EXPECT_TRUE(host.successWindowShown);
    EXPECT_TRUE(host.shownMessages.empty());
}

TEST_F(InstallTest, KeepsTheExcelHandleAndStartupFolderForTheRestOfTheRun) {
    MainMod mainMod(host);
    mainMod.Main();

    EXPECT_EQ(mainMod.state().excel.get(), host.handedOut);
    EXPECT_NE(mainMod.state().excel, nullptr);
    EXPECT_EQ(mainMod.state().startupFolder, kStartup);
}

TEST_F(InstallTest, ReinstallFromAnotherFolderReplacesThePath) {
    host.settingsSections[L"Tanrebo Software\\Merrowin"] = {{L"Path", L"E:\\Old\\TORVA.xls"},
                                                            {L"Unit", L"Halvetri"}};
    host.programFolder = L"F:\\新的 文件夹";
    host.files[L"F:\\新的 文件夹\\安装.xla"] = "newer add-in";

    Run();

    EXPECT_EQ(host.Setting(L"Tanrebo Software", L"Merrowin", L"Path"),
              L"F:\\新的 文件夹\\TORVA.xls");
    EXPECT_EQ(host.Setting(L"Tanrebo Software", L"Merrowin", L"Unit"), L"Halvetri");
    EXPECT_EQ(host.files[kInstalled], "newer add-in");
}

TEST_F(InstallTest, AHiddenInstalledAddinDoesNotCountAsInstalled) {
    host.files[kInstalled] = "stale";
    host.hiddenFiles.insert(kInstalled);

    Run();

    EXPECT_TRUE(host.successWindowShown);
    EXPECT_EQ(host.files[kInstalled], "add-in bytes");
}

// A drive root comes back with its separator; a doubled one must not reach the record.
TEST_F(InstallTest, ProgramOnADriveRootJoinsWithOneSeparator) {
    host.programFolder = L"Q:\\";
    host.files[L"Q:\\安装.xla"] = "from the root";
    host.startupFolder = L"X:\\";

    Run();

    // With no folder above the start-up folder, the add-in is staged in it.
    EXPECT_THAT(host.calls, Contains(L"MoveFileReplacing X:\\QxButton.xla.QXSetup-staging -> "
                                     L"X:\\QxButton.xla"));
    EXPECT_EQ(host.Setting(L"Tanrebo Software", L"Merrowin", L"Path"), L"Q:\\TORVA.xls");
    EXPECT_EQ(host.files[L"X:\\QxButton.xla"], "from the root");
}

// A start-up folder that is another disk mounted in a folder: the add-in cannot be renamed into
// it from beside it, and the run fails as any refused rename does.
TEST_F(InstallTest, AStartupFolderOnAnotherVolumeFailsTheRunWithNothingChanged) {
    host.otherVolumes.insert(kStartup);

    MainMod mainMod(host);
    mainMod.Main();

    EXPECT_EQ(mainMod.ExitCode(), 1603);
    EXPECT_EQ(host.files.count(kInstalled), 0u);
    EXPECT_EQ(host.files.count(kStaging), 0u);
    EXPECT_EQ(host.Setting(L"Tanrebo Software", L"Merrowin", L"Path"), L"<absent>");
    EXPECT_EQ(host.Setting(L"Tanrebo Software", L"Merrowin", L"Unit"), L"<absent>");
    EXPECT_THAT(host.shownMessages,
                ElementsAre(L"Warn: Quorvale安装失败：系统无法将文件移到不同的磁盘驱动器。   "));
}

TEST_F(InstallTest, TheCopysOwnFailureIsReportedWithThePlatformsDescription) {
    host.FailNth(Op::CopyFile, 1, HostError{2, L"系统找不到指定的文件。\r\n", true});

    Run();

    EXPECT_THAT(host.shownMessages,
                ElementsAre(L"Warn: Quorvale安装失败：系统找不到指定的文件。   "));
    EXPECT_EQ(host.files.count(kInstalled), 0u);
    EXPECT_FALSE(host.HasSection(L"Tanrebo Software", L"Merrowin"));
}

TEST_F(InstallTest, AWindowThatCannotOpenEndsTheRunWithTheInstallInPlace) {
    host.Fail(Op::ShowSuccessWindow);

    Run();

    ASSERT_FALSE(host.calls.empty());
    EXPECT_EQ(host.calls.back(), L"ShowSuccessWindow");
    EXPECT_EQ(host.files[kInstalled], "add-in bytes");
    EXPECT_EQ(host.Setting(L"Tanrebo Software", L"Merrowin", L"Unit"), L"Halvetri");
    EXPECT_TRUE(host.shownMessages.empty());
}

// Without Excel's start-up folder nothing may be touched: a bare "\QxButton.xla" would be the
// root of whatever drive is current.
struct StartupFolderUnknown {
    const char* name;
    void (*arrange)(FakeHost&);
    std::vector<std::wstring> calls;
};
void PrintTo(const StartupFolderUnknown& c, std::ostream* out) {
    *out << c.name;
}

class StartupFolderUnknownTest : public InstallTest,
                                 public ::testing::WithParamInterface<StartupFolderUnknown> {};

TEST_P(StartupFolderUnknownTest, ChangesNothingAndSaysSo) {
    GetParam().arrange(host);
    host.files[L"\\QxButton.xla"] = "someone else's";

    Run();

    EXPECT_EQ(host.calls, GetParam().calls);
    EXPECT_THAT(
        host.shownMessages,
        ElementsAre(
            L"Warn: 无法从 Excel 获取启动文件夹，请确认本机已安装 Excel。未做任何更改。   "));
    EXPECT_EQ(host.files.size(), 2u);
    EXPECT_TRUE(host.settingsSections.empty());
}

const std::wstring kWarnFolder =
    L"Warn 无法从 Excel 获取启动文件夹，请确认本机已安装 Excel。未做任何更改。   ";

INSTANTIATE_TEST_SUITE_P(
    EachCause, StartupFolderUnknownTest,
    ::testing::Values(
        StartupFolderUnknown{"ExcelNotInstalled",
                             [](FakeHost& h) { h.excelInstalled = false; },
                             {L"RunsAsDesktopUser", L"ExcelWindowOpen", L"AttachToRunningExcel",
                              L"AcquireExcelApplication", kWarnFolder}},
        StartupFolderUnknown{"StartupPathUnreadable",
                             [](FakeHost& h) { h.Fail(Op::ReadStartupPath); },
                             {L"RunsAsDesktopUser", L"ExcelWindowOpen", L"AttachToRunningExcel",
                              L"AcquireExcelApplication", L"ReadStartupPath", kWarnFolder}},
        StartupFolderUnknown{"ExcelReportsNoFolder",
                             [](FakeHost& h) { h.startupFolder.clear(); },
                             {L"RunsAsDesktopUser", L"ExcelWindowOpen", L"AttachToRunningExcel",
                              L"AcquireExcelApplication", L"ReadStartupPath", kWarnFolder}}),
    [](const ::testing::TestParamInfo<StartupFolderUnknown>& param) { return param.param.name; });

TEST(ToggleTest, ThreeRunsInstallUninstallInstall) {
    FakeHost host;
    const std::wstring source = host.programFolder + L"\\安装.xla";
    const std::wstring installed = host.startupFolder + L"\\QxButton.xla";
    host.files[source] = "add-in";

    MainMod(host).Main();
    ASSERT_TRUE(host.successWindowShown);
    ASSERT_EQ(host.files.count(installed), 1u);

    host.successWindowShown = false;
    MainMod(host).Main();
    EXPECT_EQ(host.files.count(installed), 0u);
    EXPECT_FALSE(host.HasSection(L"Tanrebo Software", L"Merrowin"));
    EXPECT_EQ(host.settingsApplications.count(L"Tanrebo Software"), 1u);
    EXPECT_FALSE(host.successWindowShown);

    MainMod(host).Main();
    EXPECT_TRUE(host.successWindowShown);
    EXPECT_EQ(host.files[installed], "add-in");
}

} // namespace
} // namespace qx::testing
