// What a screen reader is told about new output: lines printed to the active screen
// are gathered between two timer ticks and handed out as one announcement per tick;
// changes in place are reported apart, so the same text is never reported twice.
// Portable; it only collects and decides, the platform raises the events.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "screen.h"

namespace console {

struct Announcement {
    bool speak = false;          // a notification is due
    bool important = false;      // it holds a line printed in red, or a result
    bool textChanged = false;    // cells changed in place: a text-changed event is due
    std::u16string text;         // lines joined by CR LF
    int32_t lines = 0;           // lines in text (the "more lines" line included)
};

class Announcer {
public:
    // A line longer than this goes on as a new line (as the screen wraps it).
    static constexpr size_t kMaxLineUnits = 4 * static_cast<size_t>(kMaxGridSide);

    // Text printed to the active screen, as the program gave it (ANSI bytes, NUL-ended);
    // ansiToOem converts as the screen does. A line ends at LF; CR is dropped.
    void printed(const char* text, const uint8_t* ansiToOem, ConsoleAttribute attribute);
    // The next printed text is a result: important whatever its colour.
    void markNextImportant() { nextImportant_ = true; }
    // Cells changed other than by printing (a cell put, a clear, a scroll, an edit).
    // Ignored inside a print: the scroll a line end asks for is part of the output.
    void changedInPlace() {
        if (printing_ == 0) changedInPlace_ = true;
    }
    // Around a print, whose own scrolls re-enter the console.
    void enterPrint() { ++printing_; }
    void leavePrint() {
        if (printing_ > 0) --printing_;
    }
    // Around an input field: its redraws are edits in place, not output (a reader
    // echoes the keys itself).
    void enterEditing() { ++editing_; }
    void leaveEditing() {
        if (editing_ > 0) --editing_;
    }
    bool editing() const { return editing_ > 0; }

    // One timer tick: everything gathered since the last one, then empty again.
    // cellsChanged: the tick found cells that differ from the picture on show; when
    // nothing was printed meanwhile, that is a change in place.
    // At most maxLines lines (a screenful) are given; before them, one line says how
    // many earlier lines were left out ("N more lines"). A line not yet ended is given
    // too, and what follows it on the same line later comes as a new line.
    Announcement takeTick(int32_t maxLines, bool cellsChanged);

private:
    struct Line {
        std::u16string text;
        bool important = false;
    };
    void pushLine();
    Line& line(size_t i) { return lines_[(first_ + i) % static_cast<size_t>(kMaxGridSide)]; }

    // A ring of at most kMaxGridSide lines, oldest at first_; its slots (and their
    // strings' room) are used again from tick to tick.
    std::vector<Line> lines_;
    size_t first_ = 0;
    size_t count_ = 0;
    // Lines pushed out of the ring by newer ones: only counted.
    int64_t dropped_ = 0;
    bool droppedImportant_ = false;
    bool printedSinceTick_ = false;
    bool open_ = false;  // the last line has had no LF yet
    int32_t printing_ = 0;
    int32_t editing_ = 0;
    bool nextImportant_ = false;
    bool changedInPlace_ = false;
};

// Red and light red foregrounds make a line important.
inline bool isImportantAttribute(ConsoleAttribute attribute) {
    const unsigned fore = attribute & 15u;
    return fore == 4u || fore == 12u;
}

}  // namespace console
