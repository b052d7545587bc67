// Screen records and text output: layout for a font, characters, line ends,
// scrolling, clearing and single cells. Only cells and the cursor change here;
// pixels are the renderer's. Never writes outside the cell buffers.
#include "screen.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "fonts.h"
#include "render.h"
#include "sdk/quorvend_console.h"

namespace console {
namespace {

void freeCells(ConsoleScreen& s) {
    // The four buffers are one allocation; liveCells owns it.
    std::free(s.liveCells);
    s.liveCells = s.shadowCells = s.displayCells = s.scrollCells = nullptr;
    s.bufferBytes = 0;
    s.columns = 0;
    s.rows = 0;
}

bool gridIsEmpty(const ConsoleScreen& s) { return s.fontTable == nullptr || !hasCells(s) || s.columns <= 0 || s.rows <= 0; }

bool cursorInGrid(const ConsoleScreen& s) {
    return s.cursorColumn >= 0 && s.cursorColumn < s.columns && s.cursorRow >= 0 && s.cursorRow < s.rows;
}

// A cursor left outside the grid (set unchecked, or kept across a font change that
// shrank the grid) is brought to the nearest cell before output, so text lands on
// the screen and scrolls as usual instead of vanishing or scrolling every byte.
void clampCursor(ConsoleScreen& s) {
    s.cursorColumn = std::clamp(s.cursorColumn, 0, s.columns - 1);
    s.cursorRow = std::clamp(s.cursorRow, 0, s.rows - 1);
}

void requestWholeGridScroll(ConsoleScreen& s, ConsoleHost& host) {
    const uint32_t lparam = CONSOLE_SCROLL_LPARAM(0u, static_cast<uint32_t>(s.columns - 1), 0u,
                                                  static_cast<uint32_t>(s.rows - 1));
    host.sendToSelf(CONM_SCROLL, s.screenIndex, static_cast<intptr_t>(lparam));
}

}  // namespace

ConsoleScreen* newScreen(uint8_t index) {
    auto* s = static_cast<ConsoleScreen*>(std::calloc(1, sizeof(ConsoleScreen)));
    if (s == nullptr) return nullptr;
    s->screenIndex = index;
    s->colorMode = 0;
    std::memcpy(s->palette, defaultPalette, kPaletteBytes);
    return s;
}

void releaseScreen(ConsoleScreen& s, ConsoleHost& host) {
    if (s.bitmapA != nullptr) host.deleteBitmap(s.bitmapA);
    if (s.bitmapB != nullptr) host.deleteBitmap(s.bitmapB);
    s.bitmapA = s.bitmapB = nullptr;
    s.bitsA = s.bitsB = nullptr;
    freeCells(s);
}

void deleteScreen(ConsoleScreen* screen, ConsoleHost& host) {
    if (screen == nullptr) return;
    releaseScreen(*screen, host);
    if (screen->holdCount > 0) {
        screen->deletePending = 1;
        return;
    }
    std::free(screen);
}

namespace {

void* callocCells(size_t count, size_t size) { return std::calloc(count, size); }

// Real pixels to 96-DPI units, rounded down; 64-bit so that no size overflows.
int32_t toUnits(int32_t pixels, int32_t dpi) {
    return dpi == 96 ? pixels : static_cast<int32_t>(static_cast<int64_t>(pixels) * 96 / dpi);
}

// The font fields of a screen as created: no font, no cell size, no cursor lines.
void dropFont(ConsoleScreen& s) {
    s.fontId = kNoFont;
    s.cellWidth = s.cellHeight = 0;
    s.cursorStartLine = s.cursorEndLine = 0;
    s.fontTable = nullptr;
    s.glyphOffset = 0;
}

}  // namespace

CellAllocator g_cellAllocator = callocCells;

int32_t setFont(ConsoleScreen& s, ConsoleHost& host, uint32_t selector, uint32_t wparam) {
    const ClientSize client = host.clientSize();
    if (s.flags != 0) return 2;
    // The grid is laid out in 96-DPI units, so it has the rows and columns it has at
    // 96 DPI; each cell is then drawn at the DPI's size. Below 96 DPI nothing shrinks.
    const int32_t dpi = std::max(host.displayDpi(), 96);
    s.drawDpi = drawDpiFor(dpi);
    uint8_t* const paletteRefBefore = s.paletteRef;
    freeCells(s);
    switch (selector) {
    case 0:
        dropFont(s);
        return -1;
    case 1:
        s.fontId = kFont8x8;
        s.fontTable = font8x8;
        s.glyphOffset = kGlyphOffset8x8;
        s.cellWidth = 8;
        s.cellHeight = 8;
        s.cursorStartLine = 6;
        s.cursorEndLine = 7;
        s.paletteRef = s.palette;
        break;
    case 2:
        s.fontId = kFont8x16;
        s.fontTable = font8x16;
        s.glyphOffset = kGlyphOffset8x16;
        s.cellWidth = 8;
        s.cellHeight = 16;
        s.cursorStartLine = 14;
        s.cursorEndLine = 15;
        s.paletteRef = s.palette;
        break;
    default:
        if (s.fontTable == nullptr) return -1;
        break;
    }
    // Columns and rows travel in 8-bit fields: a larger client area shows a 256 x 256
    // grid in its top-left corner. The grid also never exceeds the bitmaps.
    const int32_t pixelWidth = std::min(std::max(client.width, 0), s.bitmapWidth > 0 ? s.bitmapWidth : client.width);
    const int32_t pixelHeight =
        std::min(std::max(client.height, 0), s.bitmapHeight > 0 ? s.bitmapHeight : client.height);
    // Rounded cell sizes can exceed the exact scale (DPIs off a multiple of 12): the grid
    // then keeps only the cells that can be drawn. At 96 DPI and the usual scales in
    // steps of 25 % both bounds agree.
    const int32_t columns =
        std::min({toUnits(pixelWidth, dpi) / s.cellWidth, pixelWidth / cellWidthInPixels(s), kMaxGridSide});
    const int32_t rows =
        std::min({toUnits(pixelHeight, dpi) / s.cellHeight, pixelHeight / cellHeightInPixels(s), kMaxGridSide});
    const size_t bytes = 2u * static_cast<size_t>(columns) * static_cast<size_t>(rows);

    if (bytes > 0) {
        auto* block = static_cast<ConsoleCell*>(g_cellAllocator(4, bytes));
        if (block == nullptr) {
            // The old cells are gone already: back to the created state, so that no
            // message finds a font without cells to lay out, point at or draw.
            dropFont(s);
            s.paletteRef = paletteRefBefore;
            return -1;
        }
        const size_t cells = bytes / 2;
        s.liveCells = block;
        s.shadowCells = block + cells;
        s.displayCells = block + 2 * cells;
        s.scrollCells = block + 3 * cells;
    }
    s.columns = columns;
    s.rows = rows;
    s.bufferBytes = static_cast<int32_t>(bytes);

    if (s.bitsA != nullptr) clearScreenBitmap(s, s.bitsA);
    if (s.bitsB != nullptr) clearScreenBitmap(s, s.bitsB);
    host.sendToSelf(CONM_REFRESH, wparam, 0);
    return 1;
}

void advanceCursor(ConsoleScreen& s, ConsoleHost& host) {
    if (gridIsEmpty(s)) return;
    // The successor of the 16-bit index is taken in 32 bits: on a full 256 x 256 grid
    // the last cell must scroll, not wrap to the top-left corner.
    const uint32_t i = cellIndex(s, s.cursorColumn, s.cursorRow) + 1u;
    s.cursorColumn = static_cast<int32_t>(i % static_cast<uint32_t>(s.columns));
    s.cursorRow = static_cast<int32_t>(i / static_cast<uint32_t>(s.columns));
    if (s.cursorRow >= s.rows) {
        requestWholeGridScroll(s, host);
        s.cursorRow -= 1;
        s.cursorColumn = 0;
        if (s.cursorRow >= s.rows) s.cursorRow = s.rows - 1;  // wrapped from outside the grid
    }
}

void newLine(ConsoleScreen& s, ConsoleHost& host) {
    if (gridIsEmpty(s)) return;
    if (!cursorInGrid(s)) clampCursor(s);
    s.cursorRow += 1;
    s.cursorColumn = 0;
    if (s.cursorRow >= s.rows) {
        requestWholeGridScroll(s, host);
        s.cursorRow -= 1;
        s.cursorColumn = 0;
    }
}

void putChar(ConsoleScreen& s, ConsoleHost& host, uint8_t c) {
    if (gridIsEmpty(s)) return;
    if (c == 10) {
        newLine(s, host);
        return;
    }
    if (c == 13) return;
    if (!cursorInGrid(s)) clampCursor(s);
    const uint8_t oem = host.ansiToOemTable()[c];
    s.liveCells[cellIndex(s, s.cursorColumn, s.cursorRow)] = static_cast<ConsoleCell>((s.attribute << 8) | oem);
    advanceCursor(s, host);
}

void putString(ConsoleScreen& s, ConsoleHost& host, const char* text) {
    if (gridIsEmpty(s)) return;
    const uint8_t* oem = host.ansiToOemTable();
    const auto* p = reinterpret_cast<const uint8_t*>(text);
    for (; *p != 0; ++p) {
        const uint8_t c = *p;
        if (c == 10) {
            newLine(s, host);
        } else if (c != 13) {
            // A scroll re-enters the dispatch and may change the layout; check each byte.
            if (gridIsEmpty(s)) return;
            if (!cursorInGrid(s)) clampCursor(s);
            const uint16_t at = cellIndex(s, s.cursorColumn, s.cursorRow);
            s.liveCells[at] = static_cast<ConsoleCell>((s.attribute << 8) | oem[c]);
            // Inline fast path of advanceCursor: no scroll needed within the grid.
            if (s.cursorColumn + 1 < s.columns) {
                s.cursorColumn += 1;
            } else {
                advanceCursor(s, host);
            }
        }
        if (gridIsEmpty(s)) return;
    }
}

void scrollUp(ConsoleScreen& s, uint32_t top, uint32_t left, uint32_t right, uint32_t bottom) {
    if (!hasCells(s) || s.columns <= 0 || s.rows <= 0) return;
    const auto columns = static_cast<uint32_t>(s.columns);
    const auto rows = static_cast<uint32_t>(s.rows);
    // The rectangle is clipped to the grid; a rectangle that starts outside touches nothing.
    if (left >= columns || top >= rows) return;
    right = std::min(right, columns - 1);
    bottom = std::min(bottom, rows - 1);

    std::memcpy(s.scrollCells, s.liveCells, static_cast<size_t>(s.bufferBytes));
    if (left <= right) {
        const size_t width = right - left + 1;
        for (uint32_t r = top; r < bottom; ++r) {
            std::memcpy(&s.liveCells[r * columns + left], &s.scrollCells[(r + 1) * columns + left],
                        width * sizeof(ConsoleCell));
        }
    }
    const uint8_t fill = (top > bottom || left > right) ? 0 : static_cast<uint8_t>(s.scrollCells[bottom * columns + right] >> 8);
    const auto blank = static_cast<ConsoleCell>((fill << 8) | 32);
    for (uint32_t c = left; c <= right; ++c) s.liveCells[bottom * columns + c] = blank;
}

void clearScreen(ConsoleScreen& s) {
    const auto blank = static_cast<ConsoleCell>((s.attribute << 8) | 32);
    if (hasCells(s)) std::fill_n(s.liveCells, cellCount(s), blank);
    s.cursorColumn = 0;
    s.cursorRow = 0;
}

void markForRedraw(ConsoleScreen& s) {
    if (!hasCells(s)) return;
    const int32_t n = cellCount(s);
    for (int32_t i = 0; i < n; ++i) s.shadowCells[i] = static_cast<ConsoleCell>(~s.liveCells[i]);
}

int32_t putCell(ConsoleScreen& s, uint32_t column, uint32_t row, ConsoleCell value) {
    if (!hasCells(s)) return -1;
    if (column >= static_cast<uint32_t>(s.columns) || row >= static_cast<uint32_t>(s.rows)) return -1;
    s.liveCells[cellIndex(s, static_cast<int32_t>(column), static_cast<int32_t>(row))] = value;
    return s.screenIndex;
}

int32_t pointToCell(const ConsoleScreen& s, uint32_t x, uint32_t y) {
    if (s.fontTable == nullptr || s.cellWidth <= 0 || s.cellHeight <= 0) return -1;
    int32_t column = static_cast<int32_t>(x / static_cast<uint32_t>(cellWidthInPixels(s)));
    int32_t row = static_cast<int32_t>(y / static_cast<uint32_t>(cellHeightInPixels(s)));
    if (column >= s.columns) column = s.columns - 1;
    if (row >= s.rows) row = s.rows - 1;
    // An empty grid has no last cell: the pixel maps to cell 0, 0.
    column = std::max(column, 0);
    row = std::max(row, 0);
    return static_cast<int32_t>((static_cast<uint32_t>(row) << 16) | static_cast<uint32_t>(column));
}

}  // namespace console
