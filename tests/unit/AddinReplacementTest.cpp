// Replacing the add-in and undoing it: what each failure on the way in leaves, what a failed
// update puts back, and what the read-back after a security program's look decides.
#include "FakeHost.h"
#include "installer/MainMod.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

namespace qx::testing {
namespace {

using ::testing::ElementsAre;
using Op = FakeHost::Op;

const std::wstring kRecord = L"Tanrebo Software\\Merrowin";
const std::wstring kEarlierPath = L"E:\\旧版\\TORVA.xls";
const std::wstring kAccessDenied = L"Quorvale安装失败：拒绝访问。   ";

class AddinReplacementTest : public ::testing::Test {
protected:
    AddinReplacementTest() { host.files[kSource] = "new add-in"; }

    void InstallEarlier() {
        host.files[kInstalled] = "earlier add-in";
        host.settingsSections[kRecord] = {
            {L"Path", kEarlierPath}, {L"Unit", L"Halvetri"}, {L"Theme", L"蓝色"}};
    }

    int Run(RunMode mode = RunMode::Install, bool quiet = false) {
        MainMod mainMod(host, {mode, quiet});
        mainMod.Main();
        return mainMod.Finish();
    }

    std::wstring Record(const std::wstring& key) const {
        return host.Setting(L"Tanrebo Software", L"Merrowin", key);
    }
    bool Logged(const std::wstring& line) const {
        return std::find(host.logLines.begin(), host.logLines.end(), line) != host.logLines.end();
    }

