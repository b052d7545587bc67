// Rendering: bitmap layout, palette and grey rule, cell painting, blink, selection,
// the incremental tick, the paint step with its cursor, and the palette messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "console/core/fonts.h"
#include "console/core/render.h"
#include "recording_host.h"

namespace console {
namespace {

using Pixel = std::array<uint8_t, 3>;  // blue, green, red

Pixel pixel(const ConsoleScreen& s, const uint8_t* bits, int x, int y) {
    const uint8_t* p = bits + pixelOffset(s.bitmapWidth, s.bitmapHeight, x, y);
    return {p[0], p[1], p[2]};
}

// Top-left pixel of a glyph's first set bit, and of a clear one, for character c.
struct GlyphPoints {
    int foreX, foreY, backX, backY;
};
GlyphPoints glyphPoints(const ConsoleScreen& s, uint8_t c) {
    GlyphPoints g{-1, -1, -1, -1};
    const uint8_t* glyph = s.fontTable + s.glyphOffset + c * s.cellHeight;
    for (int i = 0; i < s.cellHeight; ++i)
        for (int j = 0; j < 8; ++j) {
            const bool set = glyph[i] & (0x80 >> j);
            if (set && g.foreX < 0) g.foreX = j, g.foreY = i;
            if (!set && g.backX < 0) g.backX = j, g.backY = i;
        }
    return g;
}

void tick(RecordingHost& host) { host.send(kWmTimer, host.instance.timerId); }

TEST(RenderLayout, BitmapWidthIsRaisedToAMultipleOfFour) {
    EXPECT_EQ(bitmapWidthFor(637), 640);
    EXPECT_EQ(bitmapWidthFor(640), 640);
    RecordingHost host(637, 100);
    host.send(CONM_CREATESCREEN, 0);
    EXPECT_EQ(host.instance.screens[0]->bitmapWidth, 640);
    EXPECT_EQ(host.instance.screens[0]->bitmapHeight, 100);
    EXPECT_EQ(pixelOffset(640, 100, 0, 0), 99u * 640 * 3) << "top-left is the first pixel of the last row";
    EXPECT_EQ(pixelOffset(640, 100, 1, 99), 3u);
}

TEST(RenderLayout, GridNeverExceedsItsBitmapsWhenTheWindowGrew) {
    RecordingHost host(160, 64);
    host.send(CONM_CREATESCREEN, 0);
    host.setClient(800, 600);
    host.send(CONM_SETFONT, 2 << 8);
    const ConsoleScreen& s = *host.instance.screens[0];
    EXPECT_EQ(s.columns, 20);
    EXPECT_EQ(s.rows, 4);
}

TEST(RenderPalette, DefaultPaletteAndItsGreyLevels) {
    const int grey[16] = {0, 64, 64, 85, 42, 85, 85, 128, 96, 85, 127, 170, 85, 127, 170, 255};
    ConsoleScreen s{};
    std::memcpy(s.palette, defaultPalette, kPaletteBytes);
    for (unsigned i = 0; i < 16; ++i) {
        uint8_t out[3];
        entryColor(s, i, out);
        EXPECT_EQ(out[0], grey[i]) << i;
        EXPECT_EQ(out[1], grey[i]);
    }
    EXPECT_EQ(defaultPalette[8 * 3], 0x60);
    EXPECT_EQ(defaultPalette[1 * 3], 0xC0);
    EXPECT_EQ(defaultPalette[10 * 3 + 1], 0xFF);
}

TEST(RenderCells, WhiteOnBlueInColourAndGrey) {
    for (const bool color : {true, false}) {
        RecordingHost host;
        ConsoleScreen& s = makeScreen(host, 0, 2, color);
        host.send(CONM_PUTCELL, 0, CONSOLE_PUTCELL_LPARAM(3, 1, 0x1F41));
        tick(host);
        const GlyphPoints g = glyphPoints(s, 'A');
        const Pixel fore = pixel(s, s.bitsA, 3 * 8 + g.foreX, 16 + g.foreY);
        const Pixel back = pixel(s, s.bitsA, 3 * 8 + g.backX, 16 + g.backY);
        EXPECT_EQ(fore, (Pixel{0xFF, 0xFF, 0xFF}));
        EXPECT_EQ(back, color ? (Pixel{0xC0, 0x00, 0x00}) : (Pixel{0x40, 0x40, 0x40}));
        EXPECT_EQ(pixel(s, s.bitsB, 3 * 8 + g.backX, 16 + g.backY), back);
    }
}

TEST(RenderCells, EveryPixelOfACellFollowsItsGlyph) {
    RecordingHost host;
    ConsoleScreen& s = makeScreen(host, 0, 1);
    host.send(CONM_PUTCELL, 0, CONSOLE_PUTCELL_LPARAM(117, 52, 0x4EC5));  // box cross, yellow on red
    tick(host);
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 8; ++j) {
            const bool set = font8x8[0xC5 * 8 + i] & (0x80 >> j);
            EXPECT_EQ(pixel(s, s.bitsA, 117 * 8 + j, 52 * 8 + i),
                      set ? (Pixel{0x00, 0xFF, 0xFF}) : (Pixel{0x00, 0x00, 0x80}));
        }
}

TEST(RenderCells, BlinkingCellIsPaintedIntoTheFirstBitmapOnly) {
    RecordingHost host;
    ConsoleScreen& s = makeScreen(host);
    host.send(CONM_PUTCELL, 0, CONSOLE_PUTCELL_LPARAM(0, 0, 0x0F41));
    tick(host);
    const std::vector<uint8_t> before(s.bitsB, s.bitsB + s.bitmapWidth * s.bitmapHeight * 3);
    host.send(CONM_PUTCELL, 0, CONSOLE_PUTCELL_LPARAM(0, 0, 0x8741));
    tick(host);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), s.bitsB)) << "B keeps the non-blinking A";
    const GlyphPoints g = glyphPoints(s, 'A');
    EXPECT_EQ(pixel(s, s.bitsA, g.foreX, g.foreY), (Pixel{0x80, 0x80, 0x80}));
}

