// The screen's text as a reader gets it (characters, offsets, units, caret, selection,
// colours) from screens laid out through the dispatch; no window, no platform.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <tuple>
#include <utility>

#include "console/core/screen_text.h"
#include "recording_host.h"

namespace console {
namespace {

using V = std::vector<int64_t>;

struct Text {  // 6 x 3 cells unless a side is given
    explicit Text(int side = 0) : host(side ? side * 8 : 48, side ? side * 16 : 48), s(makeScreen(host)) {}
    void put(int column, int row, const std::string& codes, uint8_t attribute = 7) {
        for (const char c : codes) s.liveCells[row * s.columns + column++] = CONSOLE_CELL(static_cast<uint8_t>(c), attribute);
    }
    // Units moved and the range after a move, or an endpoint move (-1 start, 1 end), from [a, b).
    V go(int32_t a, int32_t b, TextUnit unit, int32_t count, int endpoint = 0) {
        TextRange r{a, b};
        const int32_t n = endpoint == 0 ? t.move(r, unit, count) : t.moveEndpoint(r, endpoint < 0, unit, count);
        return {n, r.start, r.end};
    }
    RecordingHost host;
    ConsoleScreen& s;
    ScreenText t;
};

TEST(ScreenText, CellsUnitsColoursSelectionAndCaret) {
    Text x;  // code 0 shows blank; box drawing and the second row's text in light red on blue
    x.put(0, 0, std::string("ab\0 \xC4\xB3", 6)), x.put(4, 0, "\xC4\xB3", 0x1C), x.put(0, 2, "ef   ", 0x1C);
    x.s.selectEnabled = 1, x.s.selectionAnchor = 5 + 2 * 6, x.s.selectionEnd = 4;  // columns 4-5, rows 0-2
    x.s.cursorColumn = 0, x.s.cursorRow = 1;
    const ScreenText& t = (x.t.build(x.s), x.t);
    EXPECT_EQ(std::u16string(t.text().begin(), t.text().end()), u"ab  \u2500\u2502\r\n\r\nef");
    V got{t.rowStart(1), t.rowEnd(1), t.rowOf(7), t.rowOf(99), t.offsetOf(-3, 9), t.caret().start};
    for (const TextRange r : t.selection()) got.insert(got.end(), {r.start, r.end});
    for (const CellSpan c : t.spans({12, 5})) got.insert(got.end(), {c.row, c.first, c.count});
    // CR LF is one character, a word and a line end; formats end where the colours change.
    for (const auto& [unit, at] : {std::pair{TextUnit::Character, 7}, {TextUnit::Word, 1}, {TextUnit::Format, 3}})
        got.insert(got.end(), {t.enclosing(unit, at).start, t.enclosing(unit, at).end});
    EXPECT_EQ(got, (V{8, 8, 0, 2, 10, 8, /**/ 4, 6, 8, 8, 12, 12, /**/ 0, 5, 1, 1, 0, 0, 2, 0, 2, /**/ 6, 8, 0, 4, 0, 4}));
    EXPECT_EQ(x.go(6, 6, TextUnit::Character, 1), (V{1, 8, 8}));
    EXPECT_EQ(x.go(1, 2, TextUnit::Word, 9), (V{4, 10, 12}));  // 4, CR, row 1, row 2: never the end
    EXPECT_EQ(x.go(3, 3, TextUnit::Line, INT_MAX), (V{3, 12, 12}));
    EXPECT_EQ(x.go(0, 2, TextUnit::Word, 2, -1), (V{2, 6, 6}));  // the end dragged along
    EXPECT_EQ(x.go(6, 6, TextUnit::Paragraph, INT_MIN, 1), (V{-1, 0, 0}));
    for (const uint32_t mode : {1u, 0u}) {  // colour, then the grey rule
        x.s.colorMode = mode, x.t.build(x.s);
        for (const int32_t at : {5, 6, 12})  // a cell, its line end, the document's end
            EXPECT_EQ((V{t.colorsAt(at).foreground, t.colorsAt(at).background}), mode ? (V{0xFF, 0xC00000}) : (V{0x555555, 0x404040}));
    }
    x.s.flags = kFlagFrozen, x.s.savedCursorColumn = 1, x.s.savedCursorRow = 2;  // the picture and cursor on show
    std::copy(x.s.liveCells, x.s.liveCells + 18, x.s.displayCells);
    x.put(0, 2, "zzzzzz"), x.t.build(x.s);
    EXPECT_EQ((V{t.length(), t.caret().start}), (V{12, 11}));
}

// Caret column == cursor column and its line the cursor's row; the text ends at the row
// below the last text or at the cursor, whichever is lower. Then: a prompt ending in a
// blank, a blank field after one, an empty last row, blanks up to the cursor there.
TEST(ScreenText, CaretStandsOnTheCursorAtTheTextsEdges) {
    const std::tuple<const char*, const char*, int, int, const char16_t*> cases[] = {
        {"ab", "Folder: ", 8, 1, u"ab\r\nFolder: \r\n"}, {"Name:", "", 6, 0, u"Name: \r\n"},
        {"ab", "cd", 0, 4, u"ab\r\ncd\r\n\r\n\r\n"}, {"ab", "cd", 3, 3, u"ab\r\ncd\r\n\r\n   "}, {"", "", 0, 0, u""}};
    for (const auto& [row0, row1, column, row, text] : cases) {
        Text x(12);
        x.put(0, 0, row0), x.put(0, 1, row1), x.put(6, 0, "      ", 0x70), x.s.cursorColumn = column, x.s.cursorRow = row;
        const ScreenText& t = (x.t.build(x.s), x.t);
        const int32_t caret = t.caret().start, start = t.rowStart(row), end = row + 1 < t.rows() ? t.rowStart(row + 1) : t.length();
        const TextRange line = t.enclosing(TextUnit::Line, caret);
        EXPECT_EQ(std::u16string(t.text().begin(), t.text().end()), text);
        EXPECT_EQ((V{t.rowOf(caret), caret - start, line.start, line.end}), (V{row, column, start, end})) << row0 << row1;
    }
    Text x(12);  // the caret on an empty last row reads that row's colours and steps up a line
    x.put(0, 0, "ab"), x.put(0, 1, "  ", 0x1C), x.s.cursorRow = 1, x.s.colorMode = 1, x.t.build(x.s);
    EXPECT_EQ((V{x.t.length(), x.t.colorsAt(4).background}), (V{4, 0xC00000}));
    EXPECT_EQ(x.go(4, 4, TextUnit::Line, -1), (V{-1, 0, 0}));
}

// A reader's Select becomes the mouse's rectangle only where that reads back as the range:
// part of a row, a row with its line end, all rows; not a row short, across rows, a line end, a caret.
TEST(ScreenText, OnlyRangesThatARectangleReadsBackMapToOne) {
    Text x;
    x.put(0, 0, "abc"), x.put(0, 2, "ef"), x.t.build(x.s);  // "abc\r\n\r\nef"
    V got;
    for (const TextRange r : {TextRange{1, 3}, {0, 5}, {0, 9}, {0, 8}, {2, 9}, {3, 5}, {4, 4}}) {
        SelectionRect c{-1, -1, -1, -1};
        got.insert(got.end(), {x.t.rectangleOf(r, c), c.left, c.top, c.right, c.bottom});
    }
    V want{1, 1, 0, 2, 0, /**/ 1, 0, 0, 2, 0, /**/ 1, 0, 0, 5, 2};
    for (int refused = 0; refused < 4; ++refused) want.insert(want.end(), {0, -1, -1, -1, -1});
    EXPECT_EQ(got, want);
}

TEST(ScreenText, FullAndEmptyGridsAreTotal) {
    Text x(256);
    for (int i = 0; i < 65536; i += 2) x.s.liveCells[i] = 'w';  // rows "w w ... w" and a blank
    x.t.build(x.s);
    const int32_t n = 256 * 255 + 255 * 2;
    EXPECT_EQ(x.go(0, 0, TextUnit::Word, INT_MAX), (V{256 * 128 - 1 + 255 + 1, n, n}));  // words, line ends, the end
    const uint8_t* font = std::exchange(x.s.fontTable, nullptr);
    x.t.build(x.s), x.s.fontTable = font;  // no font: the empty text
    TextRange r{-5, 99};
    EXPECT_EQ((V{x.t.length(), x.t.rowOf(7), x.t.move(r, TextUnit::Word, INT_MIN), r.end, int64_t(x.t.spans(r).size())}), V(5));
}

}  // namespace
}  // namespace console
