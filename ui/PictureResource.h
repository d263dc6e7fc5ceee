#pragma once

#include "host/Outcome.h"
#include "host/ScopedWin.h"

#include <olectl.h>

namespace qx {

// A picture (JPEG, GIF, BMP…) embedded as an RCDATA resource, decoded by the system.
Outcome<ComPtr<IPicture>> LoadPictureResource(HINSTANCE instance, int resourceId);

// Draws the whole picture into `box`, scaled to fit it.
void DrawPicture(IPicture& picture, HDC dc, const RECT& box);

} // namespace qx
