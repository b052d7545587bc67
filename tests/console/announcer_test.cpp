// What one tick announces (lines batched and capped, importance, lines left open, changes
// in place), alone and through the dispatch and timer; no window, no platform.
#include <gtest/gtest.h>

#include <algorithm>

#include "recording_host.h"

namespace console {
namespace {

// "SIT " for speak, important, textChanged ("-" for each not set), then the text, then
// the important text after " ! ".
std::u16string said(const Announcement& a) {
    EXPECT_EQ(a.lines, a.speak ? 1 + std::count(a.text.begin(), a.text.end(), u'\n') : 0);
    return std::u16string(a.speak ? u"S" : u"-") + (a.speakImportant ? u"I" : u"-") + (a.textChanged ? u"T " : u"- ") +
           a.text + (a.speakImportant ? u" ! " + a.importantText : u"");
}

// A screen of the given rows, as the tick sees it.
ConsoleScreen rowsOf(int32_t rows) {
    ConsoleScreen s = {};
    s.rows = rows;
    return s;
}

TEST(Announcer, TicksBatchCapAndContinueLines) {
    Announcer a;
    const struct { std::string print; uint8_t attribute; int32_t rows; bool cellsChanged; std::u16string said; } steps[] = {
        {"caf\xE9\r\n\ntwo\n", 7, 25, true, u"S-- caf\u00E9\r\n\r\ntwo"},  // printed: no change in place
        {"", 7, 25, true, u"--T "},
        {"Error: ", 0x4C, 0, false, u"-I-  ! Error: "},  // red on red
        {"disk\nnext", 7, 0, false, u"S-- disk\r\nnext"},  // the open line goes on as a line of its own
        {"\n\n", 7, 0, false, u"--- "},  // ends the line told; an empty line alone says nothing
        {std::string(Announcer::kMaxLineUnits, 'x') + "yz", 7, 0, false,
         u"S-- " + std::u16string(Announcer::kMaxLineUnits, u'x') + u"\r\nyz"},  // a long line goes on
    };
    for (const auto& step : steps) {
        a.printed(step.print.c_str(), cp1252ToCp437, step.attribute);
        EXPECT_EQ(said(a.takeTick(rowsOf(step.rows), step.cellsChanged)), step.said);
    }
    for (int i = 0; i < 300; ++i) a.printed((std::to_string(i) + "\n").c_str(), cp1252ToCp437, 7);
    EXPECT_EQ(said(a.takeTick(rowsOf(0), true)).substr(0, 23), u"S-- 44 more lines\r\n44\r\n");  // the first one dropped
    a.enterPrint(), a.changedInPlace(), a.leavePrint();  // a print's own scroll
    EXPECT_EQ(said(a.takeTick(rowsOf(0), false)), u"--- ");
}

// Errors are never capped away or spread, a result is said once, and a mark holds for
// one print only.
TEST(Announcer, ImportantLinesSurviveAndStayApart) {
    Announcer a;
    a.printed("copy 1\n", cp1252ToCp437, 7);
    a.printed("ERROR: disk full.\n", cp1252ToCp437, 0x0C);
    for (int i = 2; i < 9; ++i) a.printed(("copy " + std::to_string(i) + "\n").c_str(), cp1252ToCp437, 7);
    EXPECT_EQ(said(a.takeTick(rowsOf(2), false)), u"SI- 6 more lines\r\ncopy 7\r\ncopy 8 ! ERROR: disk full.");

    a.printed("Copying x ... ", cp1252ToCp437, 7);  // a result continues the module's line
    a.markNext(PrintMark::Important);
    a.printed("Installation finished.", cp1252ToCp437, 7);
    a.printed(" later\n", cp1252ToCp437, 7);  // neither the mark nor the importance leaks
    EXPECT_EQ(said(a.takeTick(rowsOf(25), false)), u"SI- Copying x ... \r\n later ! Installation finished.");

    a.markNext(PrintMark::Silent);  // a message box says it
    a.printed("Installation failure.", cp1252ToCp437, 4);
    EXPECT_EQ(said(a.takeTick(rowsOf(25), false)), u"--- ");
    a.markNext(PrintMark::Important);
    a.dropMark();  // another console message came first
    a.printed("plain\n", cp1252ToCp437, 7);
    EXPECT_EQ(said(a.takeTick(rowsOf(25), false)), u"S-- plain");

    for (int i = 0; i < 40; ++i) a.printed(("E" + std::to_string(i) + "\n").c_str(), cp1252ToCp437, 4);
    const Announcement many = a.takeTick(rowsOf(25), false);
    EXPECT_EQ(many.importantText.substr(0, 20), u"24 more lines\r\nE24\r\n");
}

// The caret and the selection on show, compared from tick to tick.
TEST(Announcer, CaretAndSelectionMovesAreSeenPerTick) {
    Announcer a;
    ConsoleScreen s = rowsOf(25);
    EXPECT_FALSE(a.takeTick(s, false).caretMoved);  // the first look moves nothing
    s.cursorColumn = 3;
    EXPECT_TRUE(a.takeTick(s, false).caretMoved);
    s.savedCursorColumn = 3, s.flags = kFlagPaused;  // a stopped picture keeps its cursor
    s.cursorColumn = 9;
    EXPECT_FALSE(a.takeTick(s, false).caretMoved);
    s.selecting = 1, s.selectionEnd = 4;
    EXPECT_TRUE(a.takeTick(s, false).selectionChanged);
    EXPECT_FALSE(a.takeTick(s, false).selectionChanged);
}

TEST(Announcer, DispatchAnnouncesOutputAtTheTick) {
    Announcer reader;
    RecordingHost host(10 * 8, 3 * 16);
    host.reader = &reader;
    makeScreen(host);
    const auto tick = [&host] { return host.send(kWmTimer, host.instance.timerId), said(host.heard.back()); };
    tick();
    host.send(CONM_PUTSTRING, 0, reinterpret_cast<intptr_t>("one\ntwo\nthree\nfour\n"));  // scrolls
    EXPECT_EQ(tick(), u"S-- 1 more line\r\ntwo\r\nthree\r\nfour");  // a screenful: 3 rows
    for (const uint32_t message : {CONM_PUTCELL, CONM_CLEAR}) {  // told even beside output
        host.send(message, 0, CONSOLE_PUTCELL_LPARAM(1, 1, CONSOLE_CELL('z', 7)));
        host.send(CONM_PUTSTRING, 0, reinterpret_cast<intptr_t>("five\n"));
        EXPECT_EQ(tick(), u"S-T five");
    }
    host.unattended = true, host.answers = {"yes"};
    char field[8] = "";
    host.send(CONM_INPUTLINE, 5, reinterpret_cast<intptr_t>(field));
    EXPECT_EQ(tick(), u"--T ");  // the field's echo is an edit, not output
}

}  // namespace
}  // namespace console
