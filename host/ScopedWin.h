#pragma once

#include "host/WinApi.h"

#include <oleauto.h>

#include <memory>
#include <type_traits>
#include <utility>

namespace qx {

// One owner per handle kind: a unique_ptr whose deleter calls the handle's own close function.
template <typename Handle, auto Close> struct HandleCloser {
    using pointer = Handle;
    void operator()(Handle handle) const { Close(handle); }
};
template <typename Handle, auto Close>
using UniqueHandleOf = std::unique_ptr<std::remove_pointer_t<Handle>, HandleCloser<Handle, Close>>;

using UniqueHandle = UniqueHandleOf<HANDLE, &CloseHandle>;
using UniqueFindHandle = UniqueHandleOf<HANDLE, &FindClose>;
using UniqueHKey = UniqueHandleOf<HKEY, &RegCloseKey>;
using UniqueHGlobal = UniqueHandleOf<HGLOBAL, &GlobalFree>;
using UniqueHFont = UniqueHandleOf<HFONT, &DeleteObject>;
using UniqueHBitmap = UniqueHandleOf<HBITMAP, &DeleteObject>;
using UniqueHBrush = UniqueHandleOf<HBRUSH, &DeleteObject>;
using UniqueMemoryDc = UniqueHandleOf<HDC, &DeleteDC>;
using UniqueBstr = UniqueHandleOf<BSTR, &SysFreeString>;
// Memory the system allocated for the caller (FORMAT_MESSAGE_ALLOCATE_BUFFER and the like).
template <typename T> using UniqueLocalMemory = UniqueHandleOf<T*, &LocalFree>;

inline void ReleaseScreenDc(HDC dc) {
    ReleaseDC(nullptr, dc);
}
using UniqueScreenDc = UniqueHandleOf<HDC, &ReleaseScreenDc>;

// CreateFileW and a few others say "no handle" with INVALID_HANDLE_VALUE rather than null.
inline HANDLE NullIfInvalid(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

// Puts back the object a DC had selected before.
class ScopedSelectObject {
public:
    ScopedSelectObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
    ScopedSelectObject(const ScopedSelectObject&) = delete;
    ScopedSelectObject& operator=(const ScopedSelectObject&) = delete;
    ~ScopedSelectObject() { SelectObject(dc_, previous_); }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// Owns one reference of a COM interface.
template <typename Interface> class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr& other) : pointer_(other.pointer_) { AddRef(); }
    ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(pointer_, other.pointer_);
        return *this;
    }
    ~ComPtr() { Release(); }

    // Takes over a reference the caller already holds.
    static ComPtr Attach(Interface* held) {
        ComPtr owner;
        owner.pointer_ = held;
        return owner;
    }

    Interface* get() const { return pointer_; }
    Interface* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

    // For out-parameters: drops what is held and hands out the slot to fill.
    Interface** put() {
        Release();
        return &pointer_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }

private:
    void AddRef() {
        if (pointer_) {
            pointer_->AddRef();
        }
    }
    void Release() {
        if (auto* held = std::exchange(pointer_, nullptr)) {
            held->Release();
        }
    }

    Interface* pointer_ = nullptr;
};

// A VARIANT that is cleared when it goes out of scope.
class ScopedVariant {
public:
    ScopedVariant() { VariantInit(&value_); }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;
    ~ScopedVariant() { VariantClear(&value_); }

    VARIANT* get() { return &value_; }
    const VARIANT& operator*() const { return value_; }

private:
    VARIANT value_;
};

// Everything an EXCEPINFO owns, freed with it.
class ScopedExcepInfo {
public:
    ScopedExcepInfo() : info_{} {}
    ScopedExcepInfo(const ScopedExcepInfo&) = delete;
    ScopedExcepInfo& operator=(const ScopedExcepInfo&) = delete;
    ~ScopedExcepInfo() {
        SysFreeString(info_.bstrSource);
        SysFreeString(info_.bstrDescription);
        SysFreeString(info_.bstrHelpFile);
    }

    EXCEPINFO* get() { return &info_; }
    EXCEPINFO* operator->() { return &info_; }
    const EXCEPINFO& operator*() const { return info_; }

private:
    EXCEPINFO info_;
};

// COM for this thread, for as long as the object lives.
class ComApartment {
public:
    ComApartment()
        : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (SUCCEEDED(result_)) {
            CoUninitialize();
        }
    }

    HRESULT result() const { return result_; }

private:
    HRESULT result_;
};

} // namespace qx
