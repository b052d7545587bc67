// Tests of the console window procedure's life cycle on real windows under Wine: blocks,
// registry entries, messages before creation and after destruction, subclassing, timers.
// Must not depend on the order the tests run in: each makes and destroys its own windows.
#include <gtest/gtest.h>

#include <vector>

#include "console/win32/instance_block.h"
#include "console/win32/registry.h"
#include "console_test_support.h"

using console::win32::g_consoleRegistry;
using console::win32::liveBlockCount;
using namespace console_test;

namespace {

struct Returned {
    UINT message;
    LRESULT result;
};

// What the console procedure returned for each message, seen by a thread hook.
std::vector<Returned> g_returned;
HWND g_watched = nullptr;
long g_blocksAtNcDestroy = -1;

LRESULT CALLBACK recordReturns(int code, WPARAM wparam, LPARAM lparam) {
    const CWPRETSTRUCT* ret = reinterpret_cast<const CWPRETSTRUCT*>(lparam);
    if (code == HC_ACTION) {
        if (ret->hwnd == g_watched) {
            g_returned.push_back({ret->message, ret->lResult});
            if (ret->message == WM_NCDESTROY) g_blocksAtNcDestroy = liveBlockCount();
        }
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

class ReturnHook {
public:
    ReturnHook() {
        g_returned.clear();
        g_watched = nullptr;
        g_blocksAtNcDestroy = -1;
        hook_ = SetWindowsHookExA(WH_CALLWNDPROCRET, recordReturns, nullptr, GetCurrentThreadId());
    }
    ~ReturnHook() {
        UnhookWindowsHookEx(hook_);
        g_watched = nullptr;
    }
    bool installed() const { return hook_ != nullptr; }

private:
    HHOOK hook_;
};

const Returned* find(UINT message) {
    for (const Returned& r : g_returned) {
        if (r.message == message) return &r;
    }
    return nullptr;
}

// Sends to a console window from the moment it exists, before any creation message.
bool g_probed = false;
LRESULT g_instanceBeforeCreate = 0;
LRESULT g_textLengthBeforeCreate = 0;

LRESULT CALLBACK probeCreation(int code, WPARAM wparam, LPARAM lparam) {
    if (code == HCBT_CREATEWND && !g_probed) {
        HWND window = reinterpret_cast<HWND>(wparam);
        char name[64] = "";
        if (GetClassNameA(window, name, sizeof name) > 0 && lstrcmpA(name, QUORVEND_CONSOLE_CLASS) == 0) {
            g_probed = true;
            g_instanceBeforeCreate = SendMessageA(window, CONM_GETINSTANCE, 0, 0);
            g_textLengthBeforeCreate = SendMessageA(window, WM_GETTEXTLENGTH, 0, 0);
        }
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
}

class CreationProbe {
public:
    CreationProbe() {
        g_probed = false;
        hook_ = SetWindowsHookExA(WH_CBT, probeCreation, nullptr, GetCurrentThreadId());
    }
    ~CreationProbe() { UnhookWindowsHookEx(hook_); }
    bool installed() const { return hook_ != nullptr; }

private:
    HHOOK hook_;
};

int g_subclassCalls = 0;
WNDPROC g_previous = nullptr;

LRESULT CALLBACK countingSubclass(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    ++g_subclassCalls;
    return CallWindowProcA(g_previous, window, message, wparam, lparam);
}

}  // namespace

TEST(ConsoleWindow, TwoWindowsGetIndependentBlocksAndAFreedEntryIsReused) {
    ScopedWindow first(createConsole());
    ScopedWindow second(createConsole());
    ASSERT_TRUE(first.get() && second.get());
    console::ConsoleInstance* a = shareInstance(first);
    console::ConsoleInstance* b = shareInstance(second);
    ASSERT_TRUE(a && b);
    EXPECT_NE(a, b);
    EXPECT_EQ(a->valid, 1);
    EXPECT_EQ(b->valid, 1);
    EXPECT_NE(a->notifyThread, nullptr);
    EXPECT_NE(a->notifyThread, b->notifyThread);
    EXPECT_NE(a->notifyEvent, b->notifyEvent);
    EXPECT_NE(a->inputEvent, b->inputEvent);
    EXPECT_NE(a->contextMenu, b->contextMenu);
    EXPECT_LT(a->timerId, 8000u);

    const int firstIndex = g_consoleRegistry.indexOf(first);
    const size_t entries = g_consoleRegistry.entryCount();
    ASSERT_GE(firstIndex, 0);
    EXPECT_GT(g_consoleRegistry.indexOf(second), firstIndex);
    DestroyWindow(first);
    EXPECT_EQ(g_consoleRegistry.indexOf(first), -1);

    ScopedWindow third(createConsole());
    EXPECT_EQ(g_consoleRegistry.indexOf(third), firstIndex);
    EXPECT_EQ(g_consoleRegistry.entryCount(), entries);
}

TEST(ConsoleWindow, EachWindowTicksWithItsOwnTimer) {
    ScopedWindow first(createConsole());
    ScopedWindow second(createConsole());
    const uint32_t firstTimer = shareInstance(first)->timerId;
    const uint32_t secondTimer = shareInstance(second)->timerId;
    int firstTicks = 0;
    int secondTicks = 0;
    const DWORD start = GetTickCount();
    MSG msg;
    while (GetTickCount() - start < 450) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_TIMER && msg.hwnd == first.get() && msg.wParam == firstTimer) ++firstTicks;
            if (msg.message == WM_TIMER && msg.hwnd == second.get() && msg.wParam == secondTimer) ++secondTicks;
            DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    EXPECT_GE(firstTicks, 2);
    EXPECT_GE(secondTicks, 2);
}

TEST(ConsoleWindow, MessagesBeforeCreateGetMinusOneWithoutDefaultProcessing) {
    CreationProbe probe;
    ASSERT_TRUE(probe.installed());
    ScopedWindow window(createConsole(256, 128, "some title"));
    ASSERT_TRUE(window.get());
    ASSERT_TRUE(g_probed);
    EXPECT_EQ(g_instanceBeforeCreate, -1);  // a live console with sharing off answers 0
    EXPECT_EQ(g_textLengthBeforeCreate, -1);  // default processing would answer 0
    EXPECT_EQ(send(window, CONM_GETINSTANCE), 0);
    // The default WM_NCCREATE processing is what stores the title, so it never ran.
    char title[32] = "unchanged";
    GetWindowTextA(window, title, sizeof title);
    EXPECT_STREQ(title, "");
}

TEST(ConsoleWindow, MessagesAfterDestroyGetMinusOne) {
    ReturnHook hook;
    const long blocks = liveBlockCount();
    HWND window = createConsole();
    g_watched = window;
    ASSERT_EQ(liveBlockCount(), blocks + 1);
    DestroyWindow(window);
    EXPECT_EQ(liveBlockCount(), blocks);

    const Returned* ncDestroy = find(WM_NCDESTROY);
    ASSERT_NE(ncDestroy, nullptr);
    EXPECT_EQ(ncDestroy->result, -1);
    // The handle is gone, so call the procedure as a late sender would reach it.
    EXPECT_EQ(console::win32::consoleWindowProc(window, CONM_GETSHARING, 0, 0), -1);
    EXPECT_EQ(console::win32::consoleWindowProc(window, CONM_CREATESCREEN, 0, 0), -1);
    EXPECT_EQ(console::win32::consoleWindowProc(window, WM_PAINT, 0, 0), -1);
}

TEST(ConsoleWindow, SubclassingLastsOnlyUntilTheNextMessage) {
    ScopedWindow window(createConsole());
    g_subclassCalls = 0;
    g_previous = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(countingSubclass)));
    ASSERT_EQ(g_previous, console::win32::consoleWindowProc);

