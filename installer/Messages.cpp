#include "installer/Messages.h"

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

std::wstring InstallFailedMessage(const std::wstring& description) {
    return L"Quorvale安装失败：" + WithoutTrailingLineBreaks(description) + L"   ";
}

std::wstring RemovalFailedMessage(const std::wstring& description) {
    return L"Quorvale未能移除：" + WithoutTrailingLineBreaks(description) +
           L"请关闭 Excel 后重试。   ";
}

} // namespace qx
