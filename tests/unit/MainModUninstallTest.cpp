#include "FakeHost.h"
#include "installer/MainMod.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

namespace qx::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;
using Op = FakeHost::Op;

const std::wstring kQuestion = L"AskYesNo Quorvale已经安装，是否要卸载？   ";
const std::wstring kNotice = L"Inform Quorvale已经从您的系统中移除！   ";

class UninstallTest : public ::testing::Test {
protected:
    UninstallTest() {
        host.files[kInstalled] = "installed add-in";
        host.files[L"D:\\Quorvale 数据\\安装.xla"] = "source";
        host.settingsApplications.insert(L"Tanrebo Software");
        host.settingsSections[L"Tanrebo Software\\Merrowin"] = {
            {L"Path", L"D:\\Quorvale 数据\\TORVA.xls"}, {L"Unit", L"Halvetri"}, {L"Other", L"x"}};
    }

    void Run() { MainMod(host).Main(); }

    bool NothingChanged() const {
        return host.files.count(kInstalled) == 1 &&
               host.HasSection(L"Tanrebo Software", L"Merrowin");
    }

    FakeHost host;
};

// The add-in leaves the start-up folder by a rename, which reaches the disk before the record's
// removal can; only then is it deleted.
TEST_F(UninstallTest, YesRemovesTheAddinThenTheRecordThenSaysSo) {
    host.userAnswer = kAnswerYes;

    Run();

    EXPECT_THAT(host.calls,
                ElementsAre(L"RunsAsDesktopUser", L"ExcelWindowOpen", L"AttachToRunningExcel",
                            L"AcquireExcelApplication", L"ReadStartupPath",
                            L"MakeFileOrdinary " + kStaging, L"FindFile " + kInstalled, kQuestion,
                            L"MoveFileReplacing " + kInstalled + L" -> " + kStaging,
                            L"FlushFolder " + kStartup, L"DeleteFile " + kStaging,
                            L"DeleteSetting Tanrebo Software | Merrowin", kNotice));
    EXPECT_EQ(host.files.count(kInstalled), 0u);
    EXPECT_EQ(host.files.count(kStaging), 0u);
    EXPECT_FALSE(host.HasSection(L"Tanrebo Software", L"Merrowin"));
    EXPECT_EQ(host.settingsApplications.count(L"Tanrebo Software"), 1u);
    EXPECT_FALSE(host.successWindowShown);
}

// No, and anything else a box may return when closed some other way (Wine answers Cancel).
TEST_F(UninstallTest, AnythingButYesChangesNothing) {
    for (const std::int16_t answer : {std::int16_t{kAnswerNo}, std::int16_t{2}, std::int16_t{0}}) {
        host.calls.clear();
        host.userAnswer = answer;

        Run();

        ASSERT_FALSE(host.calls.empty());
        EXPECT_EQ(host.calls.back(), kQuestion) << "answer " << answer;
        EXPECT_TRUE(NothingChanged()) << "answer " << answer;
        EXPECT_EQ(host.files.size(), 2u);
    }
}

// A box that could not be shown is no Yes; the failure is still told, should a box open now.
TEST_F(UninstallTest, AQuestionThatCannotBeAskedChangesNothing) {
    host.userAnswer = std::nullopt;

    Run();

    ASSERT_GE(host.calls.size(), 2u);
    EXPECT_EQ(host.calls[host.calls.size() - 2], kQuestion);
    EXPECT_TRUE(NothingChanged());
    EXPECT_THAT(
        host.shownMessages,
        ElementsAre(L"Warn: Quorvale无法显示是否卸载的询问：无效的窗口句柄。未做任何更改。   "));
}

// A failed existence test must not overwrite: the user is asked instead.
TEST_F(UninstallTest, AFailedExistenceTestLeadsToTheQuestion) {
    host.Fail(Op::FindFile);
    host.userAnswer = kAnswerNo;

    Run();

    EXPECT_THAT(host.calls,
                ElementsAre(L"RunsAsDesktopUser", L"ExcelWindowOpen", L"AttachToRunningExcel",
                            L"AcquireExcelApplication", L"ReadStartupPath",
                            L"MakeFileOrdinary " + kStaging, L"FindFile " + kInstalled, kQuestion));
}

