// The mouse of a real console window under Wine: listener windows (on the console's
// thread and on another) receive the specified events with the caller's value, the
// modal console class forwards them, and a right click opens Cancel, Copy, Select.
#include <gtest/gtest.h>

#include <vector>

#include "console/win32/instance_block.h"
#include "console_test_support.h"
#include "menu_driver.h"

using console::win32::liveBlockCount;
using namespace console_test;

namespace {

struct Event {
    WPARAM kind;
    ConsoleListener record;
    DWORD thread;
};

std::vector<Event> g_events;
HWND g_console = nullptr;
LRESULT g_sizeSeenByListener = 0;

LRESULT CALLBACK listenerProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == CONM_MOUSEEVENT && lparam != 0) {
        g_events.push_back({wparam, *reinterpret_cast<const ConsoleListener*>(lparam), GetCurrentThreadId()});
        // A listener may talk back to the console that is waiting for it.
        g_sizeSeenByListener = SendMessageA(g_console, CONM_GETSIZE, 0, 0);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

HWND createListener() { return createMessageWindow(listenerProc, "kelvane.test.listener"); }

// The listener record as a program stores it: the window handle in 32 bits.
ConsoleListener listenerFor(HWND listener, uint32_t value) {
    ConsoleListener l = {static_cast<uint32_t>(HandleToLong(listener)), value, 0};
    return l;
}

void moveClickRelease(HWND console) {
    send(console, WM_MOUSEMOVE, 0, MAKELPARAM(17, 40));
    send(console, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 50));
    send(console, WM_LBUTTONUP, 0, MAKELPARAM(255, 127));
    send(console, WM_RBUTTONDOWN, 0, MAKELPARAM(1, 1));  // sends nothing to the listener
}

void expectTheThreeEvents(uint32_t listenerValue, uint32_t value, DWORD thread) {
    ASSERT_EQ(g_events.size(), 3u);
    const WPARAM kinds[] = {CONE_MOVE, CONE_BUTTONDOWN, CONE_BUTTONUP};
    const uint32_t cells[] = {CONSOLE_CELLPOS(2, 2), CONSOLE_CELLPOS(2, 3), CONSOLE_CELLPOS(31, 7)};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(g_events[i].kind, kinds[i]);
        EXPECT_EQ(g_events[i].record.window, listenerValue);
        EXPECT_EQ(g_events[i].record.value, value) << "the caller's value comes back unchanged";
        EXPECT_EQ(g_events[i].record.cell, cells[i]);
        EXPECT_EQ(g_events[i].thread, thread);
    }
    EXPECT_EQ(g_sizeSeenByListener, (8 << 16) + 32);
}

struct ListenerThread {
    HWND window = nullptr;
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD id = 0;
};

DWORD WINAPI runListenerThread(LPVOID parameter) {
    ListenerThread* t = static_cast<ListenerThread*>(parameter);
    t->window = createListener();
    t->id = GetCurrentThreadId();
    SetEvent(t->ready);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    DestroyWindow(t->window);
    return 0;
}

uint32_t g_modalCalls[3];
int g_modalCount = 0;
void QUORVEND_CDECL modalCallback(uint32_t column, uint32_t row, uint32_t kind) {
    g_modalCalls[0] = column;
    g_modalCalls[1] = row;
    g_modalCalls[2] = kind;
    ++g_modalCount;
}

}  // namespace

TEST(ConsoleMouse, ListenerOnTheConsolesThreadGetsMovePressAndReleaseWithTheCallersValue) {
    ScopedWindow console(consoleWithScreen());
    HWND listener = createListener();
    ASSERT_NE(listener, nullptr);
    g_console = console;
    g_events.clear();
    ConsoleListener l = listenerFor(listener, 0xDEADBEEF);
    ASSERT_EQ(send(console, CONM_SETMOUSELISTENER, 0, reinterpret_cast<LPARAM>(&l)), 0);
    MenuDriver menu(MenuDriver::kDismiss);
    moveClickRelease(console);
    expectTheThreeEvents(l.window, 0xDEADBEEF, GetCurrentThreadId());
    DestroyWindow(listener);
    send(console, WM_MOUSEMOVE, 0, MAKELPARAM(1, 1));  // a listener that is gone is ignored
    EXPECT_EQ(g_events.size(), 3u);
}

