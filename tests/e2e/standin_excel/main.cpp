// StandInExcel.exe: answers for Excel in the end-to-end tests. Registered under LocalServer32
// as Excel is, so COM starts it in its own process (with -Embedding) and every call crosses
// processes through the standard IDispatch marshaller, as with a real Excel.
#include "class_factory.h"
#include "event_log.h"
#include "settings.h"
#include "users_excel.h"

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

bool has_switch(const wchar_t* name) {
    for (int i = 1; i < __argc; ++i) {
        if (CompareStringOrdinal(__wargv[i], -1, name, -1, TRUE) == CSTR_EQUAL)
            return true;
    }
    return false;
}

} // namespace

// StandInExcel.exe -Embedding: started by COM for a client. StandInExcel.exe /user: the Excel
// the user has open, started by the test; with /unregistered it has not yet registered itself.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    const wchar_t* bits = sizeof(void*) == 8 ? L" (64-bit)" : L" (32-bit)";
    if (has_switch(L"/user")) {
        // Its events are told apart from those of an Excel that COM starts beside it.
        standin::set_event_prefix(L"user: ");
        standin::log_event(std::wstring(L"start") + bits);
        const int exit_code = standin::run_as_users_excel(!has_switch(L"/unregistered"));
        standin::log_event(L"exit");
        return exit_code;
    }
    // Which Office served a test: 32-bit or 64-bit.
    standin::log_event(std::wstring(L"server start") + bits);
    const int exit_code = serve();
    standin::log_event(L"server exit");
    return exit_code;
}
