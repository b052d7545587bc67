// Gathers printed lines between two ticks and decides what one tick announces.
// Must not raise anything itself nor look at the screen: the host raises, the tick
// passes what the cells showed. Bounded: at most kMaxGridSide lines of at most
// kMaxLineUnits units each are held, whatever a program prints between two ticks.
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

void Announcer::pushLine() {
    constexpr auto kRing = static_cast<size_t>(kMaxGridSide);
    if (count_ == kRing) {
        droppedImportant_ = droppedImportant_ || lines_[first_].important;
        ++dropped_;
        first_ = (first_ + 1) % kRing;
        --count_;
    }
    const size_t slot = (first_ + count_) % kRing;
    if (slot == lines_.size()) {
        lines_.emplace_back();
    } else {
        lines_[slot].text.clear();
        lines_[slot].important = false;
    }
    ++count_;
}

void Announcer::printed(const char* text, const uint8_t* ansiToOem, ConsoleAttribute attribute) {
    const bool important = isImportantAttribute(attribute) || nextImportant_;
    nextImportant_ = false;
    if (text == nullptr) return;
    for (const auto* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
        printedSinceTick_ = true;
        const unsigned char c = *p;
        if (c == '\r') continue;
        if (c == '\n') {
            // An LF that ends an open line announced in an earlier tick adds nothing.
            if (!open_) pushLine();
            open_ = false;
            continue;
        }
        // A line that has filled kMaxLineUnits goes on as the next line, as the screen
        // wraps it: nothing printed is lost, it only counts as more lines.
        if (!open_ || count_ == 0 || line(count_ - 1).text.size() >= kMaxLineUnits) pushLine();
        open_ = true;
        const uint8_t code = ansiToOem != nullptr ? ansiToOem[c] : c;
        const uint16_t unit = code == 0 ? 0x20 : cp437ToUnicode[code];
        Line& last = line(count_ - 1);
        last.text.push_back(static_cast<char16_t>(unit));
        last.important = last.important || important;
    }
}

Announcement Announcer::takeTick(int32_t maxLines, bool cellsChanged) {
    Announcement a;
    const int64_t limit = maxLines <= 0 || maxLines > kMaxGridSide ? kMaxGridSide : maxLines;
    a.textChanged = changedInPlace_ || (cellsChanged && !printedSinceTick_);
    bool anyText = false;
    bool important = droppedImportant_;
    for (size_t i = 0; i < count_; ++i) {
        anyText = anyText || !line(i).text.empty();
        important = important || line(i).important;
    }
    // Empty lines alone (a run of LFs) give nothing to say.
    if (anyText) {
        const int64_t total = dropped_ + static_cast<int64_t>(count_);
        const int64_t shown = total > limit ? limit : total;
        int32_t count = 0;
        if (total > shown) {
            a.text = moreLines(total - shown);
            ++count;
        }
        for (size_t i = count_ - static_cast<size_t>(shown); i < count_; ++i) {
            if (count > 0) a.text += u"\r\n";
            a.text += line(i).text;
            ++count;
        }
        a.speak = true;
        a.important = important;
        a.lines = count;
    }
    first_ = 0;
    count_ = 0;
    dropped_ = 0;
    droppedImportant_ = false;
    changedInPlace_ = false;
    printedSinceTick_ = false;
    return a;
}

}  // namespace console
