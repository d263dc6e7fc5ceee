#include "class_factory.h"

#include "automation.h"
#include "hang.h"
#include "server_lifetime.h"

#include "host/ScopedWin.h"

#include <atomic>
#include <iterator>
#include <new>
#include <utility>

namespace standin {
namespace {

// COM's own references to a registered class object do not keep the server running; only the
// objects it makes and the clients' locks do.
class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(ObjectKind kind) : kind_(kind) {}
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
        hang_if_asked(L"CreateInstance");
        const qx::ComPtr<IDispatch> object = create_object(kind_);
        if (!object)
            return E_OUTOFMEMORY;
        return object->QueryInterface(riid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            hold_server();
        else
            release_server();
        return S_OK;
    }

private:
    ~ClassFactory() = default;

    const ObjectKind kind_;
    std::atomic<ULONG> refs_{0};
};

struct Registration {
    const CLSID* clsid;
    ObjectKind kind;
    DWORD cookie;
};

Registration registrations[] = {{&clsid_global, ObjectKind::global, 0},
                                {&clsid_application, ObjectKind::application, 0}};

} // namespace

HRESULT register_classes() {
    for (auto& registration : registrations) {
        auto* created = new (std::nothrow) ClassFactory(registration.kind);
        if (!created)
            return E_OUTOFMEMORY;
        created->AddRef();
        const auto factory = qx::ComPtr<IClassFactory>::Attach(created);
        const HRESULT registered =
            CoRegisterClassObject(*registration.clsid, factory.get(), CLSCTX_LOCAL_SERVER,
                                  REGCLS_MULTIPLEUSE, &registration.cookie);
        if (FAILED(registered))
            return registered;
    }
    return S_OK;
}

void revoke_classes() {
    for (auto& registration : registrations) {
        if (registration.cookie != 0)
            CoRevokeClassObject(std::exchange(registration.cookie, 0));
    }
}

} // namespace standin
