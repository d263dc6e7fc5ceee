#pragma once

#include "host/WinApi.h"

#include <oleauto.h>
#include <wincrypt.h>

#include <type_traits>
#include <utility>

namespace qx {

// What a handle kind means by "no handle": null for most; INVALID_HANDLE_VALUE for what
// CreateFileW and FindFirstFileW return, so that a failed open can never look like a handle.
struct NullIsEmpty {
    template <typename Handle> static Handle Value() { return Handle(); }
};
struct InvalidIsEmpty {
    template <typename Handle> static Handle Value() { return INVALID_HANDLE_VALUE; }
};

// One owner per handle kind: holds one handle and closes it with the kind's own function.
// Move-only, and no implicit conversion either way. It is made from the handle itself, or,
// for a kind whose handles must reach no other owner, from a type of their own (`From`).
template <typename Handle, auto Close, typename Empty = NullIsEmpty, typename From = Handle>
class UniqueHandleOf {
public:
    UniqueHandleOf() = default;
    explicit UniqueHandleOf(From handle) : handle_(HeldIn(handle)) {}
    UniqueHandleOf(UniqueHandleOf&& other) noexcept : handle_(other.release()) {}
    UniqueHandleOf& operator=(UniqueHandleOf&& other) noexcept {
        Replace(other.release());
        return *this;
    }
    UniqueHandleOf(const UniqueHandleOf&) = delete;
    UniqueHandleOf& operator=(const UniqueHandleOf&) = delete;
    ~UniqueHandleOf() { reset(); }

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != Empty::template Value<Handle>(); }
    Handle release() { return std::exchange(handle_, Empty::template Value<Handle>()); }
    void reset() { Replace(Empty::template Value<Handle>()); }
    void reset(From handle) { Replace(HeldIn(handle)); }

private:
    static Handle HeldIn(From handle) {
        if constexpr (std::is_same_v<From, Handle>) {
            return handle;
        } else {
            return handle.handle_;
        }
    }
    void Replace(Handle handle) {
        const Handle old = std::exchange(handle_, handle);
        if (old != Empty::template Value<Handle>()) {
            Close(old);
        }
    }

    Handle handle_ = Empty::template Value<Handle>();
};

// What CreateFileW returned, as OpenFileHandle alone makes it: a type of its own, so that
// UniqueFile (whose "no handle" is INVALID_HANDLE_VALUE) is made from nothing else, and no owner
// of other handles (whose "no handle" is null) is made from it.
class OpenedFile {
    explicit OpenedFile(HANDLE handle) : handle_(handle) {}
    friend OpenedFile OpenFileHandle(const wchar_t* path, DWORD access, DWORD share,
                                     DWORD disposition, DWORD flagsAndAttributes);
    template <typename, auto, typename, typename> friend class UniqueHandleOf;

    HANDLE handle_;
};

// CreateFileW without security attributes or a template file, which no caller needs; the one
// place it is called (tests/layering checks that).
inline OpenedFile OpenFileHandle(const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
                                 DWORD flagsAndAttributes) {
    return OpenedFile(
        CreateFileW(path, access, share, nullptr, disposition, flagsAndAttributes, nullptr));
}

// What CryptAcquireContextW and CryptCreateHash hand out are both plain numbers (ULONG_PTR), which
// an owner of the one would take from the other, or from any number: each is made only by its
// wrapper below, as a type of its own, and its owner takes nothing else.
class AcquiredCryptProvider {
    explicit AcquiredCryptProvider(HCRYPTPROV handle) : handle_(handle) {}
    friend AcquiredCryptProvider AcquireHashingProvider();
    template <typename, auto, typename, typename> friend class UniqueHandleOf;

    HCRYPTPROV handle_;
};
class CreatedCryptHash {
    explicit CreatedCryptHash(HCRYPTHASH handle) : handle_(handle) {}
    friend CreatedCryptHash CreateCryptHash(HCRYPTPROV provider, ALG_ID algorithm);
    template <typename, auto, typename, typename> friend class UniqueHandleOf;

    HCRYPTHASH handle_;
};

// A provider for hashing only: no key container, nothing shown. The SHA-2 hashes come with the
// AES provider. On failure, "no handle" (0) and GetLastError() say why.
inline AcquiredCryptProvider AcquireHashingProvider() {
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES,
                              CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
        provider = 0;
    }
    return AcquiredCryptProvider(provider);
}

inline CreatedCryptHash CreateCryptHash(HCRYPTPROV provider, ALG_ID algorithm) {
    HCRYPTHASH hash = 0;
    if (!CryptCreateHash(provider, algorithm, 0, 0, &hash)) {
        hash = 0;
    }
    return CreatedCryptHash(hash);
}

inline void ReleaseCryptProvider(HCRYPTPROV provider) {
    CryptReleaseContext(provider, 0);
}

using UniqueHandle = UniqueHandleOf<HANDLE, &CloseHandle>;
using UniqueFile = UniqueHandleOf<HANDLE, &CloseHandle, InvalidIsEmpty, OpenedFile>;
using UniqueFind = UniqueHandleOf<HANDLE, &FindClose, InvalidIsEmpty>;
using UniqueHKey = UniqueHandleOf<HKEY, &RegCloseKey>;
using UniqueHGlobal = UniqueHandleOf<HGLOBAL, &GlobalFree>;
using UniqueHFont = UniqueHandleOf<HFONT, &DeleteObject>;
// A hash is destroyed before the provider it came from is released: declare the provider first.
using UniqueCryptProvider =
    UniqueHandleOf<HCRYPTPROV, &ReleaseCryptProvider, NullIsEmpty, AcquiredCryptProvider>;
using UniqueCryptHash =
    UniqueHandleOf<HCRYPTHASH, &CryptDestroyHash, NullIsEmpty, CreatedCryptHash>;
// Memory the system allocated for the caller (FORMAT_MESSAGE_ALLOCATE_BUFFER and the like).
template <typename T> using UniqueLocalMemory = UniqueHandleOf<T*, &LocalFree>;

inline void ReleaseScreenDc(HDC dc) {
    ReleaseDC(nullptr, dc);
}
using UniqueScreenDc = UniqueHandleOf<HDC, &ReleaseScreenDc>;

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