    EXPECT_EQ(send(window, CONM_GETSHARING), -1);
    EXPECT_EQ(g_subclassCalls, 1);
    EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC)), console::win32::consoleWindowProc);
    send(window, CONM_GETSHARING);
    EXPECT_EQ(g_subclassCalls, 1);
}

TEST(ConsoleWindow, RepeatedCreateKeepsTheFirstBlockAndMakesNoOther) {
    ScopedWindow window(createConsole());
    console::ConsoleInstance* before = shareInstance(window);
    const long blocks = liveBlockCount();
    const size_t entries = g_consoleRegistry.entryCount();
    EXPECT_EQ(send(window, WM_CREATE), 0);
    EXPECT_EQ(shareInstance(window), before);
    EXPECT_EQ(liveBlockCount(), blocks);
    EXPECT_EQ(g_consoleRegistry.entryCount(), entries);
}

TEST(ConsoleWindow, ClearedValidByteRefusesMessagesButDestroyStillTearsDown) {
    const long blocks = liveBlockCount();
    HWND window = createConsole();
    console::ConsoleInstance* instance = shareInstance(window);
    ASSERT_NE(instance, nullptr);
    HANDLE thread = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), instance->notifyThread, GetCurrentProcess(), &thread,
                                SYNCHRONIZE, FALSE, 0));

    instance->valid = 0;
    EXPECT_EQ(send(window, CONM_GETINSTANCE), -1);
    instance->valid = 1;
    EXPECT_EQ(send(window, CONM_GETINSTANCE), reinterpret_cast<LRESULT>(instance));

    instance->valid = 0;
    DestroyWindow(window);
    EXPECT_EQ(g_consoleRegistry.indexOf(window), -1);
    EXPECT_EQ(liveBlockCount(), blocks);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    CloseHandle(thread);
}

