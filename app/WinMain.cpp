#include "app/Win32HostServices.h"
#include "host/OneRunAtATime.h"
#include "host/ScopedWin.h"
#include "installer/MainMod.h"

namespace {

// An installer usually runs from a Downloads folder, where a planted DLL must never load.
// Looked up rather than imported: Windows 7 without KB2533623 lacks the function, and the
// program must still start there.
void LoadDllsOnlyFromSystem32() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    const auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel32, "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories) {
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    LoadDllsOnlyFromSystem32();
    HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);

    // A second start while a run is in progress changes nothing and asks nothing: its question
    // could undo what the first run is doing.
    const qx::OneRunAtATime oneRun;
    if (oneRun.AnotherRunInProgress()) {
        oneRun.BringOtherRunForward();
        return 0;
    }

    // Declared in this order so that Excel is released before COM is shut down.
    const qx::ComApartment com;
    qx::Win32HostServices host(instance);
    qx::MainMod mainMod(host);

    mainMod.Main();
    return host.RunMessageLoopWhileWindowOpen();
}
