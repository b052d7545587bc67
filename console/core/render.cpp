// Cells to pixels: palette and grey rule, painting cells into the bottom-up 24-bit
// bitmaps, the timer tick with its shadow compare and blink, and the paint step.
// Touches only the screen's own pixel buffers and cells; allocates nothing per tick.
#include "render.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "announcer.h"

namespace console {

const uint8_t defaultPalette[kPaletteBytes] = {
    0x00, 0x00, 0x00,  // black
    0xC0, 0x00, 0x00,  // blue
    0x00, 0xC0, 0x00,  // green
    0x80, 0x80, 0x00,  // cyan
    0x00, 0x00, 0x80,  // red
    0x80, 0x00, 0x80,  // magenta
    0x00, 0x80, 0x80,  // brown
    0x80, 0x80, 0x80,  // light grey
    0x60, 0x60, 0x60,  // dark grey
    0xFF, 0x00, 0x00,  // light blue
    0x80, 0xFF, 0x00,  // light green
    0xFF, 0xFF, 0x00,  // light cyan
    0x00, 0x00, 0xFF,  // light red
    0x80, 0x00, 0xFF,  // light magenta
    0x00, 0xFF, 0xFF,  // yellow
    0xFF, 0xFF, 0xFF,  // white
};

namespace {

// One glyph row of 8 pixels is 24 bytes: three 64-bit words. kRowMask[b] has 0xFF in
// every byte of a foreground pixel of row byte b, so a row is (F & M) | (B & ~M).
struct RowMasks {
    uint64_t words[256][3];
    constexpr RowMasks() : words() {
        for (int b = 0; b < 256; ++b) {
            for (int j = 0; j < 8; ++j) {
                if ((b & (0x80 >> j)) == 0) continue;
                for (int k = 0; k < 3; ++k) {
                    const int byte = j * 3 + k;
                    words[b][byte / 8] |= uint64_t{0xFF} << (8 * (byte % 8));
                }
            }
        }
    }
};
constexpr RowMasks kRowMask;

// A colour repeated over 8 pixels, in the same three words.
struct RowColor {
    uint64_t words[3];
};

RowColor repeatColor(const uint8_t bgr[3]) {
    uint8_t bytes[24];
    for (int j = 0; j < 8; ++j) std::memcpy(bytes + 3 * j, bgr, 3);
    RowColor c;
    std::memcpy(c.words, bytes, sizeof bytes);
    return c;
}

const uint8_t* paletteInUse(const ConsoleScreen& s) { return s.paletteRef != nullptr ? s.paletteRef : s.palette; }

// Colours of all 16 entries, worked out once per tick rather than per cell.
struct ColorTable {
    RowColor rows[16];
    explicit ColorTable(const ConsoleScreen& s) {
        for (unsigned i = 0; i < 16; ++i) {
            uint8_t bgr[3];
            entryColor(s, i, bgr);
            rows[i] = repeatColor(bgr);
        }
    }
};

// The whole cells that lie inside the bitmaps. Bitmaps made again for a smaller window
// may be narrower or lower than the grid: the cells beyond are not drawn.
int32_t columnsInBitmaps(const ConsoleScreen& s) {
    if (s.cellWidth <= 0 || s.bitsA == nullptr || s.bitsB == nullptr) return 0;
    return std::min(s.columns, s.bitmapWidth / (s.cellWidth * drawScale(s)));
}

int32_t rowsInBitmaps(const ConsoleScreen& s) {
    if (s.cellHeight <= 0 || s.bitsA == nullptr || s.bitsB == nullptr) return 0;
    return std::min(s.rows, s.bitmapHeight / (s.cellHeight * drawScale(s)));
}

void paintGlyph8(const ConsoleScreen& s, int32_t column, int32_t row, ConsoleCell v, const RowColor& fore,
                 const RowColor& back, bool invert, uint8_t* bits) {
    const uint8_t* glyph = s.fontTable + s.glyphOffset + static_cast<size_t>(v & 0xFF) * s.cellHeight;
    const size_t stride = static_cast<size_t>(s.bitmapWidth) * 3;
    const uint64_t flip = invert ? ~uint64_t{0} : 0;
    uint8_t* out = bits + pixelOffset(s.bitmapWidth, s.bitmapHeight, column * 8, row * s.cellHeight);
    for (int32_t i = 0; i < s.cellHeight; ++i, out -= stride) {
        const uint64_t* m = kRowMask.words[glyph[i]];
        uint64_t w[3];
        for (int k = 0; k < 3; ++k) w[k] = ((fore.words[k] & m[k]) | (back.words[k] & ~m[k])) ^ flip;
        std::memcpy(out, w, sizeof w);
    }
}

// Any other cell width: the same rule pixel by pixel.
void paintGlyphGeneric(const ConsoleScreen& s, int32_t column, int32_t row, ConsoleCell v, const uint8_t fore[3],
                       const uint8_t back[3], bool invert, uint8_t* bits) {
    const uint8_t* glyph = s.fontTable + s.glyphOffset + static_cast<size_t>(v & 0xFF) * s.cellHeight;
    for (int32_t i = 0; i < s.cellHeight; ++i) {
        for (int32_t j = 0; j < s.cellWidth && j < 8; ++j) {
            const uint8_t* color = (glyph[i] & (0x80 >> j)) ? fore : back;
            uint8_t* px = bits + pixelOffset(s.bitmapWidth, s.bitmapHeight, column * s.cellWidth + j, row * s.cellHeight + i);
            for (int k = 0; k < 3; ++k) px[k] = invert ? static_cast<uint8_t>(255 - color[k]) : color[k];
        }
    }
}

// Cells drawn k times larger (high DPI): each glyph row is composed as at 96 DPI, each
// pixel widened k times into a line, and the line written k times. Cells wider than 8
// pixels keep their columns beyond the glyph unwritten, as paintGlyphGeneric does.
void paintGlyphScaled(const ConsoleScreen& s, int32_t column, int32_t row, ConsoleCell v, const RowColor& fore,
                      const RowColor& back, bool invert, uint8_t* bits) {
    const int32_t k = drawScale(s);
    const int32_t width = std::min(s.cellWidth, 8);
    const uint8_t* glyph = s.fontTable + s.glyphOffset + static_cast<size_t>(v & 0xFF) * s.cellHeight;
    const size_t stride = static_cast<size_t>(s.bitmapWidth) * 3;
    const size_t lineBytes = static_cast<size_t>(width) * static_cast<size_t>(k) * 3;
    const uint64_t flip = invert ? ~uint64_t{0} : 0;
    uint8_t* out =
        bits + pixelOffset(s.bitmapWidth, s.bitmapHeight, column * s.cellWidth * k, row * s.cellHeight * k);
    uint8_t line[8 * kMaxPixelScale * 3];
    for (int32_t i = 0; i < s.cellHeight; ++i) {
        const uint64_t* m = kRowMask.words[glyph[i]];
        uint64_t w[3];
        for (int j = 0; j < 3; ++j) w[j] = ((fore.words[j] & m[j]) | (back.words[j] & ~m[j])) ^ flip;
        uint8_t composed[24];
        std::memcpy(composed, w, sizeof w);
        uint8_t* p = line;
        for (int32_t x = 0; x < width; ++x) {
            for (int32_t r = 0; r < k; ++r, p += 3) std::memcpy(p, composed + 3 * x, 3);
        }
        for (int32_t r = 0; r < k; ++r, out -= stride) std::memcpy(out, line, lineBytes);
    }
}

void paintWithColors(const ConsoleScreen& s, int32_t column, int32_t row, ConsoleCell v, const ColorTable& colors,
                     uint8_t* bits) {
    const bool invert = cellInSelection(s, column, row);
    const unsigned fore = (v >> 8) & 15;
    const unsigned back = (v >> 12) & 7;
    if (drawScale(s) != 1) {
        paintGlyphScaled(s, column, row, v, colors.rows[fore], colors.rows[back], invert, bits);
    } else if (s.cellWidth == 8) {
        paintGlyph8(s, column, row, v, colors.rows[fore], colors.rows[back], invert, bits);
    } else {
        uint8_t f[3], b[3];
        entryColor(s, fore, f);
        entryColor(s, back, b);
        paintGlyphGeneric(s, column, row, v, f, b, invert, bits);
    }
}

}  // namespace

void entryColor(const ConsoleScreen& s, unsigned index, uint8_t out[3]) {
    const uint8_t* e = paletteInUse(s) + 3 * (index & 15);
    if (s.colorMode != 0) {
        std::memcpy(out, e, 3);
    } else {
        const auto grey = static_cast<uint8_t>((e[0] + e[1] + e[2]) / 3);
        out[0] = out[1] = out[2] = grey;
    }
}

ScreenBitmap createScreenBitmap(ConsoleHost& host) {
    const ClientSize client = host.clientSize();
    ScreenBitmap bm;
    bm.width = bitmapWidthFor(client.width);
    bm.height = std::max(client.height, 0);
    if (bm.width == 0 || bm.height == 0) {
        // An empty client area has no picture; the screen renders nothing.
        bm.width = bm.height = 0;
        return bm;
    }
    const HostBitmap made = host.createBitmap(bm.width, bm.height);
    if (made.handle == nullptr || made.bits == nullptr) {
        bm.width = bm.height = 0;
        return bm;
    }
    bm.handle = made.handle;
    bm.bits = made.bits;
    std::memset(bm.bits, 0, static_cast<size_t>(bm.width) * static_cast<size_t>(bm.height) * 3);
    return bm;
}

void makeScreenBitmaps(ConsoleScreen& s, ConsoleHost& host) {
    // Bitmaps made again replace the old ones instead of leaking them.
    if (s.bitmapA != nullptr) host.deleteBitmap(s.bitmapA);
    if (s.bitmapB != nullptr) host.deleteBitmap(s.bitmapB);
    const ScreenBitmap a = createScreenBitmap(host);
    const ScreenBitmap b = createScreenBitmap(host);
    s.bitmapA = a.handle;
    s.bitsA = a.bits;
    s.bitmapB = b.handle;
    s.bitsB = b.bits;
    s.bitmapWidth = a.bits != nullptr && b.bits != nullptr ? a.width : 0;
    s.bitmapHeight = a.bits != nullptr && b.bits != nullptr ? a.height : 0;
    if (s.bitmapWidth == 0) {
        // Without both pictures nothing can be shown; keep neither.
        if (a.handle != nullptr) host.deleteBitmap(a.handle);
        if (b.handle != nullptr) host.deleteBitmap(b.handle);
        s.bitmapA = s.bitmapB = nullptr;
        s.bitsA = s.bitsB = nullptr;
    }
    // The factor goes with the pictures: CONM_SETFONT takes it the same way, so that the
    // grid, the bitmaps and the pointer always agree on the DPI of the latest of the two.
    s.pixelScale = scaleForDpi(host.displayDpi());
    markForRedraw(s);  // new pictures start black: the next tick draws every cell into them
}

void followDpiChange(ConsoleInstance& instance, ConsoleHost& host) {
    for (ConsoleScreen* s : instance.screens) {
        if (s != nullptr && s->bitmapA != nullptr) makeScreenBitmaps(*s, host);
    }
}

void followResize(ConsoleInstance& instance, ConsoleHost& host) {
    const int32_t k = scaleForDpi(host.displayDpi());
    const ClientSize client = host.clientSize();
    for (ConsoleScreen* s : instance.screens) {
        if (s == nullptr || s->bitmapA == nullptr || (k == 1 && drawScale(*s) == 1)) continue;
        if (k != drawScale(*s) || s->bitmapWidth != bitmapWidthFor(client.width) || s->bitmapHeight != client.height) {
            makeScreenBitmaps(*s, host);
        }
    }
}

void clearScreenBitmap(const ConsoleScreen& s, uint8_t* bits) {
    if (bits == nullptr || s.bitmapWidth <= 0 || s.bitmapHeight <= 0) return;
    std::memset(bits, 0, static_cast<size_t>(s.bitmapWidth) * static_cast<size_t>(s.bitmapHeight) * 3);
}

bool cellInSelection(const ConsoleScreen& s, int32_t column, int32_t row) {
    if (!s.selecting || s.columns <= 0) return false;
    const auto columns = static_cast<uint32_t>(s.columns);
    const uint16_t anchor = static_cast<uint16_t>(s.selectionAnchor);
    const uint16_t end = static_cast<uint16_t>(s.selectionEnd);
    const auto anchorColumn = static_cast<int32_t>(anchor % columns);
    const auto endColumn = static_cast<int32_t>(end % columns);
    const auto anchorRow = static_cast<int32_t>(anchor / columns);
    const auto endRow = static_cast<int32_t>(end / columns);
    return std::min(anchorColumn, endColumn) <= column && column <= std::max(anchorColumn, endColumn) &&
           std::min(anchorRow, endRow) <= row && row <= std::max(anchorRow, endRow);
}

void paintCell(const ConsoleScreen& s, int32_t column, int32_t row, ConsoleCell value, uint8_t* bits) {
    if (bits == nullptr || s.fontTable == nullptr || column < 0 || row < 0) return;
    const int32_t k = drawScale(s);
    if ((column + 1) * s.cellWidth * k > s.bitmapWidth || (row + 1) * s.cellHeight * k > s.bitmapHeight) return;
    paintWithColors(s, column, row, value, ColorTable(s), bits);
}

namespace {

// One changed cell of a grid row, with everything its pixel lines need.
struct PendingCell {
    int32_t column;
    const uint8_t* glyph;
    const RowColor* fore;
    const RowColor* back;
    uint64_t flip;
    bool intoB;
};

// A run of adjacent changed cells [first, last] of one grid row.
struct CellRun {
    int32_t first;
    int32_t last;
};

// Splits the changed cells into runs of adjacent columns; with intoBOnly, cells that
// blink (left out of the second bitmap) break the runs.
int32_t collectRuns(const PendingCell* cells, int32_t count, bool intoBOnly, CellRun* runs) {
    int32_t n = 0;
    for (int32_t k = 0; k < count; ++k) {
        if (intoBOnly && !cells[k].intoB) continue;
        if (n > 0 && runs[n - 1].last + 1 == cells[k].column) {
            runs[n - 1].last = cells[k].column;
        } else {
            runs[n++] = {cells[k].column, cells[k].column};
        }
    }
    return n;
}

void copyRuns(uint8_t* line, const uint8_t* from, const CellRun* runs, int32_t count) {
    for (int32_t k = 0; k < count; ++k) {
        const size_t x = static_cast<size_t>(runs[k].first) * 24;
        std::memcpy(line + x, from + x, static_cast<size_t>(runs[k].last - runs[k].first + 1) * 24);
    }
}

// Paints the changed cells of one grid row: the row's pixel lines are composed in a
// buffer that stays in cache (cell by cell, so each cell's colours stay in registers),
// then copied into the bitmaps in runs, so the large bitmaps see only wide
// sequential writes.
void paintRow8(const ConsoleScreen& s, int32_t row, const PendingCell* cells, int32_t count) {
    // The line stride follows the grid width, padded off a multiple of 4 KiB so the
    // sixteen lines do not compete for the same cache sets.
    alignas(64) uint8_t lines[16 * (kMaxGridSide * 24 + 64)];
    const size_t kLine = ((static_cast<size_t>(s.columns) * 24 + 63) & ~size_t{63}) + 64;
    CellRun runsA[kMaxGridSide];
    CellRun runsB[kMaxGridSide];
    const int32_t countA = s.bitsA != nullptr ? collectRuns(cells, count, false, runsA) : 0;
    const int32_t countB = s.bitsB != nullptr ? collectRuns(cells, count, true, runsB) : 0;
    const int32_t height = std::min(s.cellHeight, 16);
    for (int32_t k = 0; k < count; ++k) {
        const PendingCell& p = cells[k];
        // A pixel byte is back ^ ((fore ^ back) & mask); inverting flips the back term.
        const uint64_t b0 = p.back->words[0] ^ p.flip, b1 = p.back->words[1] ^ p.flip, b2 = p.back->words[2] ^ p.flip;
        const uint64_t x0 = p.fore->words[0] ^ p.back->words[0], x1 = p.fore->words[1] ^ p.back->words[1],
                       x2 = p.fore->words[2] ^ p.back->words[2];
        const uint8_t* glyph = p.glyph;
        uint8_t* out = lines + static_cast<size_t>(p.column) * 24;
        for (int32_t i = 0; i < height; ++i, out += kLine) {
            const uint64_t* m = kRowMask.words[glyph[i]];
            const uint64_t w[3] = {b0 ^ (x0 & m[0]), b1 ^ (x1 & m[1]), b2 ^ (x2 & m[2])};
            std::memcpy(out, w, sizeof w);
        }
    }
    for (int32_t i = 0; i < height; ++i) {
        const size_t lineStart = pixelOffset(s.bitmapWidth, s.bitmapHeight, 0, row * s.cellHeight + i);
        if (countA > 0) copyRuns(s.bitsA + lineStart, lines + i * kLine, runsA, countA);
        if (countB > 0) copyRuns(s.bitsB + lineStart, lines + i * kLine, runsB, countB);
    }
}

}  // namespace

void renderTick(ConsoleScreen& s, ConsoleHost& host) {
    // Text on show changed (not merely redrawn: a palette or a selection redraws the
    // same text), for a screen reader.
    bool textChanged = false;
    if (s.fontTable != nullptr && hasCells(s)) {
        const ConsoleCell* source = s.flags == 0 ? s.liveCells : s.displayCells;
        if (std::memcmp(source, s.shadowCells, static_cast<size_t>(s.bufferBytes)) != 0) {
            const ColorTable colors(s);
            // Cells outside the bitmaps are taken as shown, so that idle ticks stay cheap;
            // new bitmaps mark every cell for redraw.
            const int32_t fitColumns = columnsInBitmaps(s);
            const int32_t fitRows = rowsInBitmaps(s);
            const bool rowPath = s.cellWidth == 8 && drawScale(s) == 1;  // paintRow8 draws at 96 DPI only
            PendingCell pending[kMaxGridSide];
            int32_t n = 0;
            for (int32_t r = 0; r < s.rows; ++r) {
                int32_t count = 0;
                for (int32_t c = 0; c < s.columns; ++c, ++n) {
                    const ConsoleCell v = source[n];
                    if (v == s.shadowCells[n]) continue;
                    s.shadowCells[n] = v;
                    textChanged = textChanged || v != s.displayCells[n];
                    s.displayCells[n] = v;
                    if (c >= fitColumns || r >= fitRows) continue;
                    if (!rowPath) {
                        if (s.bitsA != nullptr) paintWithColors(s, c, r, v, colors, s.bitsA);
                        if ((v & 0x8000) == 0 && s.bitsB != nullptr) paintWithColors(s, c, r, v, colors, s.bitsB);
                        continue;
                    }
                    pending[count++] = {c, s.fontTable + s.glyphOffset + static_cast<size_t>(v & 0xFF) * s.cellHeight,
                                        &colors.rows[(v >> 8) & 15], &colors.rows[(v >> 12) & 7],
                                        cellInSelection(s, c, r) ? ~uint64_t{0} : 0, (v & 0x8000) == 0};
                }
                if (count > 0) paintRow8(s, r, pending, count);
            }
        }
    }
    s.blinkTicks = static_cast<uint8_t>(s.blinkTicks + 1);
    s.blinkPhase = s.blinkPhase == 0 ? 1 : 0;
    host.redrawNow();
    // After the picture is on show, so that a reader who asks at once reads the new text.
    if (Announcer* a = host.announcer()) host.announce(a->takeTick(s.rows, textChanged));
}

void drawCursor(const ConsoleScreen& s, ConsolePainter& painter, int32_t column, int32_t row) {
    if (column < 0 || row < 0 || column >= s.columns || row >= s.rows || !hasCells(s)) return;
    uint8_t bgr[3];
    entryColor(s, (s.liveCells[cellIndex(s, column, row)] >> 8) & 15, bgr);
    // Scaled cells: each cursor line is k pixel lines over the cell's k-fold width.
    const int32_t k = drawScale(s);
    const int32_t x0 = column * s.cellWidth * k;
    const int32_t top = row * s.cellHeight * k;
    for (int32_t line = s.cursorStartLine; line <= s.cursorEndLine; ++line) {
        for (int32_t y = top + line * k; y < top + (line + 1) * k; ++y) {
            painter.horizontalLine(x0, x0 + s.cellWidth * k - 1, y, bgr[2], bgr[1], bgr[0]);
        }
    }
}

void paintConsole(ConsoleScreen& s, ConsolePainter& painter) {
    const bool showB = (s.blinkTicks & 2) != 0;
    painter.copyBitmap(showB ? s.bitmapB : s.bitmapA, showB ? s.bitsB : s.bitsA, s.bitmapWidth, s.bitmapHeight);
    if (s.cursorStartLine == 255 || s.blinkPhase != 0 || !hasCells(s)) return;
    if (s.flags == 0) {
        s.savedCursorColumn = s.cursorColumn;
        s.savedCursorRow = s.cursorRow;
    }
    drawCursor(s, painter, s.savedCursorColumn, s.savedCursorRow);
}

void SurfacePainter::copyBitmap(BitmapHandle, const uint8_t* bits, int32_t width, int32_t height) {
    if (bits == nullptr) return;
    const int32_t w = std::min(width, width_);
    const int32_t h = std::min(height, height_);
    if (w <= 0) return;
    for (int32_t y = 0; y < h; ++y) {
        std::memcpy(bits_ + pixelOffset(width_, height_, 0, y), bits + pixelOffset(width, height, 0, y),
                    static_cast<size_t>(w) * 3);
    }
}

void SurfacePainter::horizontalLine(int32_t x0, int32_t x1, int32_t y, uint8_t red, uint8_t green, uint8_t blue) {
    if (y < 0 || y >= height_) return;
    for (int32_t x = std::max(x0, 0); x <= x1 && x < width_; ++x) {
        uint8_t* px = bits_ + pixelOffset(width_, height_, x, y);
        px[0] = blue;
        px[1] = green;
        px[2] = red;
    }
}

}  // namespace console
