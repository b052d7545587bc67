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
    return std::min(s.columns, s.bitmapWidth / cellWidthInPixels(s));
}

int32_t rowsInBitmaps(const ConsoleScreen& s) {
    if (s.cellHeight <= 0 || s.bitsA == nullptr || s.bitsB == nullptr) return 0;
    return std::min(s.rows, s.bitmapHeight / cellHeightInPixels(s));
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

// One cell at 96 DPI.
void paintWithColors(const ConsoleScreen& s, int32_t column, int32_t row, ConsoleCell v, const ColorTable& colors,
                     uint8_t* bits) {
    const bool invert = cellInSelection(s, column, row);
    const unsigned fore = (v >> 8) & 15;
    const unsigned back = (v >> 12) & 7;
    if (s.cellWidth == 8) {
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
    // The DPI goes with the pictures: CONM_SETFONT takes it the same way, so that the
    // grid, the bitmaps and the pointer always agree on the DPI of the latest of the two.
    s.drawDpi = drawDpiFor(host.displayDpi());
    markForRedraw(s);  // new pictures start black: the next tick draws every cell into them
}

void followDpiChange(ConsoleInstance& instance, ConsoleHost& host) {
    for (ConsoleScreen* s : instance.screens) {
        if (s != nullptr && s->bitmapA != nullptr) makeScreenBitmaps(*s, host);
    }
}

void followResize(ConsoleInstance& instance, ConsoleHost& host) {
    const int32_t dpi = drawDpiFor(host.displayDpi());
    const ClientSize client = host.clientSize();
    for (ConsoleScreen* s : instance.screens) {
        if (s == nullptr || s->bitmapA == nullptr || (dpi == 96 && drawDpiOf(*s) == 96)) continue;
        if (dpi != drawDpiOf(*s) || s->bitmapWidth != bitmapWidthFor(client.width) ||
            s->bitmapHeight != client.height) {
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

namespace {

// One changed cell of a grid row, with everything its pixel lines need.
struct PendingCell {
    int32_t column;
    const uint8_t* glyph;
    const RowColor* fore;
    const RowColor* back;
    uint64_t flip;
    bool intoB;
    uint8_t foreIndex;  // palette entries, for the widened colours of scaled cells
    uint8_t backIndex;
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

void copyRuns(uint8_t* line, const uint8_t* from, const CellRun* runs, int32_t count, size_t cellBytes = 24) {
    for (int32_t k = 0; k < count; ++k) {
        const size_t x = static_cast<size_t>(runs[k].first) * cellBytes;
        std::memcpy(line + x, from + x, static_cast<size_t>(runs[k].last - runs[k].first + 1) * cellBytes);
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

// Cells drawn above 96 DPI, nearest neighbour, worked out once per tick: the pixel rows
// that show each glyph line, and each glyph nibble and palette colour widened to the
// cell's pixel width. Glyph columns 0-3 fall on pixel columns [0, split) and 4-7 on
// [split, width), so a widened glyph line is two table rows, composed as at 96 DPI.
struct ScaledCells {
    static constexpr int kWords = (kMaxCellPixelWidth * 3 + 7) / 8;
    int32_t width = 0;  // pixels per cell
    int32_t height = 0;
    int32_t lines = 0;  // glyph lines drawn
    int32_t split = 0;
    int32_t highWords = 0;  // 8-byte words that cover [0, split) and [split, width)
    int32_t lowWords = 0;
    int32_t firstRow[17];  // pixel rows [firstRow[i], firstRow[i + 1]) show glyph line i
    uint64_t high[16][kWords];
    uint64_t low[16][kWords];
    uint64_t color[16][kWords];

    // Tables are filled only when wanted: at 96 DPI a tick pays nothing for them.
    ScaledCells(const ConsoleScreen& s, const ColorTable& colors, bool wanted) {
        if (!wanted || s.cellWidth <= 0 || s.cellHeight <= 0) return;
        width = std::min(cellWidthInPixels(s), kMaxCellPixelWidth);
        height = std::min(cellHeightInPixels(s), kMaxCellPixelHeight);
        lines = std::min(s.cellHeight, 16);
        uint8_t column[kMaxCellPixelWidth];
        for (int32_t x = 0; x < width; ++x) {
            column[x] = static_cast<uint8_t>(std::min(glyphLineAt(x, s.cellWidth, width), 8));
            if (column[x] < 4) split = x + 1;
        }
        highWords = (split * 3 + 7) / 8;
        lowWords = ((width - split) * 3 + 7) / 8;
        for (int32_t i = 0, y = 0; i <= lines; ++i) {
            while (y < height && glyphLineAt(y, s.cellHeight, height) < i) ++y;
            firstRow[i] = i == lines ? height : y;
        }
        for (unsigned n = 0; n < 16; ++n) {
            uint8_t bytes[2][kWords * 8] = {};
            for (int32_t x = 0; x < width; ++x) {
                // Columns past the glyph's eight (wider cells) stay background.
                const bool set = column[x] < 4 ? (n & (8u >> column[x])) != 0
                                               : column[x] < 8 && (n & (8u >> (column[x] - 4))) != 0;
                if (set) std::memset(x < split ? bytes[0] + 3 * x : bytes[1] + 3 * (x - split), 0xFF, 3);
            }
            std::memcpy(high[n], bytes[0], sizeof high[n]);
            std::memcpy(low[n], bytes[1], sizeof low[n]);
            uint8_t entry[24];
            std::memcpy(entry, colors.rows[n].words, sizeof entry);
            uint8_t bgr[kWords * 8];
            for (int32_t j = 0; j < kWords * 8; ++j) bgr[j] = entry[j % 3];
            std::memcpy(color[n], bgr, sizeof color[n]);
        }
    }
};

// One glyph line of the changed cells, widened, into the line buffer. kHigh and kLow fix
// the word counts of the usual scales (0: taken from the tables) so that the compiler
// keeps a cell's words in registers.
template <int kHigh, int kLow>
void composeLine(const ScaledCells& g, const PendingCell* cells, int32_t count, int32_t i, uint8_t* line) {
    const int32_t highWords = kHigh > 0 ? kHigh : g.highWords;
    const int32_t lowWords = kLow > 0 ? kLow : g.lowWords;
    const size_t cellBytes = static_cast<size_t>(g.width) * 3;
    const size_t lowStart = static_cast<size_t>(g.split) * 3;
    for (int32_t k = 0; k < count; ++k) {
        const PendingCell& p = cells[k];
        const uint64_t* fore = g.color[p.foreIndex];
        const uint64_t* back = g.color[p.backIndex];
        const uint8_t bits = p.glyph[i];
        uint8_t* out = line + static_cast<size_t>(p.column) * cellBytes;
        const uint64_t* m = g.high[bits >> 4];
        for (int32_t j = 0; j < highWords; ++j) {
            const uint64_t w = (back[j] ^ p.flip) ^ ((fore[j] ^ back[j]) & m[j]);
            std::memcpy(out + 8 * j, &w, 8);
        }
        m = g.low[bits & 15];
        for (int32_t j = 0; j < lowWords; ++j) {
            const uint64_t w = (back[j] ^ p.flip) ^ ((fore[j] ^ back[j]) & m[j]);
            std::memcpy(out + lowStart + 8 * j, &w, 8);
        }
    }
}

// paintRow8 for scaled cells: each glyph line of the row's changed cells is composed once
// into a line buffer, then copied in runs to every pixel row that shows it, into the
// bitmaps given (either may be null).
void paintRowScaled(const ConsoleScreen& s, const ScaledCells& g, int32_t row, const PendingCell* cells, int32_t count,
                    uint8_t* intoA, uint8_t* intoB) {
    // Each cell's last word may run up to 7 bytes into the next cell, which is composed
    // after it or never copied; the padding takes the last cell's.
    alignas(64) uint8_t line[kMaxGridSide * kMaxCellPixelWidth * 3 + 8];
    const size_t cellBytes = static_cast<size_t>(g.width) * 3;
    CellRun runsA[kMaxGridSide];
    CellRun runsB[kMaxGridSide];
    const int32_t countA = intoA != nullptr ? collectRuns(cells, count, false, runsA) : 0;
    const int32_t countB = intoB != nullptr ? collectRuns(cells, count, true, runsB) : 0;
    // 125 % (cells 10 wide) takes two words a half; 150 to 200 % (12 to 16 wide) three.
    const bool twoWords = g.highWords == 2 && g.lowWords == 2, threeWords = g.highWords == 3 && g.lowWords == 3;
    for (int32_t i = 0; i < g.lines; ++i) {
        if (threeWords) {
            composeLine<3, 3>(g, cells, count, i, line);
        } else if (twoWords) {
            composeLine<2, 2>(g, cells, count, i, line);
        } else {
            composeLine<0, 0>(g, cells, count, i, line);
        }
        for (int32_t y = g.firstRow[i]; y < g.firstRow[i + 1]; ++y) {
            const size_t lineStart = pixelOffset(s.bitmapWidth, s.bitmapHeight, 0, row * g.height + y);
            if (countA > 0) copyRuns(intoA + lineStart, line, runsA, countA, cellBytes);
            if (countB > 0) copyRuns(intoB + lineStart, line, runsB, countB, cellBytes);
        }
    }
}

PendingCell pendingCell(const ConsoleScreen& s, int32_t column, int32_t row, ConsoleCell v, const ColorTable& colors) {
    const auto fore = static_cast<uint8_t>((v >> 8) & 15), back = static_cast<uint8_t>((v >> 12) & 7);
    return {column,          s.fontTable + s.glyphOffset + static_cast<size_t>(v & 0xFF) * s.cellHeight,
            &colors.rows[fore], &colors.rows[back], cellInSelection(s, column, row) ? ~uint64_t{0} : 0,
            (v & 0x8000) == 0, fore, back};
}

}  // namespace

void paintCell(const ConsoleScreen& s, int32_t column, int32_t row, ConsoleCell value, uint8_t* bits) {
    if (bits == nullptr || s.fontTable == nullptr || column < 0 || row < 0) return;
    if ((column + 1) * cellWidthInPixels(s) > s.bitmapWidth || (row + 1) * cellHeightInPixels(s) > s.bitmapHeight) {
        return;
    }
    const ColorTable colors(s);
    if (drawDpiOf(s) == 96) {
        paintWithColors(s, column, row, value, colors, bits);
        return;
    }
    const ScaledCells scaled(s, colors, true);
    const PendingCell cell = pendingCell(s, column, row, value, colors);
    paintRowScaled(s, scaled, row, &cell, 1, bits, nullptr);
}

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
            const bool scaled = drawDpiOf(s) != 96;
            const bool rowPath = scaled || s.cellWidth == 8;
            const ScaledCells scaledCells(s, colors, scaled);
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
                    pending[count++] = pendingCell(s, c, r, v, colors);
                }
                if (count == 0) continue;
                if (scaled) {
                    paintRowScaled(s, scaledCells, r, pending, count, s.bitsA, s.bitsB);
                } else {
                    paintRow8(s, r, pending, count);
                }
            }
        }
    }
    s.blinkTicks = static_cast<uint8_t>(s.blinkTicks + 1);
    s.blinkPhase = s.blinkPhase == 0 ? 1 : 0;
    host.redrawNow();
    // After the picture is on show, so that a reader who asks at once reads the new text.
    if (Announcer* a = host.announcer()) host.announce(a->takeTick(s, textChanged));
}

void drawCursor(const ConsoleScreen& s, ConsolePainter& painter, int32_t column, int32_t row) {
    if (column < 0 || row < 0 || column >= s.columns || row >= s.rows || !hasCells(s)) return;
    uint8_t bgr[3];
    entryColor(s, (s.liveCells[cellIndex(s, column, row)] >> 8) & 15, bgr);
    // A cursor line covers the pixel rows that show that glyph line, over the cell's width.
    const int32_t width = cellWidthInPixels(s);
    const int32_t height = cellHeightInPixels(s);
    if (height <= 0) return;
    const int32_t x0 = column * width;
    const int32_t top = row * height;
    for (int32_t y = 0; y < height; ++y) {
        const int32_t line = glyphLineAt(y, s.cellHeight, height);
        if (line >= s.cursorStartLine && line <= s.cursorEndLine) {
            painter.horizontalLine(x0, x0 + width - 1, top + y, bgr[2], bgr[1], bgr[0]);
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
