// excelholder: keeps Excel (the stand-in) running for the benchmark, as a user's Excel often
// is, by holding its global object until its window "Excel holder" is closed. QXSetup then
// attaches to the running server, so its figures are its own and not those of a server
// process starting. Closed rather than killed, it lets go of Excel, which then ends by itself.
#include "host/ScopedWin.h"

#include <cstdio>

namespace {

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

int wmain() {
    const qx::ComApartment com;
    // Excel's global object, {00020812-0000-0000-C000-000000000046}.
    constexpr CLSID kExcelGlobal = {
        0x00020812, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    qx::ComPtr<IDispatch> excel;
    const HRESULT created = CoCreateInstance(kExcelGlobal, nullptr, CLSCTX_LOCAL_SERVER,
                                             __uuidof(IDispatch), excel.put_void());
    if (FAILED(created)) {
        std::fprintf(stderr, "CoCreateInstance failed: 0x%08lX\n",
                     static_cast<unsigned long>(created));
        return 1;
    }

    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"ExcelHolder";
    if (!RegisterClassExW(&windowClass) ||
        !CreateWindowExW(0, L"ExcelHolder", L"Excel holder", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                         200, 80, nullptr, nullptr, windowClass.hInstance, nullptr)) {
        std::fputs("cannot open the holder's window\n", stderr);
        return 1;
    }
    std::puts("holding");
    std::fflush(stdout);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    return 0;
}
