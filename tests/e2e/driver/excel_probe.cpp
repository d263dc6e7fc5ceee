// Reads what the installer asks of Excel (its start-up folder, its version) the way it does, so
// the stand-in server can be checked without the installer.
#include "commands.h"

#include "host/ScopedWin.h"

#include <string>

namespace qxdriver {
namespace {

const CLSID clsid_excel_global = {
    0x00020812, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr LCID lcid_en_us = 1033;

struct ProbeFailure {
    const char* step;
    HRESULT hr;
    std::string detail;
};

void get_property(IDispatch* object, const wchar_t* name, VARIANT* result, const char* step) {
    DISPID id = DISPID_UNKNOWN;
    auto* names = const_cast<LPOLESTR>(name);
    HRESULT hr = object->GetIDsOfNames(IID_NULL, &names, 1, lcid_en_us, &id);
    if (FAILED(hr))
        throw ProbeFailure{step, hr, ""};
    DISPPARAMS none{};
    qx::ScopedExcepInfo exception;
    hr = object->Invoke(id, IID_NULL, lcid_en_us, DISPATCH_PROPERTYGET, &none, result,
                        exception.get(), nullptr);
    if (FAILED(hr)) {
        const EXCEPINFO& e = *exception;
        std::string detail;
        if (hr == DISP_E_EXCEPTION)
            detail = ",\"wcode\":" + std::to_string(e.wCode) + ",\"scode\":\"" +
                     hex32(static_cast<unsigned long>(e.scode)) + "\"" +
                     ",\"source\":" + json_string(e.bstrSource ? e.bstrSource : L"") +
                     ",\"description\":" + json_string(e.bstrDescription ? e.bstrDescription : L"");
        throw ProbeFailure{step, hr, detail};
    }
}

// The global object, or when that class is missing, whatever "Excel.Application" names,
// which is then the application itself.
qx::ComPtr<IDispatch> create_excel(bool& via_progid) {
    qx::ComPtr<IDispatch> object;
    const HRESULT hr = CoCreateInstance(clsid_excel_global, nullptr, CLSCTX_SERVER, IID_IDispatch,
                                        object.put_void());
    via_progid = false;
    if (SUCCEEDED(hr))
        return object;
    CLSID fallback{};
    if (FAILED(CLSIDFromProgID(L"Excel.Application", &fallback)))
        throw ProbeFailure{"create", hr, ""};
    via_progid = true;
    const HRESULT fallback_hr =
        CoCreateInstance(fallback, nullptr, CLSCTX_SERVER, IID_IDispatch, object.put_void());
    if (FAILED(fallback_hr))
        throw ProbeFailure{"create", fallback_hr, ""};
    return object;
}

// Reads one text property of Excel's application, reached as the installer reaches it, and
// prints it under `key`, with the way Excel was reached.
int probe_application(const wchar_t* property, const char* key) {
    const qx::ComApartment com;
    if (FAILED(com.result()))
        throw Failure("CoInitializeEx failed: " + hex32(static_cast<unsigned long>(com.result())));
    const std::string step = utf8(property);
    try {
        bool via_progid = false;
        const qx::ComPtr<IDispatch> excel = create_excel(via_progid);
        qx::ComPtr<IDispatch> application = excel;
        if (!via_progid) {
            qx::ScopedVariant value;
            get_property(excel.get(), L"Application", value.get(), "Application");
            const VARIANT& v = *value;
            if (V_VT(&v) != VT_DISPATCH || !V_DISPATCH(&v))
                throw ProbeFailure{"Application", DISP_E_TYPEMISMATCH, ""};
            V_DISPATCH(&v)->AddRef();
            application = qx::ComPtr<IDispatch>::Attach(V_DISPATCH(&v));
        }
        qx::ScopedVariant answer;
        get_property(application.get(), property, answer.get(), step.c_str());
        const VARIANT& v = *answer;
        if (V_VT(&v) != VT_BSTR)
            throw ProbeFailure{step.c_str(), DISP_E_TYPEMISMATCH, ""};
        const BSTR text = V_BSTR(&v);
        write_stdout(std::string("{\"") + key +
                     "\":" + json_string(std::wstring(text, SysStringLen(text))) + ",\"via\":\"" +
                     (via_progid ? "progid" : "global") + "\"}\n");
        return 0;
    } catch (const ProbeFailure& failure) {
        write_stdout("{\"hresult\":\"" + hex32(static_cast<unsigned long>(failure.hr)) +
                     "\",\"step\":\"" + failure.step + "\"" + failure.detail + "}\n");
        write_stderr("reading " + step + " failed at " + failure.step + ": " +
                     hex32(static_cast<unsigned long>(failure.hr)) + "\n");
        return 1;
    }
}

} // namespace

int cmd_excel_startup_path(const Invocation& call) {
    require_args(call, 0, "excel-startup-path");
    return probe_application(L"StartupPath", "path");
}

// Where Excel keeps its settings in the registry: the version it reports names the key.
int cmd_excel_version(const Invocation& call) {
    require_args(call, 0, "excel-version");
    return probe_application(L"Version", "version");
}

} // namespace qxdriver
