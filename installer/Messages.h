#pragma once

#include "host/Outcome.h"

#include <string>

namespace qx {

// What the user reads. The three trailing spaces are part of every text.
inline constexpr wchar_t kUninstallQuestion[] = L"Quorvale已经安装，是否要卸载？   ";
inline constexpr wchar_t kRemovalNotice[] = L"Quorvale已经从您的系统中移除！   ";
inline constexpr wchar_t kStartupFolderUnknown[] =
    L"无法从 Excel 获取启动文件夹，请确认本机已安装 Excel。未做任何更改。   ";
inline constexpr wchar_t kWrongAccount[] =
    L"Quorvale须由当前登录的用户自己运行安装，请勿以其他用户身份运行本程序。未做任何更改。   ";

// An Excel that is already open loads start-up add-ins only when it starts again.
inline constexpr wchar_t kRestartExcel[] =
    L"Quorvale已经安装。请关闭并重新打开 Excel，“文件(F)”菜单中才会出现新的菜单项。   ";
// Named before anything changes: opened from inside a zip, the program runs without its add-in.
inline constexpr wchar_t kAddinSourceMissing[] =
    L"Quorvale安装失败：本程序所在的文件夹中没有“安装.xla”。"
    L"如果是在压缩包中直接打开的，请先把全部文件解压到同一个文件夹，再运行本程序。"
    L"未做任何更改。   ";
// Windows empties the temporary folder, and the record would point into it.
inline constexpr wchar_t kRunsFromTemporaryFolder[] =
    L"Quorvale安装失败：本程序正从临时文件夹运行。"
    L"请先把全部文件解压到一个固定的文件夹，再从那里运行本程序。"
    L"未做任何更改。   ";

// Someone made the installed add-in read-only; clearing that is theirs to decide.
inline constexpr wchar_t kInstalledAddinReadOnly[] =
    L"Quorvale未能移除：文件“QxButton.xla”是只读的。请取消其只读属性后重试。   ";

inline constexpr wchar_t kNothingToRemove[] = L"Quorvale尚未安装，无需卸载。   ";
inline constexpr wchar_t kUsage[] =
    L"用法：QXSetup.exe [/install | /uninstall | /status] [/quiet] [/log <文件>]\r\n"
    L"\r\n"
    L"不带参数：未安装则安装 Quorvale 加载项，已安装则询问是否卸载。\r\n"
    L"/install\t安装，不作询问；已安装时以本程序旁的“安装.xla”更新。\r\n"
    L"/uninstall\t卸载加载项及其设置，不作询问。\r\n"
    L"/status\t不做任何更改，只以退出代码说明是否已安装。\r\n"
    L"/quiet\t与 /install、/uninstall 或 /status 同用：不显示任何提示或窗口。\r\n"
    L"/log <文件>\t把每一步及其结果追加写入该 UTF-8 日志文件。\r\n"
    L"/? 或 /help\t显示本说明。\r\n"
    L"\r\n"
    L"退出代码：\r\n"
    L"0\t完成（/status：已安装）\r\n"
    L"1\t未安装（仅 /status）\r\n"
    L"87\t参数有误\r\n"
    L"1602\t已选择不卸载\r\n"
    L"1603\t失败，未留下做了一半的更改\r\n"
    L"1618\t另一次运行正在进行\r\n"
    L"1622\t无法打开日志文件，未做任何更改   ";

// Excel was started for the run but never answered: a first-run, sign-in or activation dialog
// that nobody sees holds it.
std::wstring ExcelDidNotAnswerMessage();
// Why a removal or an update stopped: the user's Excel did not answer in time.
std::wstring ExcelDidNotAnswerReason();
// Why an install stopped when its source changed, or could no longer be read, while it was copied.
std::wstring SourceChangedReason(const std::wstring& source, const std::wstring& description);

// The add-in is in place, but Excel's own settings keep it from running when Excel starts: what
// Excel will do, and what to ask the IT department for. Each names the start-up folder.
std::wstring MacrosNeverRunMessage(const std::wstring& startupFolder);
std::wstring MacrosRunIfSignedMessage(const std::wstring& startupFolder);
std::wstring MacrosRunOnceEnabledMessage(const std::wstring& startupFolder);
// Excel was told, after a crash, never to load the add-in again, and the list cannot be changed.
inline constexpr wchar_t kAddinStaysDisabled[] =
    L"Quorvale已经安装，但 Excel 已把它列为禁用项目，启动时不会加载它。"
    L"请在 Excel 的“文件”>“选项”>“加载项”中，从“管理”列表选择“禁用项目”，启用“QxButton.xla”；"
    L"如无法更改，请联系 IT 部门。   ";
// What a failed install says when the add-in vanished or changed moments after it was put in
// place: what a security program does to a file it takes for a threat.
std::wstring AddinTakenAwayReason(const std::wstring& startupFolder);

std::wstring InstallFailedMessage(const std::wstring& description);
// What a failed run could not undo after a second failure, named at the end of its message.
struct Leftovers {
    bool addin = false;         // the file at the add-in's place is not as it was
    bool record = false;        // the record is not as it was
    bool closedInExcel = false; // the add-in is no longer open in the user's Excel
    // Excel did not answer in time, and may yet close the add-in, or not open it again.
    bool mayBeClosedInExcel = false;
};
std::wstring WithLeftovers(const std::wstring& message, const Leftovers& left,
                           const std::wstring& startupFolder);
std::wstring RemovalFailedMessage(const std::wstring& description);
std::wstring LogUnavailableMessage(const std::wstring& description);
// The uninstall question could not be shown: not answered Yes, so nothing is removed.
std::wstring QuestionFailedMessage(const std::wstring& description);

// How the log words an error, "error 5: Access is denied.", and a failed step, "failed, " and
// the error.
std::wstring ErrorText(const HostError& error);
std::wstring FailureText(const HostError& error);
std::wstring Decimal(std::uint32_t value);
// The log's last line: "Exit code 1603".
std::wstring ExitCodeLine(int exitCode);

} // namespace qx
