// Keys reaching a real console window under Wine: posted key presses translated by the
// system into characters for the ring, Scroll Lock, the input field on the window's own
// thread and for a waiting worker thread, and input fields ended by destruction or abort.
#include <gtest/gtest.h>

#include <cstring>

#include "console/win32/instance_block.h"
#include "console_test_support.h"

using console::win32::liveBlockCount;
using namespace console_test;

namespace {

bool isExtended(UINT vk) {
    switch (vk) {
    case VK_LEFT: case VK_RIGHT: case VK_UP: case VK_DOWN: case VK_HOME: case VK_END:
    case VK_INSERT: case VK_DELETE: case VK_PRIOR: case VK_NEXT:
        return true;
    default:
        return false;
    }
}

// A key press and release as the keyboard driver posts them; the receiving loop's
// TranslateMessage makes the characters.
void postKey(HWND window, UINT vk) {
    const UINT scan = MapVirtualKeyA(vk, MAPVK_VK_TO_VSC);
    const LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16) | (isExtended(vk) ? (1 << 24) : 0);
    PostMessageA(window, WM_KEYDOWN, vk, down);
    PostMessageA(window, WM_KEYUP, vk, down | static_cast<LPARAM>(0xC0000000u));
}

// Handles this thread's queue until it is empty: a key press, then the character the
// system made of it.
void drainQueue() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// Types on another thread's window as a user would: each key only after the window's
// thread has handled the previous one and its character. The marker window belongs to
// the window's thread; a marker posted behind a key comes out after its key press, and
// a second one after the character that press made.
struct Typing {
    HWND window;
    HWND marker;
    const UINT* keys;
    size_t count;
    DWORD waitForText;  // 0, or a character the window must show at (0, 0) first
};

LRESULT CALLBACK markerProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_APP) {
        SetEvent(reinterpret_cast<HANDLE>(wparam));
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

HWND createMarker() { return createMessageWindow(markerProc, "kelvane.test.marker"); }

// What the console shows on row 0, from its cells.
char shownAt(HWND window, int column, int row = 0) {
    const auto* cells = reinterpret_cast<const uint16_t*>(send(window, CONM_GETCELLS, 0));
    const int columns = static_cast<int>(send(window, CONM_GETSIZE, 0) & 0xFFFF);
    return cells == nullptr ? 0 : static_cast<char>(cells[row * columns + column] & 0xFF);
}

DWORD WINAPI typist(LPVOID parameter) {
    const Typing* t = static_cast<const Typing*>(parameter);
    const DWORD start = GetTickCount();
    while (t->waitForText != 0 && shownAt(t->window, 0) != static_cast<char>(t->waitForText)) {
        if (GetTickCount() - start > 5000) return 1;
        Sleep(10);
    }
    HANDLE handled = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    for (size_t i = 0; i < t->count; ++i) {
        postKey(t->window, t->keys[i]);
        for (int round = 0; round < 2; ++round) {
            PostMessageA(t->marker, WM_APP, reinterpret_cast<WPARAM>(handled), 0);
            if (WaitForSingleObject(handled, 5000) != WAIT_OBJECT_0) return 2;
        }
    }
    CloseHandle(handled);
    return 0;
}

// Serves this thread until the typist has seen its last markers; its exit code.
DWORD finishTyping(HANDLE thread) {
    const DWORD start = GetTickCount();
    while (WaitForSingleObject(thread, 0) == WAIT_TIMEOUT && GetTickCount() - start < 5000) pumpFor(10);
    DWORD result = 1;
    GetExitCodeThread(thread, &result);
    CloseHandle(thread);
    return result;
}

}  // namespace

TEST(ConsoleKeyboard, PostedKeysReachTheRingAsTheSystemTranslatesThem) {
    ScopedWindow window(consoleWithScreen());
    HANDLE input = shareInstance(window)->inputEvent;
    const UINT keys[] = {'A', '1', VK_HOME, VK_UP, VK_BACK, VK_RETURN, VK_ESCAPE, VK_DELETE};
    for (UINT key : keys) {
        postKey(window, key);
        drainQueue();
    }
    EXPECT_EQ(WaitForSingleObject(input, 0), WAIT_OBJECT_0) << "character input signals the event";
    const LRESULT expected[] = {'a', '1', CONK_HOME, 8, 13, 27, CONK_DELETE, 0};
    for (LRESULT key : expected) EXPECT_EQ(send(window, CONM_GETKEY), key);
}

TEST(ConsoleKeyboard, ScrollLockPausesThePictureAndNeverReachesTheRing) {
    ScopedWindow window(consoleWithScreen());
    postKey(window, VK_SCROLL);
    drainQueue();
    EXPECT_EQ(send(window, CONM_SETCOLORMODE, 0, 1), -1) << "a paused screen refuses layout changes";
    EXPECT_EQ(send(window, CONM_GETFREEZE, 0), 0) << "the pause is not the freeze bit";
    postKey(window, VK_SCROLL);
    drainQueue();
    EXPECT_EQ(send(window, CONM_SETCOLORMODE, 0, 1), 0);
    EXPECT_EQ(send(window, CONM_GETKEY), 0);
}

