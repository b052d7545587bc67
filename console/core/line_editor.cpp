// The input field: builds the edit line, waits for keys through the key ring (or, when
// nobody is at the keyboard, takes the host's prepared answer), edits, and echoes
// through the console's own messages. It keeps its screen with a ScreenHold and checks
// it after every wait, since the nested loop may delete or re-lay it out.
#include "line_editor.h"

#include <algorithm>
#include <cstring>

#include "announcer.h"
#include "keys.h"
#include "screen_hold.h"

namespace console {
namespace {

constexpr int32_t kBackspace = 8;
constexpr int32_t kEnter = 13;
constexpr int32_t kEscape = 27;

// Codes the type filter never sees: no key, four editing codes, Backspace, Enter, Escape.
bool passesUnfiltered(int32_t k) { return k <= CONK_HOME || k == kBackspace || k == kEnter || k == kEscape; }

// The code the field takes for k, or -1 when its type rejects it.
int32_t filterKey(uint32_t type, int32_t k) {
    const bool lower = k >= 'a' && k <= 'z';
    switch (type) {
    case CONI_DIGITS: return k >= '0' && k <= '9' ? k : -1;
    case CONI_HEX:
        if (lower) k -= 'a' - 'A';
        return (k >= '0' && k <= '9') || (k >= 'A' && k <= 'F') ? k : -1;
    case CONI_UPPER: return lower ? k - ('a' - 'A') : k;
    default: return k;
    }
}

class LineEditor {
public:
    LineEditor(ConsoleInstance& instance, ConsoleHost& host, ConsoleScreen& screen, uint32_t wparam)
        : instance_(instance), host_(host), s_(screen), hold_(screen),
          length_(static_cast<int32_t>(wparam & kMaxFieldLength)), type_(wparam >> 12) {}

    int32_t run(char* buffer);

private:
    void start(const char* buffer);
    int32_t answerUnattended(char* buffer);
    bool actOn(int32_t k, int32_t e, char* buffer, int32_t* result);
    void typeCharacter(int32_t k, int32_t e);
    void backspace(int32_t e);
    void deleteAtCursor(int32_t e);

    void echo();
    void draw();
    void placeCursor();
    void keepStartInGrid();
    bool fitsRow() const;
    bool scrollView();
    int32_t viewWidth() const { return s_.columns - a_; }
    void send(uint32_t message, intptr_t lparam) { host_.sendToSelf(message, s_.screenIndex, lparam); }

