// Excel already open, as most users have it: which Excel is asked, what is opened in it and
// closed there, and what the user is told when it cannot be reached. Then a program folder that
// cannot work (run from inside a zip).
#include "FakeHost.h"
#include "installer/MainMod.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace qx::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;
using Op = FakeHost::Op;

const std::wstring kRestart =
    L"Inform Quorvale已经安装。请关闭并重新打开 Excel，“文件(F)”菜单中才会出现新的菜单项。   ";
const std::wstring kWriteUnit = L"SaveSetting Tanrebo Software | Merrowin | Unit = Halvetri";
const std::wstring kRecord = L"Tanrebo Software\\Merrowin";

// Where a call stands in the run, or -1: for "this before that".
long IndexOf(const FakeHost& host, const std::wstring& call) {
    const auto found = std::find(host.calls.begin(), host.calls.end(), call);
    return found == host.calls.end() ? -1 : found - host.calls.begin();
}

class ExcelOpenTest : public ::testing::Test {
protected:
    ExcelOpenTest() { host.files[kSource] = "new add-in"; }

    int Run(RunMode mode = RunMode::Toggle, bool quiet = false) {
        MainMod mainMod(host, {mode, quiet});
        mainMod.Main();
        return mainMod.ExitCode();
    }

    void InstallEarlier(bool openInUsersExcel) {
        host.files[kInstalled] = "earlier add-in";
        host.settingsSections[kRecord] = {{L"Path", L"E:\\旧版\\TORVA.xls"},
                                          {L"Unit", L"Halvetri"}};
        if (openInUsersExcel) {
            host.openInUsersExcel.insert(kInstalled);
        }
    }

    bool InstalledWithRecord(const std::string& bytes) const {
        const auto found = host.files.find(kInstalled);
        return found != host.files.end() && found->second == bytes &&
               host.Setting(L"Tanrebo Software", L"Merrowin", L"Unit") == L"Halvetri";
    }

    FakeHost host;
};

// The install, whichever Excel is open: it is always done, and the success window is always
// last; in between, the add-in is opened in the user's Excel or the user is asked to restart
// Excel, never both, and never when no Excel is open.
struct InstallCase {
    const char* name;
    std::function<void(FakeHost&)> arrange;
    bool startsExcel;   // a hidden Excel of the program's own
    bool opensInExcel;  // the add-in opened in the user's Excel
    bool asksToRestart; // the box before the success window
};
void PrintTo(const InstallCase& c, std::ostream* out) {
    *out << c.name;
}

class InstallWithExcelTest : public ExcelOpenTest,
                             public ::testing::WithParamInterface<InstallCase> {};

TEST_P(InstallWithExcelTest, InstallsThenOpensItThereOrAsksForARestart) {
    const InstallCase& c = GetParam();
    c.arrange(host);

    EXPECT_EQ(Run(), 0);

    EXPECT_TRUE(InstalledWithRecord("new add-in"));
    EXPECT_EQ(IndexOf(host, L"AcquireExcelApplication") >= 0, c.startsExcel);
    const long opened = IndexOf(host, L"OpenAddin " + kInstalled);
    const long restart = IndexOf(host, kRestart);
    const long window = IndexOf(host, L"ShowSuccessWindow");
    ASSERT_GE(window, 0);
    EXPECT_EQ(window + 1, static_cast<long>(host.calls.size()));
    EXPECT_EQ(opened >= 0, c.opensInExcel);
    EXPECT_EQ(restart >= 0, c.asksToRestart);
    for (const long step : {opened, restart}) {
        if (step >= 0) {
            EXPECT_GT(step, IndexOf(host, kWriteUnit)) << "before the install was complete";
            EXPECT_LT(step, window);
        }
    }
    EXPECT_EQ(host.openInUsersExcel.count(kInstalled) != 0, c.opensInExcel && !c.asksToRestart);
}

