// The screen's text for readers: built once per request from the cells on show, then
// only read. Must not touch the screen after build() nor run on the tick path; every
// query is total (clamped offsets, any count) and never reads outside its vectors.
#include "screen_text.h"

#include <algorithm>
#include <initializer_list>

#include "cp437_unicode.h"
#include "render.h"
#include "selection.h"

namespace console {

namespace {

constexpr uint16_t kBlank = 0x20;
constexpr uint16_t kCr = 0x0D;
constexpr uint16_t kLf = 0x0A;

uint32_t colorRef(const uint8_t bgr[3]) {
    return static_cast<uint32_t>(bgr[2]) | (static_cast<uint32_t>(bgr[1]) << 8) | (static_cast<uint32_t>(bgr[0]) << 16);
}

int32_t clampTo(int32_t v, int32_t low, int32_t high) { return v < low ? low : (v > high ? high : v); }

}  // namespace

void ScreenText::build(const ConsoleScreen& s) {
    text_.clear();
    attributes_.clear();
    rowStart_.clear();
    rowEnd_.clear();
    selection_.clear();
    columns_ = 0;
    caret_ = 0;
    endAttribute_ = 0;
    for (unsigned i = 0; i < 16; ++i) entryColor(s, i, palette_[i]);
    if (s.fontTable == nullptr || !hasCells(s) || s.columns <= 0 || s.rows <= 0) return;

    const ConsoleCell* cells = s.flags == 0 ? s.liveCells : s.displayCells;
    if (cells == nullptr) return;
    const int32_t columns = std::min(s.columns, kMaxGridSide);
    // Only whole rows that the buffers hold are read.
    const int32_t rows = std::min({s.rows, kMaxGridSide, cellCount(s) / columns});
    if (rows <= 0) return;
    columns_ = columns;
    text_.reserve(static_cast<size_t>(rows) * static_cast<size_t>(columns + 2));
    attributes_.reserve(text_.capacity());
    rowStart_.reserve(static_cast<size_t>(rows));
    rowEnd_.reserve(static_cast<size_t>(rows));

    // The cursor on show: a frozen or paused screen shows where it stood when painted.
    const bool live = s.flags == 0;
    const int32_t cursorColumn = clampTo(live ? s.cursorColumn : s.savedCursorColumn, 0, columns - 1);
    const int32_t cursorRow = clampTo(live ? s.cursorRow : s.savedCursorRow, 0, rows - 1);

    // Each row's kept cells: its text without trailing blanks, but on the cursor's row at
    // least up to the cursor, so that the caret after a prompt's blank stands on its column.
    std::vector<int32_t> kept(static_cast<size_t>(rows), 0);
    int32_t lastText = -1;
    for (int32_t r = 0; r < rows; ++r) {
        const ConsoleCell* row = cells + static_cast<size_t>(r) * static_cast<size_t>(columns);
        int32_t n = columns;
        while (n > 0) {
            const auto code = static_cast<uint8_t>(row[n - 1]);
            if (code != 0 && cp437ToUnicode[code] != kBlank) break;
            --n;
        }
        if (n > 0) lastText = r;
        kept[static_cast<size_t>(r)] = r == cursorRow ? std::max(n, cursorColumn) : n;
    }
    // The document ends at the row below the last text or at the cursor's row, whichever
    // is lower: the blank rows under them would only be read out as empty lines.
    const int32_t usedRows = std::min(rows, std::max(lastText + 1, cursorRow) + 1);

    for (int32_t r = 0; r < usedRows; ++r) {
        const ConsoleCell* row = cells + static_cast<size_t>(r) * static_cast<size_t>(columns);
        const int32_t n = kept[static_cast<size_t>(r)];
        rowStart_.push_back(static_cast<int32_t>(text_.size()));
        for (int32_t c = 0; c < n; ++c) {
            const auto code = static_cast<uint8_t>(row[c]);
            text_.push_back(code == 0 ? kBlank : cp437ToUnicode[code]);
            attributes_.push_back(static_cast<uint16_t>(row[c] >> 8));
        }
        rowEnd_.push_back(static_cast<int32_t>(text_.size()));
        // The line end looks like the row's last kept cell, so that it joins its format run.
        const auto endAttribute = static_cast<uint16_t>(row[n > 0 ? n - 1 : 0] >> 8);
        endAttribute_ = endAttribute;
        if (r + 1 < usedRows) {
            text_.push_back(kCr);
            text_.push_back(kLf);
            attributes_.push_back(endAttribute);
            attributes_.push_back(endAttribute);
        }
    }
    caret_ = offsetOf(cursorColumn, cursorRow);

    SelectionRect rect;
    // A record starts zero-filled (anchor and end both cell 0): only a selection the
    // user began with the menu's Select counts.
    if (s.selectEnabled != 0 && selectionRect(s, rect)) {
        const int32_t bottom = std::min(rect.bottom, usedRows - 1);
        for (int32_t r = rect.top; r <= bottom; ++r) {
            selection_.push_back({offsetOf(rect.left, r), offsetOf(rect.right + 1, r)});
        }
    }
}

int32_t ScreenText::rowStart(int32_t row) const {
    if (rowStart_.empty()) return 0;
    return rowStart_[static_cast<size_t>(clampTo(row, 0, rows() - 1))];
}

int32_t ScreenText::rowEnd(int32_t row) const {
    if (rowEnd_.empty()) return 0;
    return rowEnd_[static_cast<size_t>(clampTo(row, 0, rows() - 1))];
}

int32_t ScreenText::rowOf(int32_t offset) const {
    if (rowStart_.empty()) return 0;
    const int32_t at = clampTo(offset, 0, length());
    const auto next = std::upper_bound(rowStart_.begin(), rowStart_.end(), at);
    return static_cast<int32_t>(next - rowStart_.begin()) - 1;
}

int32_t ScreenText::offsetOf(int32_t column, int32_t row) const {
    if (rowStart_.empty()) return 0;
    const int32_t start = rowStart(row);
    return start + clampTo(column, 0, rowEnd(row) - start);
}

bool ScreenText::rectangleOf(TextRange range, SelectionRect& rect) const {
    const int32_t a = clampTo(std::min(range.start, range.end), 0, length());
    const int32_t b = clampTo(std::max(range.start, range.end), 0, length());
    if (a >= b) return false;
    const int32_t top = rowOf(a);
    const int32_t bottom = rowOf(b - 1);  // a line end belongs to the row it ends
    if (top == bottom) {
        if (a >= rowEnd(top)) return false;  // a bare line end has no cells
        rect = {a - rowStart(top), top, std::min(b, rowEnd(top)) - rowStart(top) - 1, top};
        return true;
    }
    if (a != rowStart(top) || b < rowEnd(bottom)) return false;
    rect = {0, top, columns_ - 1, bottom};
    return true;
}

std::vector<CellSpan> ScreenText::spans(TextRange range) const {
    std::vector<CellSpan> out;
    if (rowStart_.empty()) return out;
    const int32_t a = clampTo(std::min(range.start, range.end), 0, length());
    const int32_t b = clampTo(std::max(range.start, range.end), 0, length());
    const int32_t lastRow = rowOf(b > a ? b - 1 : a);
    for (int32_t r = rowOf(a); r <= lastRow; ++r) {
        const int32_t start = rowStart(r), end = rowEnd(r);
        const int32_t from = std::min(std::max(a, start), end);
        const int32_t to = std::min(b, end);
        out.push_back({r, from - start, std::max(0, to - from)});
    }
    return out;
}

CellColors ScreenText::colorsAt(int32_t offset) const {
    // The document's end takes the last row's look: an empty last row has its own.
    const int32_t at = clampTo(offset, 0, length());
    const uint16_t attribute = at < length() ? attributes_[static_cast<size_t>(at)] : endAttribute_;
    return {colorRef(palette_[attribute & 15u]), colorRef(palette_[(attribute >> 4) & 7u])};
}

bool ScreenText::isUnitStart(TextUnit unit, int32_t offset) const {
    if (offset <= 0) return true;
    if (offset >= length()) return false;
    const auto i = static_cast<size_t>(offset);
    switch (unit) {
    case TextUnit::Character: return !(text_[i] == kLf && text_[i - 1] == kCr);
    case TextUnit::Format: return attributes_[i] != attributes_[i - 1] || rowStart(rowOf(offset)) == offset;
    case TextUnit::Word: {
        const int32_t r = rowOf(offset);
        if (offset == rowStart(r) || offset == rowEnd(r)) return true;
        if (offset > rowEnd(r)) return false;  // inside CR LF
        return text_[i] != kBlank && text_[i - 1] == kBlank;
    }
    case TextUnit::Line:
    case TextUnit::Paragraph: return rowStart(rowOf(offset)) == offset;
    case TextUnit::Page:
    case TextUnit::Document:
    default: return false;
    }
}

int32_t ScreenText::nextBoundary(TextUnit unit, int32_t offset) const {
    const int32_t n = length();
    if (offset >= n) return n;
    if (unit == TextUnit::Line || unit == TextUnit::Paragraph) {
        const int32_t r = rowOf(offset);
        return r + 1 < rows() ? rowStart(r + 1) : n;
    }
    if (unit == TextUnit::Page || unit == TextUnit::Document) return n;
    int32_t i = std::max(offset, 0) + 1;
    while (i < n && !isUnitStart(unit, i)) ++i;
    return i;
}

int32_t ScreenText::previousBoundary(TextUnit unit, int32_t offset) const {
    if (offset <= 0) return 0;
    const int32_t from = std::min(offset, length());
    if (unit == TextUnit::Line || unit == TextUnit::Paragraph) {
        const int32_t r = rowOf(from - 1);
        return rowStart(r);
    }
    if (unit == TextUnit::Page || unit == TextUnit::Document) return 0;
    int32_t i = from - 1;
    while (i > 0 && !isUnitStart(unit, i)) --i;
    return i;
}

TextRange ScreenText::enclosing(TextUnit unit, int32_t offset) const {
    const int32_t n = length();
    if (unit == TextUnit::Page || unit == TextUnit::Document) return {0, n};
    // An empty last row (the cursor's) is a line of its own: at the document's end a
    // caret there stays in it rather than joining the row above.
    if (offset >= n && rowStart(rows() - 1) == n) return {n, n};
    // Elsewhere the document's end belongs to the last unit, as a caret after the text does.
    const int32_t at = clampTo(offset, 0, n - 1);
    const int32_t start = isUnitStart(unit, at) ? at : previousBoundary(unit, at);
    return {start, nextBoundary(unit, start)};
}

int32_t ScreenText::move(TextRange& range, TextUnit unit, int32_t count) const {
    const int32_t n = length();
    int32_t a = clampTo(std::min(range.start, range.end), 0, n);
    const int32_t b = clampTo(std::max(range.start, range.end), 0, n);
    const bool degenerate = a == b;
    if (count == 0) {
        range = {a, b};
        return 0;
    }
    // A range covers whole units; it moves from the start of its first one and never
    // lands on the document's end, where no unit starts. A caret may.
    if (!degenerate) a = enclosing(unit, a).start;
    int32_t moved = 0;
    if (count > 0) {
        while (moved < count) {
            const int32_t next = nextBoundary(unit, a);
            if (next == a || (!degenerate && next >= n)) break;
            a = next;
            ++moved;
        }
    } else {
        while (moved > count) {
            const int32_t previous = previousBoundary(unit, a);
            if (previous == a) break;
            a = previous;
            --moved;
        }
    }
    if (degenerate) {
        range = {a, a};
    } else {
        range = {a, nextBoundary(unit, a)};
    }
    return moved;
}

int32_t ScreenText::moveEndpoint(TextRange& range, bool startEndpoint, TextUnit unit, int32_t count) const {
    const int32_t n = length();
    int32_t a = clampTo(std::min(range.start, range.end), 0, n);
    int32_t b = clampTo(std::max(range.start, range.end), 0, n);
    int32_t at = startEndpoint ? a : b;
    int32_t moved = 0;
    if (count > 0) {
        while (moved < count) {
            const int32_t next = nextBoundary(unit, at);
            if (next == at) break;
            at = next;
            ++moved;
        }
    } else {
        while (moved > count) {
            const int32_t previous = previousBoundary(unit, at);
            if (previous == at) break;
            at = previous;
            --moved;
        }
    }
    if (startEndpoint) {
        a = at;
        b = std::max(a, b);
    } else {
        b = at;
        a = std::min(a, b);
    }
    range = {a, b};
    return moved;
}

}  // namespace console
