// The selection rectangle and its clipboard text, made the way a user makes them:
// Select from the menu, drag with the left button, Copy from the menu.
#include <gtest/gtest.h>

#include <string>

#include "console/core/mouse.h"
#include "console/core/render.h"
#include "console/core/selection.h"
#include "recording_host.h"

namespace console {
namespace {

// Client pixel inside a cell, as a mouse message's lparam.
uint32_t at(int column, int row, int cellHeight = 16) {
    return (static_cast<uint32_t>(row * cellHeight + 5) << 16) | static_cast<uint32_t>(column * 8 + 3);
}

char pattern(int column, int row) { return static_cast<char>('A' + (row * 7 + column) % 26); }

// A 118 x 26 screen whose rows 0-9 hold letters, on show after one tick.
class Selecting {
public:
    Selecting() : s(makeScreen(host)) {
        for (int row = 0; row < 10; ++row) {
            for (int column = 0; column < s.columns; ++column) {
                host.send(CONM_PUTCELL, 0, CONSOLE_PUTCELL_LPARAM(column, row, CONSOLE_CELL(pattern(column, row), 7)));
            }
        }
        tick();
    }

    void tick() { host.send(kWmTimer, host.instance.timerId); }
    void choose(uint32_t command) {
        host.menu = [command] { return command; };
        host.send(kWmRButtonDown);
    }
    void drag(int c0, int r0, int c1, int r1) {
        choose(kMenuSelect);
        host.send(kWmLButtonDown, 0, at(c0, r0));
        host.send(kWmMouseMove, 0, at(c1, r1));
        host.send(kWmLButtonUp, 0, at(c1, r1));
    }
    // The CF_TEXT placed by Copy, or "<nothing>".
    std::string copy() {
        host.clipboard.clear();
        choose(kMenuCopy);
        return host.clipboard.empty() ? "<nothing>" : host.clipboard[0].bytes;
    }
    static std::string lines(int left, int top, int right, int bottom) {
        std::string t;
        for (int row = top; row <= bottom; ++row) {
            for (int column = left; column <= right; ++column) t += pattern(column, row);
            t += "\r\n";
        }
        return t;
    }

