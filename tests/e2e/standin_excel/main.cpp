// StandInExcel.exe: answers for Excel in the end-to-end tests. Registered under LocalServer32
// as Excel is, so COM starts it in its own process (with -Embedding) and every call crosses
// processes through the standard IDispatch marshaller, as with a real Excel.
#include "class_factory.h"
#include "event_log.h"
#include "settings.h"

#include "host/ScopedWin.h"

#include <cwchar>
#include <string>

namespace {

std::wstring hex(HRESULT result) {
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(result));
    return text;
}

// Takes clients until the last object they were given is gone; returns the exit code.
int serve() {
    const qx::ComApartment apartment;
    if (FAILED(apartment.result())) {
        standin::log_event(L"CoInitializeEx failed: " + hex(apartment.result()));
        return 1;
    }
    if (const DWORD delay = standin::register_delay_ms()) {
        standin::log_event(L"waiting " + std::to_wstring(delay) + L" ms before registering");
        Sleep(delay);
    }
    if (const HRESULT registered = standin::register_classes(); FAILED(registered)) {
        standin::log_event(L"CoRegisterClassObject failed: " + hex(registered));
        standin::revoke_classes();
        return 1;
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    standin::revoke_classes();
    return 0;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Which Office served a test: 32-bit or 64-bit.
    standin::log_event(sizeof(void*) == 8 ? L"server start (64-bit)" : L"server start (32-bit)");
    const int exit_code = serve();
    standin::log_event(L"server exit");
    return exit_code;
}
