// The input field of CONM_INPUTLINE driven through the dispatch with a fake pump that
// types one key per wait: editing keys, insert and overwrite, filters, echo and log,
// limits, and screens deleted or re-laid out while the field waits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/core/line_editor.h"
#include "recording_host.h"

namespace console {
namespace {

// Keys as the ring carries them.
constexpr uint32_t L = CONK_LEFT, R = CONK_RIGHT, DEL = CONK_DELETE, HOME = CONK_HOME, END = CONK_END,
                   INS = CONK_INSERT, BS = 8, ENTER = 13, ESC = 27;

// One screen with an input field at (kColumn, kRow); the fake pump types the keys one
// per wait and, once they are used up, aborts the wait as another program could.
class Field {
public:
    static constexpr int kColumn = 5;
    static constexpr int kRow = 3;

    Field() : s(makeScreen(host)) {
        host.send(CONM_SETATTR, 0, 0x1E);
        host.pump = [this] {
            positions.push_back(s.cursorColumn - column_);
            if (next_ < keys_.size()) {
                host.send(kWmChar, keys_[next_++]);
            } else {
                host.instance.waitAbort = 1;
            }
            return true;
        };
    }

    // Runs one field; the result of CONM_INPUTLINE. buffer holds what the caller gets.
    int32_t run(const std::string& initial, uint32_t length, std::vector<uint32_t> keys, uint32_t type = CONI_TEXT,
                int column = kColumn, int row = kRow) {
        keys_ = std::move(keys);
        next_ = 0;
        column_ = column;
        positions.clear();
        // Room to spare, so that a write beyond L + 1 bytes shows as a changed '#'.
        buffer.assign(std::max<size_t>(length + 1, initial.size() + 1) + 4, '#');
        std::copy(initial.begin(), initial.end(), buffer.begin());
        buffer[initial.size()] = 0;
        host.send(CONM_SETCURSORPOS, 0, CONSOLE_CURSORPOS_LPARAM(column, row));
        return static_cast<int32_t>(host.send(CONM_INPUTLINE, length | (type << 12), reinterpret_cast<intptr_t>(buffer.data())));
    }

    std::string result() const { return std::string(buffer.data()); }
    // Edit position before the last key was taken (one record per wait).
    int position() const { return positions.empty() ? -1 : positions.back(); }

    // Characters shown on a row from a column.
    std::string shown(int n, int column = kColumn, int row = kRow) const {
        std::string t;
        for (int i = 0; i < n; ++i) t += static_cast<char>(cellAt(s, column + i, row) & 0xFF);
        return t;
    }

