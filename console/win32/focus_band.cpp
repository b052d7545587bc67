// Focus band of a console child window; see focus_band.h. Touches only the parent's
// update region.
#include "focus_band.h"

#include <algorithm>

#include "win32_host.h"

namespace console {
namespace win32 {

namespace {

int32_t dpiOf(HWND window) { return std::max<int32_t>(windowDpi(window), 96); }

// 3 pixels at 96 DPI, more on denser screens; never narrower than the ring it holds.
int bandWidth(HWND window) { return std::max(static_cast<int>(3 * dpiOf(window) / 96), focusRingWidth(window)); }

}  // namespace

int focusRingWidth(HWND window) { return std::max(2, static_cast<int>((2 * dpiOf(window) + 95) / 96)); }

void paintFocusRing(HWND window, HDC dc) {
    RECT ring;
    if (dc == nullptr || !focusBandRect(window, ring)) return;
    const int w = focusRingWidth(window);
    HBRUSH brush = GetSysColorBrush(COLOR_HIGHLIGHT);
    const RECT sides[] = {{ring.left, ring.top, ring.right, ring.top + w},
                          {ring.left, ring.bottom - w, ring.right, ring.bottom},
                          {ring.left, ring.top + w, ring.left + w, ring.bottom - w},
                          {ring.right - w, ring.top + w, ring.right, ring.bottom - w}};
    for (const RECT& side : sides) FillRect(dc, &side, brush);
}

bool focusBandRect(HWND window, RECT& ring) {
    if ((GetWindowLongA(window, GWL_STYLE) & WS_CHILD) == 0) return false;
    HWND parent = GetParent(window);
    if (parent == nullptr || !GetWindowRect(window, &ring)) return false;
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&ring), 2);
    const int width = bandWidth(window);
    InflateRect(&ring, width, width);
    return true;
}

void invalidateFocusBand(HWND window) {
    RECT ring;
    if (!focusBandRect(window, ring)) return;
    RECT inner = ring;
    const int width = bandWidth(window);
    InflateRect(&inner, -width, -width);
    HRGN band = CreateRectRgnIndirect(&ring);
    HRGN hole = CreateRectRgnIndirect(&inner);
    if (band != nullptr && hole != nullptr && CombineRgn(band, band, hole, RGN_DIFF) != ERROR) {
        InvalidateRgn(GetParent(window), band, TRUE);
    }
    if (band != nullptr) DeleteObject(band);
    if (hole != nullptr) DeleteObject(hole);
}

}  // namespace win32
}  // namespace console
