// Turns the cells of a screen into pixels: the palette and grey rule, the bitmap
// layout, painting a cell, the timer tick, the paint step and the cursor.
// Portable: works on plain pixel memory; the window surface is a ConsolePainter.
#pragma once

#include <cstddef>
#include <cstdint>

#include "instance.h"
#include "screen.h"

namespace console {

// Blue, green, red per entry: the byte order of the 24-bit bitmaps.
extern const uint8_t defaultPalette[kPaletteBytes];

struct ScreenBitmap {
    BitmapHandle handle = nullptr;
    uint8_t* bits = nullptr;
    int32_t width = 0;
    int32_t height = 0;
};

// Client width raised to a multiple of 4, so that rows of 3-byte pixels stay 4-aligned.
inline int32_t bitmapWidthFor(int32_t clientWidth) { return clientWidth <= 0 ? 0 : (clientWidth + 3) & ~3; }

// Byte offset of pixel (x, y), y counted down from the top, in a bottom-up bitmap.
inline size_t pixelOffset(int32_t width, int32_t height, int32_t x, int32_t y) {
    return (static_cast<size_t>(height - 1 - y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
}

ScreenBitmap createScreenBitmap(ConsoleHost& host);
void clearScreenBitmap(const ConsoleScreen& screen, uint8_t* bits);

// CONM_CREATEBITMAPS: both bitmaps made again at the client's real size (the old ones
// freed), the DPI they are drawn for taken from the host now, every cell marked for redraw.
// The grid and its cells stay as they are.
void makeScreenBitmaps(ConsoleScreen& screen, ConsoleHost& host);

// The window's DPI changed: every screen that has bitmaps gets them again at the new
// size and DPI and is redrawn whole; grids and cells stay, so nothing is lost.
void followDpiChange(ConsoleInstance& instance, ConsoleHost& host);
// The window was resized. Only while cells are drawn above 96 DPI (before or after): the
// screens with bitmaps get them again when the DPI or the size no longer matches.
// At 96 DPI this does nothing, as the console has always done on a resize.
void followResize(ConsoleInstance& instance, ConsoleHost& host);

// The three pixel bytes of a palette entry under the screen's colour mode.
void entryColor(const ConsoleScreen& screen, unsigned index, uint8_t out[3]);

void paintCell(const ConsoleScreen& screen, int32_t column, int32_t row, ConsoleCell value, uint8_t* bits);
bool cellInSelection(const ConsoleScreen& screen, int32_t column, int32_t row);

// One timer tick of the active screen: repaint changed cells, advance the blink
// counters and repaint the window at once through the host.
void renderTick(ConsoleScreen& screen, ConsoleHost& host);

// The paint step: copy the bitmap of the blink phase, then the cursor.
void paintConsole(ConsoleScreen& screen, ConsolePainter& painter);
void drawCursor(const ConsoleScreen& screen, ConsolePainter& painter, int32_t column, int32_t row);

// A 24-bit bottom-up picture of the client size that stands in for the window
// surface where there is no window (tests, screenshots of the core alone).
class SurfacePainter : public ConsolePainter {
public:
    SurfacePainter(uint8_t* bits, int32_t width, int32_t height) : bits_(bits), width_(width), height_(height) {}
    void copyBitmap(BitmapHandle bitmap, const uint8_t* bits, int32_t width, int32_t height) override;
    void horizontalLine(int32_t x0, int32_t x1, int32_t y, uint8_t red, uint8_t green, uint8_t blue) override;

private:
    uint8_t* bits_;
    int32_t width_;
    int32_t height_;
};

}  // namespace console
