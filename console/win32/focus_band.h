// The band around a console window in which its parent may draw a focus ring: the
// console's own pixels never change with the focus, so the ring lies outside them.
// Geometry and invalidation only; drawing the ring is the parent's choice.
#pragma once

#include <windows.h>

namespace console {
namespace win32 {

// The ring's rectangle in the parent's client coordinates (the window's rectangle
// widened by a few pixels, scaled with the window's DPI). False for a top-level window.
bool focusBandRect(HWND window, RECT& ring);

// Invalidates the band only (never the area under the window itself, which the parent's
// background would otherwise paint over), so the parent repaints its ring.
void invalidateFocusBand(HWND window);

}  // namespace win32
}  // namespace console
