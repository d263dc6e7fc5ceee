#include "module.h"

#include "automation.h"

#include "host/WinApi.h"

#include <atomic>
#include <new>

namespace standin {
namespace {

std::atomic<long> module_refs{0};

class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(ObjectKind kind) : kind_(kind) { add_module_ref(); }
    ~ClassFactory() { release_module_ref(); }
    ClassFactory(const ClassFactory&) = delete;
    ClassFactory& operator=(const ClassFactory&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (!out)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        const qx::ComPtr<IDispatch> object = create_object(kind_);
        if (!object)
            return E_OUTOFMEMORY;
        return object->QueryInterface(riid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            add_module_ref();
        else
            release_module_ref();
        return S_OK;
    }

private:
    const ObjectKind kind_;
    std::atomic<ULONG> refs_{0};
};

} // namespace

void add_module_ref() {
    ++module_refs;
}
void release_module_ref() {
    --module_refs;
}

} // namespace standin

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
    using namespace standin;
    if (!out)
        return E_POINTER;
    *out = nullptr;
    ObjectKind kind;
    if (clsid == clsid_global)
        kind = ObjectKind::global;
    else if (clsid == clsid_application)
        kind = ObjectKind::application;
    else
        return CLASS_E_CLASSNOTAVAILABLE;
    ClassFactory* created = new (std::nothrow) ClassFactory(kind);
    if (!created)
        return E_OUTOFMEMORY;
    created->AddRef();
    const auto factory = qx::ComPtr<IClassFactory>::Attach(created);
    return factory->QueryInterface(riid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return standin::module_refs == 0 ? S_OK : S_FALSE;
}
