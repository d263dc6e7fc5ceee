// An install claims success only for an add-in that is still there and that Excel will load at
// its next start: Excel's disabled items, its trust settings, a security program.
#include "FakeHost.h"
#include "installer/MainMod.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

namespace qx::testing {
namespace {

using Op = FakeHost::Op;

const std::wstring kDisabled =
    L"Software\\Microsoft\\Office\\16.0\\Excel\\Resiliency\\DisabledItems";
const std::wstring kPolicy = L"Software\\Policies\\Microsoft\\Office\\16.0\\";

std::string Utf16(const std::wstring& text) {
    std::string bytes(12, '\x01');
    for (const wchar_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

class NextStartTest : public ::testing::Test {
public:
    NextStartTest() { host.files[kSource] = "new add-in"; }

    int Run(RunMode mode = RunMode::Install, bool quiet = false) {
        MainMod mainMod(host, {mode, quiet});
        mainMod.Main();
        return mainMod.Finish();
    }
    void Policy(const std::wstring& key, const std::wstring& name, std::uint32_t value) {
        host.userRegistry[kPolicy + key][name].number = value;
    }
    bool Logged(const std::wstring& line) const {
        return std::find(host.logLines.begin(), host.logLines.end(), line) != host.logLines.end();
    }

    FakeHost host;
};

// Excel keeps the path lower-cased; the one in upper case was written by hand (a .reg file).
const std::wstring kInstalledAsExcelKeepsIt =
    L"c:\\users\\lin\\appdata\\roaming\\microsoft\\excel\\xlstart\\qxbutton.xla";

struct DisabledItem {
    const wchar_t* name;
    std::string bytes;
    bool goes;
};

TEST_F(NextStartTest, OnlyTheInstalledFilesOwnDisabledItemsGo) {
    const std::string realHeader("\x01\x00\x00\x00\x84\x00\x00\x00\x00\x00\x00\x00", 12);
    const DisabledItem items[] = {
        {L"A1", Utf16(kInstalledAsExcelKeepsIt), true},
        {L"A2", Utf16(L"C:\\USERS\\LIN\\APPDATA\\ROAMING\\MICROSOFT\\EXCEL\\XLSTART\\QXBUTTON.XLA"),
         true},
        {L"A3", realHeader + Utf16(kInstalledAsExcelKeepsIt).substr(12) + std::string(2, '\0'),
         true},
        {L"B1", Utf16(L"c:\\addins\\qxbutton.xlam"), false},
        {L"B2", Utf16(L"d:\\old\\qxbutton.xla.bak"), false},
        {L"B3", Utf16(L"\\\\server\\addins\\qxbutton.xla"), false},
        {L"B4", Utf16(L"d:\\报表\\myqxbutton.xla"), false},
        {L"B5", Utf16(L"c:\\users\\lin\\appdata\\roaming\\microsoft\\excel\\qxbutton.xla"), false},
        {L"B6", Utf16(kInstalledAsExcelKeepsIt + L".bak"), false},
        // Read at odd offsets, these bytes would spell the installed path.
        {L"B7", "\x01" + Utf16(kInstalledAsExcelKeepsIt), false},
    };
    for (const DisabledItem& item : items) {
        host.userRegistry[kDisabled][item.name].bytes = item.bytes;
    }

    EXPECT_EQ(Run(), 0);

    for (const DisabledItem& item : items) {
        const auto& left = host.userRegistry[kDisabled];
        if (item.goes) {
            EXPECT_EQ(left.count(item.name), 0u) << "kept " << ::testing::PrintToString(item.name);
            EXPECT_TRUE(Logged(L"Delete Excel's disabled item HKCU\\" + kDisabled + L"\\" +
                               item.name + L", which names " + kInstalled + L": done"));
        } else {
            const auto kept = left.find(item.name);
            EXPECT_TRUE(kept != left.end() && kept->second.bytes == item.bytes)
                << "deleted or changed " << ::testing::PrintToString(item.name);
        }
    }
    EXPECT_TRUE(host.successWindowShown);
    EXPECT_TRUE(host.shownMessages.empty());
}

// What the user is told, and whether the success window follows; the install stands (exit 0).
struct Told {
    const char* name;
    std::function<void(NextStartTest&)> arrange;
    std::vector<std::wstring> shown;
    bool window;
};
void PrintTo(const Told& c, std::ostream* out) {
    *out << c.name;
}

class ToldTest : public NextStartTest, public ::testing::WithParamInterface<Told> {};

TEST_P(ToldTest, SaysWhatExcelWillDoAndShowsTheWindowOnlyWhenItRuns) {
    GetParam().arrange(*this);

    EXPECT_EQ(Run(), 0);

    EXPECT_EQ(host.shownMessages, GetParam().shown);
    EXPECT_EQ(host.successWindowShown, GetParam().window);
    EXPECT_EQ(host.files[kInstalled], "new add-in");
}

const std::wstring kStaysDisabled =
    L"Warn: Quorvale已经安装，但 Excel 已把它列为禁用项目，启动时不会加载它。请在 Excel 的“文件”>"
    L"“选项”>“加载项”中，从“管理”列表选择“禁用项目”，启用“QxButton.xla”；如无法更改，请联系 IT "
    L"部门。   ";
const std::wstring kAskIt =
    L"请联系 IT 部门，请他们通过组策略把 Excel 的启动文件夹“" + kStartup + L"”设为受信任位置。   ";

INSTANTIATE_TEST_SUITE_P(
    EachSetting, ToldTest,
    ::testing::Values(
        Told{"NeverRun",
             [](NextStartTest& test) {
                 test.Policy(L"Excel\\Security\\Trusted Locations", L"AllLocationsDisabled", 1);
                 test.Policy(L"Excel\\Security", L"VBAWarnings", 4);
             },
             {L"Warn: Quorvale已经安装，但按 Excel 的安全设置，它的宏不会运行，“文件(F)”菜单中不会"
              L"出现新的菜单项。" +
              kAskIt},
             false},
        Told{"RunIfSigned",
             [](NextStartTest& test) {
                 test.Policy(L"Common\\Security\\Trusted Locations", L"Allow User Locations", 0);
                 test.Policy(L"Excel\\Security", L"VBAWarnings", 3);
             },
             {L"Inform: Quorvale已经安装。按 Excel 的安全设置，只有当加载项由贵单位信任的发布者签名"
              L"时，它的宏才会运行，本程序无法判断是否如此。如果重新打开 Excel 后“文件(F)”菜单中没"
              L"有出现新的菜单项，" +
              kAskIt},
             true},
        Told{"RunOnceEnabled",
             [](NextStartTest& test) {
                 test.Policy(L"Excel\\Security\\Trusted Locations", L"AllLocationsDisabled", 1);
             },
             {L"Inform: Quorvale已经安装。按 Excel 的安全设置，Excel 每次启动时都会询问是否启用加"
              L"载项中的宏，请选择启用，“文件(F)”菜单中才会出现新的菜单项。如果不想每次都被询问，" +
              kAskIt},
             true},
        Told{"DisabledItemThatStays",
             [](NextStartTest& test) {
                 test.host.userRegistry[kDisabled][L"A1"].bytes = Utf16(kInstalledAsExcelKeepsIt);
                 test.host.Fail(Op::DeleteUserValue);
             },
             {kStaysDisabled},
             false},
        // A list that cannot be read may hold the add-in: the user hears how to look.
        Told{"DisabledItemsUnread",
             [](NextStartTest& test) {
                 test.host.userRegistry[kDisabled][L"B1"].bytes = Utf16(L"d:\\其他.xla");
                 test.host.Fail(Op::ListUserValues);
             },
             {kStaysDisabled},
             false},
        // Never guessed: without Excel's word on its version nothing is read, and nothing said.
        Told{"VersionUnknown",
             [](NextStartTest& test) {
                 test.host.excelVersion = std::nullopt;
                 test.Policy(L"Excel\\Security\\Trusted Locations", L"AllLocationsDisabled", 1);
                 test.Policy(L"Excel\\Security", L"VBAWarnings", 4);
             },
             {},
             true}),
    [](const ::testing::TestParamInfo<Told>& param) { return param.param.name; });

TEST_F(NextStartTest, AQuietRunOnlyLogsTheVerdict) {
    Policy(L"Excel\\Security\\Trusted Locations", L"AllLocationsDisabled", 1);
    Policy(L"Excel\\Security", L"VBAWarnings", 4);

    EXPECT_EQ(Run(RunMode::Install, true), 0);

    EXPECT_TRUE(host.shownMessages.empty());
    EXPECT_TRUE(Logged(L"Read HKCU\\" + kPolicy +
                       L"Excel\\Security\\Trusted Locations\\AllLocationsDisabled: 1"));
    EXPECT_TRUE(Logged(L"Read HKCU\\" + kPolicy + L"Excel\\Security\\VBAWarnings: 4"));
    EXPECT_TRUE(Logged(L"Trust in Excel 16.0: " + kStartup +
                       L" is not a trusted location (every trusted location is disabled); the "
                       L"add-in's macros never run"));
}

// Opened by a program, Excel would run the macros its organisation holds back.
TEST_F(NextStartTest, TheUsersExcelDoesNotOpenAnAddinItsSettingsHoldBack) {
    host.usersExcelRunning = true;
    Policy(L"Excel\\Security\\Trusted Locations", L"AllLocationsDisabled", 1);
    Policy(L"Excel\\Security", L"VBAWarnings", 4);

    EXPECT_EQ(Run(), 0);

    EXPECT_EQ(host.openInUsersExcel.count(kInstalled), 0u);
}

TEST_F(NextStartTest, StatusLogsTheVerdictKeepsItsExitCodeAndDeletesNothing) {
    host.files[kInstalled] = "earlier";
    host.userRegistry[kDisabled][L"A1"].bytes = Utf16(kInstalledAsExcelKeepsIt);
    Policy(L"Excel\\Security\\Trusted Locations", L"AllLocationsDisabled", 1);

    EXPECT_EQ(Run(RunMode::StatusQuery), 0);

    EXPECT_EQ(host.userRegistry[kDisabled].count(L"A1"), 1u);
    EXPECT_TRUE(Logged(L"Excel's disabled item HKCU\\" + kDisabled + L"\\A1, which names " +
                       kInstalled + L": there"));
    EXPECT_TRUE(Logged(L"Trust in Excel 16.0: " + kStartup +
                       L" is not a trusted location (every trusted location is disabled); the "
                       L"add-in's macros run once the user enables them, asked at every start"));
}

} // namespace
} // namespace qx::testing