// An add-in that cannot be removed keeps its record, and the user is told what stopped the
// removal instead of being told it is gone: Excel holding it, or its read-only attribute, which
// is left as it is: someone set it.
struct RemovalFailure {
    const char* name;
    std::function<void(FakeHost&)> arrange;
    std::wstring message;
};

TEST_F(UninstallTest, AnAddinThatCannotBeRemovedKeepsItsRecordAndSaysWhy) {
    const RemovalFailure cases[] = {
        {"in use", [](FakeHost& h) { h.lockedFiles.insert(kInstalled); },
         L"Quorvale未能移除：另一个程序正在使用此文件，进程无法访问。请关闭 Excel 后重试。   "},
        {"read-only", [](FakeHost& h) { h.readOnlyFiles.insert(kInstalled); },
         L"Quorvale未能移除：文件“QxButton.xla”是只读的。请取消其只读属性后重试。   "},
    };
    for (const RemovalFailure& c : cases) {
        SCOPED_TRACE(c.name);
        FakeHost world;
        world.files[kInstalled] = "installed add-in";
        world.settingsSections[L"Tanrebo Software\\Merrowin"] = {{L"Unit", L"Halvetri"},
                                                                 {L"Other", L"x"}};
        c.arrange(world);

        MainMod mainMod(world);
        mainMod.Main();

        EXPECT_EQ(mainMod.ExitCode(), 1603);
        EXPECT_THAT(world.shownMessages, ElementsAre(L"AskYesNo: Quorvale已经安装，是否要卸载？   ",
                                                     L"Warn: " + c.message));
        EXPECT_EQ(world.files.count(kInstalled), 1u);
        EXPECT_EQ(world.Setting(L"Tanrebo Software", L"Merrowin", L"Other"), L"x");
        EXPECT_THAT(world.calls, Not(Contains(L"MakeFileOrdinary " + kInstalled)));
    }
}

// After Yes, these failures still end in the removal notice: the add-in is gone either way.
struct StillRemoved {
    const char* name;
    void (*arrange)(FakeHost&);
};
void PrintTo(const StillRemoved& c, std::ostream* out) {
    *out << c.name;
}

class StillRemovedTest : public UninstallTest,
                         public ::testing::WithParamInterface<StillRemoved> {};

TEST_P(StillRemovedTest, EndsWithTheRemovalNotice) {
    GetParam().arrange(host);

    Run();

    EXPECT_EQ(host.files.count(kInstalled), 0u);
    ASSERT_FALSE(host.shownMessages.empty());
    EXPECT_EQ(host.shownMessages.back(), L"Inform: Quorvale已经从您的系统中移除！   ");
    ASSERT_FALSE(host.calls.empty());
    EXPECT_EQ(host.calls.back(), kNotice);
}

INSTANTIATE_TEST_SUITE_P(
    AfterYes, StillRemovedTest,
    ::testing::Values(
        StillRemoved{"AddinAlreadyGone",
                     [](FakeHost& h) {
                         h.Fail(Op::FindFile);
                         h.files.erase(kInstalled);
                     }},
        StillRemoved{"SectionAlreadyGone", [](FakeHost& h) { h.settingsSections.clear(); }},
        StillRemoved{"SectionDeleteRefused", [](FakeHost& h) { h.Fail(Op::DeleteSetting); }}),
    [](const ::testing::TestParamInfo<StillRemoved>& param) { return param.param.name; });

// The uninstall path never runs on into the install path, whatever happened on it.
TEST_F(UninstallTest, NeverRunsOnIntoTheInstallPath) {
    for (const Op failing :
         {Op::MoveFileReplacing, Op::DeleteFile, Op::DeleteSetting, Op::Inform}) {
        FakeHost fresh;
        fresh.files = host.files;
        fresh.settingsSections = host.settingsSections;
        fresh.Fail(failing);

        MainMod(fresh).Main();

        for (const auto& call : fresh.calls) {
            EXPECT_EQ(call.rfind(L"CopyFile", 0), std::wstring::npos)
                << "after a failed op " << static_cast<int>(failing);
            EXPECT_EQ(call.rfind(L"MoveFileReplacing " + kStaging, 0), std::wstring::npos);
            EXPECT_EQ(call.rfind(L"SaveSetting", 0), std::wstring::npos);
        }
        EXPECT_FALSE(fresh.successWindowShown);
    }
}

} // namespace
} // namespace qx::testing
