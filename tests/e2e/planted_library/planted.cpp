// A DLL that does nothing, planted beside the program under the name of a system DLL the
// program loads after it starts: were the program's folder on its DLL search path, this file
// would be loaded instead of the system's, as a DLL planted in a Downloads folder would be.
#include "host/WinApi.h"

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
