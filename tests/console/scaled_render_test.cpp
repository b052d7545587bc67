// High-DPI drawing against the 96-DPI picture: same grid, every cell a nearest-neighbour
// copy of its glyph at the DPI's size (whole factors: k x k blocks of the 96-DPI picture),
// the pointer, cursor and selection on the same uniform cells. The fake host only; no window.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "console/core/render.h"
#include "recording_host.h"

namespace console {
namespace {

// The main dialog's console: 951 x 427 pixels at 96 DPI, sized to DPI/96 times that.
struct DpiHost : RecordingHost {
    explicit DpiHost(int32_t dpi) : RecordingHost((951 * dpi + 48) / 96, (427 * dpi + 48) / 96), dpi(dpi) {}
    int32_t displayDpi() override { return dpi; }
    int32_t dpi;
};

// Text in two colours, a blinking word, a selection and the cursor, ticked and painted.
std::vector<uint8_t> paint(DpiHost& host, ConsoleScreen& s, const uint8_t* bits) {
    std::vector<uint8_t> surface(static_cast<size_t>(s.bitmapWidth) * s.bitmapHeight * 3);
    SurfacePainter painter(surface.data(), s.bitmapWidth, s.bitmapHeight);
    host.send(kWmTimer, host.instance.timerId);
    painter.copyBitmap(nullptr, bits, s.bitmapWidth, s.bitmapHeight);
    drawCursor(s, painter, s.cursorColumn, s.cursorRow);
    return surface;
}

ConsoleScreen& fill(DpiHost& host, uint32_t font = 2) {
    ConsoleScreen& s = makeScreen(host, 0, font);
    host.send(CONM_SETATTR, 0, 0x1F);
    host.send(CONM_PUTSTRING, 0, reinterpret_cast<intptr_t>("Kelvane \xC9t\xE9 @#|\n"));
    host.send(CONM_SETATTR, 0, 0xCE);
    host.send(CONM_PUTSTRING, 0, reinterpret_cast<intptr_t>("blink"));
    host.send(CONM_SETCURSORPOS, 0, (1 << 8) | 4);
    s.selecting = 1;
    s.selectionAnchor = cellIndex(s, 2, 0);
    s.selectionEnd = cellIndex(s, 5, 1);
    return s;
}

void expectReplicated(const ConsoleScreen& a, const std::vector<uint8_t>& small, const ConsoleScreen& b,
                      const std::vector<uint8_t>& large, int32_t k) {
    for (int32_t y = 0; y < a.rows * 16 * k; ++y)
        for (int32_t x = 0; x < a.columns * 8 * k; ++x)
            ASSERT_EQ(std::memcmp(&small[pixelOffset(a.bitmapWidth, a.bitmapHeight, x / k, y / k)],
                                  &large[pixelOffset(b.bitmapWidth, b.bitmapHeight, x, y)], 3), 0)
                << "k " << k << " pixel " << x << "," << y;
}

// Nearest neighbour worked out apart from the renderer: the glyph pixel under the centre.
int32_t sourceOf(int32_t p, int32_t lines, int32_t pixels) { return static_cast<int32_t>((p + 0.5) * lines / pixels); }

// Every pixel of every drawn cell of the bitmap is its glyph's pixel in the cell's colours
// (inverted when selected), and the pointer maps each cell's corners back to that cell.
// The second bitmap leaves blinking cells out.
void expectCellsAsGlyphs(DpiHost& host, const ConsoleScreen& s, const uint8_t* bits, bool second = false) {
    const int32_t w = cellWidthInPixels(s), h = cellHeightInPixels(s);
    for (int32_t r = 0; r < s.rows; ++r)
        for (int32_t c = 0; c < s.columns; ++c) {
            const ConsoleCell v = cellAt(s, c, r);
            if (second && (v & 0x8000) != 0) continue;
            const uint8_t* glyph = s.fontTable + s.glyphOffset + (v & 0xFF) * s.cellHeight;
            uint8_t fore[3], back[3];
            entryColor(s, (v >> 8) & 15, fore);
            entryColor(s, (v >> 12) & 7, back);
            const uint8_t flip = cellInSelection(s, c, r) ? 0xFF : 0;
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x) {
                    const bool set = glyph[sourceOf(y, s.cellHeight, h)] & (0x80 >> sourceOf(x, 8, w));
                    const uint8_t* px = bits + pixelOffset(s.bitmapWidth, s.bitmapHeight, c * w + x, r * h + y);
                    for (int k = 0; k < 3; ++k)
                        ASSERT_EQ(px[k], (set ? fore[k] : back[k]) ^ flip)
                            << "cell " << c << "," << r << " pixel " << x << "," << y;
                }
            for (const int32_t x : {c * w, c * w + w - 1})
                for (const int32_t y : {r * h, r * h + h - 1})
                    ASSERT_EQ(host.send(CONM_POINTTOCELL, 0, (y << 16) | x), (r << 16) | c) << x << "," << y;
        }
}

TEST(ScaledRender, EveryPixelIsAKByKBlockOfTheNinetySixDpiPictureAcrossADpiChange) {
    DpiHost at96(96), host(192);
    ConsoleScreen& a = fill(at96);
    ConsoleScreen& s = fill(host);
    ASSERT_EQ(cellWidthInPixels(s), 16);
    ASSERT_EQ(s.columns, a.columns);
    ASSERT_EQ(s.rows, a.rows);
    EXPECT_EQ(host.send(CONM_POINTTOCELL, 0, (31 << 16) | 15), 0);
    EXPECT_EQ(host.send(CONM_POINTTOCELL, 0, (32 << 16) | 16), (1 << 16) | 1);
    const std::vector<uint8_t> a0 = paint(at96, a, a.bitsA), a1 = paint(at96, a, a.bitsB);
    expectReplicated(a, a0, s, paint(host, s, s.bitsA), 2);
    expectReplicated(a, a1, s, paint(host, s, s.bitsB), 2);

    host.dpi = 288;
    host.setClient(951 * 3, 427 * 3);
    followDpiChange(host.instance, host);
    EXPECT_EQ(s.bitmapWidth, 2856);
    ASSERT_EQ(s.columns, a.columns) << "no new layout: the cells stay";
    expectReplicated(a, a0, s, paint(host, s, s.bitsA), 3);
}

// At 125 to 200 % the main dialog's console keeps its 96-DPI grid and fills the control
// to within one cell; cells grow with the DPI. 114 DPI rounds its cells up (10 for 9.5):
// the grid keeps only cells that can be drawn. Each cell, drawn by the tick or by
// paintCell, is where the pointer finds it; the cursor lines lie in the cursor's cell.
TEST(ScaledRender, FractionalDpisFillTheControlWithNearestNeighbourCells) {
    const struct {
        int32_t dpi, width, height, columns;
    } cases[] = {{120, 10, 20, 118}, {144, 12, 24, 118}, {168, 14, 28, 118}, {192, 16, 32, 118}, {114, 10, 19, 112}};
    for (const auto& at : cases) {
        SCOPED_TRACE(at.dpi);
        DpiHost host(at.dpi);
        ConsoleScreen& s = fill(host);
        ASSERT_EQ(cellWidthInPixels(s), at.width);
        ASSERT_EQ(cellHeightInPixels(s), at.height);
        EXPECT_EQ(s.columns, at.columns);
        EXPECT_EQ(s.rows, 26);
        const ClientSize client = host.clientSize();
        EXPECT_TRUE(client.width - s.columns * at.width >= 0 && client.width - s.columns * at.width < at.width);
        EXPECT_TRUE(client.height - s.rows * at.height >= 0 && client.height - s.rows * at.height < at.height);
        host.send(kWmTimer, host.instance.timerId);
        expectCellsAsGlyphs(host, s, s.bitsB, true);
        host.send(CONM_PUTCELL, 0, CONSOLE_PUTCELL_LPARAM(7, 3, 0x4FDB));
        paintCell(s, 7, 3, 0x4FDB, s.bitsA);
        expectCellsAsGlyphs(host, s, s.bitsA);

        std::vector<uint8_t> surface(static_cast<size_t>(s.bitmapWidth) * s.bitmapHeight * 3);
        SurfacePainter painter(surface.data(), s.bitmapWidth, s.bitmapHeight);
        drawCursor(s, painter, 4, 1);  // lines 14 and 15 of 16: the cell's last eighth
        for (int32_t y = 0; y < s.bitmapHeight; ++y)
            for (int32_t x = 0; x < s.bitmapWidth; ++x) {
                const bool line = x >= 4 * at.width && x < 5 * at.width && y >= 2 * at.height - (at.height + 4) / 8 &&
                                  y < 2 * at.height;
                ASSERT_EQ(surface[pixelOffset(s.bitmapWidth, s.bitmapHeight, x, y) + 2] != 0, line) << x << "," << y;
            }
    }
    DpiHost small(144);  // the 8 x 8 font: square cells of round(8s)
    ConsoleScreen& s = fill(small, 1);
    EXPECT_EQ(cellHeightInPixels(s), 12);
    small.send(kWmTimer, small.instance.timerId);
    expectCellsAsGlyphs(small, s, s.bitsA);
}

// A resize at 96 DPI leaves the bitmaps as the console always has; above it they follow
// the window, and cells that no longer fit are not drawn (nothing written outside).
TEST(ScaledRender, ResizeMakesBitmapsAgainOnlyAboveNinetySixDpi) {
    DpiHost at96(96), host(144);
    fill(at96);
    ConsoleScreen& s = fill(host);
    const int made = at96.bitmapsCreated;
    at96.setClient(500, 300);
    followResize(at96.instance, at96);
    EXPECT_EQ(at96.bitmapsCreated, made);
    for (int32_t c : {19, 20}) host.send(CONM_PUTCELL, 0, CONSOLE_PUTCELL_LPARAM(c, 2, 0x1FDB));
    host.setClient(12 * 20 + 7, 24 * 3 + 5);
    followResize(host.instance, host);
    ASSERT_EQ(s.bitmapWidth, 248);
    host.send(kWmTimer, host.instance.timerId);
    for (int32_t x = 19 * 12; x < s.bitmapWidth; ++x)
        ASSERT_EQ(s.bitsA[pixelOffset(s.bitmapWidth, s.bitmapHeight, x, 2 * 24)], x < 20 * 12 ? 0xFF : 0) << x;
}

}  // namespace
}  // namespace console
