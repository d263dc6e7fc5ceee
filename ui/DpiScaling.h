#pragma once

#include "host/WinApi.h"

namespace qx {

// Lengths on the success window are given in twips (1/1440 inch).
int TwipsToPixels(int twips, UINT dpi);

// The DPI the window is shown at. Per-monitor functions are looked up at run time because
// Windows 7 and 8 lack them; there the system DPI serves.
UINT DpiForWindow(HWND window);
SIZE WindowSizeForClient(SIZE client, DWORD style, DWORD exStyle, UINT dpi);

} // namespace qx
