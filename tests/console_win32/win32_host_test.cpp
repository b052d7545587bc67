// Tests that what a console window shows on screen is what the cells, font and palette
// say: pixels read back from the window after timer ticks, cursor lines included.
// Must drive the window only through messages; ticks are sent, never waited for.
#include <gtest/gtest.h>

#include "console/core/fonts.h"
#include "console_test_support.h"

using namespace console_test;

namespace {

const COLORREF kBlue = RGB(0x00, 0x00, 0xC0);
const COLORREF kWhite = RGB(0xFF, 0xFF, 0xFF);
const COLORREF kBlack = RGB(0, 0, 0);

// One shown window for the whole suite (showing and hiding windows is slow under
// Wine); each test starts from a new screen 0.
class PaintTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { window_ = createConsole(256, 128, "", true); }
    static void TearDownTestSuite() { DestroyWindow(window_); }

    void SetUp() override {
        ASSERT_NE(window_, nullptr);
        timerId_ = shareInstance(window_)->timerId;
        send(window_, CONM_DELETESCREEN, 0);
        ASSERT_EQ(send(window_, CONM_CREATESCREEN, 0), 0);
        ASSERT_EQ(send(window_, CONM_SELECTSCREEN, 0), 0);
        ASSERT_EQ(send(window_, CONM_SETCOLORMODE, 0, 1), 0);
        ASSERT_EQ(send(window_, CONM_SETFONT, CONSOLE_SETFONT_WPARAM(0, CONSOLE_FONT_8X16)), 1);
        ASSERT_EQ(send(window_, CONM_GETSIZE, 0), (8 << 16) + 32);
        send(window_, CONM_SETATTR, 0, CONSOLE_ATTR(15, 1));
        send(window_, CONM_PUTSTRING, 0, reinterpret_cast<LPARAM>("AB"));
        send(window_, CONM_SETCURSORPOS, 0, CONSOLE_CURSORPOS_LPARAM(1, 0));
        dc_ = GetDC(window_);
    }
    void TearDown() override {
        if (dc_ != nullptr) ReleaseDC(window_, dc_);
    }

    void tick() { send(window_, WM_TIMER, timerId_); }

    // Every pixel of the 8x16 cell at (column, 0) against the glyph of ch.
    void expectGlyph(int column, unsigned char ch, COLORREF fore, COLORREF back, int rows = 16) {
        for (int i = 0; i < rows; ++i) {
            const uint8_t bits = console::font8x16[console::kGlyphOffset8x16 + ch * 16 + i];
            for (int j = 0; j < 8; ++j) {
                const COLORREF want = (bits & (0x80 >> j)) ? fore : back;
                ASSERT_EQ(GetPixel(dc_, column * 8 + j, i), want) << "glyph " << ch << " row " << i << " column " << j;
            }
        }
    }

    static HWND window_;
    HDC dc_ = nullptr;
    uint32_t timerId_ = 0;
};

HWND PaintTest::window_ = nullptr;

}  // namespace

TEST_F(PaintTest, TickShowsCellsInTheirPaletteColoursAndFont) {
    tick();  // first tick: bitmap A, cursor phase off
    expectGlyph(0, 'A', kWhite, kBlue);
    expectGlyph(1, 'B', kWhite, kBlue);
    EXPECT_EQ(GetPixel(dc_, 16, 0), kBlack);  // an unwritten cell is character 0 in attribute 0
}

TEST_F(PaintTest, CursorLinesCoverExactlyOneCellWidthInTheCellsForeground) {
    tick();
    tick();  // second tick: cursor phase on
    expectGlyph(1, 'B', kWhite, kBlue, 14);
    for (int y = 14; y < 16; ++y) {
        for (int x = 8; x < 16; ++x) EXPECT_EQ(GetPixel(dc_, x, y), kWhite) << x << "," << y;
        EXPECT_EQ(GetPixel(dc_, 16, y), kBlack) << "the line ran past the cell";
        EXPECT_NE(GetPixel(dc_, 7, y), kWhite) << "the line started before the cell";
    }
    tick();  // cursor phase off again: the copy of the bitmap removes it
    expectGlyph(1, 'B', kWhite, kBlue);
}

TEST_F(PaintTest, GreyModeShowsTheAverageOfEachEntry) {
    tick();
    ASSERT_EQ(send(window_, CONM_SETCOLORMODE, 0, 0), 0);
    tick();
    tick();
    tick();  // past the cursor phase, back on bitmap A
    expectGlyph(0, 'A', kWhite, RGB(64, 64, 64));
}

TEST_F(PaintTest, OutputShowsOnlyAfterTheNextTick) {
    tick();
    send(window_, CONM_SETCURSORPOS, 0, CONSOLE_CURSORPOS_LPARAM(0, 0));
    send(window_, CONM_SETATTR, 0, CONSOLE_ATTR(14, 0));
    send(window_, CONM_PUTSTRING, 0, reinterpret_cast<LPARAM>("\xDB"));  // ANSI byte; its OEM form is painted
    RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    expectGlyph(0, 'A', kWhite, kBlue);
    tick();
    tick();
    tick();
    const uint8_t* cells = reinterpret_cast<const uint8_t*>(send(window_, CONM_GETCELLS, 0));
    ASSERT_NE(cells, nullptr);
    expectGlyph(0, cells[0], RGB(0xFF, 0xFF, 0x00), kBlack);
}
