// The states a real profile is in, which a clean test world never shows: another account,
// a start-up folder that does not exist yet, and leftovers Windows will not overwrite.
#include "FakeHost.h"
#include "installer/MainMod.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace qx::testing {
namespace {

using ::testing::ElementsAre;
using Op = FakeHost::Op;

const std::wstring kWrongAccount =
    L"Quorvale须由当前登录的用户自己运行安装，请勿以其他用户身份运行本程序。未做任何更改。   ";

class ProfileStateTest : public ::testing::Test {
protected:
    ProfileStateTest() { host.files[kSource] = "new add-in"; }

    void Run() { MainMod(host).Main(); }

    bool Installed() const {
        const auto found = host.files.find(kInstalled);
        return found != host.files.end() && found->second == "new add-in" &&
               host.hiddenFiles.count(kInstalled) == 0 &&
               host.readOnlyFiles.count(kInstalled) == 0 &&
               host.Setting(L"Tanrebo Software", L"Merrowin", L"Unit") == L"Halvetri" &&
               host.successWindowShown;
    }

    FakeHost host;
};

// Run as SYSTEM or with another user's credentials: neither Excel nor any file or setting is
// touched, whether or not the add-in is installed.
TEST_F(ProfileStateTest, AnotherAccountChangesNothingAndSaysWhy) {
    for (const bool addinInstalled : {false, true}) {
        FakeHost world;
        world.desktopUser = false;
        world.files[kSource] = "new add-in";
        if (addinInstalled) {
            world.files[kInstalled] = "installed";
            world.settingsSections[L"Tanrebo Software\\Merrowin"] = {{L"Unit", L"Halvetri"}};
        }
        const auto filesBefore = world.files;
        const auto settingsBefore = world.settingsSections;

        MainMod(world).Main();

        EXPECT_THAT(world.calls, ElementsAre(L"RunsAsDesktopUser", L"Warn " + kWrongAccount))
            << "installed: " << addinInstalled;
        EXPECT_THAT(world.shownMessages, ElementsAre(L"Warn: " + kWrongAccount));
        EXPECT_EQ(world.files, filesBefore);
        EXPECT_EQ(world.settingsSections, settingsBefore);
        EXPECT_FALSE(world.successWindowShown);
    }
}

// Before Explorer runs (a logon script) the host cannot tell whose desktop it is; the user
// running the script is the one logging on, so the install goes ahead.
TEST_F(ProfileStateTest, AnAccountThatCannotBeCheckedStillInstalls) {
    host.desktopUser = std::nullopt;

    Run();

    EXPECT_TRUE(Installed());
    EXPECT_TRUE(host.shownMessages.empty());
}

TEST_F(ProfileStateTest, AStartupFolderThatDoesNotExistYetIsCreatedFirst) {
    host.missingFolders = {kExcelFolder, kStartup};

    Run();

    EXPECT_TRUE(Installed());
    EXPECT_TRUE(host.missingFolders.empty());
}

TEST_F(ProfileStateTest, AStartupFolderThatCannotBeCreatedFailsTheInstallAndChangesNothing) {
    host.missingFolders = {kExcelFolder, kStartup};
    host.Fail(Op::CreateFolder, HostError{5, L"拒绝访问。\r\n", false});

    Run();

    EXPECT_THAT(host.shownMessages, ElementsAre(L"Warn: Quorvale安装失败：拒绝访问。   "));
    EXPECT_EQ(host.files.count(kInstalled), 0u);
    EXPECT_TRUE(host.settingsSections.empty());
    EXPECT_FALSE(host.successWindowShown);
    for (const auto& call : host.calls) {
        EXPECT_NE(call.rfind(L"CopyFile", 0), 0u) << "copied into a folder that is not there";
    }
}

// A leftover QxButton.xla that counts as absent (hidden), or that Windows will not replace
// (hidden or read-only): the install replaces it with a visible, writable add-in.
struct Leftover {
    const char* name;
    bool hidden;
    bool readOnly;
};
void PrintTo(const Leftover& c, std::ostream* out) {
    *out << c.name;
}

class LeftoverTest : public ProfileStateTest, public ::testing::WithParamInterface<Leftover> {};

TEST_P(LeftoverTest, IsReplacedByTheAddin) {
    host.files[kInstalled] = "stale";
    if (GetParam().hidden) {
        host.hiddenFiles.insert(kInstalled);
    }
    if (GetParam().readOnly) {
        host.readOnlyFiles.insert(kInstalled);
    }

    Run();

    EXPECT_TRUE(Installed());
    EXPECT_TRUE(host.shownMessages.empty());
}

INSTANTIATE_TEST_SUITE_P(AddinPresentOnlyAs, LeftoverTest,
                         ::testing::Values(Leftover{"Hidden", true, false},
                                           Leftover{"HiddenReadOnly", true, true}),
                         [](const ::testing::TestParamInfo<Leftover>& param) {
                             return param.param.name;
                         });

// Someone made the file hidden or read-only: a failed install or update puts it back with its
// bytes and its attributes, whichever step failed.
TEST_F(ProfileStateTest, AFailedInstallPutsALeftoverBackWithItsAttributes) {
    const struct {
        const char* name;
        bool hidden; // a hidden leftover is installed afresh, a visible one updated
        Op failing;
        int nth;
    } cases[] = {
        {"hidden, copy refused", true, Op::CopyFile, 1},
        {"hidden, Path refused", true, Op::SaveSetting, 1},
        {"hidden, Unit refused", true, Op::SaveSetting, 2},
        {"visible, Path refused", false, Op::SaveSetting, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeHost world;
        world.files[kSource] = "new add-in";
        world.files[kInstalled] = "stale";
        world.readOnlyFiles.insert(kInstalled);
        if (c.hidden) {
            world.hiddenFiles.insert(kInstalled);
        }
        world.FailNth(c.failing, c.nth, FakeHost::DefaultError());
        MainMod mainMod(world, {RunMode::Install, true});

        mainMod.Main();

        EXPECT_EQ(mainMod.ExitCode(), 1603);
        EXPECT_EQ(world.files[kInstalled], "stale");
        EXPECT_EQ(world.readOnlyFiles.count(kInstalled), 1u);
        EXPECT_EQ(world.hiddenFiles.count(kInstalled), c.hidden ? 1u : 0u);
        EXPECT_EQ(world.Setting(L"Tanrebo Software", L"Merrowin", L"Path"), L"<absent>");
    }
}

// Attributes that cannot be cleared leave the copy to fail, and its reason is what the user
// reads; nothing is recorded for an add-in that did not arrive.
TEST_F(ProfileStateTest, ALeftoverThatStaysReadOnlyFailsTheInstallWithTheCopysReason) {
    host.files[kInstalled] = "stale";
    host.hiddenFiles.insert(kInstalled);
    host.readOnlyFiles.insert(kInstalled);
    // The first clears a staging file a killed run may have left; the second, the leftover.
    host.FailNth(Op::MakeFileOrdinary, 2, HostError{1, L"函数不正确。\r\n", false});

    Run();

    EXPECT_THAT(host.shownMessages, ElementsAre(L"Warn: Quorvale安装失败：拒绝访问。   "));
    EXPECT_EQ(host.files[kInstalled], "stale");
    EXPECT_EQ(host.Setting(L"Tanrebo Software", L"Merrowin", L"Path"), L"<absent>");
    EXPECT_EQ(host.Setting(L"Tanrebo Software", L"Merrowin", L"Unit"), L"<absent>");
    EXPECT_FALSE(host.successWindowShown);
}

} // namespace
} // namespace qx::testing
