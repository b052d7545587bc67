// What one tick announces (lines batched and capped, importance, lines left open, changes
// in place), alone and through the dispatch and timer; no window, no platform.
#include <gtest/gtest.h>

#include <algorithm>

#include "recording_host.h"

namespace console {
namespace {

// "SIT " for speak, important, textChanged ("-" for each not set), then the text.
std::u16string said(const Announcement& a) {
    EXPECT_EQ(a.lines, a.speak ? 1 + std::count(a.text.begin(), a.text.end(), u'\n') : 0);
    return std::u16string(a.speak ? u"S" : u"-") + (a.important ? u"I" : u"-") + (a.textChanged ? u"T " : u"- ") + a.text;
}

TEST(Announcer, TicksBatchCapAndContinueLines) {
    Announcer a;
    const struct { std::string print; uint8_t attribute; int32_t maxLines; bool cellsChanged; std::u16string said; } steps[] = {
        {"caf\xE9\r\n\ntwo\n", 7, 25, true, u"S-- caf\u00E9\r\n\r\ntwo"},  // printed: no change in place
        {"", 7, 25, true, u"--T "},
        {"Error: ", 0x4C, 0, false, u"SI- Error: "},  // red on red
        {"disk\nnext", 7, 0, false, u"S-- disk\r\nnext"},  // the open line goes on as a line of its own
        {"\n\n", 7, 0, false, u"--- "},  // ends the line told; an empty line alone says nothing
        {std::string(Announcer::kMaxLineUnits, 'x') + "yz", 7, 0, false,
         u"S-- " + std::u16string(Announcer::kMaxLineUnits, u'x') + u"\r\nyz"},  // a long line goes on
    };
    for (const auto& step : steps) {
        a.printed(step.print.c_str(), cp1252ToCp437, step.attribute);
        EXPECT_EQ(said(a.takeTick(step.maxLines, step.cellsChanged)), step.said);
    }
    a.markNextImportant();
    for (int i = 0; i < 300; ++i) a.printed((std::to_string(i) + "\n").c_str(), cp1252ToCp437, 7);
    EXPECT_EQ(said(a.takeTick(0, true)).substr(0, 23), u"SI- 44 more lines\r\n44\r\n");  // the first one dropped
    a.enterPrint(), a.changedInPlace(), a.leavePrint();  // a print's own scroll
    EXPECT_EQ(said(a.takeTick(0, false)), u"--- ");
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
