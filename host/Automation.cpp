#include "host/Automation.h"

#include "host/Win32Error.h"

namespace qx {

namespace {

// Excel's members take a locale; English (United States) is the one every Excel knows.
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

template <typename Call> HRESULT CallWithin(const CallDeadline* deadline, Call call) {
    return deadline ? CallBeforeDeadline(*deadline, call) : call();
}

} // namespace

Status CallMember(IDispatch* object, const wchar_t* name, WORD flags, VARIANT* arguments,
                  UINT count, VARIANT* result, const CallDeadline* deadline) {
    DISPID id = DISPID_UNKNOWN;
    auto* names = const_cast<LPOLESTR>(name);
    const HRESULT looked = CallWithin(deadline, [&] {
        return object->GetIDsOfNames(kReservedIid, &names, 1, kEnglishUnitedStates, &id);
    });
    if (FAILED(looked)) {
        return ComFailure(looked);
    }
    DISPPARAMS parameters = {arguments, nullptr, count, 0};
    ScopedExcepInfo exception;
    const HRESULT invoked = CallWithin(deadline, [&] {
        return object->Invoke(id, kReservedIid, kEnglishUnitedStates, flags, &parameters, result,
                              exception.get(), nullptr);
    });
    if (FAILED(invoked)) {
        return AutomationFailure(invoked, exception);
    }
    return Completed();
}

Status GetProperty(IDispatch* object, const wchar_t* name, VARTYPE type, VARIANT* result,
                   const CallDeadline* deadline) {
    if (auto read = CallMember(object, name, DISPATCH_PROPERTYGET, nullptr, 0, result, deadline);
        !read) {
        return read;
    }
    if (const HRESULT coerced = VariantChangeType(result, result, 0, type); FAILED(coerced)) {
        return ComFailure(coerced);
    }
    return Completed();
}

Status GetObject(IDispatch* object, const wchar_t* name, WORD flags, VARIANT* arguments, UINT count,
                 ScopedVariant& result, const CallDeadline* deadline) {
    if (auto got = CallMember(object, name, flags, arguments, count, result.get(), deadline);
        !got) {
        return got;
    }
    if (const HRESULT coerced = VariantChangeType(result.get(), result.get(), 0, VT_DISPATCH);
        FAILED(coerced)) {
        return ComFailure(coerced);
    }
    if (!(*result).pdispVal) {
        return ComFailure(E_POINTER);
    }
    return Completed();
}

Status PutText(ScopedVariant& argument, const std::wstring& text) {
    const BSTR copy = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!copy) {
        return ComFailure(E_OUTOFMEMORY);
    }
    V_VT(argument.get()) = VT_BSTR;
    V_BSTR(argument.get()) = copy;
    return Completed();
}

} // namespace qx
