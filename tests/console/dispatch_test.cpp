// The console message table through the portable dispatch: results, failure values,
// default processing, and the messages the console sends to its own window.
#include <gtest/gtest.h>

#include "recording_host.h"

namespace console {
namespace {

TEST(DispatchTable, EveryScreenMessageFailsOnAnEmptySlot) {
    RecordingHost host;
    uint8_t buf[48];
    ConsoleListener listener{1, 2, 3};
    const struct {
        uint32_t message;
        intptr_t lparam;
        intptr_t expected;
        bool useDefault;
    } rows[] = {
        {CONM_DELETESCREEN, 0, -1, false},     {CONM_SETFONT, 0, -1, false},
        {CONM_CREATEBITMAPS, 0, -1, false},    {CONM_SELECTSCREEN, 0, -1, false},
        {CONM_REFRESH, 0, -1, false},          {CONM_GETCELLS, 0, 0, false},
        {CONM_SETCURSORPOS, 0, -1, false},     {CONM_SETCURSORSHAPE, 0, -1, false},
        {CONM_PUTCELL, 0, -1, false},          {CONM_PUTCHAR, 'a', -1, false},
        {CONM_PUTSTRING, reinterpret_cast<intptr_t>("a"), -1, false},
        {CONM_SCROLL, 0, -1, false},           {CONM_CLEAR, 0, -1, false},
        {CONM_POINTTOCELL, 0, -1, false},      {CONM_SETFREEZE, 0, -1, false},
        {CONM_GETFREEZE, 0, -1, false},        {CONM_SETBACKCOLOR, 1, 0, true},
        {CONM_SETTEXTCOLOR, 1, 0, true},       {CONM_GETSIZE, 0, -1, false},
        {CONM_CELLINDEX, 0, -1, false},        {CONM_SETMOUSELISTENER, reinterpret_cast<intptr_t>(&listener), -1, false},
        {CONM_SETATTR, 1, 0, true},            {CONM_GETATTR, 0, -1, false},
        {CONM_SETCOLORMODE, 1, -1, false},     {CONM_GETCOLORMODE, 0, -1, false},
        {CONM_GETPALETTE, reinterpret_cast<intptr_t>(buf), -1, false},
        {CONM_SETPALETTE, reinterpret_cast<intptr_t>(buf), -1, false},
        {CONM_RESETPALETTE, 0, -1, false},     {CONM_GETFONT, 0, -1, false},
    };
    for (const auto& row : rows) {
        const DispatchResult r = host.raw(row.message, 7, row.lparam);
        EXPECT_EQ(r.useDefault, row.useDefault) << row.message;
        if (!row.useDefault) {
            EXPECT_EQ(r.value, row.expected) << row.message;
        }
    }
    EXPECT_TRUE(host.sent.empty());
}

TEST(DispatchTable, WindowMessagesWithoutAnActiveScreen) {
    RecordingHost host;
    EXPECT_EQ(host.send(CONM_GETKEY), 255);
    EXPECT_EQ(host.send(CONM_WAITKEY), -1);
    EXPECT_EQ(host.send(CONM_INPUTLINE, 10, reinterpret_cast<intptr_t>("")), -1);
    EXPECT_EQ(host.send(CONM_GETACTIVESCREEN), -1);
    EXPECT_TRUE(host.raw(1061).useDefault);
    EXPECT_TRUE(host.raw(1123).useDefault);
    EXPECT_TRUE(host.raw(1127).useDefault);
    EXPECT_FALSE(isConsoleMessage(1061));
    EXPECT_TRUE(isConsoleMessage(1126));
}

TEST(DispatchScreens, CreateSendsCreateBitmapsAndRefusesAnOccupiedSlot) {
    RecordingHost host;
    EXPECT_EQ(host.send(CONM_CREATESCREEN, 0x1FF, 1234), 255) << "only the low byte names the slot";
    ASSERT_EQ(host.sent.size(), 1u);
    EXPECT_EQ(host.sent[0].message, static_cast<uint32_t>(CONM_CREATEBITMAPS));
    EXPECT_EQ(host.sent[0].wparam, 0x1FFu);
    EXPECT_EQ(host.sent[0].lparam, 1234);
    ConsoleScreen* first = host.instance.screens[255];
    EXPECT_EQ(first->screenIndex, 255);
    EXPECT_EQ(first->colorMode, 0u);
    EXPECT_EQ(first->attribute, 0);
    EXPECT_EQ(host.send(CONM_CREATESCREEN, 255), -1);
    EXPECT_EQ(host.instance.screens[255], first);
    EXPECT_EQ(host.send(CONM_GETACTIVESCREEN), -1) << "a new screen is not made active";
    EXPECT_EQ(host.send(CONM_GETCELLS, 255), 0) << "no cells before a font";
}

TEST(DispatchScreens, FreezeRefreshesOnlyWhenTheBitChanges) {
    RecordingHost host;
    makeScreen(host, 3);
    host.sent.clear();
    EXPECT_EQ(host.send(CONM_SETFREEZE, 3 + 256), 3);
    EXPECT_EQ(host.count(CONM_REFRESH), 1u);
    EXPECT_EQ(host.send(CONM_SETFREEZE, 3 + 256), 3);
    EXPECT_EQ(host.count(CONM_REFRESH), 1u);
    EXPECT_EQ(host.send(CONM_GETFREEZE, 3), 1);
    EXPECT_EQ(host.send(CONM_SETFREEZE, 3), 3);
    EXPECT_EQ(host.count(CONM_REFRESH), 2u);
    EXPECT_EQ(host.send(CONM_GETFREEZE, 3), 0);
}

TEST(DispatchScreens, CursorShapeResults) {
    RecordingHost host;
    host.send(CONM_CREATESCREEN, 1);
    EXPECT_EQ(host.send(CONM_SETCURSORSHAPE, 1, 3599), -2) << "no font";
    ConsoleScreen& s = makeScreen(host, 2);
    EXPECT_EQ(host.send(CONM_SETCURSORSHAPE, 2, CONSOLE_CURSORSHAPE_LPARAM(19, 33)), 2);
    EXPECT_EQ(s.cursorStartLine, 3);
    EXPECT_EQ(s.cursorEndLine, 1);
    host.send(CONM_SETFREEZE, 2 + 256);
    EXPECT_EQ(host.send(CONM_SETCURSORSHAPE, 2, 3599), -1);
}

TEST(DispatchScreens, PutStringWithoutAStringFails) {
    RecordingHost host;
    ConsoleScreen& s = makeScreen(host);
    EXPECT_EQ(host.send(CONM_PUTSTRING, 0, 0), -1);
    EXPECT_EQ(host.send(CONM_PUTSTRING, 0, reinterpret_cast<intptr_t>("")), 0);
    EXPECT_EQ(s.cursorColumn, 0);
}

TEST(DispatchScreens, ColourModeAndAttributes) {
    RecordingHost host;
    ConsoleScreen& s = makeScreen(host, 0, 2, false);
    host.sent.clear();
    EXPECT_EQ(host.send(CONM_SETCOLORMODE, 0, 5), 0);
    EXPECT_EQ(host.count(CONM_REFRESH), 1u);
    EXPECT_EQ(host.send(CONM_GETCOLORMODE, 0), 5);
    host.send(CONM_SETATTR, 0, 0x1F7);
    EXPECT_EQ(s.attribute, 0xF7);
    host.send(CONM_SETTEXTCOLOR, 0, 0x1C);
    EXPECT_EQ(s.attribute, 0xFC);
    host.send(CONM_SETBACKCOLOR, 0, 0x21);
    EXPECT_EQ(s.attribute, 0x1C);
}

TEST(DispatchScreens, MouseListenerIsCopiedIntoTheScreen) {
    RecordingHost host;
    ConsoleScreen& s = makeScreen(host, 6);
    ConsoleListener l{0x1234, 99, 0x00050007};
    EXPECT_EQ(host.send(CONM_SETMOUSELISTENER, 6, reinterpret_cast<intptr_t>(&l)), 6);
    EXPECT_EQ(s.listenerWindow, 0x1234u);
    EXPECT_EQ(s.listenerValue, 99u);
    EXPECT_EQ(s.listenerCell, 0x00050007u);
    EXPECT_EQ(host.send(CONM_SETMOUSELISTENER, 6, 0), -1);
}

TEST(DispatchScreens, OutputToAnInactiveScreenStaysThere) {
    RecordingHost host;
    ConsoleScreen& a = makeScreen(host, 0);
    ConsoleScreen& b = makeScreen(host, 1);
    host.send(CONM_SELECTSCREEN, 0);
    host.send(CONM_PUTCHAR, 1, 'x');
    EXPECT_EQ(cellAt(b, 0, 0), 'x');
    EXPECT_EQ(cellAt(a, 0, 0), 0);
    const int before = host.redraws;
    EXPECT_EQ(host.send(CONM_SELECTSCREEN, 1), 1);
    EXPECT_EQ(host.redraws, before + 1) << "selecting repaints at once";
}

TEST(DispatchInstance, SharingAndCallbacks) {
    RecordingHost host;
    EXPECT_EQ(host.send(CONM_GETINSTANCE), 0);
    EXPECT_EQ(host.send(CONM_GETSHARING), -1);
    EXPECT_TRUE(host.raw(CONM_SETSHARING, 0, 1).useDefault);
    EXPECT_EQ(host.send(CONM_GETSHARING), 1);
    EXPECT_EQ(host.send(CONM_GETINSTANCE), reinterpret_cast<intptr_t>(&host.instance));
    host.send(CONM_SETSHARING, 0, 2);
    EXPECT_EQ(host.send(CONM_GETSHARING), -1);
    EXPECT_EQ(host.send(CONM_GETINSTANCE), 0);

    EXPECT_EQ(host.send(CONM_POSTCALLBACK, 0, 5), 0) << "no callback yet";
    EXPECT_EQ(host.notifies, 0);
    const ConsoleCallback cb = [](uint32_t) {};
    EXPECT_TRUE(host.raw(CONM_SETCALLBACK, 0, reinterpret_cast<intptr_t>(cb)).useDefault);
    EXPECT_EQ(host.send(CONM_POSTCALLBACK, 0, 7), 7);
    EXPECT_EQ(host.instance.notifyArgument, 7u);
    EXPECT_EQ(host.notifies, 1);
    EXPECT_EQ(host.send(CONM_POSTCALLBACK, 0, 0), 0);
    EXPECT_EQ(host.notifies, 2) << "0 wakes the thread without a call";
}

}  // namespace
}  // namespace console
