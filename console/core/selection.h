// The selection rectangle of a screen and its text for the clipboard. Portable: reads
// cells only; the clipboard itself is the host's. Never reads outside the grid, also
// for indices left behind by a layout that has since shrunk.
#pragma once

#include <cstddef>
#include <cstdint>

#include "screen.h"

namespace console {

// Inclusive cell bounds.
struct SelectionRect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

// The rectangle between selectionAnchor and selectionEnd (each read as a 16-bit cell
// index, columns and rows ordered independently), cut to the grid. False when there is
// no selection (an index of -1), no grid, or no part of it left inside the grid.
bool selectionRect(const ConsoleScreen& screen, SelectionRect& rect);

// The rectangle's text from the picture on show, one line per row ended by CR LF, NUL
// terminated; cells of code 0 add nothing. Owns two malloc'd buffers.
class SelectionText {
public:
    SelectionText() = default;
    ~SelectionText();
    SelectionText(const SelectionText&) = delete;
    SelectionText& operator=(const SelectionText&) = delete;

    // False, with nothing built, when there is no rectangle or no memory.
    bool build(const ConsoleScreen& screen);

    const char* bytes() const { return bytes_; }        // codes unchanged
    const uint16_t* wide() const { return wide_; }      // the same from code page 437
    size_t length() const { return length_; }           // characters before the NUL
    size_t capacity() const { return capacity_; }       // rows x (columns + 2) + 1

private:
    char* bytes_ = nullptr;
    uint16_t* wide_ = nullptr;
    size_t length_ = 0;
    size_t capacity_ = 0;
};

// The Copy command's text work: builds the rectangle's text and hands it to the host's
// clipboard. False when nothing was placed (no rectangle, no memory, no clipboard).
bool copySelection(const ConsoleScreen& screen, ConsoleHost& host);

}  // namespace console