TEST(RenderCells, SelectionRectangleIsInverted) {
    RecordingHost host;
    ConsoleScreen& s = makeScreen(host);
    s.selecting = 1;
    s.selectionAnchor = 5 * s.columns + 10;
    s.selectionEnd = 2 * s.columns + 3;
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 14; ++c) EXPECT_EQ(cellInSelection(s, c, r), c >= 3 && c <= 10 && r >= 2 && r <= 5);
    host.send(CONM_CLEAR, 0);  // spaces in attribute 0: black cells
    tick(host);
    EXPECT_EQ(pixel(s, s.bitsA, 3 * 8, 2 * 16), (Pixel{255, 255, 255}));
    EXPECT_EQ(pixel(s, s.bitsA, 2 * 8, 2 * 16), (Pixel{0, 0, 0}));
    s.selecting = 0;
    EXPECT_FALSE(cellInSelection(s, 4, 3));
}

TEST(RenderTick, UnchangedCellsAreNotRepainted) {
    RecordingHost host;
    ConsoleScreen& s = makeScreen(host);
    host.send(CONM_PUTCELL, 0, CONSOLE_PUTCELL_LPARAM(1, 1, 0x0741));
    tick(host);
    uint8_t* marker = s.bitsA + pixelOffset(s.bitmapWidth, s.bitmapHeight, 8, 16);
    marker[0] = 0x5A;
    host.send(CONM_PUTCELL, 0, CONSOLE_PUTCELL_LPARAM(1, 1, 0x0741));
    tick(host);
    EXPECT_EQ(marker[0], 0x5A) << "same value written again";
    host.send(CONM_PUTCELL, 0, CONSOLE_PUTCELL_LPARAM(1, 1, 0x0742));
    host.send(CONM_PUTCELL, 0, CONSOLE_PUTCELL_LPARAM(1, 1, 0x0741));
    tick(host);
    EXPECT_EQ(marker[0], 0x5A) << "changed and changed back";
    host.send(CONM_REFRESH, 0);
    tick(host);
    EXPECT_NE(marker[0], 0x5A) << "refresh repaints everything";
    EXPECT_EQ(host.redraws, 5) << "select, then one per tick";
}