    FakeHost host;
};

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

class InstallFailureTest : public AddinReplacementTest,
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

const std::wstring kPutBackPath = L"DeleteSettingKey Tanrebo Software | Merrowin | Path";
const std::wstring kPutBackUnit = L"DeleteSettingKey Tanrebo Software | Merrowin | Unit";
const std::wstring kFlush = L"FlushSettings Tanrebo Software | Merrowin";
const std::wstring kDeleteStaging = L"DeleteFile " + kStaging;

INSTANTIATE_TEST_SUITE_P(
    EachInstallStep, InstallFailureTest,
    ::testing::Values(
        InstallFailure{"ProgramFolderUnknown",
                       Op::ApplicationFolder,
                       1,
                       false,
                       false,
                       {L"ApplicationFolder", L"Warn " + kAccessDenied}},
        InstallFailure{"CopyFails",
                       Op::CopyFile,
                       1,
                       false,
                       false,
                       {L"CopyFile " + kSource + L" -> " + kStaging, kDeleteStaging,
                        L"Warn " + kAccessDenied}},
        InstallFailure{
            "PathWriteRefused",
            Op::SaveSetting,
            1,
            false,
            false,
            {L"SaveSetting Tanrebo Software | Merrowin | Path = " + kProgram + L"\\TORVA.xls",
             kDeleteStaging, L"Warn " + kAccessDenied}},
        InstallFailure{"UnitWriteRefused",
                       Op::SaveSetting,
                       2,
                       false,
                       false,
                       {L"SaveSetting Tanrebo Software | Merrowin | Unit = Halvetri", kPutBackPath,
                        kFlush, kDeleteStaging, L"Warn " + kAccessDenied}},
        InstallFailure{
            "RecordNotFlushed",
            Op::FlushSettings,
            1,
            false,
            false,
            {kFlush, kPutBackPath, kPutBackUnit, kFlush, kDeleteStaging, L"Warn " + kAccessDenied}},
        InstallFailure{"RenameRefused",
                       Op::MoveFileReplacing,
                       1,
                       false,
                       false,
                       {L"MoveFileReplacing " + kStaging + L" -> " + kInstalled, kPutBackPath,
                        kPutBackUnit, kFlush, kDeleteStaging, L"Warn " + kAccessDenied}}),
    [](const ::testing::TestParamInfo<InstallFailure>& param) { return param.param.name; });

// A failed update puts back what was there: the earlier add-in and the earlier record.
struct FailedUpdate {
    const char* name;
    std::function<void(FakeHost&)> arrange;
    std::wstring earlierPath; // "<absent>": the record had no Path
};
void PrintTo(const FailedUpdate& c, std::ostream* out) {
    *out << c.name;
}

class FailedUpdateTest : public AddinReplacementTest,
                         public ::testing::WithParamInterface<FailedUpdate> {};

TEST_P(FailedUpdateTest, PutsTheEarlierAddinAndRecordBack) {
    InstallEarlier();
    if (GetParam().earlierPath == L"<absent>") {
        host.settingsSections[kRecord].erase(L"Path");
    }
    GetParam().arrange(host);

    EXPECT_EQ(Run(RunMode::Install, true), 1603);

    EXPECT_EQ(host.files[kInstalled], "earlier add-in");
    EXPECT_EQ(Record(L"Path"), GetParam().earlierPath);
    EXPECT_EQ(Record(L"Unit"), L"Halvetri");
    EXPECT_EQ(Record(L"Theme"), L"蓝色");
    EXPECT_FALSE(host.ShowedAnything());
}

INSTANTIATE_TEST_SUITE_P(
    EachFailure, FailedUpdateTest,
    ::testing::Values(
        FailedUpdate{"CopyRefused", [](FakeHost& h) { h.Fail(Op::CopyFile); }, kEarlierPath},
        FailedUpdate{"CopyBrokeOffHalfWay",
                     [](FakeHost& h) { h.BreakOffNth(Op::CopyFile, 1, FakeHost::DefaultError()); },
                     kEarlierPath},
        FailedUpdate{"SourceMissing", [](FakeHost& h) { h.files.erase(kSource); }, kEarlierPath},
        FailedUpdate{"PathWriteRefused",
                     [](FakeHost& h) { h.FailNth(Op::SaveSetting, 1, FakeHost::DefaultError()); },
                     kEarlierPath},
        FailedUpdate{"UnitWriteRefused",
                     [](FakeHost& h) { h.FailNth(Op::SaveSetting, 2, FakeHost::DefaultError()); },
                     kEarlierPath},
        FailedUpdate{"UnitWriteRefusedWhereThereWasNoPath",
                     [](FakeHost& h) { h.FailNth(Op::SaveSetting, 2, FakeHost::DefaultError()); },
                     L"<absent>"}),
    [](const ::testing::TestParamInfo<FailedUpdate>& param) { return param.param.name; });

// An update that could not keep a copy of what it replaces does not start.
TEST_F(AddinReplacementTest, AnUpdateThatCannotKeepTheEarlierAddinChangesNothing) {
    InstallEarlier();
    host.Fail(Op::ReadFileBytes);

    EXPECT_EQ(Run(RunMode::Install, true), 1603);

    EXPECT_EQ(host.files[kInstalled], "earlier add-in");
    EXPECT_EQ(Record(L"Path"), kEarlierPath);
    for (const auto& call : host.calls) {
        EXPECT_NE(call.rfind(L"CopyFile", 0), 0u);
        EXPECT_NE(call.rfind(L"SaveSetting", 0), 0u);
    }
}

const std::wstring kTakenAway = L"Quorvale安装失败：刚放入“" + kStartup +
                                L"”的“QxButton.xla”随即不见了或被改动，很可能是安全软件（杀毒软件）"
                                L"把它隔离了。请让 IT 部门把该文件夹列为安全软件的例外后重试。";

TEST_F(AddinReplacementTest, AnAddinASecurityProgramTookFailsTheInstallAndPutsBackTheEarlierOne) {
    host.files[kInstalled] = "earlier add-in";
    host.settingsSections[kRecord] = {{L"Path", L"E:\\旧版\\TORVA.xls"}, {L"Unit", L"Halvetri"}};
    host.quarantined = kInstalled;

    EXPECT_EQ(Run(), 1603);

    EXPECT_EQ(host.files[kInstalled], "earlier add-in");
    EXPECT_EQ(host.Setting(L"Tanrebo Software", L"Merrowin", L"Path"), L"E:\\旧版\\TORVA.xls");
    EXPECT_EQ(host.files.count(kStaging), 0u);
    EXPECT_FALSE(host.successWindowShown);
    EXPECT_THAT(host.shownMessages, ElementsAre(L"Warn: " + kTakenAway + L"   "));
}

// A security program that refuses to let the new add-in be opened acted; a source that changed
// or dropped after the copy says nothing of one, and the install stands.
TEST_F(AddinReplacementTest, OnlyWhatASecurityProgramDidIsLaidOnOne) {
    const HostError virusInfected{
        225, L"无法成功完成操作，因为文件包含病毒或潜在的垃圾软件。\r\n", false, false, false,
        true};
    host.FailNth(Op::SameBytesAfterScan, 1, virusInfected);

    EXPECT_EQ(Run(), 1603);

    EXPECT_EQ(host.files.count(kInstalled), 0u);
    EXPECT_THAT(host.shownMessages, ElementsAre(L"Warn: " + kTakenAway + L"   "));

    host = FakeHost();
    host.files[kSource] = "new add-in";
    host.quarantined = kSource; // gone from the program's folder once it was copied

    EXPECT_EQ(Run(), 0);

    EXPECT_EQ(host.files[kInstalled], "new add-in");
    EXPECT_TRUE(host.successWindowShown);
}

TEST_F(AddinReplacementTest, ASourceThatChangedWhileCopiedIsToldInItsOwnWords) {
    host.FailNth(Op::CopyFile, 1,
                 HostError{64, L"指定的网络名不再可用。\r\n", false, false, false, false, true});

    EXPECT_EQ(Run(), 1603);

    EXPECT_EQ(host.files.count(kInstalled), 0u);
    EXPECT_EQ(host.files.count(kStaging), 0u);
    EXPECT_FALSE(host.HasSection(L"Tanrebo Software", L"Merrowin"));
    EXPECT_THAT(host.shownMessages,
                ElementsAre(L"Warn: Quorvale安装失败：复制“" + kSource +
                            L"”时，它被改动了或无法再读取（指定的网络名不再可用）。请确认该文件"
                            L"完好、所在的位置可以访问后重试。   "));
}

// A copy a security program changed, and that cannot be taken back out: it stays, whole, with
// its record, and the user is told.
TEST_F(AddinReplacementTest, AChangedAddinThatCannotBeTakenBackOutKeepsItsRecordAndTheUserIsTold) {
    host.quarantined = kInstalled;
    host.cleans = true;
    host.FailNth(Op::MoveFileReplacing, 2,
                 HostError{32, L"另一个程序正在使用此文件，进程无法访问。", false});

    EXPECT_EQ(Run(), 1603);

    EXPECT_EQ(host.files[kInstalled], "cleaned by a security program");
    EXPECT_EQ(host.Setting(L"Tanrebo Software", L"Merrowin", L"Path"), kProgram + L"\\TORVA.xls");
    EXPECT_EQ(host.Setting(L"Tanrebo Software", L"Merrowin", L"Unit"), L"Halvetri");
    EXPECT_FALSE(host.successWindowShown);
    EXPECT_THAT(host.shownMessages,
                ElementsAre(L"Warn: " + kTakenAway + L"未能完全撤销：文件“QxButton.xla”仍留在“" +
                            kStartup + L"”中；设置记录未能恢复原样。   "));
    EXPECT_TRUE(Logged(L"Not undone: the add-in stayed in " + kStartup + L" as this run left it"));
}

} // namespace
} // namespace qx::testing