INSTANTIATE_TEST_SUITE_P(
    EachExcel, InstallWithExcelTest,
    ::testing::Values(InstallCase{"NoExcelOpen", [](FakeHost&) {}, true, false, false},
                      InstallCase{"UsersExcelReachable",
                                  [](FakeHost& h) {
                                      h.usersExcelRunning = true;
                                      h.excelWindowOpen = true;
                                  },
                                  false, true, false},
                      InstallCase{"UsersExcelBusy",
                                  [](FakeHost& h) {
                                      h.usersExcelRunning = true;
                                      h.usersExcelAnswers = false;
                                  },
                                  true, false, true},
                      InstallCase{"WindowOpenButNotRegisteredYet",
                                  [](FakeHost& h) { h.excelWindowOpen = true; }, true, false, true},
                      InstallCase{
                          "UsersExcelFailsToOpenIt",
                          [](FakeHost& h) {
                              h.usersExcelRunning = true;
                              h.Fail(Op::OpenAddin, HostError{0x800A03ECu, L"无法打开文件", false});
                          },
                          false, true, true}),
    [](const ::testing::TestParamInfo<InstallCase>& param) { return param.param.name; });

TEST_F(ExcelOpenTest, AQuietInstallAsksNothingAndLogsWhyExcelMustRestart) {
    host.excelWindowOpen = true;

    EXPECT_EQ(Run(RunMode::Install, true), 0);

    EXPECT_TRUE(InstalledWithRecord("new add-in"));
    EXPECT_TRUE(host.shownMessages.empty());
    EXPECT_FALSE(host.successWindowShown);
    EXPECT_THAT(host.logLines, Contains(L"Excel must be restarted to load the add-in: Excel is "
                                        L"open but could not be reached"));
    EXPECT_THAT(host.logLines, Contains(L"Excel used: one started for this run; the user's is "
                                        L"open but could not be reached"));
}

TEST_F(ExcelOpenTest, TheUsersExcelTellsTheFolderAndNoSecondExcelStarts) {
    host.usersExcelRunning = true;
    host.startupFolder = L"C:\\用户\\Excel 启动";

    Run();

    EXPECT_THAT(host.calls, Contains(L"ReadStartupPath <user's Excel>"));
    EXPECT_THAT(host.calls, Not(Contains(L"AcquireExcelApplication")));
    EXPECT_EQ(host.files[L"C:\\用户\\Excel 启动\\QxButton.xla"], "new add-in");
    EXPECT_THAT(host.logLines, Contains(L"Excel used: the user's, already open"));
}

// Uninstall with the user's Excel reached: the add-in is taken out of it before its file is
// deleted, and a removal that fails leaves Excel as it was.
struct RemovalCase {
    const char* name;
    std::function<void(FakeHost&)> arrange;
    int exitCode;
    bool deleteTried; // not while Excel still has the add-in open: moved out, then deleted
    bool removed;
    bool openInExcelAfter;
    std::vector<std::wstring> excelCalls; // CloseAddin and OpenAddin, in order
};
void PrintTo(const RemovalCase& c, std::ostream* out) {
    *out << c.name;
}

class RemovalWithExcelTest : public ExcelOpenTest,
                             public ::testing::WithParamInterface<RemovalCase> {
protected:
    RemovalWithExcelTest() { host.usersExcelRunning = true; }
};