TEST(RenderTick, BlinkCountersAlternateAcrossTheWrap) {
    RecordingHost host;
    ConsoleScreen& s = makeScreen(host);
    s.blinkTicks = 253;
    std::vector<bool> showsB;
    for (int i = 0; i < 8; ++i) {
        tick(host);
        showsB.push_back(s.blinkTicks & 2);
    }
    // 254 B, 255 B, 0 A, 1 A, 2 B, 3 B, 4 A, 5 A: every two ticks.
    EXPECT_EQ(showsB, (std::vector<bool>{true, true, false, false, true, true, false, false}));
    EXPECT_EQ(s.blinkPhase, 0);
}

TEST(RenderTick, OtherTimersAndScreensWithoutFontPaintNothing) {
    RecordingHost host;
    host.instance.timerId = 77;
    host.send(CONM_CREATESCREEN, 0);
    host.send(CONM_SELECTSCREEN, 0);
    host.redraws = 0;
    host.send(kWmTimer, 78);
    EXPECT_EQ(host.redraws, 0);
    host.send(kWmTimer, 77);
    EXPECT_EQ(host.redraws, 1) << "a screen without a font still ticks, paints no cell";
}

TEST(RenderTick, FrozenScreenShowsTheDisplayCellsUntilThawed) {
    RecordingHost host;
    ConsoleScreen& s = makeScreen(host);
    host.send(CONM_PUTCHAR, 0, 'a');
    tick(host);
    host.send(CONM_SETFREEZE, 0x100);
    host.send(CONM_PUTCHAR, 0, 'b');
    tick(host);
    EXPECT_EQ(s.displayCells[1], 0) << "the picture stands still";
    host.send(CONM_SETFREEZE, 0);
    tick(host);
    EXPECT_EQ(s.displayCells[1], 'b');
}

class SurfaceTest : public ::testing::Test {
protected:
    RecordingHost host{64, 32};
    ConsoleScreen* s = nullptr;
    std::vector<uint8_t> surface = std::vector<uint8_t>(64 * 32 * 3);
    SurfacePainter painter{surface.data(), 64, 32};

    void SetUp() override { s = &makeScreen(host); }
    Pixel at(int x, int y) {
        const uint8_t* p = surface.data() + pixelOffset(64, 32, x, y);
        return {p[0], p[1], p[2]};
    }
};

TEST_F(SurfaceTest, CursorIsDrawnInTheCellForegroundOnItsLines) {
    host.send(CONM_PUTCELL, 0, CONSOLE_PUTCELL_LPARAM(2, 1, 0x0C20));  // light red on black
    host.send(CONM_SETCURSORPOS, 0, CONSOLE_CURSORPOS_LPARAM(2, 1));
    s->blinkPhase = 0;
    paintConsole(*s, painter);
    for (int x = 16; x < 24; ++x) {
        EXPECT_EQ(at(x, 16 + 14), (Pixel{0x00, 0x00, 0xFF}));
        EXPECT_EQ(at(x, 16 + 15), (Pixel{0x00, 0x00, 0xFF}));
        EXPECT_EQ(at(x, 16 + 13), (Pixel{0, 0, 0}));
    }
    EXPECT_EQ(at(24, 16 + 14), (Pixel{0, 0, 0}));
}

TEST_F(SurfaceTest, CursorHiddenByPhaseReversedLinesOrAPositionOutsideTheGrid) {
    auto lit = [&] {
        std::fill(surface.begin(), surface.end(), 0);
        paintConsole(*s, painter);
        return std::any_of(surface.begin(), surface.end(), [](uint8_t b) { return b != 0; });
    };
    host.send(CONM_PUTCELL, 0, CONSOLE_PUTCELL_LPARAM(0, 0, 0x0F20));
    s->blinkPhase = 0;
    EXPECT_TRUE(lit());
    s->blinkPhase = 1;
    EXPECT_FALSE(lit());
    s->blinkPhase = 0;
    s->cursorStartLine = 3;
    s->cursorEndLine = 1;
    EXPECT_FALSE(lit());
    s->cursorStartLine = 14;
    s->cursorEndLine = 15;
    host.send(CONM_SETCURSORPOS, 0, CONSOLE_CURSORPOS_LPARAM(8, 0));
    EXPECT_FALSE(lit());
}

