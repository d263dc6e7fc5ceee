// Handle owners and what they may be made from. A line that ends in "// refused" must not
// compile, and must be the only thing that fails on that line; every other line must compile.
// check_pairings.py compiles this file once and compares the lines the compiler refuses.
#include "host/ScopedWin.h"

namespace {

qx::OpenedFile AnOpenedFile() {
    return qx::OpenFileHandle(L"C:\\a.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL);
}

HANDLE AnEvent() {
    return CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

qx::AcquiredCryptProvider AProvider() {
    return qx::AcquireHashingProvider();
}

qx::CreatedCryptHash AHash(HCRYPTPROV provider) {
    return qx::CreateCryptHash(provider, CALG_SHA_256);
}

} // namespace

void RightPairings() {
    const qx::UniqueFile file(AnOpenedFile());
    qx::UniqueFile reopened;
    reopened.reset(AnOpenedFile());
    reopened = qx::UniqueFile(AnOpenedFile());
    reopened.reset();
    const qx::UniqueHandle event(AnEvent());
    qx::UniqueHandle renewed;
    renewed.reset(AnEvent());
    static_cast<void>(ReadFile(file.get(), nullptr, 0, nullptr, nullptr) && event.get());
    const qx::UniqueCryptProvider provider(AProvider());
    const qx::UniqueCryptHash hash(AHash(provider.get()));
    qx::UniqueCryptHash rehashed;
    rehashed.reset(AHash(provider.get()));
    static_cast<void>(CryptHashData(hash.get(), nullptr, 0, 0));
}

void WrongPairings() {
    const qx::UniqueHandle fileInHandleOwner(AnOpenedFile()); // refused
    qx::UniqueHandle renewed;
    renewed.reset(AnOpenedFile());                        // refused
    const qx::UniqueFind fileInFindOwner(AnOpenedFile()); // refused
    const qx::UniqueFile eventInFileOwner(AnEvent());     // refused
    qx::UniqueFile reopened;
    reopened.reset(AnEvent()); // refused
    // Only OpenFileHandle makes one.
    const qx::UniqueFile wrapped{qx::OpenedFile(AnEvent())}; // refused
    const qx::UniqueFile fromNull(nullptr);                  // refused
    // A provider and a hash are both numbers: each owner takes only what its wrapper made.
    const qx::UniqueCryptProvider provider(AProvider());
    const qx::UniqueCryptHash providerInHashOwner(AProvider());               // refused
    const qx::UniqueCryptProvider hashInProviderOwner(AHash(provider.get())); // refused
    const qx::UniqueCryptHash numberInHashOwner(HCRYPTHASH{1});               // refused
    const qx::UniqueCryptProvider numberInProviderOwner(HCRYPTPROV{1});       // refused
    qx::UniqueCryptHash rehashed;
    rehashed.reset(provider.get());                            // refused
    const qx::UniqueHandle providerInHandleOwner(AProvider()); // refused
}
