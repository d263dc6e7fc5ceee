#pragma once

namespace qx {

inline constexpr wchar_t kSuccessCaption[] = L"安装成功：";
inline constexpr wchar_t kLabel3Text[] =
    L"检查一下您的 Excel的“文件(F)”菜单中\r\n\r\n是否多了一个菜单项：";
inline constexpr wchar_t kLabel2Text[] =
    L"点击该菜单项，就可以使用了。\r\n\r\n感谢您选择了本软件！";

} // namespace qx
