#include "FakeHost.h"
#include "installer/MainMod.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace qx::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using Op = FakeHost::Op;

const std::wstring kAccessDenied = L"Quorvale安装失败：拒绝访问。   ";

class InstallTest : public ::testing::Test {
protected:
    InstallTest() { host.files[kSource] = "add-in bytes"; }

    void Run() { MainMod(host).Main(); }

    FakeHost host;
};

TEST_F(InstallTest, CopiesTheAddinRecordsTheWorkbookThenOpensTheWindowInThatOrder) {
    Run();

    EXPECT_THAT(
        host.calls,
        ElementsAre(
            L"RunsAsDesktopUser", L"ExcelWindowOpen", L"AttachToRunningExcel",
            L"AcquireExcelApplication", L"ReadStartupPath", L"FindFile " + kInstalled,
            L"ApplicationFolder", L"FileExists " + kSource, L"IsInTemporaryFolder " + kProgram,
            L"ReadFileBytes " + kInstalled, L"ReadSetting Tanrebo Software | Merrowin | Path",
            L"ReadSetting Tanrebo Software | Merrowin | Unit", L"ApplicationFolder",
            L"CreateFolder " + kStartup, L"MakeFileOrdinary " + kInstalled,
            L"CopyFile " + kSource + L" -> " + kInstalled, L"ApplicationFolder",
            L"SaveSetting Tanrebo Software | Merrowin | Path = " + kProgram + L"\\TORVA.xls",
            L"SaveSetting Tanrebo Software | Merrowin | Unit = Halvetri", L"ShowSuccessWindow"));
    EXPECT_EQ(host.files[kInstalled], "add-in bytes");
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

    EXPECT_THAT(host.calls, Contains(L"CopyFile Q:\\安装.xla -> X:\\QxButton.xla"));
    EXPECT_EQ(host.Setting(L"Tanrebo Software", L"Merrowin", L"Path"), L"Q:\\TORVA.xls");
    EXPECT_EQ(host.files[L"X:\\QxButton.xla"], "from the root");
}

// What happens after each failure on the way in: the user hears of it, nothing stays
// half-installed, and success is never shown.
struct InstallFailure {
    const char* name;
    Op failing;
    int nth;
    bool addinRemains;
    bool pathWritten;
    std::vector<std::wstring> lastCalls;
};
void PrintTo(const InstallFailure& c, std::ostream* out) {
    *out << c.name;
}

class InstallFailureTest : public InstallTest,
                           public ::testing::WithParamInterface<InstallFailure> {};

TEST_P(InstallFailureTest, StopsReportsAndLeavesNoHalfInstall) {
    const InstallFailure& failure = GetParam();
    host.FailNth(failure.failing, failure.nth, FakeHost::DefaultError());

    Run();

    ASSERT_GE(host.calls.size(), failure.lastCalls.size());
    const std::vector<std::wstring> tail(host.calls.end() - failure.lastCalls.size(),
                                         host.calls.end());
    EXPECT_EQ(tail, failure.lastCalls);
    EXPECT_FALSE(host.successWindowShown);
    EXPECT_EQ(host.files.count(kInstalled) != 0, failure.addinRemains);
    EXPECT_EQ(host.Setting(L"Tanrebo Software", L"Merrowin", L"Path") != L"<absent>",
              failure.pathWritten);
    EXPECT_EQ(host.Setting(L"Tanrebo Software", L"Merrowin", L"Unit"), L"<absent>");
}

INSTANTIATE_TEST_SUITE_P(
    EachInstallStep, InstallFailureTest,
    ::testing::Values(InstallFailure{"ProgramFolderUnknown",
                                     Op::ApplicationFolder,
                                     2,
                                     false,
                                     false,
                                     {L"ApplicationFolder", L"Warn " + kAccessDenied}},
                      InstallFailure{"CopyFails",
                                     Op::CopyFile,
                                     1,
                                     false,
                                     false,
                                     {L"CopyFile " + kSource + L" -> " + kInstalled,
                                      L"DeleteFile " + kInstalled, L"Warn " + kAccessDenied}},
                      InstallFailure{"ProgramFolderUnknownForThePath",
                                     Op::ApplicationFolder,
                                     3,
                                     false,
                                     false,
                                     {L"ApplicationFolder", L"DeleteFile " + kInstalled,
                                      L"Warn " + kAccessDenied}},
                      InstallFailure{"PathWriteRefused",
                                     Op::SaveSetting,
                                     1,
                                     false,
                                     false,
                                     {L"SaveSetting Tanrebo Software | Merrowin | Path = " +
                                          kProgram + L"\\TORVA.xls",
                                      L"DeleteFile " + kInstalled, L"Warn " + kAccessDenied}},
                      InstallFailure{"UnitWriteRefused",
                                     Op::SaveSetting,
                                     2,
                                     false,
                                     false,
                                     {L"SaveSetting Tanrebo Software | Merrowin | Unit = Halvetri",
                                      L"DeleteFile " + kInstalled,
                                      L"DeleteSettingKey Tanrebo Software | Merrowin | Path",
                                      L"Warn " + kAccessDenied}}),
    [](const ::testing::TestParamInfo<InstallFailure>& param) { return param.param.name; });

// A rollback that cannot take the add-in back out leaves it whole, with its record, and says so.
TEST_F(InstallTest, AnAddinThatCannotBeTakenBackOutKeepsItsRecordAndTheUserIsTold) {
    host.FailNth(Op::SaveSetting, 1, FakeHost::DefaultError());
    host.FailNth(Op::DeleteFile, 1,
                 HostError{32, L"另一个程序正在使用此文件，进程无法访问。", false});

    MainMod mainMod(host);
    mainMod.Main();

    EXPECT_EQ(mainMod.ExitCode(), 1603);
    EXPECT_EQ(host.files[kInstalled], "add-in bytes");
    EXPECT_EQ(host.Setting(L"Tanrebo Software", L"Merrowin", L"Path"), kProgram + L"\\TORVA.xls");
    EXPECT_EQ(host.Setting(L"Tanrebo Software", L"Merrowin", L"Unit"), L"Halvetri");
    EXPECT_FALSE(host.successWindowShown);
    EXPECT_THAT(
        host.shownMessages,
        ElementsAre(L"Warn: Quorvale安装失败：拒绝访问。未能完全撤销：文件“QxButton.xla”仍留在“" +
                    kStartup + L"”中；设置记录未能恢复原样。   "));
    EXPECT_THAT(host.logLines, Contains(L"Not undone: the add-in stayed in " + kStartup +
                                        L" as this run left it"));
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
                              L"AcquireExcelApplication", L"ReadStartupPath <empty handle>",
                              kWarnFolder}},
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
