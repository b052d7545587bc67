// Gathers printed lines between two ticks and decides what one tick announces.
// Must not raise anything itself nor change the screen: the host raises, the tick
// passes the screen on show. Bounded: at most kMaxGridSide ordinary and
// kMaxImportantLines important lines of at most kMaxLineUnits units each are held,
// whatever a program prints between two ticks.
#include "announcer.h"

#include "cp437_unicode.h"

namespace console {

namespace {

std::u16string moreLines(int64_t n) {
    std::u16string digits;
    for (int64_t v = n; v > 0 || digits.empty(); v /= 10) digits.insert(digits.begin(), static_cast<char16_t>(u'0' + v % 10));
    return digits + (n == 1 ? u" more line" : u" more lines");
}

}  // namespace

void Announcer::LineRing::push() {
    if (count_ == capacity_) {
        ++dropped_;
        first_ = (first_ + 1) % capacity_;
        --count_;
    }
    const size_t slot = (first_ + count_) % capacity_;
    if (slot == lines_.size()) {
        lines_.emplace_back();
    } else {
        lines_[slot].clear();
    }
    ++count_;
}

bool Announcer::LineRing::anyText() {
    for (size_t i = 0; i < count_; ++i) {
        if (!at(i).empty()) return true;
    }
    return false;
}

std::u16string Announcer::LineRing::joined(int64_t max, int32_t& lineCount) {
    const int64_t total = dropped_ + static_cast<int64_t>(count_);
    const int64_t shown = total > max ? max : total;
    std::u16string text;
    lineCount = 0;
    if (total > shown) {
        text = moreLines(total - shown);
        ++lineCount;
    }
    for (size_t i = count_ - static_cast<size_t>(shown); i < count_; ++i) {
        if (lineCount > 0) text += u"\r\n";
        text += at(i);
        ++lineCount;
    }
    return text;
}

void Announcer::printed(const char* text, const uint8_t* ansiToOem, ConsoleAttribute attribute) {
    Kind kind = isImportantAttribute(attribute) ? Kind::Important : Kind::Ordinary;
    if (mark_ == PrintMark::Important) kind = Kind::Important;
    if (mark_ == PrintMark::Silent) kind = Kind::Silent;
    mark_ = PrintMark::None;
    if (text == nullptr) return;
    for (const auto* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
        printedSinceTick_ = true;
        const unsigned char c = *p;
        if (c == '\r') continue;
        if (c == '\n') {
            // An LF that ends an open line announced in an earlier tick adds nothing; nor
            // does one that ends a line nobody hears.
            if (!open_ && kind != Kind::Silent) (kind == Kind::Important ? important_ : ordinary_).push();
            open_ = false;
            continue;
        }
        if (kind == Kind::Silent) {
            // What follows on the same line is heard again, as a line of its own.
            open_ = true;
            openKind_ = kind;
            continue;
        }
        // A line that has filled kMaxLineUnits goes on as the next line, as the screen
        // wraps it: nothing printed is lost, it only counts as more lines. A part of
        // another importance starts a line of its own, so importance never spreads.
        LineRing& ring = kind == Kind::Important ? important_ : ordinary_;
        if (!open_ || openKind_ != kind || ring.count() == 0 || ring.last().size() >= kMaxLineUnits) ring.push();
        open_ = true;
        openKind_ = kind;
        const uint8_t code = ansiToOem != nullptr ? ansiToOem[c] : c;
        const uint16_t unit = code == 0 ? 0x20 : cp437ToUnicode[code];
        ring.last().push_back(static_cast<char16_t>(unit));
    }
}

Announcement Announcer::takeTick(const ConsoleScreen& s, bool cellsChanged) {
    Announcement a;
    const int64_t limit = s.rows <= 0 || s.rows > kMaxGridSide ? kMaxGridSide : s.rows;
    a.textChanged = changedInPlace_ || (cellsChanged && !printedSinceTick_);
    // Empty lines alone (a run of LFs) give nothing to say.
    if (ordinary_.anyText()) {
        a.text = ordinary_.joined(limit, a.lines);
        a.speak = true;
    }
    if (important_.anyText()) {
        int32_t lines = 0;
        a.importantText = important_.joined(static_cast<int64_t>(kMaxImportantLines), lines);
        a.speakImportant = true;
    }

    // The caret as the reader's text has it: a stopped picture keeps the cursor it had.
    const bool live = s.flags == 0;
    const int32_t column = live ? s.cursorColumn : s.savedCursorColumn;
    const int32_t row = live ? s.cursorRow : s.savedCursorRow;
    a.caretMoved = seen_ && (column != caretColumn_ || row != caretRow_ || s.screenIndex != screenIndex_);
    // The selection a reader sees outlives the drag that made it (selectEnabled), and a
    // reader's own Select makes one without any drag.
    const bool shown = s.selecting != 0 || s.selectEnabled != 0;
    a.selectionChanged = seen_ && (s.selecting != selecting_ || s.selectEnabled != selectEnabled_ ||
                                   (shown && (s.selectionAnchor != selectionAnchor_ || s.selectionEnd != selectionEnd_)));
    seen_ = true;
    caretColumn_ = column;
    caretRow_ = row;
    screenIndex_ = s.screenIndex;
    selecting_ = s.selecting;
    selectEnabled_ = s.selectEnabled;
    selectionAnchor_ = s.selectionAnchor;
    selectionEnd_ = s.selectionEnd;

    ordinary_.clear();
    important_.clear();
    changedInPlace_ = false;
    printedSinceTick_ = false;
    return a;
}

}  // namespace console
