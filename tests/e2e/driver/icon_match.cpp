#include "icon_match.h"

#include "painting.h"
#include "toplevel.h"

#include "host/ScopedWin.h"
#include "tests/e2e/tool_owners.h"

#include <cstdint>
#include <cstdlib>

namespace qxdriver {
namespace {

struct Candidate {
    const char* name;
    const wchar_t* resource;
};

const Candidate candidates[] = {{"warning", IDI_WARNING},
                                {"information", IDI_INFORMATION},
                                {"error", IDI_ERROR},
                                {"question", IDI_QUESTION}};

HWND find_icon_static(HWND box) {
    for (const HWND child : children_of(box)) {
        if (CompareStringOrdinal(class_of(child).c_str(), -1, L"Static", -1, TRUE) != CSTR_EQUAL)
            continue;
        if ((GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            return child;
    }
    return nullptr;
}

// The icon static fills its client area with the dialog's background, then draws the icon
// stretched to that area; doing the same with the system icon gives the same pixels.
Pixels draw_system_icon(const wchar_t* resource, int width, int height, uint32_t background) {
    const HICON icon = LoadIconW(nullptr, resource); // shared: never destroyed
    return render(width, height, [&](HDC dc) {
        const COLORREF colour =
            RGB((background >> 16) & 0xFF, (background >> 8) & 0xFF, background & 0xFF);
        const qxtools::UniqueHBrush brush(CreateSolidBrush(colour));
        RECT all{0, 0, width, height};
        FillRect(dc, &all, brush.get());
        if (icon)
            DrawIconEx(dc, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
    });
}

double mismatch(const Pixels& a, const Pixels& b) {
    size_t differing = 0;
    for (size_t i = 0; i < a.data.size(); ++i) {
        for (int shift = 0; shift < 24; shift += 8) {
            const int ca = static_cast<int>((a.data[i] >> shift) & 0xFF);
            const int cb = static_cast<int>((b.data[i] >> shift) & 0xFF);
            if (std::abs(ca - cb) > 16) {
                ++differing;
                break;
            }
        }
    }
    return a.data.empty() ? 1.0
                          : static_cast<double>(differing) / static_cast<double>(a.data.size());
}

} // namespace

std::string identify_box_icon(HWND box, const Deadline& deadline) {
    const HWND holder = find_icon_static(box);
    if (!holder || !IsWindowVisible(holder))
        return "none";
    DWORD_PTR icon = 0;
    if (!SendMessageTimeoutW(holder, STM_GETICON, 0, 0, SMTO_NORMAL, deadline.remaining_ms(),
                             &icon))
        return "unknown";
    if (!icon)
        return "none";
    RECT area{};
    GetClientRect(holder, &area);
    MapWindowPoints(holder, nullptr, reinterpret_cast<POINT*>(&area), 2);
    if (area.right <= area.left || area.bottom <= area.top)
        return "unknown";
    // Read once the box is painted, not before: a box is found as soon as it is shown, and a
    // slow (emulated) program may take seconds to paint it.
    for (bool painted = false;; painted = true) {
        const Pixels shown = capture_screen(area);
        double best = 1.0;
        double runner_up = 1.0;
        const char* best_name = nullptr;
        for (const auto& candidate : candidates) {
            const double score =
                mismatch(shown, draw_system_icon(candidate.resource, shown.width, shown.height,
                                                 shown.data.front()));
            if (score < best) {
                runner_up = best;
                best = score;
                best_name = candidate.name;
            } else if (score < runner_up) {
                runner_up = score;
            }
        }
        if (best_name && best <= 0.01 && runner_up >= 0.05)
            return best_name;
        if (painted)
            return "unknown";
        wait_painted(box, deadline);
    }
}

} // namespace qxdriver
