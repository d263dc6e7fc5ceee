#include "host/Sha256.h"

#include "host/Win32Error.h"

namespace qx {

namespace {

constexpr DWORD kDigestBytes = 32;

} // namespace

Status Sha256::Start() {
    hash_.reset();
    provider_.reset(AcquireHashingProvider());
    if (!provider_) {
        return LastWin32Failure();
    }
    hash_.reset(CreateCryptHash(provider_.get(), CALG_SHA_256));
    if (!hash_) {
        return LastWin32Failure();
    }
    return Completed();
}

Status Sha256::Add(const char* bytes, std::size_t size) {
    if (!hash_) {
        return Win32Failure(ERROR_INVALID_HANDLE);
    }
    // CryptHashData takes a DWORD's worth at a time.
    constexpr std::size_t kMostAtOnce = 0x40000000;
    while (size > 0) {
        const std::size_t part = size < kMostAtOnce ? size : kMostAtOnce;
        if (!CryptHashData(hash_.get(), reinterpret_cast<const BYTE*>(bytes),
                           static_cast<DWORD>(part), 0)) {
            return LastWin32Failure();
        }
        bytes += part;
        size -= part;
    }
    return Completed();
}

Outcome<std::string> Sha256::Finish() {
    if (!hash_) {
        return Win32Failure(ERROR_INVALID_HANDLE);
    }
    std::string digest(kDigestBytes, '\0');
    DWORD size = kDigestBytes;
    if (!CryptGetHashParam(hash_.get(), HP_HASHVAL, reinterpret_cast<BYTE*>(digest.data()), &size,
                           0)) {
        return LastWin32Failure();
    }
    digest.resize(size);
    return digest;
}

} // namespace qx