TEST(ConsoleWindow, DestroyDuringAKeyWaitFreesTheBlockOnlyAfterTheWaitReturns) {
    ReturnHook hook;
    const long blocks = liveBlockCount();
    HWND window = createConsole();
    g_watched = window;
    ASSERT_EQ(send(window, CONM_CREATESCREEN, 0), 0);
    ASSERT_EQ(send(window, CONM_SELECTSCREEN, 0), 0);
    PostMessageA(window, WM_CLOSE, 0, 0);  // the key wait's own loop dispatches it

    const LRESULT key = send(window, CONM_WAITKEY);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(key == 0 || key == 27) << key;
    EXPECT_EQ(g_blocksAtNcDestroy, blocks + 1);  // still held by the waiting frame
    EXPECT_EQ(liveBlockCount(), blocks);
    EXPECT_EQ(g_consoleRegistry.indexOf(window), -1);
    EXPECT_FALSE(takeQuit(nullptr));
}

TEST(ConsoleWindow, ContextMenuHoldsCancelCopySelectInOrder) {
    ScopedWindow window(createConsole());
    HMENU menu = static_cast<HMENU>(shareInstance(window)->contextMenu);
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(GetMenuItemCount(menu), 3);
    const char* names[] = {"&Cancel", "&Copy", "&Select"};
    const UINT ids[] = {8002, 8000, 8001};
    for (int i = 0; i < 3; ++i) {
        char text[32] = "";
        GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
        EXPECT_STREQ(text, names[i]);
        EXPECT_EQ(GetMenuItemID(menu, i), ids[i]);
    }
}

TEST(ConsoleWindow, RegisteringTheClassesAgainKeepsWindowsWorking) {
    ScopedWindow window(createConsole());
    ensureClasses();
    ensureClasses();
    EXPECT_EQ(send(window, CONM_CREATESCREEN, 3), 3);
    ScopedWindow other(createConsole());
    EXPECT_EQ(send(other, CONM_CREATESCREEN, 3), 3);
}
