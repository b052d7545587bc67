// Mouse handling through the dispatch: pointer to cell for both fonts, listener events
// with the caller's value, the selection's states and redraw requests, the menu, and
// listeners or menu loops that delete or re-lay out the screen under the handler.
#include <gtest/gtest.h>

#include "console/core/mouse.h"
#include "recording_host.h"

namespace console {
namespace {

uint32_t pixel(uint32_t x, uint32_t y) { return (y << 16) | x; }

TEST(MousePointer, PixelToCellForBothFonts) {
    RecordingHost host;
    makeScreen(host, 0, 2);
    makeScreen(host, 1, 1);
    EXPECT_EQ(host.send(CONM_POINTTOCELL, 0, pixel(17, 40)), (2 << 16) | 2);
    EXPECT_EQ(host.send(CONM_POINTTOCELL, 1, pixel(17, 40)), (5 << 16) | 2);
    EXPECT_EQ(host.send(CONM_POINTTOCELL, 0, pixel(950, 426)), (25 << 16) | 117) << "the strips past the grid";
    EXPECT_EQ(host.send(CONM_POINTTOCELL, 1, pixel(0xFFFF, 0xFFFF)), (52 << 16) | 117);
    makeScreen(host, 2, 0);
    EXPECT_EQ(host.send(CONM_POINTTOCELL, 2, pixel(1, 1)), -1);
}

TEST(MouseListener, GetsMovePressAndReleaseWithTheCallersValueAndNothingForTheRightButton) {
    RecordingHost host;
    ConsoleScreen& s = makeScreen(host);
    host.send(kWmMouseMove, 0, pixel(17, 40));
    EXPECT_TRUE(host.events.empty()) << "no listener, no event";

    ConsoleListener listener{0x80001234u, 0xCAFEBABEu, 77};
    host.send(CONM_SETMOUSELISTENER, 0, reinterpret_cast<intptr_t>(&listener));
    host.send(kWmMouseMove, 0, pixel(17, 40));
    host.send(kWmLButtonDown, 0, pixel(8 * 117, 16 * 25));
    host.send(kWmLButtonUp, 0, pixel(0, 0));
    host.send(kWmRButtonDown, 0, pixel(0, 0));
    ASSERT_EQ(host.events.size(), 3u);
    const uint32_t kinds[] = {CONE_MOVE, CONE_BUTTONDOWN, CONE_BUTTONUP};
    const uint32_t cells[] = {(2u << 16) | 2u, (25u << 16) | 117u, 0u};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(host.events[i].window, 0x80001234u);
        EXPECT_EQ(host.events[i].kind, kinds[i]);
        EXPECT_EQ(host.events[i].record.window, 0x80001234u);
        EXPECT_EQ(host.events[i].record.value, 0xCAFEBABEu) << "passed back unchanged";
        EXPECT_EQ(host.events[i].record.cell, cells[i]);
    }
    EXPECT_EQ(s.listenerCell, 0u) << "the latest event's cell";
    EXPECT_EQ(host.menus, 1);
}

TEST(MouseListener, ScreenWithoutAFontSendsNoMoveButPressesAndReleasesCarryMinusOne) {
    RecordingHost host;
    makeScreen(host, 0, 0);
    ConsoleListener listener{5, 6, 0};
    host.send(CONM_SETMOUSELISTENER, 0, reinterpret_cast<intptr_t>(&listener));
    host.send(kWmMouseMove, 0, pixel(1, 1));
    host.send(kWmLButtonDown, 0, pixel(1, 1));
    ASSERT_EQ(host.events.size(), 1u);
    EXPECT_EQ(host.events[0].record.cell, 0xFFFFFFFFu);
    EXPECT_EQ(host.focuses, 1);
}

TEST(MouseSelection, StatesFollowTheMenuAndTheButtonWithTheirRedraws) {
    RecordingHost host;
    ConsoleScreen& s = makeScreen(host);
    EXPECT_EQ(s.selectionAnchor, 0) << "a new screen starts at 0";
    host.menu = [] { return kMenuSelect; };
    host.sent.clear();

    host.send(kWmLButtonDown, 0, pixel(17, 40));  // Idle: a press changes nothing but the focus
    host.send(kWmMouseMove, 0, pixel(30, 40));
    EXPECT_EQ(s.selecting, 0);
    EXPECT_EQ(host.focuses, 1);

    host.send(kWmRButtonDown);  // Select: Armed, nothing redrawn
    EXPECT_EQ(s.selectEnabled, 1);
    EXPECT_EQ(host.count(CONM_REFRESH), 0u);
    host.send(kWmMouseMove, 0, pixel(30, 40));
    EXPECT_EQ(host.count(CONM_REFRESH), 0u) << "Armed ignores movement";

    host.send(kWmLButtonDown, 0, pixel(17, 40));  // Dragging from cell (2, 2)
    EXPECT_EQ(s.selecting, 1);
    EXPECT_EQ(s.selectionAnchor, 2 * 118 + 2);
    EXPECT_EQ(s.selectionEnd, 2 * 118 + 2);
    EXPECT_EQ(host.count(CONM_REFRESH), 1u);
    host.send(kWmMouseMove, 0, pixel(80, 90));
    host.send(kWmMouseMove, 0, pixel(88, 90));
    EXPECT_EQ(s.selectionEnd, 5 * 118 + 11);
    EXPECT_EQ(host.count(CONM_REFRESH), 3u) << "every move redraws";
    host.send(kWmLButtonDown, 0, pixel(8, 16));  // a press while dragging starts again
    EXPECT_EQ(s.selectionAnchor, 118 + 1);

    host.send(kWmLButtonUp, 0, pixel(80, 90));  // Armed again, rectangle kept, no redraw
    EXPECT_EQ(s.selecting, 0);
    EXPECT_EQ(s.selectEnabled, 1);
    EXPECT_EQ(s.selectionAnchor, 118 + 1);
    EXPECT_EQ(host.count(CONM_REFRESH), 4u);

    host.send(kWmLButtonDown, 0, pixel(8, 16));
    host.send(kWmRButtonDown);  // Select while dragging: back to Armed
    EXPECT_EQ(s.selecting, 0);

    host.menu = [] { return kMenuCancel; };
    host.send(kWmRButtonDown);
    EXPECT_EQ(s.selectEnabled, 0);
    EXPECT_EQ(s.selectionAnchor, -1);
    EXPECT_EQ(s.selectionEnd, -1);
    EXPECT_EQ(host.count(CONM_REFRESH), 6u);

    host.menu = [] { return 0u; };  // menu dismissed
    host.send(kWmRButtonDown);
    EXPECT_EQ(host.count(CONM_REFRESH), 6u);
}

TEST(MouseMenu, ShownWithoutAnActiveScreenButItsCommandsDoNothing) {
    RecordingHost host;
    host.menu = [] { return kMenuSelect; };
    EXPECT_TRUE(host.raw(kWmRButtonDown).useDefault);
    EXPECT_EQ(host.menus, 1);
    EXPECT_TRUE(host.raw(kWmLButtonDown).useDefault);
    EXPECT_EQ(host.focuses, 1) << "a press takes the focus even without a screen";
    EXPECT_TRUE(host.sent.empty());
}

TEST(MouseLifetime, ListenerThatDeletesOrSwitchesTheScreenStopsTheHandler) {
    RecordingHost host;
    ConsoleScreen& other = makeScreen(host, 1);
    makeScreen(host, 0);
    runMenuCommand(host.instance, host, kMenuSelect);
    ConsoleListener listener{9, 1, 0};
    host.send(CONM_SETMOUSELISTENER, 0, reinterpret_cast<intptr_t>(&listener));
    host.onListener = [&] { host.send(CONM_DELETESCREEN, 0); };
    host.send(kWmLButtonDown, 0, pixel(17, 40));
    EXPECT_EQ(host.instance.screens[0], nullptr);
    EXPECT_EQ(host.focuses, 1);

    makeScreen(host, 0);
    runMenuCommand(host.instance, host, kMenuSelect);
    host.send(CONM_SETMOUSELISTENER, 0, reinterpret_cast<intptr_t>(&listener));
    host.onListener = [&] { host.send(CONM_SELECTSCREEN, 1); };
    host.send(kWmLButtonDown, 0, pixel(17, 40));
    EXPECT_EQ(host.instance.screens[0]->selecting, 0) << "no longer the active screen";
    EXPECT_EQ(other.selecting, 0);
}

TEST(MouseLifetime, ListenerThatChangesTheFontGetsTheCellOfTheNewGrid) {
    RecordingHost host;
    ConsoleScreen& s = makeScreen(host);
    runMenuCommand(host.instance, host, kMenuSelect);
    host.send(kWmLButtonDown, 0, pixel(17, 40));
    ConsoleListener listener{9, 1, 0};
    host.send(CONM_SETMOUSELISTENER, 0, reinterpret_cast<intptr_t>(&listener));
    host.onListener = [&] { host.send(CONM_SETFONT, 1 << 8); };
    host.send(kWmMouseMove, 0, pixel(88, 90));
    EXPECT_EQ(s.selectionEnd, 11 * 118 + 11) << "row 11 of the 8x8 grid, not row 5 of the old one";
}

TEST(MouseLifetime, MenuLoopThatDeletesTheScreenOrClosesTheWindowLeavesTheCommandUndone) {
    RecordingHost host;
    makeScreen(host);
    host.menu = [&] {
        host.send(CONM_DELETESCREEN, 0);
        return kMenuCopy;
    };
    host.send(kWmRButtonDown);
    EXPECT_TRUE(host.clipboard.empty());

    ConsoleScreen& s = makeScreen(host);
    host.menu = [&] {
        host.instance.closing = 1;
        return kMenuSelect;
    };
    host.send(kWmRButtonDown);
    EXPECT_EQ(s.selectEnabled, 0);
    host.instance.closing = 0;

    host.menu = [&] {
        host.send(CONM_SETFONT, 1 << 8);
        return kMenuCopy;
    };
    host.send(kWmRButtonDown);
    ASSERT_EQ(host.clipboard.size(), 1u) << "indices 0: the top-left cell of the new grid";
    EXPECT_EQ(host.clipboard[0].bytes, "\r\n");
}

}  // namespace
}  // namespace console
