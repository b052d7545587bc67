// Text output on a screen: layout, characters, line ends, wrapping, scrolling,
// clearing, single cells, and the bounds that keep writes inside the buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "recording_host.h"

namespace console {
namespace {

std::string rowText(const ConsoleScreen& s, int row) {
    std::string text;
    for (int c = 0; c < s.columns; ++c) text += static_cast<char>(cellAt(s, c, row) & 0xFF);
    return text;
}

TEST(ScreenLayout, FontSelectorsGiveTheGridOfTheClientArea) {
    RecordingHost host(951, 427);
    ConsoleScreen& s = makeScreen(host, 0, 2);
    EXPECT_EQ(s.columns, 118);
    EXPECT_EQ(s.rows, 26);
    EXPECT_EQ(s.bufferBytes, 6136);
    EXPECT_EQ(host.send(CONM_GETSIZE, 0), (26 << 16) + 118);
    EXPECT_EQ(s.cursorStartLine, 14);
    EXPECT_EQ(s.cursorEndLine, 15);
    EXPECT_EQ(host.send(CONM_SETFONT, 256), 1);
    EXPECT_EQ(s.columns, 118);
    EXPECT_EQ(s.rows, 53);
    EXPECT_EQ(host.send(CONM_GETFONT, 0), 1);
    // Selector 3 keeps the 8x8 font and lays the grid out again, blank.
    host.send(CONM_PUTSTRING, 0, reinterpret_cast<intptr_t>("abc"));
    EXPECT_EQ(host.send(CONM_SETFONT, 3 << 8), 1);
    EXPECT_EQ(s.rows, 53);
    EXPECT_EQ(cellAt(s, 0, 0), 0);
}

TEST(ScreenLayout, SelectorZeroDiscardsTheCellsAndFails) {
    RecordingHost host;
    ConsoleScreen& s = makeScreen(host);
    EXPECT_EQ(host.send(CONM_SETFONT, 0), -1);
    EXPECT_EQ(s.liveCells, nullptr);
    EXPECT_EQ(s.columns, 0);
    EXPECT_EQ(s.bufferBytes, 0);
    EXPECT_EQ(host.send(CONM_GETFONT, 0), 0);
    EXPECT_EQ(host.send(CONM_GETCELLS, 0), 0);
    EXPECT_EQ(host.send(CONM_SETFONT, 7 << 8), -1) << "no font to keep";
    EXPECT_EQ(host.send(CONM_PUTCELL, 0, 0), -1);
}

// Makes the cell allocation of CONM_SETFONT fail while it lives.
class CellAllocationFailure {
public:
    CellAllocationFailure() : saved_(g_cellAllocator) { g_cellAllocator = [](size_t, size_t) -> void* { return nullptr; }; }
    ~CellAllocationFailure() { g_cellAllocator = saved_; }
    CellAllocationFailure(const CellAllocationFailure&) = delete;
    CellAllocationFailure& operator=(const CellAllocationFailure&) = delete;

private:
    CellAllocator saved_;
};

// Regression: a font change that ran out of memory kept the new font without cells, so
// CONM_GETFONT, CONM_SETCURSORSHAPE and CONM_POINTTOCELL answered as if laid out.
TEST(ScreenLayout, FontChangeWithoutMemoryLeavesTheScreenAsCreated) {
    RecordingHost host;
    host.send(CONM_CREATESCREEN, 0);
    host.send(CONM_SELECTSCREEN, 0);
    ConsoleScreen& s = *host.instance.screens[0];
    ConsoleScreen created;
    std::memcpy(&created, &s, sizeof created);
    {
        CellAllocationFailure failure;
        EXPECT_EQ(host.send(CONM_SETFONT, 2 << 8), -1);
    }
    created.layoutSerial = s.layoutSerial;  // counts layouts tried, not part of the state
    EXPECT_EQ(0, std::memcmp(&created, &s, sizeof created)) << "every field as created";
    EXPECT_EQ(host.send(CONM_GETFONT, 0), 0);
    EXPECT_EQ(host.send(CONM_SETCURSORSHAPE, 0, 0x0E0F), -2);
    EXPECT_EQ(host.send(CONM_POINTTOCELL, 0, 0), -1);
    EXPECT_EQ(host.send(CONM_GETSIZE, 0), 0);

    // A laid-out screen whose new layout fails goes back to the created state too.
    EXPECT_EQ(host.send(CONM_SETFONT, 2 << 8), 1);
    host.send(CONM_PUTSTRING, 0, reinterpret_cast<intptr_t>("text"));
    {
        CellAllocationFailure failure;
        EXPECT_EQ(host.send(CONM_SETFONT, 1 << 8), -1);
        EXPECT_EQ(host.send(CONM_SETFONT, 3 << 8), -1) << "no font is left to keep";
    }
    EXPECT_EQ(s.liveCells, nullptr);
    EXPECT_EQ(s.fontTable, nullptr);
    EXPECT_EQ(s.cellWidth, 0);
    EXPECT_EQ(host.send(CONM_GETFONT, 0), 0);
    EXPECT_EQ(host.send(CONM_SETCURSORSHAPE, 0, 0x0E0F), -2);
    EXPECT_EQ(host.send(CONM_POINTTOCELL, 0, 0), -1);
    EXPECT_EQ(host.send(CONM_PUTSTRING, 0, reinterpret_cast<intptr_t>("ignored")), 0);
    host.send(kWmTimer, host.instance.timerId);
    EXPECT_EQ(host.send(CONM_SETFONT, 1 << 8), 1) << "memory back: the next layout succeeds";
    EXPECT_EQ(host.send(CONM_GETSIZE, 0), (53 << 16) + 118);
}

TEST(ScreenLayout, FrozenScreenRefusesANewFontAndKeepsItsText) {
    RecordingHost host;
    ConsoleScreen& s = makeScreen(host);
    host.send(CONM_PUTSTRING, 0, reinterpret_cast<intptr_t>("keep"));
    host.send(CONM_SETFREEZE, 0x100);
    EXPECT_EQ(host.send(CONM_SETFONT, 1 << 8), 2);
    EXPECT_EQ(rowText(s, 0).substr(0, 4), "keep");
}

TEST(ScreenLayout, FontChangeSendsOneRefreshAndKeepsCursorAndAttribute) {
    RecordingHost host;
    ConsoleScreen& s = makeScreen(host);
    host.send(CONM_SETATTR, 0, 0x1E);
    host.send(CONM_SETCURSORPOS, 0, CONSOLE_CURSORPOS_LPARAM(5, 3));
    host.sent.clear();
    host.send(CONM_SETFONT, 2 << 8);
    EXPECT_EQ(host.count(CONM_REFRESH), 1u);
    EXPECT_EQ(s.attribute, 0x1E);
    EXPECT_EQ(s.cursorColumn, 5);
    EXPECT_EQ(s.cursorRow, 3);
}

TEST(ScreenLayout, ClientSmallerThanACellGivesAnEmptyGridThatIgnoresOutput) {
    RecordingHost host(7, 15);
    ConsoleScreen& s = makeScreen(host);
    EXPECT_EQ(s.columns, 0);
    EXPECT_EQ(s.rows, 0);
    EXPECT_EQ(host.send(CONM_PUTSTRING, 0, reinterpret_cast<intptr_t>("text\nmore")), 0);
    EXPECT_EQ(host.send(CONM_PUTCHAR, 0, 'x'), 0);
    EXPECT_EQ(host.send(CONM_POINTTOCELL, 0, 0), 0);
    EXPECT_EQ(host.send(CONM_PUTCELL, 0, 0), -1);
    host.send(CONM_CLEAR, 0);
    host.send(CONM_SCROLL, 0, CONSOLE_SCROLL_LPARAM(0, 10, 0, 10));
    host.send(kWmTimer, host.instance.timerId);
    EXPECT_EQ(host.count(CONM_SCROLL), 0u) << "nothing to scroll on an empty grid";
}

TEST(ScreenLayout, GridIsLimitedTo256By256) {
    RecordingHost host(4000, 5000);
    ConsoleScreen& s = makeScreen(host, 0, 1);
    EXPECT_EQ(s.columns, 256);
    EXPECT_EQ(s.rows, 256);
    EXPECT_EQ(s.bufferBytes, 2 * 65536);
    // The last cell is index 65535; writing it scrolls instead of wrapping to cell 0.
    host.send(CONM_SETCURSORPOS, 0, CONSOLE_CURSORPOS_LPARAM(255, 255));
    host.send(CONM_PUTCHAR, 0, 'z');
    EXPECT_EQ(host.count(CONM_SCROLL), 1u);
    EXPECT_EQ(host.sent.back().lparam, static_cast<intptr_t>(CONSOLE_SCROLL_LPARAM(0, 255, 0, 255)));
    EXPECT_EQ(cellAt(s, 255, 254) & 0xFF, 'z');
}

TEST(ScreenOutput, CarriageReturnDoesNothingAndLineFeedStartsTheNextRow) {
    RecordingHost host;
    ConsoleScreen& s = makeScreen(host);
    host.send(CONM_PUTSTRING, 0, reinterpret_cast<intptr_t>("A\r\nB"));
    EXPECT_EQ(cellAt(s, 0, 0) & 0xFF, 'A');
    EXPECT_EQ(cellAt(s, 1, 0), 0) << "the CR wrote nothing";
    EXPECT_EQ(cellAt(s, 0, 1) & 0xFF, 'B');
    EXPECT_EQ(s.cursorColumn, 1);
    EXPECT_EQ(s.cursorRow, 1);
}

TEST(ScreenOutput, CharactersCarryTheAttributeAndAreConvertedToOem) {
    RecordingHost host;
    ConsoleScreen& s = makeScreen(host);
    host.send(CONM_SETTEXTCOLOR, 0, 0x1C);
    host.send(CONM_SETBACKCOLOR, 0, 9);
    EXPECT_EQ(host.send(CONM_GETATTR, 0), 0x9C) << "background 9 sets background 1 and blink";
    host.send(CONM_PUTSTRING, 0, reinterpret_cast<intptr_t>("\xE9\x01"));  // e-acute, control 1
    EXPECT_EQ(cellAt(s, 0, 0), 0x9C82);
    EXPECT_EQ(cellAt(s, 1, 0), 0x9C01);
    EXPECT_EQ(host.send(CONM_PUTCHAR, 0, 0), 0);
    EXPECT_EQ(cellAt(s, 2, 0), 0x9C00) << "NUL as a character is a glyph";
}

TEST(ScreenOutput, NewScreenWritesInAttributeZero) {
    RecordingHost host;
    ConsoleScreen& s = makeScreen(host, 3);
    host.send(CONM_PUTCHAR, 3, 'q');
    EXPECT_EQ(cellAt(s, 0, 0), 'q');
}

TEST(ScreenOutput, FullBottomRowScrollsOnceAndALineFeedScrollsAgain) {
    RecordingHost host;
    ConsoleScreen& s = makeScreen(host);
    host.send(CONM_SETCURSORPOS, 0, CONSOLE_CURSORPOS_LPARAM(0, 25));
    host.send(CONM_PUTSTRING, 0, reinterpret_cast<intptr_t>(std::string(118, 'x').c_str()));
    EXPECT_EQ(host.count(CONM_SCROLL), 1u);
    EXPECT_EQ(s.cursorRow, 25);
    EXPECT_EQ(s.cursorColumn, 0);
    EXPECT_EQ(rowText(s, 24), std::string(118, 'x'));
    host.send(CONM_PUTCHAR, 0, '\n');
    EXPECT_EQ(host.count(CONM_SCROLL), 2u);
    EXPECT_EQ(rowText(s, 23), std::string(118, 'x'));
    EXPECT_EQ(rowText(s, 24), std::string(118, ' '));
    EXPECT_EQ(s.cursorRow, 25);
    EXPECT_EQ(s.cursorColumn, 0);
}

TEST(ScreenOutput, ScrolledInRowTakesTheBottomRightAttribute) {
    RecordingHost host;
    ConsoleScreen& s = makeScreen(host);
    host.send(CONM_PUTCELL, 0, CONSOLE_PUTCELL_LPARAM(117, 25, 0x4E41));
    host.send(CONM_SETATTR, 0, 0x07);
    host.send(CONM_SETCURSORPOS, 0, CONSOLE_CURSORPOS_LPARAM(3, 25));
    host.send(CONM_PUTCHAR, 0, '\n');
    EXPECT_EQ(cellAt(s, 0, 25), 0x4E20);
    EXPECT_EQ(cellAt(s, 117, 24), 0x4E41);
}

TEST(ScreenOutput, CursorOutsideTheGridNeverWritesOutsideTheCells) {
    RecordingHost host;
    ConsoleScreen& s = makeScreen(host);
    // Row 556 at 118 columns would wrap the 16-bit index back into the grid; row -3
    // and column 200 are outside too. Output lands on the nearest cell instead.
    host.send(CONM_SETCURSORPOS, 0, CONSOLE_CURSORPOS_LPARAM(0, 556));
    host.send(CONM_PUTCHAR, 0, 'a');
    EXPECT_EQ(cellAt(s, 0, 25) & 0xFF, 'a');
    host.send(CONM_SETCURSORPOS, 0, static_cast<intptr_t>((static_cast<uint32_t>(-3) << 8) | 200));
    host.send(CONM_PUTSTRING, 0, reinterpret_cast<intptr_t>("bc\n"));
    EXPECT_EQ(cellAt(s, 117, 0) & 0xFF, 'b');
    EXPECT_EQ(cellAt(s, 0, 1) & 0xFF, 'c');
    EXPECT_EQ(s.cursorRow, 2);
    // A shrinking font change keeps a cursor below the new grid.
    host.send(CONM_SETFONT, 1 << 8);
    host.send(CONM_SETCURSORPOS, 0, CONSOLE_CURSORPOS_LPARAM(10, 50));
    host.send(CONM_SETFONT, 2 << 8);
    host.send(CONM_PUTCHAR, 0, 'd');
    EXPECT_EQ(cellAt(s, 10, 25) & 0xFF, 'd');
}

TEST(ScreenScroll, RectangleMovesUpAndBlanksItsBottomRow) {
    RecordingHost host;
    ConsoleScreen& s = makeScreen(host);
    for (int r = 0; r < s.rows; ++r)
        for (int c = 0; c < s.columns; ++c)
            s.liveCells[r * s.columns + c] = static_cast<ConsoleCell>(0x0700 | ((r * 7 + c) % 200 + 1));
    std::vector<ConsoleCell> before(s.liveCells, s.liveCells + cellCount(s));
    host.send(CONM_SCROLL, 0, CONSOLE_SCROLL_LPARAM(5, 9, 2, 4));
    for (int r = 0; r < s.rows; ++r) {
        for (int c = 0; c < s.columns; ++c) {
            const ConsoleCell now = cellAt(s, c, r);
            const bool inside = c >= 5 && c <= 9 && r >= 2 && r <= 4;
            if (!inside) EXPECT_EQ(now, before[r * s.columns + c]) << r << "," << c;
            else if (r < 4) EXPECT_EQ(now, before[(r + 1) * s.columns + c]);
            else EXPECT_EQ(now, 0x0720);
        }
    }
}

TEST(ScreenScroll, EmptyRowRangeStillBlanksTheBottomRowWithAttributeZero) {
    RecordingHost host;
    ConsoleScreen& s = makeScreen(host);
    host.send(CONM_SETATTR, 0, 0x1F);
    host.send(CONM_CLEAR, 0);
    host.send(CONM_SCROLL, 0, CONSOLE_SCROLL_LPARAM(2, 4, 6, 3));
    EXPECT_EQ(cellAt(s, 2, 3), 0x0020);
    EXPECT_EQ(cellAt(s, 4, 3), 0x0020);
    EXPECT_EQ(cellAt(s, 5, 3), 0x1F20);
    EXPECT_EQ(cellAt(s, 2, 4), 0x1F20);
}

TEST(ScreenScroll, RectanglesReachingOutsideTheGridAreClipped) {
    RecordingHost host(80, 48);  // 10 x 3 cells
    ConsoleScreen& s = makeScreen(host);
    host.send(CONM_PUTSTRING, 0, reinterpret_cast<intptr_t>("0123456789abcdefghijABCDEFGHI"));
    host.send(CONM_PUTCELL, 0, CONSOLE_PUTCELL_LPARAM(9, 2, 'J'));
    host.send(CONM_SCROLL, 0, CONSOLE_SCROLL_LPARAM(8, 255, 1, 255));
    EXPECT_EQ(rowText(s, 1).substr(8), "IJ");
    EXPECT_EQ(rowText(s, 2).substr(8), "  ");
    EXPECT_EQ(rowText(s, 2).substr(0, 8), std::string("ABCDEFGH"));
    const std::string before = rowText(s, 0) + rowText(s, 1) + rowText(s, 2);
    host.send(CONM_SCROLL, 0, CONSOLE_SCROLL_LPARAM(10, 255, 0, 2));   // starts right of the grid
    host.send(CONM_SCROLL, 0, CONSOLE_SCROLL_LPARAM(0, 9, 3, 255));    // starts below it
    EXPECT_EQ(rowText(s, 0) + rowText(s, 1) + rowText(s, 2), before);
}

TEST(ScreenCells, PutCellStoresUnchangedInsideTheGridOnly) {
    RecordingHost host;
    ConsoleScreen& s = makeScreen(host, 4);
    EXPECT_EQ(host.send(CONM_PUTCELL, 4, CONSOLE_PUTCELL_LPARAM(117, 25, 0xABE9)), 4);
    EXPECT_EQ(cellAt(s, 117, 25), 0xABE9);
    EXPECT_EQ(host.send(CONM_PUTCELL, 4, CONSOLE_PUTCELL_LPARAM(118, 0, 0x0741)), -1);
    EXPECT_EQ(host.send(CONM_PUTCELL, 4, CONSOLE_PUTCELL_LPARAM(0, 26, 0x0741)), -1);
    EXPECT_EQ(s.cursorColumn, 0);
}

TEST(ScreenCells, ClearFillsWithSpacesAndHomesTheCursor) {
    RecordingHost host;
    ConsoleScreen& s = makeScreen(host);
    host.send(CONM_PUTSTRING, 0, reinterpret_cast<intptr_t>("junk\njunk"));
    host.send(CONM_SETATTR, 0, 0x2A);
    host.send(CONM_CLEAR, 0);
    for (int i = 0; i < cellCount(s); ++i) ASSERT_EQ(s.liveCells[i], 0x2A20);
    EXPECT_EQ(s.cursorColumn, 0);
    EXPECT_EQ(s.cursorRow, 0);
}

TEST(ScreenCells, PointToCellClampsToTheLastColumnAndRow) {
    RecordingHost host;
    makeScreen(host);
    EXPECT_EQ(host.send(CONM_POINTTOCELL, 0, (40 << 16) | 17), (2 << 16) | 2);
    EXPECT_EQ(host.send(CONM_POINTTOCELL, 0, (5 << 16) | 950), 117);
    EXPECT_EQ(host.send(CONM_POINTTOCELL, 0, (0xFFFF << 16) | 0xFFFF), (25 << 16) | 117);
    EXPECT_EQ(host.send(CONM_CELLINDEX, 0, (2 << 16) | 3), 2 * 118 + 3);
    host.send(CONM_CREATESCREEN, 1);
    EXPECT_EQ(host.send(CONM_POINTTOCELL, 1, 0), -1) << "no font";
}

TEST(ScreenLifetime, DeleteReleasesBitmapsAndClearsTheActiveScreen) {
    RecordingHost host;
    makeScreen(host, 9);
    EXPECT_EQ(host.liveBitmaps(), 2u);
    EXPECT_EQ(host.send(CONM_GETACTIVESCREEN), 9);
    EXPECT_EQ(host.send(CONM_DELETESCREEN, 9), 9);
    EXPECT_EQ(host.liveBitmaps(), 0u);
    EXPECT_EQ(host.send(CONM_GETACTIVESCREEN), -1);
    EXPECT_EQ(host.send(CONM_DELETESCREEN, 9), -1);
}

}  // namespace
}  // namespace console
