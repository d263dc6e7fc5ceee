// Owners that only the test tools need, of the product's one generic kind (host/ScopedWin.h).
#pragma once

#include "host/ScopedWin.h"

namespace qxtools {

using UniqueHBitmap = qx::UniqueHandleOf<HBITMAP, &DeleteObject>;
using UniqueHBrush = qx::UniqueHandleOf<HBRUSH, &DeleteObject>;
using UniqueMemoryDc = qx::UniqueHandleOf<HDC, &DeleteDC>;
using UniqueBstr = qx::UniqueHandleOf<BSTR, &SysFreeString>;
using UniqueWindow = qx::UniqueHandleOf<HWND, &DestroyWindow>;
using UniqueHook = qx::UniqueHandleOf<HHOOK, &UnhookWindowsHookEx>;
// CreateToolhelp32Snapshot says "no handle" as CreateFileW does.
using UniqueSnapshot = qx::UniqueHandleOf<HANDLE, &CloseHandle, qx::InvalidIsEmpty>;
// So does FindFirstChangeNotificationW.
using UniqueChangeNotification =
    qx::UniqueHandleOf<HANDLE, &FindCloseChangeNotification, qx::InvalidIsEmpty>;

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

} // namespace qxtools
