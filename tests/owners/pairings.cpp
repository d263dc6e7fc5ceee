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
}