    RecordingHost host;
    ConsoleScreen& s;
    std::vector<char> buffer;
    std::vector<int> positions;

private:
    std::vector<uint32_t> keys_;
    size_t next_ = 0;
    int column_ = kColumn;
};

struct Case {
    const char* name;
    const char* initial;
    uint32_t length;
    std::vector<uint32_t> keys;  // Enter is added
    const char* expected;
    int position;
};

TEST(LineEditorKeys, EveryKeyInInsertAndOverwriteAtStartMiddleEndAndLimit) {
    const Case cases[] = {
        {"insert at start", "abc", 10, {'x'}, "xabc", 1},
        {"insert in the middle", "abc", 10, {R, 'x'}, "axbc", 2},
        {"insert on the last character replaces it", "abc", 10, {END, 'x'}, "abx", 3},
        {"insert after the end appends", "abc", 10, {END, R, 'x'}, "abcx", 4},
        {"insert into a full field pushes the last one out", "abc", 3, {'x'}, "xab", 1},
        {"insert in the middle of a full field", "abc", 3, {R, 'x'}, "axb", 2},
        {"typing at the length limit is ignored", "abc", 3, {END, R, 'x'}, "abc", 3},
        {"overwrite at start", "abc", 10, {INS, 'x'}, "xbc", 1},
        {"overwrite in the middle", "abc", 10, {INS, R, 'x'}, "axc", 2},
        {"overwrite after the end appends", "abc", 10, {INS, END, R, 'x', 'y'}, "abcxy", 5},
        {"overwrite at the limit", "abc", 3, {INS, END, 'x', 'y'}, "abx", 3},
        {"insert toggles back", "abc", 10, {INS, INS, 'x'}, "xabc", 1},
        {"left stops at the start", "abc", 10, {L, L, R, R, L}, "abc", 1},
        {"right stops just after the last character", "abc", 10, {R, R, R, R, R}, "abc", 3},
        {"right stops at the limit", "abc", 3, {R, R, R, R}, "abc", 3},
        {"home", "abc", 10, {END, HOME}, "abc", 0},
        {"end goes onto the last character", "abc", 10, {END}, "abc", 2},
        {"end on a blank field stays at 0", "", 10, {END}, " ", 0},
        {"delete at start", "abc", 10, {DEL}, "bc", 0},
        {"delete in the middle", "abc", 10, {R, DEL}, "ac", 1},
        {"delete the last character", "abc", 10, {END, DEL}, "ab", 2},
        {"delete after the end changes nothing", "abc", 10, {END, R, DEL}, "abc", 3},
        {"delete in a full field", "abc", 3, {HOME, DEL}, "bc", 0},
        {"delete closes an inner gap", "a c", 10, {R, DEL}, "ac", 1},
        {"backspace at start does nothing", "abc", 10, {BS}, "abc", 0},
        {"backspace in the middle", "abc", 10, {R, R, BS}, "ac", 1},
        {"backspace after the end", "abc", 10, {END, R, BS}, "ab", 2},
        {"backspace at the limit", "abc", 3, {END, R, BS, BS}, "a", 1},
        {"backspace far behind the text", "a  b", 10, {END, DEL, BS}, "a", 2},
        {"other control codes are ignored", "abc", 10, {7, 9, 10, 31}, "abc", 0},
        {"characters from 0x80 up are kept", "\xE9t\xE9", 10, {END, R, 0xFC}, "\xE9t\xE9\xFC", 4},
    };
    for (const Case& c : cases) {
        Field f;
        std::vector<uint32_t> keys = c.keys;
        keys.push_back(ENTER);
        EXPECT_EQ(f.run(c.initial, c.length, keys), 1) << c.name;
        EXPECT_EQ(f.result(), c.expected) << c.name;
        EXPECT_EQ(f.position(), c.position) << c.name << ": edit position before Enter";
    }
}

TEST(LineEditorKeys, BackspaceAfterTheLastCharacterWritesOneCellAndOtherEditsEchoTheLine) {
    Field f;
    f.run("abc", 10, {END, R});
    f.host.sent.clear();
    f.host.logged.clear();
    f.run("abc", 10, {END, R, BS});
    size_t putCells = 0, putStrings = 0;
    bool afterBackspace = false;
    for (const SentMessage& m : f.host.sent) {
        if (m.message == CONM_PUTCELL) {
            ++putCells;
            EXPECT_EQ(m.lparam, static_cast<intptr_t>(CONSOLE_PUTCELL_LPARAM(Field::kColumn + 2, Field::kRow, 0x1E20)));
            afterBackspace = true;
        }
        if (m.message == CONM_PUTSTRING) {
            ++putStrings;
            EXPECT_FALSE(afterBackspace);
        }
    }
    EXPECT_EQ(putCells, 1u);
    EXPECT_EQ(putStrings, 1u) << "only the initial echo prints the line";
    EXPECT_EQ(f.shown(4), "ab  ");
    EXPECT_EQ(f.host.logged.size(), 1u);
}

TEST(LineEditorEcho, EachEchoPrintsAndLogsTheWholeLineFromTheStart) {
    Field f;
    EXPECT_EQ(f.run("ab", 6, {'x'}), 0) << "ended by an abort, not by Enter";
    ASSERT_EQ(f.host.logged.size(), 2u);
    EXPECT_EQ(f.host.logged[0], "ab    ");
    EXPECT_EQ(f.host.logged[1], "xab   ");
    EXPECT_EQ(f.shown(6), "xab   ");
    EXPECT_EQ(cellAt(f.s, Field::kColumn, Field::kRow) >> 8, 0x1E) << "echo uses the screen's attribute";
    EXPECT_EQ(f.s.cursorColumn, Field::kColumn + 1);
    EXPECT_EQ(f.s.cursorRow, Field::kRow);
    EXPECT_EQ(f.result(), "ab") << "an input cut short leaves the buffer alone";

    // The echo's messages, in order: cursor to the start, print, cursor back.
    std::vector<uint32_t> order;
    for (const SentMessage& m : f.host.sent) {
        if (m.message == CONM_SETCURSORPOS || m.message == CONM_PUTSTRING) order.push_back(m.message);
    }
    ASSERT_GE(order.size(), 3u);
    EXPECT_EQ(order[0], uint32_t{CONM_SETCURSORPOS});
    EXPECT_EQ(order[1], uint32_t{CONM_PUTSTRING});
    EXPECT_EQ(order[2], uint32_t{CONM_SETCURSORPOS});
}

TEST(LineEditorEnd, EnterCutsAfterTheLastCharacterAndEscapeKeepsTheBuffer) {
    Field f;
    EXPECT_EQ(f.run("", 5, {ENTER}), 1);
    EXPECT_EQ(f.result(), " ") << "an all-blank field gives one blank";
    EXPECT_EQ(f.s.cursorColumn, 0);
    EXPECT_EQ(f.s.cursorRow, Field::kRow + 1) << "Enter starts a new line";

    EXPECT_EQ(f.run("ab  ", 4, {ENTER}), 1);
    EXPECT_EQ(f.result(), "ab");

    EXPECT_EQ(f.run("keep", 10, {'x', ESC}), 0);
    EXPECT_EQ(f.result(), "keep");
    EXPECT_EQ(f.s.cursorRow, Field::kRow + 1) << "Escape starts a new line too";

    EXPECT_EQ(f.run("a\tb\x01", 10, {ENTER}), 1);
    EXPECT_EQ(f.result(), "a b") << "control characters of the initial text become blanks";

    EXPECT_EQ(f.run("abcdef", 3, {ENTER}), 1);
    EXPECT_EQ(f.result(), "abc") << "initial text is cut to the field";
    EXPECT_EQ(f.buffer[4], 'e') << "nothing beyond L + 1 bytes is written";
}

TEST(LineEditorEnd, FieldOfLengthZeroTakesNothingAndWritesOnlyTheTerminator) {
    Field f;
    EXPECT_EQ(f.run("", 0, {'x', R, DEL, BS, END, 'y', ENTER}), 1);
    EXPECT_EQ(f.result(), "");
    for (size_t i = 0; i < f.positions.size(); ++i) EXPECT_EQ(f.positions[i], 0) << "key " << i;
    EXPECT_EQ(f.buffer[1], '#');
}

TEST(LineEditorFilters, EachTypeAcceptsAndConvertsItsCharacters) {
    Field f;
    EXPECT_EQ(f.run("", 10, {'1', 'a', '2', '/', ':', '9', ENTER}, CONI_DIGITS), 1);
    EXPECT_EQ(f.result(), "129");

    EXPECT_EQ(f.run("", 10, {'f', 'g', 'A', '0', 'z', ENTER}, CONI_HEX), 1);
    EXPECT_EQ(f.result(), "FA0");

    EXPECT_EQ(f.run("", 10, {'a', 'Z', '1', 0xE9, '-', ENTER}, CONI_UPPER), 1);
    EXPECT_EQ(f.result(), "AZ1\xE9-");

    for (uint32_t type : {uint32_t{CONI_TEXT}, 1u, 5u, 0xFFFFFu}) {
        EXPECT_EQ(f.run("", 10, {'a', 'Z', '1', 0xE9, ENTER}, type), 1);
        EXPECT_EQ(f.result(), "aZ1\xE9") << type;
    }
}

TEST(LineEditorFilters, DigitAndHexFieldsRejectEndAndInsertButKeepTheOtherEditingKeys) {
    Field f;
    EXPECT_EQ(f.run("12", 10, {END}, CONI_HEX), 0);
    EXPECT_EQ(f.position(), 0) << "End is filtered like a character";
    EXPECT_EQ(f.run("12", 10, {INS, '3'}, CONI_DIGITS), 0);
    EXPECT_EQ(f.shown(3), "312") << "Insert was rejected, so still inserting";
    EXPECT_EQ(f.run("1234", 10, {R, R, L, DEL, HOME, BS, ENTER}, CONI_DIGITS), 1);
    EXPECT_EQ(f.result(), "134");
}

TEST(LineEditorRow, FieldWiderThanItsRowScrollsWithinTheRowInsteadOfWrapping) {
    Field f;  // 118 columns, 26 rows
    const int start = 110;
    f.host.sent.clear();
    EXPECT_EQ(f.run("", 20, {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', HOME}, CONI_TEXT, start, 25), 0);
    EXPECT_EQ(f.host.count(CONM_SCROLL), 0u) << "the echo never scrolls the screen";
    EXPECT_EQ(f.host.count(CONM_PUTSTRING), 0u);
    EXPECT_EQ(f.shown(8, start, 25), "abcdefgh") << "Home brought the start of the line back into view";
    EXPECT_EQ(f.s.cursorColumn, start);
    EXPECT_EQ(f.run("", 20, {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l'}, CONI_TEXT, start, 25), 0);
    EXPECT_EQ(f.shown(8, start, 25), "fghijkl ");
    EXPECT_EQ(f.s.cursorColumn, 117) << "the cursor stays on the row";
    EXPECT_EQ(f.host.logged.back(), "abcdefghijkl        ") << "the log gets the whole line";
    EXPECT_EQ(cellAt(f.s, 0, 24), 0) << "nothing spilled onto other rows";

    EXPECT_EQ(f.run("", 20, {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', ENTER}, CONI_TEXT, start, 25), 1);
    EXPECT_EQ(f.result(), "abcdefghijkl");
}

TEST(LineEditorRow, StartOutsideTheGridIsBroughtIntoIt) {
    Field f;
    EXPECT_EQ(f.run("", 3, {}, CONI_TEXT, 200, 400), 0);
    EXPECT_EQ(f.s.cursorColumn, 117);
    EXPECT_EQ(f.s.cursorRow, 25);
    EXPECT_EQ(f.run("", 3, {'q'}, CONI_TEXT, 50, 400), 0);
    EXPECT_EQ(cellAt(f.s, 50, 25) & 0xFF, 'q');
    EXPECT_EQ(f.host.count(CONM_SCROLL), 0u);
}

TEST(LineEditorLifetime, ScreenDeletedDuringTheInputEndsItSafely) {
    Field f;
    std::vector<char> buffer = {'a', 'b', 0, 0};
    f.host.pump = [&] {
        f.host.send(CONM_DELETESCREEN, 0);
        return true;
    };
    EXPECT_EQ(f.host.send(CONM_INPUTLINE, 3, reinterpret_cast<intptr_t>(buffer.data())), 0);
    EXPECT_EQ(std::string(buffer.data()), "ab");
    EXPECT_EQ(f.host.instance.screens[0], nullptr);
    EXPECT_EQ(f.host.liveBitmaps(), 0u) << "the screen's bitmaps went at once";

    // The field's screen is not the active one when it goes.
    RecordingHost host;
    makeScreen(host, 1);
    makeScreen(host, 0);
    host.pump = [&] {
        host.send(CONM_SELECTSCREEN, 1);
        host.send(CONM_DELETESCREEN, 0);
        host.send(kWmChar, 'x');
        host.send(kWmChar, ENTER);
        return true;
    };
    EXPECT_EQ(host.send(CONM_INPUTLINE, 3, reinterpret_cast<intptr_t>(buffer.data())), 0);
    EXPECT_EQ(std::string(buffer.data()), "ab");
}

TEST(LineEditorLifetime, FontChangeDuringTheInputShowsTheFieldAgainOnTheNewGrid) {
    Field f;
    int pumps = 0;
    std::vector<char> buffer = {'a', 'b', 0, 0, 0, 0};
    f.host.pump = [&] {
        if (++pumps == 1) {
            f.host.send(CONM_SETFONT, 0 | (1 << 8));  // 8x8: the grid is laid out anew, blank
        } else if (pumps == 2) {
            f.host.send(kWmChar, 'x');
        } else {
            f.host.send(kWmChar, ENTER);
        }
        return true;
    };
    f.host.send(CONM_SETCURSORPOS, 0, CONSOLE_CURSORPOS_LPARAM(4, 2));
    EXPECT_EQ(f.host.send(CONM_INPUTLINE, 5, reinterpret_cast<intptr_t>(buffer.data())), 1);
    EXPECT_EQ(std::string(buffer.data()), "xab");
    EXPECT_EQ(f.s.rows, 53);
    EXPECT_EQ(f.shown(5, 4, 2), "xab  ");
}

TEST(LineEditorLifetime, ShrunkenGridKeepsTheFieldInside) {
    Field f;
    std::vector<char> buffer(11, 0);
    int pumps = 0;
    f.host.pump = [&] {
        if (++pumps == 1) {
            f.host.setClient(40, 32);  // 5 x 2 cells, smaller than the field's start
            f.host.send(CONM_SETFONT, 0 | (2 << 8));
        } else {
            f.host.send(kWmChar, pumps < 10 ? 'z' : ENTER);
        }
        return true;
    };
    f.host.send(CONM_SETCURSORPOS, 0, CONSOLE_CURSORPOS_LPARAM(100, 20));
    EXPECT_EQ(f.host.send(CONM_INPUTLINE, 10, reinterpret_cast<intptr_t>(buffer.data())), 1);
    EXPECT_EQ(std::string(buffer.data()), "zzzzzzzz");
    EXPECT_EQ(f.s.columns, 5);
}

TEST(LineEditorLifetime, ClosingAbortAndAGoneWindowEndWithoutANewLine) {
    Field f;
    for (int how = 0; how < 3; ++how) {
        std::vector<char> buffer = {'o', 'k', 0, 0, 0, 0};
        f.host.send(CONM_SETCURSORPOS, 0, CONSOLE_CURSORPOS_LPARAM(2, 7));
        f.host.pump = [&] {
            f.host.send(kWmChar, 'x');
            if (how == 0) f.host.instance.waitAbort = 1;
            if (how == 1) f.host.instance.closing = 1;
            return how != 2;  // 2: the window was destroyed inside the pump
        };
        f.host.sent.clear();
        EXPECT_EQ(f.host.send(CONM_INPUTLINE, 5, reinterpret_cast<intptr_t>(buffer.data())), 0) << how;
        EXPECT_EQ(std::string(buffer.data()), "ok") << how;
        EXPECT_EQ(f.s.cursorRow, 7) << how;
        EXPECT_EQ(f.host.count(CONM_SCROLL), 0u);
        if (how == 2) {
            EXPECT_EQ(f.host.sent.back().message, uint32_t{CONM_SETCURSORPOS}) << "nothing after the pump";
        }
        f.host.instance.closing = 0;
        f.host.send(CONM_GETKEY);
    }
}

TEST(LineEditorLifetime, AbortAfterOutputDuringTheWaitPutsTheCursorBackOnTheField) {
    Field f;
    std::vector<char> buffer = {'o', 'k', 0, 0, 0, 0};
    int pumps = 0;
    f.host.pump = [&] {
        if (++pumps == 1) {
            f.host.send(kWmChar, CONK_RIGHT);
        } else {
            f.host.send(CONM_PUTSTRING, 0, reinterpret_cast<intptr_t>("elsewhere\n"));
            f.host.instance.waitAbort = 1;
        }
        return true;
    };
    f.host.send(CONM_SETCURSORPOS, 0, CONSOLE_CURSORPOS_LPARAM(2, 7));
    EXPECT_EQ(f.host.send(CONM_INPUTLINE, 5, reinterpret_cast<intptr_t>(buffer.data())), 0);
    EXPECT_EQ(std::string(buffer.data()), "ok");
    EXPECT_EQ(f.s.cursorColumn, 3);
    EXPECT_EQ(f.s.cursorRow, 7);
}

TEST(LineEditorLifetime, AbortLeftFromAnEarlierWaitDoesNotEndANewField) {
    Field f;
    f.host.instance.waitAbort = 1;
    EXPECT_EQ(f.run("", 4, {'o', 'k', ENTER}), 1);
    EXPECT_EQ(f.result(), "ok");
}

TEST(LineEditorLifetime, NestedInputLineInsideTheWaitRunsToItsEnd) {
    Field f;
    std::vector<char> outer = {'o', 0, 0, 0, 0};
    std::vector<char> inner = {'i', 'j', 0, 0, 0};
    int pumps = 0;
    f.host.pump = [&] {
        ++pumps;
        if (pumps == 1) {
            // Another thread's CONM_INPUTLINE arrives while this one waits.
            EXPECT_EQ(f.host.send(CONM_INPUTLINE, 4, reinterpret_cast<intptr_t>(inner.data())), 1);
        } else if (pumps == 2) {
            f.host.send(kWmChar, '2');
            f.host.send(kWmChar, ENTER);
        } else {
            f.host.send(kWmChar, ENTER);
        }
        return true;
    };
    EXPECT_EQ(f.host.send(CONM_INPUTLINE, 4, reinterpret_cast<intptr_t>(outer.data())), 1);
    EXPECT_EQ(std::string(inner.data()), "2ij");
    EXPECT_EQ(std::string(outer.data()), "o");
}

TEST(LineEditorUnattended, AnswerIsTypedThroughTheFilterIntoTheClearedFieldAndEchoedOnceWithoutWaiting) {
    Field f;
    f.host.unattended = true;
    f.host.answers = {"yes", "a1\tb2:3c4", "abcdef", "x\x01y", "--"};
    const struct { const char* initial; uint32_t length, type; const char* expected; } cases[] = {
        {"initial", 10, CONI_TEXT, "yes"},  {"", 3, CONI_DIGITS, "123"},  // rejected ones take no room
        {"", 4, CONI_TEXT, "abcd"},         {"", 10, CONI_UPPER, "XY"},
        {"42", 5, CONI_DIGITS, " "},        {"ok", 3, CONI_TEXT, "ok"},  // none left: as Enter on it
    };
    for (const auto& c : cases) {
        EXPECT_EQ(f.run(c.initial, c.length, {}, c.type), 1) << c.expected;
        EXPECT_EQ(f.result(), c.expected);
        EXPECT_EQ(f.buffer[c.length + 1], '#') << "nothing beyond L + 1 bytes is written";
        EXPECT_TRUE(f.positions.empty()) << "no key wait";
    }
    EXPECT_EQ(f.host.focuses, 0);
    EXPECT_EQ(f.host.count(CONM_PUTSTRING), 6u) << "one echo each";
    EXPECT_EQ(f.host.logged, (std::vector<std::string>{"yes       ", "123", "abcd", "XY        ", "     ", "ok "}));
    EXPECT_EQ(f.s.cursorRow, Field::kRow + 1);
}

TEST(LineEditorMessage, NoActiveScreenOrNoBufferFails) {
    RecordingHost host;
    char buffer[4] = "ab";
    EXPECT_EQ(host.send(CONM_INPUTLINE, 3, reinterpret_cast<intptr_t>(buffer)), -1);
    makeScreen(host);
    EXPECT_EQ(host.send(CONM_INPUTLINE, 3, 0), -1);
    EXPECT_EQ(host.focuses, 0);
}

TEST(LineEditorMessage, LastNonBlank) {
    EXPECT_EQ(lastNonBlank("abc  ", 5), 2);
    EXPECT_EQ(lastNonBlank("     ", 5), 0);
    EXPECT_EQ(lastNonBlank("", 0), 0);
    EXPECT_EQ(lastNonBlank(" b", 2), 1);
}

}  // namespace
}  // namespace console
