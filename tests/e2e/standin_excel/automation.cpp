#include "automation.h"

#include "event_log.h"
#include "hang.h"
#include "open_workbooks.h"
#include "server_lifetime.h"
#include "settings.h"
#include "tests/e2e/tool_owners.h"

#include <atomic>
#include <string>

namespace standin {

const CLSID clsid_global = {
    0x00020812, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const CLSID clsid_application = {
    0x5E1B7C3A, 0x2F4D, 0x4B8E, {0x9A, 0x61, 0x3C, 0x7D, 0x0E, 0x2F, 0x8B, 0x14}};
const CLSID clsid_running_application = {
    0x00024500, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace {

// Excel's own dispatch ids where the tests compare them; clients look every id up by name.
constexpr DISPID dispid_application = 0x94;
constexpr DISPID dispid_startup_path = 0x181;
constexpr DISPID dispid_version = 0x188;
constexpr DISPID dispid_workbooks = 0x23C;
constexpr DISPID dispid_open = 0x2AA;
constexpr DISPID dispid_item = 0xAA;
constexpr DISPID dispid_count = 0x76;
constexpr DISPID dispid_name = 0x6E;
constexpr DISPID dispid_full_name = 0x121;
constexpr DISPID dispid_run_auto_macros = 0x27A;
constexpr DISPID dispid_close = 0x115;

struct Member {
    DISPID id;
    const wchar_t* name;
};

const wchar_t* kind_name(ObjectKind kind) {
    switch (kind) {
    case ObjectKind::global:
        return L"global";
    case ObjectKind::application:
        return L"application";
    case ObjectKind::workbooks:
        return L"workbooks";
    case ObjectKind::workbook:
        return L"workbook";
    }
    return L"?";
}

// The argument at `index` counted from the first, as the caller wrote them.
const VARIANT* argument(const DISPPARAMS* params, UINT index) {
    if (!params || index >= params->cArgs)
        return nullptr;
    return &params->rgvarg[params->cArgs - 1 - index];
}

std::wstring text_argument(const DISPPARAMS* params, UINT index) {
    const VARIANT* given = argument(params, index);
    if (!given)
        return {};
    qx::ScopedVariant text;
    if (FAILED(VariantChangeType(text.get(), const_cast<VARIANT*>(given), 0, VT_BSTR)))
        return {};
    const BSTR value = (*text).bstrVal;
    return std::wstring(value ? value : L"", value ? SysStringLen(value) : 0);
}

HRESULT put_text(VARIANT* result, const std::wstring& text) {
    qxtools::UniqueBstr value(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
    if (!value)
        return E_OUTOFMEMORY;
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = value.release();
    return S_OK;
}

HRESULT put_object(VARIANT* result, qx::ComPtr<IDispatch> object) {
    if (!object)
        return E_OUTOFMEMORY;
    V_VT(result) = VT_DISPATCH;
    V_DISPATCH(result) = object.get();
    object.get()->AddRef();
    return S_OK;
}

// As Excel raises its own errors: wCode set, scode 0, unless a standard code says more.
HRESULT raise(EXCEPINFO* exception, const std::wstring& description, SCODE scode = 0) {
    if (exception) {
        *exception = EXCEPINFO{};
        exception->wCode = scode ? 0 : 1004;
        exception->scode = scode;
        qxtools::UniqueBstr source(SysAllocString(L"Microsoft Excel"));
        qxtools::UniqueBstr text(SysAllocString(description.c_str()));
        exception->bstrSource = source.release();
        exception->bstrDescription = text.release();
    }
    return DISP_E_EXCEPTION;
}

class DispatchObject : public IDispatch {
public:
    explicit DispatchObject(ObjectKind kind) : kind_(kind) {
        hold_server();
        log_event(std::wstring(L"create ") + kind_name(kind));
    }
    virtual ~DispatchObject() { release_server(); }
    DispatchObject(const DispatchObject&) = delete;
    DispatchObject& operator=(const DispatchObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) {
            log_event(std::wstring(L"release ") + kind_name(kind_));
            delete this;
        }
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (!info)
            return E_POINTER;
        *info = nullptr;
        return DISP_E_BADINDEX;
    }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        if (riid != IID_NULL)
            return DISP_E_UNKNOWNINTERFACE;
        if (!names || !ids)
            return E_POINTER;
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count; ++i) {
            log_event(std::wstring(L"names ") + (names[i] ? names[i] : L""));
            // Names after the first are parameter names, which none of these members takes.
            const Member* member = i == 0 ? find_by_name(names[i]) : nullptr;
            ids[i] = member ? member->id : DISPID_UNKNOWN;
            if (!member)
                hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                     UINT*) override {
        if (riid != IID_NULL)
            return DISP_E_UNKNOWNINTERFACE;
        const Member* member = find_by_id(id);
        const UINT args = params ? params->cArgs : 0;
        const std::wstring name = member ? member->name : L"#" + std::to_wstring(id);
        log_event(L"invoke " + name + L" flags=" + std::to_wstring(flags) + L" lcid=" +
                  std::to_wstring(lcid) + L" args=" + std::to_wstring(args));
        if (!member || !(flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)))
            return DISP_E_MEMBERNOTFOUND;
        if (should_fail(member->name)) {
            const std::wstring given = fail_description();
            return raise(exception, !given.empty() ? given
                                                   : std::wstring(L"无法取得 ") + member->name +
                                                         L" 属性：属性无效");
        }
        VARIANT ignored;
        VariantInit(&ignored);
        const HRESULT hr = call(id, params, result ? result : &ignored, exception);
        VariantClear(&ignored);
        return hr;
    }

protected:
    virtual const Member* members(size_t& count) const = 0;
    // The member's work; `result` is always there and empty.
    virtual HRESULT call(DISPID id, const DISPPARAMS* params, VARIANT* result,
                         EXCEPINFO* exception) = 0;

private:
    const Member* find_by_name(const wchar_t* name) const {
        if (!name)
            return nullptr;
        size_t count = 0;
        const Member* table = members(count);
        for (size_t i = 0; i < count; ++i) {
            if (CompareStringOrdinal(name, -1, table[i].name, -1, TRUE) == CSTR_EQUAL)
                return &table[i];
        }
        return nullptr;
    }
    const Member* find_by_id(DISPID id) const {
        size_t count = 0;
        const Member* table = members(count);
        for (size_t i = 0; i < count; ++i) {
            if (table[i].id == id)
                return &table[i];
        }
        return nullptr;
    }

    const ObjectKind kind_;
    std::atomic<ULONG> refs_{0};
};

template <typename Object, typename... Args> qx::ComPtr<IDispatch> make(Args&&... args) {
    auto* object = new (std::nothrow) Object(std::forward<Args>(args)...);
    if (!object)
        return {};
    object->AddRef();
    return qx::ComPtr<IDispatch>::Attach(object);
}

// One open workbook, known by its name: Excel's Workbook object outlives nothing it names.
class WorkbookObject final : public DispatchObject {
public:
    explicit WorkbookObject(std::wstring name)
        : DispatchObject(ObjectKind::workbook), name_(std::move(name)) {}

protected:
    const Member* members(size_t& count) const override {
        static const Member table[] = {{dispid_name, L"Name"},
                                       {dispid_full_name, L"FullName"},
                                       {dispid_run_auto_macros, L"RunAutoMacros"},
                                       {dispid_close, L"Close"}};
        count = sizeof table / sizeof table[0];
        return table;
    }
    HRESULT call(DISPID id, const DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception) override {
        const OpenWorkbook* open = find_workbook(name_);
        if (!open)
            return raise(exception, L"对象已关闭：" + name_);
        switch (id) {
        case dispid_name:
            return put_text(result, open->name);
        case dispid_full_name:
            return put_text(result, open->full_name);
        case dispid_run_auto_macros:
            log_event(L"run auto macros " + text_argument(params, 0) + L" of " + open->name);
            return S_OK;
        case dispid_close: {
            const VARIANT* save = argument(params, 0);
            log_event(L"close " + open->name + L" saving " +
                      (!save                           ? L"(not said)"
                       : V_VT(save) != VT_BOOL         ? L"(not a Boolean)"
                       : V_BOOL(save) == VARIANT_FALSE ? L"false"
                                                       : L"true"));
            close_workbook(name_);
            return S_OK;
        }
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    const std::wstring name_;
};

class WorkbooksObject final : public DispatchObject {
public:
    WorkbooksObject() : DispatchObject(ObjectKind::workbooks) {}

protected:
    const Member* members(size_t& count) const override {
        static const Member table[] = {
            {dispid_open, L"Open"}, {dispid_item, L"Item"}, {dispid_count, L"Count"}};
        count = sizeof table / sizeof table[0];
        return table;
    }
    HRESULT call(DISPID id, const DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception) override {
        if (id == dispid_count) {
            V_VT(result) = VT_I4;
            V_I4(result) = count_workbooks();
            return S_OK;
        }
        const std::wstring given = text_argument(params, 0);
        if (given.empty())
            return DISP_E_BADPARAMCOUNT;
        if (id == dispid_open) {
            DWORD error = 0;
            const OpenWorkbook* open = open_workbook(given, error);
            if (!open)
                return raise(exception, L"找不到 " + given + L"，或无法打开。");
            return put_object(result, make<WorkbookObject>(open->name));
        }
        const OpenWorkbook* open = find_workbook(given);
        if (!open)
            return raise(exception, L"下标越界。", DISP_E_BADINDEX);
        return put_object(result, make<WorkbookObject>(open->name));
    }
};

class ApplicationObject final : public DispatchObject {
public:
    ApplicationObject() : DispatchObject(ObjectKind::application) {}

protected:
    const Member* members(size_t& count) const override {
        static const Member table[] = {{dispid_application, L"Application"},
                                       {dispid_startup_path, L"StartupPath"},
                                       {dispid_version, L"Version"},
                                       {dispid_workbooks, L"Workbooks"}};
        count = sizeof table / sizeof table[0];
        return table;
    }
    HRESULT call(DISPID id, const DISPPARAMS* params, VARIANT* result, EXCEPINFO*) override {
        if (params && params->cArgs != 0)
            return DISP_E_BADPARAMCOUNT;
        switch (id) {
        case dispid_application:
            AddRef();
            V_VT(result) = VT_DISPATCH;
            V_DISPATCH(result) = this;
            return S_OK;
        case dispid_startup_path:
            hang_if_asked(L"StartupPath");
            return put_text(result, startup_path());
        case dispid_version:
            return put_text(result, excel_version());
        case dispid_workbooks:
            return put_object(result, make<WorkbooksObject>());
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }
};

class GlobalObject final : public DispatchObject {
public:
    GlobalObject() : DispatchObject(ObjectKind::global) {}

protected:
    const Member* members(size_t& count) const override {
        static const Member table[] = {{dispid_application, L"Application"}};
        count = sizeof table / sizeof table[0];
        return table;
    }
    HRESULT call(DISPID, const DISPPARAMS* params, VARIANT* result, EXCEPINFO*) override {
        if (params && params->cArgs != 0)
            return DISP_E_BADPARAMCOUNT;
        // Excel hands out one application per instance, however often it is asked.
        if (!application_)
            application_ = create_object(ObjectKind::application);
        return put_object(result, application_);
    }

private:
    qx::ComPtr<IDispatch> application_;
};

} // namespace

qx::ComPtr<IDispatch> create_object(ObjectKind kind) {
    return kind == ObjectKind::global ? make<GlobalObject>() : make<ApplicationObject>();
}

} // namespace standin
