// Keeps the main dialog's console at the grid it has at 96 DPI on other screens: the
// dialog manager scales by the font's metrics, which do not grow in proportion to the
// DPI, so the console is sized to its 96-DPI size times the DPI exactly. Does nothing at
// 96 DPI, and nothing to the console's contents.
#pragma once

#include <windows.h>

namespace app {

// The console's client size at 96 DPI: its template rectangle (width, height in dialog
// units) mapped with the base units of the dialog's font at 8 points, 96 DPI.
SIZE ConsoleSizeAt96Dpi(HWND dialog, int widthUnits, int heightUnits);

// Resizes the console to that size scaled to the dialog's DPI, and moves the controls
// below or right of it and the dialog's own edges by the same difference. Call before the
// console's screens are made. A no-op at 96 DPI or when the size is already right.
void FitConsoleToDpi(HWND dialog, HWND console, int widthUnits, int heightUnits);

}  // namespace app
