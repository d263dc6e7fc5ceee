#include "host/ExcelAutomation.h"

#include "host/Win32Error.h"

namespace qx {

namespace {

// Excel's global object; its Application property is the application itself.
constexpr CLSID kExcelGlobalClass = {
    0x00020812, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr wchar_t kExcelApplicationProgId[] = L"Excel.Application";
// Excel's properties take a locale; English (United States) is the one every Excel knows.
constexpr LCID kEnglishUnitedStates = 1033;
// IDispatch's reserved interface argument; defined here so that the link needs no uuid library.
constexpr IID kReservedIid = {};

HostError AutomationFailure(HRESULT result, ScopedExcepInfo& exception) {
    if (result != DISP_E_EXCEPTION) {
        return ComFailure(result);
    }
    if (exception->pfnDeferredFillIn) {
        exception->pfnDeferredFillIn(exception.get());
    }
    const HRESULT reported = exception->scode != 0 ? exception->scode : result;
    HostError error = ComFailure(reported);
    if (exception->bstrDescription && *exception->bstrDescription) {
        error.description = exception->bstrDescription;
    }
    return error;
}

// Reads a property with no arguments, coerced to `type`.
Status GetProperty(IDispatch* object, const wchar_t* name, VARTYPE type, VARIANT* result) {
    DISPID id = DISPID_UNKNOWN;
    auto* names = const_cast<LPOLESTR>(name);
    if (const HRESULT looked =
            object->GetIDsOfNames(kReservedIid, &names, 1, kEnglishUnitedStates, &id);
        FAILED(looked)) {
        return ComFailure(looked);
    }
    DISPPARAMS noArguments = {};
    ScopedExcepInfo exception;
    const HRESULT invoked =
        object->Invoke(id, kReservedIid, kEnglishUnitedStates, DISPATCH_PROPERTYGET, &noArguments,
                       result, exception.get(), nullptr);
    if (FAILED(invoked)) {
        return AutomationFailure(invoked, exception);
    }
    if (const HRESULT coerced = VariantChangeType(result, result, 0, type); FAILED(coerced)) {
        return ComFailure(coerced);
    }
    return Completed();
}

Outcome<ComPtr<IDispatch>> CreateDispatch(const CLSID& classId) {
    ComPtr<IDispatch> object;
    // CLSCTX_SERVER: Excel may serve in-process or, as a real Excel does, from its own process.
    const HRESULT created =
        CoCreateInstance(classId, nullptr, CLSCTX_SERVER, __uuidof(IDispatch), object.put_void());
    if (FAILED(created)) {
        return ComFailure(created);
    }
    return object;
}

} // namespace

Outcome<ExcelApplicationHandle> ExcelAutomation::AcquireApplication() {
    if (!global_) {
        auto global = CreateDispatch(kExcelGlobalClass);
        if (!global) {
            // Some installations register only the application's ProgID; its object is
            // already the application.
            CLSID applicationClass;
            if (FAILED(CLSIDFromProgID(kExcelApplicationProgId, &applicationClass))) {
                return global.error();
            }
            auto application = CreateDispatch(applicationClass);
            if (!application) {
                return global.error();
            }
            return ExcelApplicationHandle(
                new Win32ExcelApplication(std::move(application.value())));
        }
        global_ = std::move(global.value());
    }

    ScopedVariant application;
    if (auto read = GetProperty(global_.get(), L"Application", VT_DISPATCH, application.get());
        !read) {
        return read.error();
    }
    if (!(*application).pdispVal) {
        return ComFailure(E_POINTER);
    }
    ComPtr<IDispatch> dispatch;
    if (const HRESULT queried =
            (*application).pdispVal->QueryInterface(__uuidof(IDispatch), dispatch.put_void());
        FAILED(queried)) {
        return ComFailure(queried);
    }
    return ExcelApplicationHandle(new Win32ExcelApplication(std::move(dispatch)));
}

Outcome<std::wstring> ExcelAutomation::ReadStartupPath(const ExcelApplicationHandle& excel) {
    // Only this class hands out handles, so every handle it is given is one of its own.
    const auto* application = static_cast<const Win32ExcelApplication*>(excel.get());
    if (!application || !application->dispatch()) {
        return ComFailure(E_POINTER);
    }
    ScopedVariant path;
    if (auto read = GetProperty(application->dispatch(), L"StartupPath", VT_BSTR, path.get());
        !read) {
        return read.error();
    }
    const BSTR text = (*path).bstrVal;
    return std::wstring(text ? text : L"", text ? SysStringLen(text) : 0);
}

} // namespace qx
