// Sizing the main dialog's console for its DPI; see console_fit.h. Window geometry only.
#include "app/console_fit.h"

#include "console/win32/win32_host.h"

namespace app {

namespace {

// The dialog manager's own base units: the font's height, and its average width over
// the 52 Latin letters, rounded.
SIZE BaseUnits(HDC dc) {
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    TEXTMETRICA metrics = {};
    SIZE extent = {0, 0};
    GetTextMetricsA(dc, &metrics);
    GetTextExtentPoint32A(dc, kLetters, 52, &extent);
    return SIZE{(extent.cx / 26 + 1) / 2, metrics.tmHeight};
}

}  // namespace

SIZE ConsoleSizeAt96Dpi(HWND dialog, int widthUnits, int heightUnits) {
    LOGFONTA face = {};
    HFONT dialogFont = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
    if (dialogFont == nullptr || GetObjectA(dialogFont, sizeof face, &face) == 0) return SIZE{0, 0};
    face.lfHeight = -MulDiv(8, 96, 72);  // the templates' 8 points
    face.lfWidth = 0;
    HFONT font = CreateFontIndirectA(&face);
    HDC dc = GetDC(dialog);
    SIZE size = {0, 0};
    if (font != nullptr && dc != nullptr) {
        HGDIOBJ previous = SelectObject(dc, font);
        const SIZE base = BaseUnits(dc);
        SelectObject(dc, previous);
        size.cx = MulDiv(widthUnits, base.cx, 4);
        size.cy = MulDiv(heightUnits, base.cy, 8);
    }
    if (dc != nullptr) ReleaseDC(dialog, dc);
    if (font != nullptr) DeleteObject(font);
    return size;
}

void FitConsoleToDpi(HWND dialog, HWND console, int widthUnits, int heightUnits) {
    const int32_t dpi = console::win32::windowDpi(dialog);
    if (dpi == 96 || console == nullptr) return;
    const SIZE at96 = ConsoleSizeAt96Dpi(dialog, widthUnits, heightUnits);
    if (at96.cx <= 0 || at96.cy <= 0) return;
    RECT box;
    GetWindowRect(console, &box);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&box), 2);
    const int dx = MulDiv(at96.cx, dpi, 96) - (box.right - box.left);
    const int dy = MulDiv(at96.cy, dpi, 96) - (box.bottom - box.top);
    if (dx == 0 && dy == 0) return;

    // What lies below the console keeps its distance to it, and to the right edge when it
    // stands in the right half; what lies right of it keeps its distance too.
    const int middle = (box.left + box.right) / 2;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (child == console) continue;
        RECT r;
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        const int moveX = r.left >= middle ? dx : 0;
        const int moveY = r.top >= box.bottom ? dy : 0;
        if (moveX != 0 || moveY != 0) {
            SetWindowPos(child, nullptr, r.left + moveX, r.top + moveY, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
    SetWindowPos(console, nullptr, 0, 0, box.right - box.left + dx, box.bottom - box.top + dy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT frame;
    GetWindowRect(dialog, &frame);
    SetWindowPos(dialog, nullptr, 0, 0, frame.right - frame.left + dx, frame.bottom - frame.top + dy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace app