TEST_P(RemovalWithExcelTest, ClosesItThereFirstAndKeepsBothOnFailure) {
    const RemovalCase& c = GetParam();
    InstallEarlier(true);
    c.arrange(host);

    EXPECT_EQ(Run(RunMode::Uninstall, true), c.exitCode);

    EXPECT_EQ(host.files.count(kInstalled) == 0, c.removed);
    EXPECT_EQ(!host.HasSection(L"Tanrebo Software", L"Merrowin"), c.removed);
    EXPECT_EQ(host.openInUsersExcel.count(kInstalled) != 0, c.openInExcelAfter);
    std::vector<std::wstring> excelCalls;
    for (const auto& call : host.calls) {
        if (call.rfind(L"CloseAddin", 0) == 0 || call.rfind(L"OpenAddin", 0) == 0) {
            excelCalls.push_back(call);
        }
    }
    EXPECT_EQ(excelCalls, c.excelCalls);
    const long closed = IndexOf(host, L"CloseAddin QxButton.xla");
    const long deleted = IndexOf(host, L"MoveFileReplacing " + kInstalled + L" -> " + kStaging);
    EXPECT_EQ(deleted >= 0, c.deleteTried);
    if (deleted >= 0) {
        EXPECT_LT(closed, deleted);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EachState, RemovalWithExcelTest,
    ::testing::Values(
        RemovalCase{
            "OpenThere", [](FakeHost&) {}, 0, true, true, false, {L"CloseAddin QxButton.xla"}},
        RemovalCase{"NotOpenThere",
                    [](FakeHost& h) { h.openInUsersExcel.clear(); },
                    0,
                    true,
                    true,
                    false,
                    {L"CloseAddin QxButton.xla"}},
        RemovalCase{
            "ExcelWillNotCloseIt",
            [](FakeHost& h) {
                h.Fail(Op::CloseAddin, HostError{0x80010001u, L"被呼叫方拒绝了呼叫。", false});
            },
            1603,
            false,
            false,
            true,
            {L"CloseAddin QxButton.xla"}},
        RemovalCase{"ClosedButTheFileCannotBeDeleted",
                    [](FakeHost& h) { h.readOnlyFiles.insert(kInstalled); },
                    1603,
                    true,
                    false,
                    true,
                    {L"CloseAddin QxButton.xla", L"OpenAddin " + kInstalled}}),
    [](const ::testing::TestParamInfo<RemovalCase>& param) { return param.param.name; });

TEST_F(ExcelOpenTest, ABusyExcelThatHoldsTheAddinFailsTheRemovalTruthfully) {
    InstallEarlier(true);
    host.usersExcelRunning = true;
    host.usersExcelAnswers = false;

    EXPECT_EQ(Run(), 1603);

    EXPECT_THAT(host.calls, Contains(L"AcquireExcelApplication"));
    EXPECT_THAT(host.shownMessages,
                ElementsAre(L"AskYesNo: Quorvale已经安装，是否要卸载？   ",
                            L"Warn: Quorvale未能移除：另一个程序正在使用此文件，进程无法访问。"
                            L"请关闭 Excel 后重试。   "));
    EXPECT_TRUE(InstalledWithRecord("earlier add-in"));
}

// The add-in's auto-close macro shows a box of its own, and Excel does not answer in time: the
// run gives up, but Excel closes the add-in once the box goes. The user is never told that
// nothing changed.
TEST_F(ExcelOpenTest, AnExcelThatClosesTheAddinTooLateLeavesItClosedAndTheUserIsTold) {
    const HostError pastDeadline{0x8001011Fu, L"此操作返回，因为超时期限已过。", false, false,
                                 true};
    const struct {
        RunMode mode;
        std::wstring shown;
    } cases[] = {
        {RunMode::Uninstall,
         L"Warn: Quorvale未能移除：Excel 在 10 秒内没有响应，它可能正显示着一个对话框。请关闭 "
         L"Excel 后重试。未能完全撤销：加载项可能已在 Excel 中关闭，重新打开 Excel "
         L"即可再次载入。   "},
        {RunMode::Install,
         L"Warn: Quorvale安装失败：Excel 在 10 秒内没有响应，它可能正显示着一个对话框。未能完全"
         L"撤销：加载项可能已在 Excel 中关闭，重新打开 Excel 即可再次载入。   "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode == RunMode::Install ? "update" : "removal");
        host = FakeHost();
        host.files[kSource] = "new add-in";
        host.usersExcelRunning = true;
        InstallEarlier(true);
        host.GiveUpOnNth(Op::CloseAddin, 1, pastDeadline);

        EXPECT_EQ(Run(c.mode, false), 1603);

        EXPECT_TRUE(InstalledWithRecord("earlier add-in"));
        EXPECT_EQ(host.openInUsersExcel.count(kInstalled), 0u);
        EXPECT_THAT(host.shownMessages, ElementsAre(c.shown));
        EXPECT_THAT(host.calls, Not(Contains(L"OpenAddin " + kInstalled)));
    }
}

// An update (/install over an installed add-in) with the user's Excel reached.
struct UpdateCase {
    const char* name;
    bool openThere;
    std::function<void(FakeHost&)> arrange;
    int exitCode;
    std::string addinAfter;
    bool openInExcelAfter;
};
void PrintTo(const UpdateCase& c, std::ostream* out) {
    *out << c.name;
}

class UpdateWithExcelTest : public ExcelOpenTest, public ::testing::WithParamInterface<UpdateCase> {
protected:
    UpdateWithExcelTest() { host.usersExcelRunning = true; }
};

TEST_P(UpdateWithExcelTest, ReplacesItAndOpensItAgainWhereItWasOpen) {
    const UpdateCase& c = GetParam();
    InstallEarlier(c.openThere);
    c.arrange(host);

    EXPECT_EQ(Run(RunMode::Install, false), c.exitCode);

    EXPECT_EQ(host.files[kInstalled], c.addinAfter);
    EXPECT_EQ(host.openInUsersExcel.count(kInstalled) != 0, c.openInExcelAfter);
    EXPECT_THAT(host.calls, Not(Contains(kRestart)));
}

INSTANTIATE_TEST_SUITE_P(
    EachState, UpdateWithExcelTest,
    ::testing::Values(
        UpdateCase{"OpenThere", true, [](FakeHost&) {}, 0, "new add-in", true},
        // Excel loads the new one when it next starts.
        UpdateCase{"NotOpenThere", false, [](FakeHost&) {}, 0, "new add-in", false},
        UpdateCase{"FailedAndRolledBack", true,
                   [](FakeHost& h) { h.FailNth(Op::SaveSetting, 2, FakeHost::DefaultError()); },
                   1603, "earlier add-in", true},
        UpdateCase{"ExcelWillNotCloseIt", true, [](FakeHost& h) { h.Fail(Op::CloseAddin); }, 1603,
                   "earlier add-in", true}),
    [](const ::testing::TestParamInfo<UpdateCase>& param) { return param.param.name; });

// A program folder that cannot work is named before anything changes, and only the install
// paths care: removing and reporting need nothing from the program's folder.
struct FolderCase {
    const char* name;
    std::function<void(FakeHost&)> arrange;
    std::wstring message;
};
void PrintTo(const FolderCase& c, std::ostream* out) {
    *out << c.name;
}

class ProgramFolderTest : public ExcelOpenTest, public ::testing::WithParamInterface<FolderCase> {};

TEST_P(ProgramFolderTest, NamesTheCauseAndChangesNothing) {
    GetParam().arrange(host);

    EXPECT_EQ(Run(), 1603);

    EXPECT_THAT(host.shownMessages, ElementsAre(L"Warn: " + GetParam().message));
    EXPECT_EQ(host.files.count(kInstalled), 0u);
    EXPECT_TRUE(host.settingsSections.empty());
    for (const auto& call : host.calls) {
        EXPECT_EQ(call.rfind(L"CreateFolder", 0), std::wstring::npos) << "changed: " << call;
    }
}

const std::wstring kInTemp = kTemporary + L"\\Temp1_quorvale.zip\\Quorvale";

INSTANTIATE_TEST_SUITE_P(
    EachCause, ProgramFolderTest,
    ::testing::Values(
        FolderCase{"AddinSourceMissing", [](FakeHost& h) { h.files.erase(kSource); },
                   L"Quorvale安装失败：本程序所在的文件夹中没有“安装.xla”。如果是在压缩包中直接"
                   L"打开的，请先把全部文件解压到同一个文件夹，再运行本程序。未做任何更改。   "},
        FolderCase{"RunFromTheTemporaryFolder",
                   [](FakeHost& h) {
                       h.programFolder = kInTemp;
                       h.files[kInTemp + L"\\安装.xla"] = "new add-in";
                   },
                   L"Quorvale安装失败：本程序正从临时文件夹运行。请先把全部文件解压到一个固定的"
                   L"文件夹，再从那里运行本程序。未做任何更改。   "},
        // Opened from a zip, it is both: the missing add-in is what the user can act on.
        FolderCase{"BothAtOnce", [](FakeHost& h) { h.programFolder = kInTemp; },
                   L"Quorvale安装失败：本程序所在的文件夹中没有“安装.xla”。如果是在压缩包中直接"
                   L"打开的，请先把全部文件解压到同一个文件夹，再运行本程序。未做任何更改。   "}),
    [](const ::testing::TestParamInfo<FolderCase>& param) { return param.param.name; });

TEST_F(ExcelOpenTest, RemovalAndStatusDoNotCareWhereTheProgramRuns) {
    InstallEarlier(false);
    host.files.erase(kSource);
    host.programFolder = kTemporary + L"\\Quorvale";

    EXPECT_EQ(Run(RunMode::StatusQuery), 0);
    EXPECT_EQ(Run(RunMode::Uninstall, true), 0);

    EXPECT_EQ(host.files.count(kInstalled), 0u);
    EXPECT_FALSE(host.HasSection(L"Tanrebo Software", L"Merrowin"));
}

} // namespace
} // namespace qx::testing
