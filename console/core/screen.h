// A console screen: one text page with its cell buffers, cursor, attribute, palette,
// key ring and bitmaps, and the output operations on it. Portable: pixels are produced
// by render.h, never here; all platform effects go through ConsoleHost.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host.h"

namespace console {

using ConsoleCell = uint16_t;      // low byte OEM character, high byte attribute
using ConsoleAttribute = uint8_t;  // bits 0-3 fore, 4-6 back, 7 blink

constexpr int32_t kMaxGridSide = 256;  // columns and rows travel in 8-bit fields
constexpr int kPaletteBytes = 48;

enum ScreenFlags : uint32_t {
    kFlagFrozen = 1u << 0,
    kFlagPaused = 1u << 1,
};

enum FontId : uint32_t { kNoFont = 0, kFont8x8 = 1, kFont8x16 = 2 };

struct ConsoleScreen {
    const uint8_t* fontTable;
    uint16_t glyphOffset;
    ConsoleCell* liveCells;
    ConsoleCell* shadowCells;
    ConsoleCell* displayCells;
    ConsoleCell* scrollCells;
    uint8_t* paletteRef;
    uint8_t palette[kPaletteBytes];
    ConsoleAttribute attribute;
    int32_t bufferBytes;
    uint32_t flags;
    uint8_t selectEnabled;
    uint8_t selecting;
    uint8_t screenIndex;
    BitmapHandle bitmapA;
    BitmapHandle bitmapB;
    uint8_t* bitsA;
    uint8_t* bitsB;
    int32_t cursorColumn;
    int32_t cursorRow;
    int32_t savedCursorColumn;
    int32_t savedCursorRow;
    int32_t cellWidth;
    int32_t cellHeight;
    int32_t columns;
    int32_t rows;
    int32_t bitmapWidth;
    int32_t bitmapHeight;
    uint8_t cursorStartLine;
    uint8_t cursorEndLine;
    uint32_t lastKey;
    int32_t selectionAnchor;
    int32_t selectionEnd;
    uint32_t colorMode;
    uint32_t listenerWindow;
    uint32_t listenerValue;
    uint32_t listenerCell;
    uint8_t keyRing[256];
    uint8_t keyRead;
    uint8_t keyWrite;
    uint32_t fontId;
    uint8_t blinkPhase;
    uint8_t blinkTicks;
    // Not seen outside the console: frames that keep this record across a nested
    // message loop (ScreenHold), and what happened to it meanwhile.
    uint16_t holdCount;
    uint8_t deletePending;  // deleted while held: the last hold frees the record
    uint32_t layoutSerial;  // advanced by every layout (CONM_SETFONT)
    // The DPI the bitmaps were drawn for (0 reads as 96): each cell is its 96-DPI size
    // scaled by drawDpi/96 and rounded. Taken from the host's DPI by CONM_SETFONT,
    // CONM_CREATEBITMAPS and a DPI change, never set alone.
    int32_t drawDpi;
};

constexpr int32_t kMaxDrawDpi = 768;  // higher DPIs draw at this size: cells of 64 x 128 at most
constexpr int32_t kMaxCellPixelWidth = 8 * kMaxDrawDpi / 96;
constexpr int32_t kMaxCellPixelHeight = 16 * kMaxDrawDpi / 96;

// The DPI cells are drawn at for a display DPI: never below 96 (nothing shrinks), capped.
inline int32_t drawDpiFor(int32_t dpi) { return dpi < 96 ? 96 : (dpi > kMaxDrawDpi ? kMaxDrawDpi : dpi); }
inline int32_t drawDpiOf(const ConsoleScreen& s) { return drawDpiFor(s.drawDpi); }

// A 96-DPI length in pixels at a DPI, rounded to the nearest pixel (halves up).
inline int32_t scaledLength(int32_t units, int32_t dpi) { return (units * dpi + 48) / 96; }

// Pixels one cell covers in the bitmaps and on the screen. Cells are uniform: cell
// (c, r) covers x in [c * width, (c + 1) * width) and y likewise, from the top-left.
inline int32_t cellWidthInPixels(const ConsoleScreen& s) { return scaledLength(s.cellWidth, drawDpiOf(s)); }
inline int32_t cellHeightInPixels(const ConsoleScreen& s) { return scaledLength(s.cellHeight, drawDpiOf(s)); }

// The glyph line (or column) that pixel p of a cell `pixels` long shows, of `lines`:
// nearest neighbour, sampled at the pixel's centre. On whole factors k it is p / k.
inline int32_t glyphLineAt(int32_t p, int32_t lines, int32_t pixels) { return (2 * p + 1) * lines / (2 * pixels); }

// The 16-bit cell index shared by every operation: row * columns + column, mod 65,536.
inline uint16_t cellIndex(const ConsoleScreen& s, int32_t column, int32_t row) {
    return static_cast<uint16_t>(static_cast<uint32_t>(row) * static_cast<uint32_t>(s.columns) +
                                 static_cast<uint32_t>(column));
}

inline int32_t cellCount(const ConsoleScreen& s) { return s.bufferBytes / 2; }

inline bool hasCells(const ConsoleScreen& s) { return s.liveCells != nullptr && s.bufferBytes > 0; }

// A zero-filled record with its number and the default palette; no font, no cells, no bitmaps.
ConsoleScreen* newScreen(uint8_t index);
// Frees the bitmaps (through the host) and the cell buffers, then the record; a held
// record is only marked, and its last ScreenHold frees it.
void deleteScreen(ConsoleScreen* screen, ConsoleHost& host);
void releaseScreen(ConsoleScreen& screen, ConsoleHost& host);

// Lays the grid out for a font selector on the client size; see CONM_SETFONT for results.
int32_t setFont(ConsoleScreen& screen, ConsoleHost& host, uint32_t selector, uint32_t wparam);
// Allocates setFont's cell buffers, calloc-like and freed with std::free. Tests replace
// it to make the allocation fail; nothing else does.
using CellAllocator = void* (*)(size_t count, size_t size);
extern CellAllocator g_cellAllocator;

void putChar(ConsoleScreen& screen, ConsoleHost& host, uint8_t c);
// putChar for every byte before the NUL; the conversion table is fetched once.
void putString(ConsoleScreen& screen, ConsoleHost& host, const char* text);
void advanceCursor(ConsoleScreen& screen, ConsoleHost& host);
void newLine(ConsoleScreen& screen, ConsoleHost& host);
void scrollUp(ConsoleScreen& screen, uint32_t top, uint32_t left, uint32_t right, uint32_t bottom);
void clearScreen(ConsoleScreen& screen);
void markForRedraw(ConsoleScreen& screen);
// -1 when the cell lies outside the grid or there are no cells.
int32_t putCell(ConsoleScreen& screen, uint32_t column, uint32_t row, ConsoleCell value);
// Row in bits 16-31, column in 0-15; -1 without a font.
int32_t pointToCell(const ConsoleScreen& screen, uint32_t x, uint32_t y);

}  // namespace console