TEST(ConsoleKeyboard, InputFieldOnTheWindowsThreadTakesTypedKeys) {
    ScopedWindow window(consoleWithScreen());
    ScopedWindow marker(createMarker());
    const UINT keys[] = {'H', 'I', VK_LEFT, VK_LEFT, 'X', VK_END, VK_DELETE, VK_RETURN};
    Typing typing = {window, marker, keys, sizeof keys / sizeof keys[0], 0};
    HANDLE thread = CreateThread(nullptr, 0, typist, &typing, 0, nullptr);  // the field's own loop takes them
    char buffer[11] = "";
    EXPECT_EQ(send(window, CONM_INPUTLINE, 10 | (CONI_UPPER << 12), reinterpret_cast<LPARAM>(buffer)), 1);
    EXPECT_EQ(finishTyping(thread), 0u);
    EXPECT_STREQ(buffer, "XH");
    EXPECT_EQ(shownAt(window, 0), 'X');
    EXPECT_EQ(shownAt(window, 1), 'H');
    EXPECT_EQ(shownAt(window, 2), ' ');
}

namespace {

struct InputCall {
    HWND window;
    char buffer[32];
    LRESULT result;
    volatile LONG done;
};

DWORD WINAPI inputLineWorker(LPVOID parameter) {
    InputCall* call = static_cast<InputCall*>(parameter);
    call->result = SendMessageA(call->window, CONM_INPUTLINE, 20 | (CONI_TEXT << 12), reinterpret_cast<LPARAM>(call->buffer));
    InterlockedExchange(&call->done, 1);
    return 0;
}

bool pumpUntil(const volatile LONG& flag, DWORD milliseconds) {
    const DWORD start = GetTickCount();
    while (flag == 0 && GetTickCount() - start < milliseconds) pumpFor(10);
    return flag != 0;
}

HWND g_timerTarget = nullptr;
enum class TimerAction { Destroy, Abort } g_timerAction;

void CALLBACK interruptInput(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    if (g_timerAction == TimerAction::Destroy) {
        DestroyWindow(g_timerTarget);
    } else {
        shareInstance(g_timerTarget)->waitAbort = 1;
    }
}

}  // namespace

TEST(ConsoleKeyboard, LineTypedWhileAnotherThreadWaitsInTheInputFieldComesBackToIt) {
    ScopedWindow window(consoleWithScreen());
    ScopedWindow marker(createMarker());
    InputCall call = {window, "init", 0, 0};
    const UINT keys[] = {VK_END, VK_RIGHT, 'X', VK_HOME, VK_DELETE, VK_RETURN};
    Typing typed = {window, marker, keys, sizeof keys / sizeof keys[0], 'i'};
    HANDLE worker = CreateThread(nullptr, 0, inputLineWorker, &call, 0, nullptr);
    HANDLE typing = CreateThread(nullptr, 0, typist, &typed, 0, nullptr);
    ASSERT_TRUE(worker && typing);
    EXPECT_TRUE(pumpUntil(call.done, 10000));
    WaitForSingleObject(worker, 5000);
    CloseHandle(worker);
    EXPECT_EQ(finishTyping(typing), 0u) << "the field never showed its initial text, or a key was not handled";
    EXPECT_EQ(call.result, 1);
    EXPECT_STREQ(call.buffer, "nitx");
    EXPECT_EQ(shownAt(window, 0), 'n');
    EXPECT_EQ(send(window, CONM_GETKEY), 0) << "the field took every key";
}

TEST(ConsoleKeyboard, InputFieldEndsOnDestructionOrAbortWithoutLeakingTheBlock) {
    for (TimerAction action : {TimerAction::Destroy, TimerAction::Abort}) {
        const long blocks = liveBlockCount();
        HWND window = consoleWithScreen();
        InputCall call = {window, "keep", 0, 0};
        g_timerTarget = window;
        g_timerAction = action;
        SetTimer(nullptr, 0, 200, interruptInput);
        HANDLE worker = CreateThread(nullptr, 0, inputLineWorker, &call, 0, nullptr);
        ASSERT_NE(worker, nullptr);
        EXPECT_TRUE(pumpUntil(call.done, 10000));
        WaitForSingleObject(worker, 5000);
        CloseHandle(worker);
        EXPECT_EQ(call.result, 0);
        EXPECT_STREQ(call.buffer, "keep");
        if (action == TimerAction::Destroy) {
            EXPECT_FALSE(IsWindow(window));
        } else {
            EXPECT_EQ(send(window, CONM_GETKEY), 0);
            DestroyWindow(window);
        }
        EXPECT_EQ(liveBlockCount(), blocks);
        EXPECT_FALSE(takeQuit(nullptr));
    }
}
