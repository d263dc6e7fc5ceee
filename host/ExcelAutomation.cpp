#include "host/ExcelAutomation.h"

#include "host/Automation.h"
#include "host/Win32Error.h"

#include <iterator>

namespace qx {

namespace {

// Excel's global object; its Application property is the application itself.
constexpr CLSID kExcelGlobalClass = {
    0x00020812, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// Excel's application class, under which a running Excel registers itself for other programs.
constexpr CLSID kExcelApplicationClass = {
    0x00024500, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr wchar_t kExcelApplicationProgId[] = L"Excel.Application";
// The class of Excel's main window.
constexpr wchar_t kExcelWindowClass[] = L"XLMAIN";
// RunAutoMacros' xlAutoOpen and xlAutoClose: what Excel runs when it opens or closes an add-in.
constexpr LONG kAutoOpen = 1;
constexpr LONG kAutoClose = 2;

// Creating a server's object waits for the server to start and offer it; an Excel held by a
// dialog never does, which only the thread's deadline bounds.
HRESULT CreateDispatch(const CLSID& classId, ComPtr<IDispatch>& object) {
    // CLSCTX_SERVER: Excel may serve in-process or, as a real Excel does, from its own process.
    return CoCreateInstance(classId, nullptr, CLSCTX_SERVER, __uuidof(IDispatch),
                            object.put_void());
}

// The application itself: from Excel's global object, or, where an installation registered only
// the application's ProgID, the object of that class.
Status StartExcelOnThread(ExcelThread::OnThread& onThread) {
    if (!onThread.global) {
        if (const HRESULT created = CreateDispatch(kExcelGlobalClass, onThread.global);
            FAILED(created)) {
            CLSID applicationClass;
            if (FAILED(CLSIDFromProgID(kExcelApplicationProgId, &applicationClass)) ||
                FAILED(CreateDispatch(applicationClass, onThread.excel))) {
                return ComFailure(created);
            }
            return Completed();
        }
    }
    ScopedVariant application;
    if (auto read = GetProperty(onThread.global.get(), L"Application", VT_DISPATCH,
                                application.get(), &onThread.deadline);
        !read) {
        return read;
    }
    if (!(*application).pdispVal) {
        return ComFailure(E_POINTER);
    }
    if (const HRESULT queried =
            (*application).pdispVal->QueryInterface(__uuidof(IDispatch), onThread.excel.put_void());
        FAILED(queried)) {
        return ComFailure(queried);
    }
    return Completed();
}

Outcome<std::wstring> TextPropertyOf(IDispatch* application, const wchar_t* property,
                                     const CallDeadline* deadline) {
    ScopedVariant value;
    if (auto read = GetProperty(application, property, VT_BSTR, value.get(), deadline); !read) {
        return read.error();
    }
    const BSTR text = (*value).bstrVal;
    return std::wstring(text ? text : L"", text ? SysStringLen(text) : 0);
}

Status RunAutoMacros(IDispatch* workbook, LONG which, const CallDeadline& deadline) {
    ScopedVariant argument;
    V_VT(argument.get()) = VT_I4;
    V_I4(argument.get()) = which;
    return CallMember(workbook, L"RunAutoMacros", DISPATCH_METHOD, argument.get(), 1, nullptr,
                      &deadline);
}

// A workbook from the application's Workbooks by one text argument: Open(path), Item(name).
Status WorkbookBy(IDispatch* application, const wchar_t* member, WORD flags,
                  const std::wstring& text, ScopedVariant& workbook, const CallDeadline& deadline) {
    ScopedVariant workbooks;
    if (auto got = GetObject(application, L"Workbooks", DISPATCH_PROPERTYGET, nullptr, 0, workbooks,
                             &deadline);
        !got) {
        return got;
    }
    ScopedVariant argument;
    if (auto put = PutText(argument, text); !put) {
        return put;
    }
    return GetObject((*workbooks).pdispVal, member, flags, argument.get(), 1, workbook, &deadline);
}

Status OpenWorkbookAsAddin(IDispatch* application, const std::wstring& path,
                           const CallDeadline& deadline) {
    ScopedVariant workbook;
    if (auto opened = WorkbookBy(application, L"Open", DISPATCH_METHOD, path, workbook, deadline);
        !opened) {
        return opened;
    }
    // Opened by a program, Excel runs no auto-open macro by itself; at its start it does.
    return RunAutoMacros((*workbook).pdispVal, kAutoOpen, deadline);
}

Status CloseWorkbookAsAddin(IDispatch* application, const std::wstring& name,
                            const CallDeadline& deadline) {
    // An add-in is found by its name, although Workbooks.Count does not count it. One that is
    // not open is "subscript out of range".
    ScopedVariant workbook;
    if (auto found = WorkbookBy(application, L"Item", DISPATCH_METHOD | DISPATCH_PROPERTYGET, name,
                                workbook, deadline);
        !found) {
        HostError error = found.error();
        error.notFound = error.number == static_cast<std::uint32_t>(DISP_E_BADINDEX);
        return error;
    }
    // Its menu item goes with its auto-close macro, as when Excel closes it.
    if (auto ran = RunAutoMacros((*workbook).pdispVal, kAutoClose, deadline); !ran) {
        return ran;
    }
    ScopedVariant saveChanges;
    V_VT(saveChanges.get()) = VT_BOOL;
    V_BOOL(saveChanges.get()) = VARIANT_FALSE;
    return CallMember((*workbook).pdispVal, L"Close", DISPATCH_METHOD, saveChanges.get(), 1,
                      nullptr, &deadline);
}

struct ExcelWindowSearch {
    DWORD ownProcess;
    bool found;
};

BOOL CALLBACK FindExcelWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<ExcelWindowSearch*>(parameter);
    wchar_t className[16] = {};
    if (!IsWindowVisible(window) ||
        GetClassNameW(window, className, static_cast<int>(std::size(className))) == 0 ||
        CompareStringOrdinal(className, -1, kExcelWindowClass, -1, TRUE) != CSTR_EQUAL) {
        return TRUE;
    }
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == search->ownProcess) {
        return TRUE;
    }
    search->found = true;
    return FALSE;
}

} // namespace

Outcome<ExcelApplicationHandle> ExcelAutomation::AttachToRunning() {
    const auto attached = usersExcel_.Run<Done>([](ExcelThread::OnThread& onThread) -> Status {
        const HRESULT found = CallBeforeDeadline(onThread.deadline, [&] {
            ComPtr<IUnknown> running;
            const HRESULT active = GetActiveObject(kExcelApplicationClass, nullptr, running.put());
            if (FAILED(active)) {
                return active;
            }
            return running->QueryInterface(__uuidof(IDispatch), onThread.excel.put_void());
        });
        if (FAILED(found)) {
            HostError error = ComFailure(found);
            error.notFound = found == MK_E_UNAVAILABLE;
            return error;
        }
        return Completed();
    });
    if (!attached) {
        return attached.error();
    }
    return ExcelApplicationHandle(new Win32ExcelApplication(true));
}

Outcome<ExcelApplicationHandle> ExcelAutomation::AcquireApplication() {
    const auto started = startedExcel_.Run<Done>(&StartExcelOnThread);
    if (!started) {
        return started.error();
    }
    return ExcelApplicationHandle(new Win32ExcelApplication(false));
}

// Only ExcelAutomation hands out handles, so every handle it is given is one of its own.
ExcelThread* ExcelAutomation::ThreadOf(const ExcelApplicationHandle& excel) {
    if (!excel) {
        return nullptr;
    }
    return static_cast<const Win32ExcelApplication*>(excel.get())->usersOwn() ? &usersExcel_
                                                                              : &startedExcel_;
}

Outcome<std::wstring> ExcelAutomation::ReadText(const ExcelApplicationHandle& excel,
                                                const wchar_t* property) {
    ExcelThread* thread = ThreadOf(excel);
    if (!thread) {
        return ComFailure(E_POINTER);
    }
    return thread->Run<std::wstring>(
        [property](ExcelThread::OnThread& onThread) -> Outcome<std::wstring> {
            if (!onThread.excel) {
                return ComFailure(E_POINTER);
            }
            return TextPropertyOf(onThread.excel.get(), property, &onThread.deadline);
        });
}

Outcome<std::wstring> ExcelAutomation::ReadStartupPath(const ExcelApplicationHandle& excel) {
    return ReadText(excel, L"StartupPath");
}

Outcome<std::wstring> ExcelAutomation::ReadVersion(const ExcelApplicationHandle& excel) {
    return ReadText(excel, L"Version");
}

// Only the Excel the user has open gets an add-in opened or closed, on its own thread.
Status ExcelAutomation::OnUsersExcel(const ExcelApplicationHandle& excel, AddinWork work,
                                     const std::wstring& addin) {
    if (ThreadOf(excel) != &usersExcel_) {
        return ComFailure(E_POINTER);
    }
    return usersExcel_.Run<Done>([work, addin](ExcelThread::OnThread& onThread) {
        return work(onThread.excel.get(), addin, onThread.deadline);
    });
}

Status ExcelAutomation::OpenAddin(const ExcelApplicationHandle& excel, const std::wstring& path) {
    return OnUsersExcel(excel, &OpenWorkbookAsAddin, path);
}

Status ExcelAutomation::CloseAddin(const ExcelApplicationHandle& excel, const std::wstring& name) {
    return OnUsersExcel(excel, &CloseWorkbookAsAddin, name);
}

bool ExcelWindowOpen() {
    ExcelWindowSearch search{GetCurrentProcessId(), false};
    EnumWindows(&FindExcelWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

} // namespace qx
