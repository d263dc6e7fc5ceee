#include "installer/Messages.h"
#include "installer/Paths.h"

#include <gtest/gtest.h>

namespace qx::testing {
namespace {

struct Join {
    const wchar_t* folder;
    const wchar_t* name;
    const wchar_t* expected;
};

TEST(JoinPathTest, NeverDoublesTheSeparator) {
    const Join cases[] = {
        {L"Q:\\", L"\\TORVA.xls", L"Q:\\TORVA.xls"},
        {L"Q:\\Quorvale", L"\\TORVA.xls", L"Q:\\Quorvale\\TORVA.xls"},
        {L"\\\\server\\share\\", L"\\安装.xla", L"\\\\server\\share\\安装.xla"},
        {L"C:\\中文 目录", L"\\安装.xla", L"C:\\中文 目录\\安装.xla"},
        {L"", L"\\QxButton.xla", L"\\QxButton.xla"},
    };
    for (const Join& c : cases) {
        EXPECT_EQ(JoinPath(c.folder, c.name), c.expected) << std::wstring(c.folder).size();
    }
}

TEST(MessagesTest, FailureTextsCarryTheDescriptionWithoutItsLineBreak) {
    EXPECT_EQ(InstallFailedMessage(L"Access is denied.\r\n"),
              L"Quorvale安装失败：Access is denied.   ");
    EXPECT_EQ(RemovalFailedMessage(L"文件正在使用。\r\n\r\n"),
              L"Quorvale未能移除：文件正在使用。请关闭 Excel 后重试。   ");
}

TEST(MessagesTest, WhatAFailureCouldNotUndoEndsItsMessage) {
    const std::wstring failed = L"Quorvale未能移除：拒绝访问。请关闭 Excel 后重试。   ";
    EXPECT_EQ(WithLeftovers(failed, {}, L"C:\\X"), failed);
    EXPECT_EQ(WithLeftovers(failed, {true, true, true}, L"C:\\XLSTART"),
              L"Quorvale未能移除：拒绝访问。请关闭 Excel 后重试。未能完全撤销："
              L"文件“QxButton.xla”仍留在“C:\\XLSTART”中；设置记录未能恢复原样；"
              L"加载项已在 Excel 中关闭，重新打开 Excel 即可再次载入。   ");
    EXPECT_EQ(WithLeftovers(failed, {false, false, true}, L"C:\\X"),
              L"Quorvale未能移除：拒绝访问。请关闭 Excel 后重试。未能完全撤销："
              L"加载项已在 Excel 中关闭，重新打开 Excel 即可再次载入。   ");
}

// The system's own texts, to the character: each ends with three spaces.
TEST(MessagesTest, FixedTextsAreExact) {
    EXPECT_EQ(std::wstring(kUninstallQuestion),
              L"Quorvale\u5DF2\u7ECF\u5B89\u88C5\uFF0C\u662F\u5426\u8981\u5378\u8F7D\uFF1F   ");
    EXPECT_EQ(std::wstring(kRemovalNotice),
              L"Quorvale\u5DF2\u7ECF\u4ECE\u60A8\u7684\u7CFB\u7EDF\u4E2D\u79FB\u9664\uFF01   ");
    EXPECT_EQ(std::wstring(kInstalledAddinName), L"\\QxButton.xla");
    EXPECT_EQ(std::wstring(kAddinSourceName), L"\\\u5B89\u88C5.xla");
}

} // namespace
} // namespace qx::testing
