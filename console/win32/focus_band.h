// The band around a console window in which its parent may draw a focus ring: the
// console's own pixels never change with the focus, so the ring lies outside them.
// Geometry, invalidation and the ring's look; whether and when to draw it is the parent's.
#pragma once

#include <windows.h>

namespace console {
namespace win32 {

// The ring's rectangle in the parent's client coordinates (the window's rectangle
// widened by a few pixels, scaled with the window's DPI). False for a top-level window.
bool focusBandRect(HWND window, RECT& ring);

// The ring's width: 2 pixels at 96 DPI, 2 x DPI/96 rounded up above it; the band is at
// least as wide.
int focusRingWidth(HWND window);

// Draws the ring as a solid frame of focusRingWidth in the highlight colour along the
// band's outer edge, on a DC of the parent's client area. Nothing for a top-level window.
void paintFocusRing(HWND window, HDC dc);

// Invalidates the band only (never the area under the window itself, which the parent's
// background would otherwise paint over), so the parent repaints its ring.
void invalidateFocusBand(HWND window);

}  // namespace win32
}  // namespace console
