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
    bool speak = false;            // ordinary output is due, superseding what is still unsaid
    std::u16string text;           // its lines joined by CR LF
    int32_t lines = 0;             // lines in text (the "more lines" line included)
    bool speakImportant = false;   // lines printed in red, or a result: every one is said
    std::u16string importantText;  // those lines, joined by CR LF
    bool textChanged = false;      // cells changed in place: a text-changed event is due
    bool caretMoved = false;       // the cursor on show moved since the last tick (or another screen shows)
    bool selectionChanged = false; // the mouse selection on show changed
};

// How the next printed text is told.
enum class PrintMark : uint8_t {
    None,       // by its colour: red is important, the rest ordinary
    Important,  // a result: important whatever its colour
    Silent,     // said by the program in another way (a message box): not announced
};

class Announcer {
public:
    // A line longer than this goes on as a new line (as the screen wraps it).
    static constexpr size_t kMaxLineUnits = 4 * static_cast<size_t>(kMaxGridSide);
    // Important lines held per tick; beyond it the oldest are only counted.
    static constexpr size_t kMaxImportantLines = 16;

    // Text printed to the active screen, as the program gave it (ANSI bytes, NUL-ended);
    // ansiToOem converts as the screen does. A line ends at LF; CR is dropped.
    void printed(const char* text, const uint8_t* ansiToOem, ConsoleAttribute attribute);
    // The mark holds for the very next text printed, and for nothing after it: any other
    // console message, or a print the reader does not hear, drops it.
    void markNext(PrintMark mark) { mark_ = mark; }
    void dropMark() { mark_ = PrintMark::None; }
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

    // One timer tick of the screen on show: everything gathered since the last one,
    // then empty again. cellsChanged: the tick found cells that differ from the picture
    // on show; when nothing was printed meanwhile, that is a change in place.
    // Of ordinary lines at most a screenful (the screen's rows) is given; before them,
    // one line says how many earlier lines were left out ("N more lines"). Important
    // lines are never capped away with them: they come apart, in importantText. A line
    // not yet ended is given too, and what follows it on the same line later comes as a
    // new line; so does a part of a line printed with another importance.
    Announcement takeTick(const ConsoleScreen& screen, bool cellsChanged);

private:
    // A bounded ring of lines, oldest first; its slots (and their strings' room) are
    // used again from tick to tick. Lines pushed out are only counted.
    class LineRing {
    public:
        explicit LineRing(size_t capacity) : capacity_(capacity) {}
        void push();
        std::u16string& last() { return at(count_ - 1); }
        std::u16string& at(size_t i) { return lines_[(first_ + i) % capacity_]; }
        size_t count() const { return count_; }
        int64_t dropped() const { return dropped_; }
        bool anyText();
        // The newest max lines, after an "N more lines" line when some are left out.
        std::u16string joined(int64_t max, int32_t& lineCount);
        void clear() { first_ = count_ = 0, dropped_ = 0; }

    private:
        std::vector<std::u16string> lines_;
        size_t capacity_;
        size_t first_ = 0;
        size_t count_ = 0;
        int64_t dropped_ = 0;
    };
    enum class Kind : uint8_t { Ordinary, Important, Silent };

    LineRing ordinary_{static_cast<size_t>(kMaxGridSide)};
    LineRing important_{kMaxImportantLines};
    bool printedSinceTick_ = false;
    bool open_ = false;  // the last line has had no LF yet
    Kind openKind_ = Kind::Ordinary;
    int32_t printing_ = 0;
    int32_t editing_ = 0;
    PrintMark mark_ = PrintMark::None;
    bool changedInPlace_ = false;
    // What the reader saw at the last tick: the caret and the selection on show.
    bool seen_ = false;
    int32_t caretColumn_ = 0, caretRow_ = 0;
    uint8_t screenIndex_ = 0;
    uint8_t selecting_ = 0;
    uint8_t selectEnabled_ = 0;
    int32_t selectionAnchor_ = 0, selectionEnd_ = 0;
};

// Red and light red foregrounds make a line important.
inline bool isImportantAttribute(ConsoleAttribute attribute) {
    const unsigned fore = attribute & 15u;
    return fore == 4u || fore == 12u;
}

}  // namespace console