TEST_F(SurfaceTest, FrozenScreenKeepsTheCursorWhereThePictureStopped) {
    host.send(CONM_PUTCELL, 0, CONSOLE_PUTCELL_LPARAM(1, 0, 0x0F20));
    host.send(CONM_SETCURSORPOS, 0, CONSOLE_CURSORPOS_LPARAM(1, 0));
    s->blinkPhase = 0;
    paintConsole(*s, painter);
    host.send(CONM_SETFREEZE, 0x100);
    host.send(CONM_SETCURSORPOS, 0, CONSOLE_CURSORPOS_LPARAM(5, 1));
    paintConsole(*s, painter);
    EXPECT_EQ(s->savedCursorColumn, 1);
    EXPECT_EQ(s->savedCursorRow, 0);
}

TEST_F(SurfaceTest, PaintCopiesTheBitmapOfTheBlinkPhase) {
    s->bitsA[0] = 1;
    s->bitsB[0] = 2;
    s->blinkPhase = 1;
    s->blinkTicks = 0;
    paintConsole(*s, painter);
    EXPECT_EQ(surface[0], 1);
    s->blinkTicks = 2;
    paintConsole(*s, painter);
    EXPECT_EQ(surface[0], 2);
}

TEST(RenderPaletteMessages, RangesResultsAndRefusals) {
    RecordingHost host;
    ConsoleScreen& s = makeScreen(host);
    uint8_t buf[48] = {};
    EXPECT_EQ(host.send(CONM_GETPALETTE, CONSOLE_PALETTE_WPARAM(0, 8, 15), reinterpret_cast<intptr_t>(buf)), 24);
    EXPECT_EQ(0, std::memcmp(buf, defaultPalette + 24, 24));
    EXPECT_EQ(host.send(CONM_GETPALETTE, CONSOLE_PALETTE_WPARAM(0, 2, 5), reinterpret_cast<intptr_t>(buf)), 12);
    EXPECT_EQ(host.send(CONM_GETPALETTE, CONSOLE_PALETTE_WPARAM(0, 9, 4), reinterpret_cast<intptr_t>(buf)), -1);
    EXPECT_EQ(host.send(CONM_GETPALETTE, CONSOLE_PALETTE_WPARAM(0, 0, 1), 0), -1);

    const uint8_t pink[3] = {0xCC, 0x88, 0xFF};
    host.sent.clear();
    EXPECT_EQ(host.send(CONM_SETPALETTE, CONSOLE_PALETTE_WPARAM(0, 4, 4), reinterpret_cast<intptr_t>(pink)), 3);
    EXPECT_EQ(host.count(CONM_REFRESH), 1u);
    EXPECT_EQ(0, std::memcmp(s.palette + 12, pink, 3));

    host.send(kWmKeyDown, 145);  // Scroll Lock pauses
    EXPECT_EQ(host.send(CONM_SETPALETTE, CONSOLE_PALETTE_WPARAM(0, 0, 0), reinterpret_cast<intptr_t>(pink)), -1);
    EXPECT_EQ(host.send(CONM_RESETPALETTE, 0), -1);
    EXPECT_EQ(host.send(CONM_SETCOLORMODE, 0, 0), -1);
    EXPECT_EQ(host.send(CONM_GETPALETTE, CONSOLE_PALETTE_WPARAM(0, 4, 4), reinterpret_cast<intptr_t>(buf)), 3)
        << "reading still works while paused";
    EXPECT_EQ(host.send(CONM_GETCOLORMODE, 0), 1);
    host.send(kWmKeyDown, 145);
    EXPECT_EQ(host.send(CONM_RESETPALETTE, 0), 0);
    EXPECT_EQ(0, std::memcmp(s.palette, defaultPalette, kPaletteBytes));
}

TEST(RenderPaletteMessages, PaletteBeforeAFontWorksOnTheScreensOwnPalette) {
    RecordingHost host;
    host.send(CONM_CREATESCREEN, 0);
    const uint8_t teal[3] = {0x80, 0x80, 0x00};
    EXPECT_EQ(host.send(CONM_SETPALETTE, CONSOLE_PALETTE_WPARAM(0, 15, 15), reinterpret_cast<intptr_t>(teal)), 3);
    uint8_t back[3] = {};
    EXPECT_EQ(host.send(CONM_GETPALETTE, CONSOLE_PALETTE_WPARAM(0, 15, 15), reinterpret_cast<intptr_t>(back)), 3);
    EXPECT_EQ(0, std::memcmp(back, teal, 3));
    host.send(CONM_SETFONT, 2 << 8);
    EXPECT_EQ(host.instance.screens[0]->paletteRef, host.instance.screens[0]->palette);
    EXPECT_EQ(0, std::memcmp(host.instance.screens[0]->palette + 45, teal, 3));
}