    RecordingHost host;
    ConsoleScreen& s;
};

TEST(Selection, DragsInAllFourDirectionsMarkAndCopyTheSameRectangle) {
    const int drags[4][4] = {{3, 2, 10, 5}, {10, 5, 3, 2}, {10, 2, 3, 5}, {3, 5, 10, 2}};
    for (const auto& d : drags) {
        Selecting f;
        f.choose(kMenuSelect);
        f.host.send(kWmLButtonDown, 0, at(d[0], d[1]));
        f.host.send(kWmMouseMove, 0, at(d[2], d[3]));
        EXPECT_TRUE(cellInSelection(f.s, 3, 2) && cellInSelection(f.s, 10, 5) && cellInSelection(f.s, 3, 5));
        EXPECT_FALSE(cellInSelection(f.s, 2, 3) || cellInSelection(f.s, 11, 3) || cellInSelection(f.s, 5, 1) ||
                     cellInSelection(f.s, 5, 6));
        f.host.send(kWmLButtonUp, 0, at(d[2], d[3]));
        SelectionRect r;
        ASSERT_TRUE(selectionRect(f.s, r));
        EXPECT_EQ(r.left, 3);
        EXPECT_EQ(r.top, 2);
        EXPECT_EQ(r.right, 10);
        EXPECT_EQ(r.bottom, 5);
        EXPECT_EQ(f.copy(), Selecting::lines(3, 2, 10, 5)) << d[0] << "," << d[1] << " to " << d[2] << "," << d[3];
        EXPECT_EQ(f.host.clipboard[0].byteCapacity, 4u * (8 + 2) + 1) << "room for every row's line end and the NUL";
    }
}

TEST(Selection, CopyTakesThePictureOnShowAcrossAScroll) {
    Selecting f;
    f.host.send(CONM_SCROLL, 0, CONSOLE_SCROLL_LPARAM(0, 117, 0, 25));  // the text moves up a row
    f.drag(0, 2, 4, 3);
    EXPECT_EQ(f.copy(), Selecting::lines(0, 2, 4, 3)) << "not painted yet: the old picture is what shows";
    f.tick();
    f.drag(0, 2, 4, 3);
    EXPECT_EQ(f.copy(), Selecting::lines(0, 3, 4, 4)) << "the cells keep their place, the text moved through them";
}

TEST(Selection, CopyRightAfterARedrawRequestGivesThePictureNotTheRedrawMarkers) {
    Selecting f;
    f.drag(0, 0, 2, 0);
    f.host.send(CONM_REFRESH, 0);  // shadow cells now hold complements until the next tick
    EXPECT_EQ(f.copy(), Selecting::lines(0, 0, 2, 0));
}

TEST(Selection, BlankZeroAndUntouchedCells) {
    Selecting f;
    f.host.send(CONM_PUTCELL, 0, CONSOLE_PUTCELL_LPARAM(50, 12, CONSOLE_CELL(' ', 7)));
    f.tick();
    f.drag(50, 12, 50, 12);
    EXPECT_EQ(f.copy(), " \r\n") << "one blank cell";
    f.drag(60, 20, 62, 21);
    EXPECT_EQ(f.copy(), "\r\n\r\n") << "cells of code 0 add nothing";

    RecordingHost host;
    makeScreen(host);
    host.send(CONM_PUTCELL, 0, CONSOLE_PUTCELL_LPARAM(0, 0, CONSOLE_CELL('Q', 7)));
    host.send(kWmTimer, host.instance.timerId);
    host.menu = [] { return kMenuCopy; };
    host.send(kWmRButtonDown);
    ASSERT_EQ(host.clipboard.size(), 1u);
    EXPECT_EQ(host.clipboard[0].bytes, "Q\r\n") << "a new screen's indices are 0: the top-left cell";
}

TEST(Selection, UnicodeFormCarriesBoxDrawingAccentsAndSymbolsAndTheBytesStayUnchanged) {
    Selecting f;
    const uint8_t codes[] = {0xC9, 0xCD, 0xBB, 0x82, 0x8A, 0x01, 0xB0, 0xFF};
    for (int i = 0; i < 8; ++i) f.host.send(CONM_PUTCELL, 0, CONSOLE_PUTCELL_LPARAM(i, 15, CONSOLE_CELL(codes[i], 7)));
    f.tick();
    f.drag(0, 15, 7, 15);
    f.copy();
    ASSERT_EQ(f.host.clipboard.size(), 1u);
    EXPECT_EQ(f.host.clipboard[0].bytes, std::string(reinterpret_cast<const char*>(codes), 8) + "\r\n");
    EXPECT_EQ(f.host.clipboard[0].wide, u"\u2554\u2550\u2557\u00E9\u00E8\u263A\u2591\u00A0\r\n");
    EXPECT_EQ(f.host.clipboard[0].wideCapacity, f.host.clipboard[0].byteCapacity);
}

TEST(Selection, CopyWithoutASelectionOrAFontPlacesNothingAndCancels) {
    Selecting f;
    f.drag(1, 1, 2, 2);
    f.choose(kMenuCancel);
    EXPECT_EQ(f.s.selectionAnchor, -1);
    EXPECT_EQ(f.copy(), "<nothing>");
    EXPECT_EQ(f.s.selectionEnd, -1);
    EXPECT_EQ(f.s.selectEnabled, 0);

    f.drag(1, 1, 2, 2);
    f.host.clipboardFails = true;
    EXPECT_EQ(f.copy(), "<nothing>");
    EXPECT_EQ(f.s.selectionAnchor, -1) << "a clipboard that cannot be opened still ends the selection";

    RecordingHost host;
    makeScreen(host, 0, 0);  // selector 0: no font, no cells
    host.menu = [] { return kMenuCopy; };
    host.send(kWmRButtonDown);
    EXPECT_TRUE(host.clipboard.empty());
}

TEST(Selection, RectangleLeftBehindByASmallerLayoutIsCutToTheGrid) {
    Selecting f;
    f.drag(5, 20, 8, 25);
    f.host.setClient(951, 200);  // 118 x 12 cells
    f.host.send(CONM_SETFONT, 2 << 8);
    SelectionRect r;
    EXPECT_FALSE(selectionRect(f.s, r)) << "rows 20-25 no longer exist";
    EXPECT_EQ(f.copy(), "<nothing>");

    f.host.setClient(951, 427);
    f.host.send(CONM_SETFONT, 2 << 8);
    f.drag(5, 10, 8, 15);
    f.host.setClient(951, 200);
    f.host.send(CONM_SETFONT, 2 << 8);
    EXPECT_EQ(f.copy(), "\r\n\r\n") << "rows 10 and 11 remain, blank after the new layout";

    f.host.setClient(951, 427);
    f.host.send(CONM_SETFONT, 2 << 8);
    f.drag(117, 25, 117, 25);  // index 3067
    f.host.setClient(64, 427);  // 8 x 26 cells: index 3067 is row 383
    f.host.send(CONM_SETFONT, 2 << 8);
    EXPECT_EQ(f.copy(), "<nothing>");
}

}  // namespace
}  // namespace console
