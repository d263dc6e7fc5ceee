#include "users_excel.h"

#include "automation.h"
#include "event_log.h"
#include "open_workbooks.h"
#include "server_lifetime.h"
#include "settings.h"
#include "tests/e2e/tool_owners.h"

#include <objidl.h>

#include <string>

namespace standin {
namespace {

constexpr wchar_t window_class[] = L"XLMAIN";

// Serves one busy request at a time: it starts with the first call that sees it.
class BusyTimer {
public:
    bool busy_now(const BusyPeriod& period) {
        if (period.request.empty())
            return false;
        if (period.request != request_) {
            request_ = period.request;
            until_ = GetTickCount64() + period.ms;
            return true;
        }
        return GetTickCount64() < until_;
    }

private:
    std::wstring request_;
    ULONGLONG until_ = 0;
};

// Excel's own filter: a busy Excel rejects every incoming call, which COM hands back to the
// caller as RPC_E_CALL_REJECTED (Wine ignores SERVERCALL_RETRYLATER, so that is not used).
class BusyFilter final : public IMessageFilter {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IMessageFilter) {
            *out = static_cast<IMessageFilter*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // Lives as long as the process.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) override {
        if (rejecting_.busy_now(reject_calls())) {
            log_event(L"rejected a call");
            return SERVERCALL_REJECTED;
        }
        const BusyPeriod stall = stall_calls();
        if (stalling_.busy_now(stall) && !stalled_) {
            stalled_ = true;
            log_event(L"holding up a call for " + std::to_wstring(stall.ms) + L" ms");
            Sleep(stall.ms);
            log_event(L"let the held-up call through");
        }
        return SERVERCALL_ISHANDLED;
    }
    DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD, DWORD) override {
        return static_cast<DWORD>(-1);
    }
    DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD, DWORD) override {
        return PENDINGMSG_WAITDEFPROCESS;
    }

private:
    BusyTimer rejecting_;
    BusyTimer stalling_;
    bool stalled_ = false;
};

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

using qxtools::UniqueWindow;

UniqueWindow show_main_window() {
    WNDCLASSW registered{};
    registered.lpfnWndProc = window_proc;
    registered.hInstance = GetModuleHandleW(nullptr);
    registered.lpszClassName = window_class;
    if (!RegisterClassW(&registered))
        return UniqueWindow();
    return UniqueWindow(CreateWindowExW(0, window_class, L"Microsoft Excel - 工作簿1",
                                        WS_OVERLAPPEDWINDOW | WS_VISIBLE, 60, 60, 480, 320, nullptr,
                                        nullptr, registered.hInstance, nullptr));
}

} // namespace

int run_as_users_excel(bool registered) {
    const qx::ComApartment apartment;
    if (FAILED(apartment.result()))
        return 1;
    // The user's Excel stays until the user closes it, whoever lets go of its objects.
    hold_server();
    open_addins_in(startup_path());

    BusyFilter filter;
    qx::ComPtr<IMessageFilter> previous;
    CoRegisterMessageFilter(&filter, previous.put());

    const qx::ComPtr<IDispatch> application = create_object(ObjectKind::application);
    DWORD cookie = 0;
    if (registered) {
        const HRESULT put = RegisterActiveObject(application.get(), clsid_running_application,
                                                 ACTIVEOBJECT_STRONG, &cookie);
        log_event(SUCCEEDED(put) ? L"registered as the running Excel"
                                 : L"RegisterActiveObject failed");
    }
    const UniqueWindow window = show_main_window();
    if (!window)
        return 1;
    log_event(L"ready");

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (cookie)
        RevokeActiveObject(cookie, nullptr);
    CoRegisterMessageFilter(previous.get(), nullptr);
    return 0;
}

} // namespace standin
