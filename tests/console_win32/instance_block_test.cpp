// Tests of the notification thread and of destruction while a callback runs, on real
// windows under Wine. Callbacks record into process-wide state that each test resets;
// a hang would be a failure, so waits that could deadlock run on a worker with a deadline.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "console_test_support.h"

using namespace console_test;

namespace {

std::mutex g_lock;
std::vector<uint32_t> g_values;
std::vector<DWORD> g_threads;
std::atomic<int> g_calls{0};

void QUORVEND_CDECL recordCall(uint32_t argument) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_values.push_back(argument);
    g_threads.push_back(GetCurrentThreadId());
    ++g_calls;
}

uint32_t lastValue() {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_values.empty() ? 0 : g_values.back();
}

class NotifyTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::lock_guard<std::mutex> guard(g_lock);
        g_values.clear();
        g_threads.clear();
        g_calls = 0;
    }
};

// A callback that holds its thread until released, to catch destruction mid-call.
HANDLE g_entered = nullptr;
HANDLE g_release = nullptr;
std::atomic<bool> g_returned{false};
HWND g_target = nullptr;
std::atomic<LRESULT> g_sentResult{0};

void QUORVEND_CDECL blockingCall(uint32_t) {
    SetEvent(g_entered);
    WaitForSingleObject(g_release, INFINITE);
    g_returned = true;
}

// Sends to its own console once released: the destroying thread must serve it.
void QUORVEND_CDECL sendingCall(uint32_t) {
    SetEvent(g_entered);
    WaitForSingleObject(g_release, INFINITE);
    g_sentResult = SendMessageA(g_target, CONM_GETSHARING, 0, 0);
    g_returned = true;
}

DWORD WINAPI releaseLater(LPVOID) {
    Sleep(200);
    SetEvent(g_release);
    return 0;
}

DWORD WINAPI destroyWhileCallbackSends(LPVOID) {
    HWND window = createConsole();
    g_target = window;
    send(window, CONM_SETSHARING, 0, 1);
    send(window, CONM_SETCALLBACK, 0, reinterpret_cast<LPARAM>(sendingCall));
    send(window, CONM_POSTCALLBACK, 0, 1);
    WaitForSingleObject(g_entered, INFINITE);
    SetEvent(g_release);
    DestroyWindow(window);
    return 0;
}

}  // namespace

TEST_F(NotifyTest, QuickPostsGiveAtLeastOneCallAndTheLastGetsTheLastValue) {
    ScopedWindow window(createConsole());
    EXPECT_EQ(send(window, CONM_POSTCALLBACK, 0, 5), 0);  // no callback yet: nothing posted
    send(window, CONM_SETCALLBACK, 0, reinterpret_cast<LPARAM>(recordCall));
    EXPECT_EQ(send(window, CONM_POSTCALLBACK, 0, 5), 5);
    EXPECT_EQ(send(window, CONM_POSTCALLBACK, 0, 6), 6);
    EXPECT_EQ(send(window, CONM_POSTCALLBACK, 0, 7), 7);

    ASSERT_TRUE(eventually([] { return lastValue() == 7; }));
    Sleep(150);
    std::lock_guard<std::mutex> guard(g_lock);
    ASSERT_GE(g_values.size(), 1u);
    EXPECT_EQ(g_values.back(), 7u);
    for (size_t i = 0; i < g_values.size(); ++i) {
        EXPECT_GE(g_values[i], 5u);
        if (i > 0) {
            EXPECT_GE(g_values[i], g_values[i - 1]);  // a stored value only moves forward
        }
        EXPECT_NE(g_threads[i], GetCurrentThreadId());
    }
}

TEST_F(NotifyTest, PostingZeroWakesWithoutACall) {
    ScopedWindow window(createConsole());
    send(window, CONM_SETCALLBACK, 0, reinterpret_cast<LPARAM>(recordCall));
    EXPECT_EQ(send(window, CONM_POSTCALLBACK, 0, 0), 0);
    Sleep(200);
    EXPECT_EQ(g_calls.load(), 0);

    send(window, CONM_SETCALLBACK, 0, 0);
    EXPECT_EQ(send(window, CONM_POSTCALLBACK, 0, 9), 0);
    Sleep(100);
    EXPECT_EQ(g_calls.load(), 0);
}

TEST_F(NotifyTest, EachWindowCallsBackOnItsOwnThread) {
    ScopedWindow first(createConsole());
    ScopedWindow second(createConsole());
    send(first, CONM_SETCALLBACK, 0, reinterpret_cast<LPARAM>(recordCall));
    send(second, CONM_SETCALLBACK, 0, reinterpret_cast<LPARAM>(recordCall));
    send(first, CONM_POSTCALLBACK, 0, 11);
    ASSERT_TRUE(eventually([] { return g_calls.load() >= 1; }));
    send(second, CONM_POSTCALLBACK, 0, 22);
    ASSERT_TRUE(eventually([] { return lastValue() == 22; }));

    std::lock_guard<std::mutex> guard(g_lock);
    EXPECT_EQ(g_values.front(), 11u);
    EXPECT_NE(g_threads.front(), g_threads.back());
}

TEST_F(NotifyTest, DestroyCompletesOnlyAfterTheRunningCallbackReturns) {
    g_entered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_returned = false;
    HWND window = createConsole();
    send(window, CONM_SETCALLBACK, 0, reinterpret_cast<LPARAM>(blockingCall));
    send(window, CONM_POSTCALLBACK, 0, 1);
    ASSERT_EQ(WaitForSingleObject(g_entered, 2000), WAIT_OBJECT_0);

    HANDLE releaser = CreateThread(nullptr, 0, releaseLater, nullptr, 0, nullptr);
    const DWORD start = GetTickCount();
    DestroyWindow(window);
    EXPECT_TRUE(g_returned.load());
    EXPECT_GE(GetTickCount() - start, 150u);

    WaitForSingleObject(releaser, INFINITE);
    CloseHandle(releaser);
    CloseHandle(g_entered);
    CloseHandle(g_release);
}

// Regression: the destroying thread used to wait for the notification thread without
// serving sent messages, so a callback sending to its console deadlocked both.
TEST_F(NotifyTest, CallbackSendingToItsWindowDuringDestroyDoesNotDeadlock) {
    g_entered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    g_returned = false;
    g_sentResult = 0;
    HANDLE worker = CreateThread(nullptr, 0, destroyWhileCallbackSends, nullptr, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(worker, 10000), WAIT_OBJECT_0) << "destruction deadlocked";
    EXPECT_TRUE(g_returned.load());
    EXPECT_EQ(g_sentResult.load(), 1);  // answered by the closing console itself
    CloseHandle(worker);
    CloseHandle(g_entered);
    CloseHandle(g_release);
}
