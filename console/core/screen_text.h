// The text a screen shows, as a reader of the screen sees it: Unicode, one line per
// row without its trailing blanks (the cursor's row kept up to the cursor), rows joined
// by CR LF; with the offsets, lines, words, colours, caret and selection that text
// navigation needs. Portable and read-only: it copies the cells once per build and
// never touches the screen again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "screen.h"
#include "selection.h"

namespace console {

// Text units, numbered as text navigation clients number them.
enum class TextUnit : int32_t {
    Character = 0,
    Format = 1,  // a run of cells with the same colours
    Word = 2,
    Line = 3,
    Paragraph = 4,  // a row, as Line
    Page = 5,       // the whole screen, as Document
    Document = 6,
};

// [start, end) in UTF-16 units of the text; start == end is a degenerate range.
struct TextRange {
    int32_t start = 0;
    int32_t end = 0;
};

// Cells covered on one row: columns [first, first + count).
struct CellSpan {
    int32_t row = 0;
    int32_t first = 0;
    int32_t count = 0;
};

// Colours as 0x00BBGGRR (the platform's colour value), after the screen's grey rule.
struct CellColors {
    uint32_t foreground = 0;
    uint32_t background = 0;
};

class ScreenText {
public:
    // Copies the cells on show (the held picture while the screen is frozen or paused),
    // down to the row below the last text or the cursor's row, whichever is lower.
    // A screen without font or cells gives the empty text.
    void build(const ConsoleScreen& screen);

    const std::vector<uint16_t>& text() const { return text_; }
    int32_t length() const { return static_cast<int32_t>(text_.size()); }
    int32_t rows() const { return static_cast<int32_t>(rowStart_.size()); }
    int32_t columns() const { return columns_; }

    // Offset of a row's first character, and one past its last kept one (before CR LF).
    int32_t rowStart(int32_t row) const;
    int32_t rowEnd(int32_t row) const;
    // The row holding an offset; CR LF belongs to the row it ends; length() to the last.
    int32_t rowOf(int32_t offset) const;
    // Cell to offset: a column past the row's kept text gives the row's end.
    int32_t offsetOf(int32_t column, int32_t row) const;

    // Cells covered by a range, one span per row it touches (rows without cells in the
    // range, such as a bare line end, give a span of count 0 at the row's end column).
    std::vector<CellSpan> spans(TextRange range) const;

    // Colours of the cell under an offset (a line end takes the last cell of its row).
    CellColors colorsAt(int32_t offset) const;

    // Navigation. Every result is clamped to [0, length()]. The document's end encloses
    // to the last unit, or to itself when the last row is empty.
    TextRange enclosing(TextUnit unit, int32_t offset) const;
    // Moves a range by count units as text navigation does: the range collapses to its
    // start unit, moves, and is expanded to the unit again (a degenerate range stays
    // degenerate). Gives the number of units actually moved (sign as count).
    int32_t move(TextRange& range, TextUnit unit, int32_t count) const;
    // Moves one endpoint by count unit boundaries; the other follows when crossed.
    int32_t moveEndpoint(TextRange& range, bool startEndpoint, TextUnit unit, int32_t count) const;

    // The caret: the cursor cell on show, as a degenerate range at the cursor's column.
    TextRange caret() const { return {caret_, caret_}; }
    // The mouse selection as text ranges, one per row of its rectangle; empty when none.
    const std::vector<TextRange>& selection() const { return selection_; }

    // The cell rectangle whose selection reads back as this range: a part of one row, or
    // whole rows (with or without the last one's line end). False for any other range,
    // a degenerate one among them.
    bool rectangleOf(TextRange range, SelectionRect& rect) const;

private:
    // Unit boundaries: 0 always starts a unit, length() ends the last one.
    bool isUnitStart(TextUnit unit, int32_t offset) const;
    int32_t nextBoundary(TextUnit unit, int32_t offset) const;
    int32_t previousBoundary(TextUnit unit, int32_t offset) const;

    std::vector<uint16_t> text_;
    std::vector<uint16_t> attributes_;  // per character: the cell's attribute byte
    std::vector<int32_t> rowStart_;
    std::vector<int32_t> rowEnd_;
    std::vector<TextRange> selection_;
    uint8_t palette_[16][3] = {};  // blue, green, red after the grey rule
    int32_t columns_ = 0;
    int32_t caret_ = 0;
    uint16_t endAttribute_ = 0;  // the last row's look, for the document's end
};

}  // namespace console