    ConsoleInstance& instance_;
    ConsoleHost& host_;
    ConsoleScreen& s_;
    ScreenHold hold_;
    const int32_t length_;
    const uint32_t type_;
    char line_[kMaxFieldLength + 1];
    int32_t a_ = 0;     // start column
    int32_t b_ = 0;     // start row
    int32_t p_ = 0;     // edit position
    int32_t view_ = 0;  // first position shown when the field is wider than its row
    bool insert_ = true;
};

int32_t LineEditor::run(char* buffer) {
    // Like every wait, the field ignores an abort that was asked for before it began.
    instance_.waitAbort = 0;
    if (host_.unattendedInput()) return answerUnattended(buffer);
    host_.setFocus();  // the focus change reaches other windows, which may call back
    if (hold_.gone()) return 0;
    start(buffer);
    echo();
    for (;;) {
        if (instance_.closing || instance_.waitAbort || hold_.gone()) return 0;
        const int32_t e = lastNonBlank(line_, length_);
        const KeyWait wait = pumpUntilKey(instance_, host_);
        // gone: the field ends as if aborted.
        if ((wait.ended && !wait.aborted) || hold_.gone()) return 0;
        const bool relaidOut = hold_.relaidOut();
        if (wait.aborted) {
            // The cursor goes back on the field (output may have moved it during the
            // wait), unless a new grid has no field to go back to.
            if (!relaidOut) placeCursor();
            return 0;
        }
        if (relaidOut) {
            // A new font blanked the grid: show the field again where it now fits.
            keepStartInGrid();
            view_ = 0;
            echo();
        }
        int32_t result = 0;
        int32_t k = wait.key;
        if (!passesUnfiltered(k)) k = filterKey(type_, k);
        if (k >= 0 && actOn(k, e, buffer, &result)) return result;
        placeCursor();
        if (instance_.closing) return 0;
    }
}

// The edit line from the caller's text, and the field's place on the grid.
void LineEditor::start(const char* buffer) {
    int32_t given = 0;  // the caller's text, at most length_ characters of it
    while (given < length_ && buffer[given] != 0) ++given;
    for (int32_t i = 0; i < length_; ++i) {
        const auto c = static_cast<unsigned char>(i < given ? buffer[i] : ' ');
        line_[i] = c < 0x20 ? ' ' : static_cast<char>(c);
    }
    line_[length_] = 0;

    a_ = s_.cursorColumn;
    b_ = s_.cursorRow;
    keepStartInGrid();
}

// Nobody is at the keyboard: the field takes the host's next answer as if it had been
// cleared and the answer typed, or keeps its initial text when none is left, shows it
// once and ends as Enter ends it. No focus, no wait. A closing window ends the field as
// a wait would, before an answer is used up.
int32_t LineEditor::answerUnattended(char* buffer) {
    if (instance_.closing) return 0;
    // Not cut to the field: characters the type rejects must not use up its room.
    char answer[kMaxFieldLength + 1];
    const bool answered = host_.nextAnswer(answer, sizeof answer);
    answer[kMaxFieldLength] = 0;  // a host that forgot the terminator cannot take us past the end
    if (hold_.gone()) return 0;
    start(buffer);
    if (answered) {
        std::memset(line_, ' ', static_cast<size_t>(length_));
        // Typed at the end of a cleared field every character lands at the edit
        // position, so nothing is ever shifted: writing it there is typing it.
        for (const char* c = answer; *c != 0 && p_ < length_; ++c) {
            const auto k = static_cast<unsigned char>(*c);
            const int32_t typed = k < 0x20 ? -1 : filterKey(type_, k);
            if (typed >= 0) line_[p_++] = static_cast<char>(typed);
        }
    }
    echo();
    int32_t result = 0;
    actOn(kEnter, lastNonBlank(line_, length_), buffer, &result);
    return result;
}

// True when the key ends the input, with its result.
bool LineEditor::actOn(int32_t k, int32_t e, char* buffer, int32_t* result) {
    switch (k) {
    case CONK_LEFT:
        if (p_ > 0) --p_;
        break;
    case CONK_RIGHT:
        if (p_ <= e && p_ < length_) ++p_;  // a field of length 0 has no place to move to
        break;
    case CONK_DELETE: deleteAtCursor(e); break;
    case CONK_HOME: p_ = 0; break;
    case CONK_END: p_ = e; break;
    case CONK_INSERT: insert_ = !insert_; break;
    case kBackspace: backspace(e); break;
    case kEnter: {
        newLine(s_, host_);
        const int32_t n = length_ == 0 ? 0 : e + 1;
        std::memcpy(buffer, line_, static_cast<size_t>(n));
        buffer[n] = 0;
        *result = 1;
        return true;
    }
    case kEscape:
        newLine(s_, host_);
        *result = 0;
        return true;
    default:
        if (k >= 0x20) typeCharacter(k, e);
        break;
    }
    return false;
}

void LineEditor::typeCharacter(int32_t k, int32_t e) {
    if (p_ >= length_) return;
    if (p_ < e && insert_) {
        std::memmove(line_ + p_ + 1, line_ + p_, static_cast<size_t>(length_ - 1 - p_));  // the last one drops out
    }
    line_[p_] = static_cast<char>(k);
    echo();
    ++p_;
}

void LineEditor::backspace(int32_t e) {
    if (p_ == 0) return;
    if (p_ - 1 == e) {
        line_[e] = ' ';
        if (fitsRow()) {
            const auto blank = static_cast<ConsoleCell>((s_.attribute << 8) | ' ');
            send(CONM_PUTCELL, static_cast<intptr_t>(CONSOLE_PUTCELL_LPARAM(static_cast<uint32_t>(a_ + p_ - 1),
                                                                            static_cast<uint32_t>(b_), blank)));
        } else {
            draw();
        }
        --p_;
        return;
    }
    for (int32_t i = p_ - 1; i < e; ++i) {
        line_[i] = line_[i + 1];
        line_[i + 1] = ' ';
    }
    --p_;
    echo();
}

void LineEditor::deleteAtCursor(int32_t e) {
    // In a field of length 0, position e = 0 is the terminator, not a character.
    if (p_ <= e && length_ > 0) {
        std::memmove(line_ + p_, line_ + p_ + 1, static_cast<size_t>(e - p_));
        line_[e] = ' ';
    }
    echo();
}

// The field as printed text from its start, as long as that stays on its row. A field
// that would wrap (and could scroll the screen, moving the text away from its start)
// shows instead the part of the line around the cursor that fits on the row.
bool LineEditor::fitsRow() const {
    if (!hasCells(s_) || s_.columns <= 0 || s_.rows <= 0) return true;  // nothing shows either way
    const int32_t end = a_ + length_;
    return end < s_.columns || (end == s_.columns && b_ + 1 < s_.rows);
}

void LineEditor::keepStartInGrid() {
    if (!hasCells(s_) || s_.columns <= 0 || s_.rows <= 0) return;
    a_ = std::clamp(a_, 0, s_.columns - 1);
    b_ = std::clamp(b_, 0, s_.rows - 1);
}

void LineEditor::echo() {
    if (fitsRow()) {
        send(CONM_SETCURSORPOS, static_cast<intptr_t>(CONSOLE_CURSORPOS_LPARAM(a_, b_)));
        host_.log(line_);
        send(CONM_PUTSTRING, reinterpret_cast<intptr_t>(line_));
        send(CONM_SETCURSORPOS, static_cast<intptr_t>(CONSOLE_CURSORPOS_LPARAM(a_, b_)));
        return;
    }
    host_.log(line_);
    scrollView();
    draw();
    send(CONM_SETCURSORPOS, static_cast<intptr_t>(CONSOLE_CURSORPOS_LPARAM(a_ + p_ - view_, b_)));
}

// The visible part of a field wider than its row, cell by cell: no cursor movement, no
// wrap, no scroll.
void LineEditor::draw() {
    const uint8_t* oem = host_.ansiToOemTable();
    const int32_t width = viewWidth();
    for (int32_t j = 0; j < width; ++j) {
        const int32_t i = view_ + j;
        const auto c = static_cast<uint8_t>(i < length_ ? line_[i] : ' ');
        const auto cell = static_cast<ConsoleCell>((s_.attribute << 8) | oem[c]);
        send(CONM_PUTCELL, static_cast<intptr_t>(CONSOLE_PUTCELL_LPARAM(static_cast<uint32_t>(a_ + j),
                                                                        static_cast<uint32_t>(b_), cell)));
    }
}

// Moves the view so that the cursor lies on the row; true when it moved.
bool LineEditor::scrollView() {
    const int32_t width = std::max(viewWidth(), 1);
    const int32_t before = view_;
    if (p_ < view_) view_ = p_;
    if (p_ > view_ + width - 1) view_ = p_ - width + 1;
    return view_ != before;
}

void LineEditor::placeCursor() {
    int32_t column = a_ + p_;
    if (!fitsRow()) {
        if (scrollView()) draw();
        column -= view_;
    }
    // Columns travel in 8 bits: just right of a field that ends a 256-column row, the
    // cursor stays on the last column rather than wrapping to the first.
    column = std::min(column, kMaxGridSide - 1);
    send(CONM_SETCURSORPOS, static_cast<intptr_t>(CONSOLE_CURSORPOS_LPARAM(column, b_)));
}

}  // namespace

int32_t lastNonBlank(const char* line, int32_t n) {
    int32_t i = n - 1;
    while (i > 0 && line[i] == ' ') --i;
    return std::max(i, 0);
}

int32_t editLine(ConsoleInstance& instance, ConsoleHost& host, uint32_t wparam, char* buffer) {
    if (instance.activeScreen == nullptr || buffer == nullptr) return -1;
    // Looked up again at the end: a reader may have come (or the window gone) meanwhile.
    if (Announcer* a = host.announcer()) a->enterEditing();
    LineEditor editor(instance, host, *instance.activeScreen, wparam);
    const int32_t result = editor.run(buffer);
    if (Announcer* a = host.announcer()) a->leaveEditing();
    return result;
}

}  // namespace console
