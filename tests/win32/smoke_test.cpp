// Proves the Windows test chain end to end: built by mingw, run under Wine by CTest,
// a real window answers a message sent to it. Holds no product logic.
#include <windows.h>

#include <gtest/gtest.h>

namespace {

LRESULT CALLBACK echoProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_USER + 1) return static_cast<LRESULT>(wparam + lparam);
    return DefWindowProcA(window, message, wparam, lparam);
}

TEST(Win32Smoke, SendMessageRoundTrip) {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = echoProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "kelvane.smoke";
    ASSERT_NE(RegisterClassExA(&wc), 0);
    HWND window = CreateWindowExA(0, "kelvane.smoke", "smoke", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                  nullptr, wc.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(SendMessageA(window, WM_USER + 1, 40, 2), 42);
    EXPECT_TRUE(DestroyWindow(window));
#if defined(_WIN64)
    EXPECT_EQ(sizeof(void*), 8u) << "the 64-bit build";
#else
    EXPECT_EQ(sizeof(void*), 4u) << "the product is 32-bit";
#endif
}

}  // namespace