TEST(ConsoleMouse, ListenerOnAnotherThreadIsWaitedForAndMayCallBack) {
    ScopedWindow console(consoleWithScreen());
    ListenerThread t;
    HANDLE thread = CreateThread(nullptr, 0, runListenerThread, &t, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(t.ready, 5000), WAIT_OBJECT_0);
    g_console = console;
    g_events.clear();
    ConsoleListener l = listenerFor(t.window, 7);
    send(console, CONM_SETMOUSELISTENER, 0, reinterpret_cast<LPARAM>(&l));
    MenuDriver menu(MenuDriver::kDismiss);
    moveClickRelease(console);
    expectTheThreeEvents(l.window, 7, t.id);
    PostThreadMessageA(t.id, WM_QUIT, 0, 0);
    WaitForSingleObject(thread, 5000);
    CloseHandle(thread);
    CloseHandle(t.ready);
}

TEST(ConsoleMouse, ModalConsoleAsListenerForwardsColumnRowAndKind) {
    ScopedWindow console(consoleWithScreen());
    HWND modal = CreateWindowExA(0, QUORVEND_MODAL_CONSOLE_CLASS, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(modal, nullptr);
    send(modal, CONM_SETMODALCALLBACK, 0, reinterpret_cast<LPARAM>(modalCallback));
    ConsoleListener l = listenerFor(modal, 1);
    send(console, CONM_SETMOUSELISTENER, 0, reinterpret_cast<LPARAM>(&l));
    g_modalCount = 0;
    send(console, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(8 * 30 + 1, 16 * 6 + 1));
    EXPECT_EQ(g_modalCount, 1);
    EXPECT_EQ(g_modalCalls[0], CONSOLE_CELLPOS(30, 6)) << "the whole cell; its low 16 bits are the column";
    EXPECT_EQ(g_modalCalls[1], 6u);
    EXPECT_EQ(g_modalCalls[2], uint32_t{CONE_BUTTONDOWN});
    send(modal, CONM_SETMODALCALLBACK, 0, 0);
    DestroyWindow(modal);
    takeQuit(nullptr);
}

TEST(ConsoleMouse, RightClickOpensCancelCopySelectInOrder) {
    ScopedWindow console(consoleWithScreen());
    MenuDriver menu(MenuDriver::kDismiss);
    send(console, WM_RBUTTONDOWN, 0, MAKELPARAM(10, 10));
    ASSERT_EQ(menu.opened, 1);
    ASSERT_EQ(menu.items.size(), 3u);
    EXPECT_EQ(menu.items[0], "&Cancel");
    EXPECT_EQ(menu.items[1], "&Copy");
    EXPECT_EQ(menu.items[2], "&Select");
    EXPECT_EQ(menu.ids[0], 8002u);
    EXPECT_EQ(menu.ids[1], 8000u);
    EXPECT_EQ(menu.ids[2], 8001u);
}

namespace {

void CALLBACK destroyConsole(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    DestroyWindow(g_console);
}

}  // namespace

TEST(ConsoleMouse, WindowDestroyedWhileItsMenuIsOpenIsReleasedAfterTheMenuEnds) {
    const long blocks = liveBlockCount();
    HWND console = consoleWithScreen();
    g_console = console;
    // No answer: the menu stays open until the destruction ends it.
    MenuDriver menu(MenuDriver::kLeaveOpen);
    SetTimer(nullptr, 0, 300, destroyConsole);
    send(console, WM_RBUTTONDOWN, 0, MAKELPARAM(10, 10));
    EXPECT_EQ(menu.opened, 1);
    EXPECT_FALSE(IsWindow(console));
    EXPECT_EQ(liveBlockCount(), blocks);
}
