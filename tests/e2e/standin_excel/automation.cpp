#include "automation.h"

#include "event_log.h"
#include "server_lifetime.h"
#include "settings.h"

#include <atomic>
#include <string>

namespace standin {

const CLSID clsid_global = {
    0x00020812, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const CLSID clsid_application = {
    0x5E1B7C3A, 0x2F4D, 0x4B8E, {0x9A, 0x61, 0x3C, 0x7D, 0x0E, 0x2F, 0x8B, 0x14}};

namespace {

// Excel's own dispatch ids for these members.
constexpr DISPID dispid_application = 0x94;
constexpr DISPID dispid_startup_path = 0x181;

struct Property {
    DISPID id;
    const wchar_t* name;
};

const wchar_t* kind_name(ObjectKind kind) {
    return kind == ObjectKind::global ? L"global" : L"application";
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
            // Names after the first are parameter names; none of these members takes any.
            const Property* property = i == 0 ? find_by_name(names[i]) : nullptr;
            ids[i] = property ? property->id : DISPID_UNKNOWN;
            if (!property)
                hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                     UINT*) override {
        if (riid != IID_NULL)
            return DISP_E_UNKNOWNINTERFACE;
        const Property* property = find_by_id(id);
        const UINT args = params ? params->cArgs : 0;
        const std::wstring name = property ? property->name : L"#" + std::to_wstring(id);
        log_event(L"invoke " + name + L" flags=" + std::to_wstring(flags) + L" lcid=" +
                  std::to_wstring(lcid) + L" args=" + std::to_wstring(args));
        if (!property || !(flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)))
            return DISP_E_MEMBERNOTFOUND;
        if (args != 0)
            return DISP_E_BADPARAMCOUNT;
        if (should_fail(property->name)) {
            fill_exception(exception, property->name);
            return DISP_E_EXCEPTION;
        }
        if (!result)
            return S_OK;
        VariantInit(result);
        return get(id, result);
    }

protected:
    virtual const Property* properties(size_t& count) const = 0;
    virtual HRESULT get(DISPID id, VARIANT* result) = 0;

private:
    const Property* find_by_name(const wchar_t* name) const {
        if (!name)
            return nullptr;
        size_t count = 0;
        const Property* table = properties(count);
        for (size_t i = 0; i < count; ++i) {
            if (CompareStringOrdinal(name, -1, table[i].name, -1, TRUE) == CSTR_EQUAL)
                return &table[i];
        }
        return nullptr;
    }
    const Property* find_by_id(DISPID id) const {
        size_t count = 0;
        const Property* table = properties(count);
        for (size_t i = 0; i < count; ++i) {
            if (table[i].id == id)
                return &table[i];
        }
        return nullptr;
    }
    static void fill_exception(EXCEPINFO* exception, const wchar_t* property) {
        if (!exception)
            return;
        *exception = EXCEPINFO{};
        // Excel reports its own errors through wCode; scode must then stay 0.
        exception->wCode = 1004;
        qx::UniqueBstr source(SysAllocString(L"Microsoft Excel"));
        qx::UniqueBstr description(
            SysAllocString((std::wstring(L"无法取得 ") + property + L" 属性：属性无效").c_str()));
        exception->bstrSource = source.release();
        exception->bstrDescription = description.release();
    }

    const ObjectKind kind_;
    std::atomic<ULONG> refs_{0};
};

class ApplicationObject final : public DispatchObject {
public:
    ApplicationObject() : DispatchObject(ObjectKind::application) {}

protected:
    const Property* properties(size_t& count) const override {
        static const Property table[] = {{dispid_application, L"Application"},
                                         {dispid_startup_path, L"StartupPath"}};
        count = sizeof table / sizeof table[0];
        return table;
    }
    HRESULT get(DISPID id, VARIANT* result) override {
        if (id == dispid_application) {
            AddRef();
            V_VT(result) = VT_DISPATCH;
            V_DISPATCH(result) = this;
            return S_OK;
        }
        qx::UniqueBstr path(SysAllocString(startup_path().c_str()));
        if (!path)
            return E_OUTOFMEMORY;
        V_VT(result) = VT_BSTR;
        V_BSTR(result) = path.release();
        return S_OK;
    }
};

class GlobalObject final : public DispatchObject {
public:
    GlobalObject() : DispatchObject(ObjectKind::global) {}

protected:
    const Property* properties(size_t& count) const override {
        static const Property table[] = {{dispid_application, L"Application"}};
        count = sizeof table / sizeof table[0];
        return table;
    }
    HRESULT get(DISPID, VARIANT* result) override {
        // Excel hands out one application per instance, however often it is asked.
        if (!application_)
            application_ = create_object(ObjectKind::application);
        if (!application_)
            return E_OUTOFMEMORY;
        application_->AddRef();
        V_VT(result) = VT_DISPATCH;
        V_DISPATCH(result) = application_.get();
        return S_OK;
    }

private:
    qx::ComPtr<IDispatch> application_;
};

} // namespace

qx::ComPtr<IDispatch> create_object(ObjectKind kind) {
    DispatchObject* object = nullptr;
    if (kind == ObjectKind::global)
        object = new (std::nothrow) GlobalObject();
    else
        object = new (std::nothrow) ApplicationObject();
    if (!object)
        return {};
    object->AddRef();
    return qx::ComPtr<IDispatch>::Attach(object);
}

} // namespace standin
