// Tests of the "quorvend.modal.console" class: installing the process-wide mouse
// callback, forwarding listener events to it, closing, and the quit it posts.
// Must leave no callback installed and no WM_QUIT queued behind it.
#include <gtest/gtest.h>

#include "console_test_support.h"

using namespace console_test;

namespace {

int g_calls = 0;
uint32_t g_column = 0;
uint32_t g_row = 0;
uint32_t g_kind = 0;

void QUORVEND_CDECL recordMouse(uint32_t column, uint32_t row, uint32_t kind) {
    ++g_calls;
    g_column = column;
    g_row = row;
    g_kind = kind;
}

void QUORVEND_CDECL otherMouse(uint32_t, uint32_t, uint32_t) {}

HWND createModal() {
    ensureClasses();
    return CreateWindowExA(0, QUORVEND_MODAL_CONSOLE_CLASS, "", WS_POPUP, 0, 0, 64, 64, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

}  // namespace

TEST(ModalConsole, ForwardsListenerEventsToTheInstalledCallback) {
    HWND window = createModal();
    ASSERT_NE(window, nullptr);
    g_calls = 0;
    EXPECT_EQ(send(window, CONM_SETMODALCALLBACK, 0, reinterpret_cast<LPARAM>(recordMouse)), 0);

    ConsoleListener listener = {0, 77, CONSOLE_CELLPOS(5, 3)};
    EXPECT_EQ(send(window, CONM_MOUSEEVENT, CONE_BUTTONDOWN, reinterpret_cast<LPARAM>(&listener)), 0);
    ASSERT_EQ(g_calls, 1);
    EXPECT_EQ(g_column & 0xFFFFu, 5u);  // the whole cell value travels; its low half is the column
    EXPECT_EQ(g_column, listener.cell);
    EXPECT_EQ(g_row, 3u);
    EXPECT_EQ(g_kind, static_cast<uint32_t>(CONE_BUTTONDOWN));

    send(window, CONM_MOUSEEVENT, CONE_MOVE, 0);  // no record: nothing to forward
    EXPECT_EQ(g_calls, 1);

    EXPECT_EQ(send(window, CONM_SETMODALCALLBACK, 0, reinterpret_cast<LPARAM>(otherMouse)),
              reinterpret_cast<LRESULT>(recordMouse));
    EXPECT_EQ(send(window, CONM_SETMODALCALLBACK, 0, 0), reinterpret_cast<LRESULT>(otherMouse));
    send(window, CONM_MOUSEEVENT, CONE_BUTTONUP, reinterpret_cast<LPARAM>(&listener));
    EXPECT_EQ(g_calls, 1);

    DestroyWindow(window);
    takeQuit(nullptr);
}

TEST(ModalConsole, CloseDestroysTheWindowAndPostsQuitMinusOne) {
    HWND window = createModal();
    ASSERT_NE(window, nullptr);
    takeQuit(nullptr);
    send(window, CONM_CLOSE);
    EXPECT_FALSE(IsWindow(window));
    int code = 0;
    ASSERT_TRUE(takeQuit(&code));
    EXPECT_EQ(code, -1);
}