TEST(RenderBitmaps, FailedOrEmptyBitmapsLeaveAScreenThatPaintsNothing) {
    RecordingHost host;
    host.failBitmaps = true;
    ConsoleScreen& s = makeScreen(host);
    EXPECT_EQ(s.bitmapWidth, 0);
    EXPECT_EQ(s.columns, 118) << "the text is kept even where it cannot be shown";
    host.send(CONM_PUTSTRING, 0, reinterpret_cast<intptr_t>("x"));
    tick(host);
    EXPECT_EQ(cellAt(s, 0, 0), 'x');
    RecordingHost empty(0, 0);
    ConsoleScreen& e = makeScreen(empty);
    EXPECT_EQ(e.bitsA, nullptr);
    tick(empty);
}

// Regression: bitmaps made again for a smaller window stopped all drawing until the
// next font change. The cells that fit are drawn; nothing is written outside.
TEST(RenderBitmaps, BitmapsSmallerThanTheGridShowTheCellsThatFit) {
    RecordingHost host(160, 64);
    ConsoleScreen& s = makeScreen(host, 0, 2);  // 20 x 4 cells of 8 x 16
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 20; ++c) host.send(CONM_PUTCELL, 0, CONSOLE_PUTCELL_LPARAM(c, r, 0x1F41));
    tick(host);

    host.setClient(83, 40);  // bitmaps 84 x 40: 10 whole columns, 2 whole rows
    host.send(CONM_CREATEBITMAPS, 0);
    ASSERT_EQ(s.bitmapWidth, 84);
    ASSERT_EQ(s.columns, 20) << "the grid stays as laid out";
    host.send(CONM_PUTCELL, 0, CONSOLE_PUTCELL_LPARAM(19, 3, 0x1F42));  // changed while not shown
    tick(host);
    const GlyphPoints g = glyphPoints(s, 'A');
    for (const uint8_t* bits : {s.bitsA, s.bitsB}) {
        EXPECT_EQ(pixel(s, bits, g.foreX, g.foreY), (Pixel{0xFF, 0xFF, 0xFF})) << "first cell";
        EXPECT_EQ(pixel(s, bits, 9 * 8 + g.foreX, 16 + g.foreY), (Pixel{0xFF, 0xFF, 0xFF})) << "last whole cell";
        EXPECT_EQ(pixel(s, bits, 9 * 8 + g.backX, 16 + g.backY), (Pixel{0xC0, 0x00, 0x00}));
        for (int y = 0; y < 40; ++y)
            for (int x = 80; x < 84; ++x) ASSERT_EQ(pixel(s, bits, x, y), (Pixel{0, 0, 0})) << "part of a cell";
        for (int y = 32; y < 40; ++y) ASSERT_EQ(pixel(s, bits, 0, y), (Pixel{0, 0, 0})) << "part of a row";
    }

    host.setClient(160, 64);  // and back: every cell again, the one changed meanwhile too
    host.send(CONM_CREATEBITMAPS, 0);
    tick(host);
    EXPECT_EQ(pixel(s, s.bitsA, 19 * 8 + g.backX, 3 * 16 + g.backY), (Pixel{0xC0, 0x00, 0x00}));
    const GlyphPoints b = glyphPoints(s, 'B');
    EXPECT_EQ(pixel(s, s.bitsA, 19 * 8 + b.foreX, 3 * 16 + b.foreY), (Pixel{0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(pixel(s, s.bitsB, 10 * 8 + g.foreX, g.foreY), (Pixel{0xFF, 0xFF, 0xFF}));
}

TEST(RenderBitmaps, CreatingBitmapsAgainReleasesTheOldOnes) {
    RecordingHost host;
    makeScreen(host);
    host.send(CONM_CREATEBITMAPS, 0);
    host.send(CONM_CREATEBITMAPS, 0);
    EXPECT_EQ(host.liveBitmaps(), 2u);
    EXPECT_EQ(host.send(CONM_CREATEBITMAPS, 5), -1);
}

}  // namespace
}  // namespace console
