#include "installer/Messages.h"

#include "host/HostServices.h"
#include "installer/Paths.h"

namespace qx {

namespace {

// The platform ends most descriptions with a line break, which would split the sentence.
std::wstring WithoutTrailingLineBreaks(std::wstring text) {
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n')) {
        text.pop_back();
    }
    return text;
}

} // namespace

std::wstring Decimal(std::uint32_t value) {
    std::wstring digits;
    do {
        digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + value % 10));
        value /= 10;
    } while (value != 0);
    return digits;
}

std::wstring ExcelDidNotAnswerReason() {
    return L"Excel 在 " + Decimal(kExcelAnswerLimitSeconds) +
           L" 秒内没有响应，它可能正显示着一个对话框。";
}

std::wstring ExcelDidNotAnswerMessage() {
    return L"无法从 Excel 获取启动文件夹：" + ExcelDidNotAnswerReason() +
           L"请打开 Excel，关闭其中的对话框后重试。未做任何更改。   ";
}

std::wstring SourceChangedReason(const std::wstring& source, const std::wstring& description) {
    std::wstring cause = WithoutTrailingLineBreaks(description);
    if (!cause.empty() && cause.back() == L'。') {
        cause.pop_back();
    }
    return L"复制“" + source + L"”时，它被改动了或无法再读取（" + cause +
           L"）。请确认该文件完好、所在的位置可以访问后重试。";
}

namespace {

std::wstring AskForTrustedLocation(const std::wstring& startupFolder) {
    return L"请联系 IT 部门，请他们通过组策略把 Excel 的启动文件夹“" + startupFolder +
           L"”设为受信任位置。   ";
}

} // namespace

std::wstring MacrosNeverRunMessage(const std::wstring& startupFolder) {
    return L"Quorvale已经安装，但按 Excel 的安全设置，它的宏不会运行，“文件(F)”菜单中不会出现新的"
           L"菜单项。" +
           AskForTrustedLocation(startupFolder);
}

std::wstring MacrosRunIfSignedMessage(const std::wstring& startupFolder) {
    return L"Quorvale已经安装。按 Excel 的安全设置，只有当加载项由贵单位信任的发布者签名时，它的宏"
           L"才会运行，本程序无法判断是否如此。如果重新打开 Excel 后“文件(F)”菜单中没有出现新的菜单"
           L"项，" +
           AskForTrustedLocation(startupFolder);
}

std::wstring MacrosRunOnceEnabledMessage(const std::wstring& startupFolder) {
    return L"Quorvale已经安装。按 Excel 的安全设置，Excel 每次启动时都会询问是否启用加载项中的宏，"
           L"请选择启用，“文件(F)”菜单中才会出现新的菜单项。如果不想每次都被询问，" +
           AskForTrustedLocation(startupFolder);
}

std::wstring AddinTakenAwayReason(const std::wstring& startupFolder) {
    return L"刚放入“" + startupFolder + L"”的“" + InstalledAddinFileName() +
           L"”随即不见了或被改动，很可能是安全软件（杀毒软件）把它隔离了。请让 IT "
           L"部门把该文件夹列为安全软件的例外后重试。";
}

std::wstring InstallFailedMessage(const std::wstring& description) {
    return L"Quorvale安装失败：" + WithoutTrailingLineBreaks(description) + L"   ";
}

std::wstring WithLeftovers(const std::wstring& message, const Leftovers& left,
                           const std::wstring& startupFolder) {
    std::wstring parts;
    const auto add = [&parts](const std::wstring& part) {
        parts += (parts.empty() ? L"" : L"；") + part;
    };
    if (left.addin) {
        add(L"文件“" + InstalledAddinFileName() + L"”仍留在“" + startupFolder + L"”中");
    }
    if (left.record) {
        add(L"设置记录未能恢复原样");
    }
    if (left.closedInExcel) {
        add(L"加载项已在 Excel 中关闭，重新打开 Excel 即可再次载入");
    }
    if (left.mayBeClosedInExcel) {
        add(L"加载项可能已在 Excel 中关闭，重新打开 Excel 即可再次载入");
    }
    if (parts.empty()) {
        return message;
    }
    std::wstring sentence = message;
    while (!sentence.empty() && sentence.back() == L' ') {
        sentence.pop_back();
    }
    return sentence + L"未能完全撤销：" + parts + L"。   ";
}

std::wstring RemovalFailedMessage(const std::wstring& description) {
    return L"Quorvale未能移除：" + WithoutTrailingLineBreaks(description) +
           L"请关闭 Excel 后重试。   ";
}

std::wstring LogUnavailableMessage(const std::wstring& description) {
    return L"Quorvale无法打开日志文件：" + WithoutTrailingLineBreaks(description) +
           L"未做任何更改。   ";
}

std::wstring QuestionFailedMessage(const std::wstring& description) {
    return L"Quorvale无法显示是否卸载的询问：" + WithoutTrailingLineBreaks(description) +
           L"未做任何更改。   ";
}

std::wstring ErrorText(const HostError& error) {
    // Win32 errors read best in decimal, as Microsoft's pages list them; HRESULTs in hex.
    std::wstring number;
    if (error.number >= 0x80000000u) {
        number = L"0x";
        for (int shift = 28; shift >= 0; shift -= 4) {
            number += L"0123456789ABCDEF"[(error.number >> shift) & 0xF];
        }
    } else {
        number = Decimal(error.number);
    }
    return L"error " + number + L": " + WithoutTrailingLineBreaks(error.description);
}

std::wstring FailureText(const HostError& error) {
    return L"failed, " + ErrorText(error);
}

std::wstring ExitCodeLine(int exitCode) {
    return L"Exit code " + Decimal(static_cast<std::uint32_t>(exitCode));
}

} // namespace qx
