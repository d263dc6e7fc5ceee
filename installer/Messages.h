#pragma once

#include <string>

namespace qx {

// What the user reads. The three trailing spaces are part of every text.
inline constexpr wchar_t kUninstallQuestion[] = L"Quorvale已经安装，是否要卸载？   ";
inline constexpr wchar_t kRemovalNotice[] = L"Quorvale已经从您的系统中移除！   ";
inline constexpr wchar_t kStartupFolderUnknown[] =
    L"无法从 Excel 获取启动文件夹，请确认本机已安装 Excel。未做任何更改。   ";
inline constexpr wchar_t kWrongAccount[] =
    L"Quorvale须由当前登录的用户自己运行安装，请勿以其他用户身份运行本程序。未做任何更改。   ";

std::wstring InstallFailedMessage(const std::wstring& description);
std::wstring RemovalFailedMessage(const std::wstring& description);

} // namespace qx
