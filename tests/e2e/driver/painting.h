// What a window shows on the screen, and waiting until it has been painted there.
#pragma once

#include "cli.h"

#include "host/WinApi.h"
#include "tests/e2e/tool_owners.h"

#include <cstdint>
#include <vector>

namespace qxdriver {

struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> data; // 0x00RRGGBB, top row first
};

// Runs `draw` on a top-down 32-bit DIB of the given size and returns what it left there.
template <typename Draw> Pixels render(int width, int height, Draw draw) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const qxtools::UniqueHBitmap bitmap(
        CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    const qxtools::UniqueMemoryDc dc(CreateCompatibleDC(nullptr));
    if (!bitmap || !dc)
        throw Failure("cannot create a bitmap to read pixels into");
    Pixels pixels;
    {
        const qxtools::ScopedSelectObject selected(dc.get(), bitmap.get());
        draw(dc.get());
        GdiFlush();
        pixels.width = width;
        pixels.height = height;
        const auto* first = static_cast<const uint32_t*>(bits);
        pixels.data.assign(first, first + static_cast<size_t>(width) * height);
    }
    for (auto& p : pixels.data)
        p &= 0x00FFFFFF;
    return pixels;
}

// The screen's pixels in `area` (screen coordinates).
Pixels capture_screen(const RECT& area);

// Waits until the window and its visible children have been painted and what they painted is
// on the screen; throws Failure at the deadline. A window is found as soon as it is shown,
// before its first paint, and a slow (emulated) program may take seconds to paint it: what
// the screen holds before then is not the window.
void wait_painted(HWND hwnd, const Deadline& deadline);

} // namespace qxdriver
