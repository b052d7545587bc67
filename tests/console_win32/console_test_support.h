// Helpers shared by the Win32 console tests: real console windows on the calling
// thread's queue, message pumping with a deadline, and access to the shared block.
// Must not reach into the Win32 layer's internals beyond its published diagnostics.
#pragma once

#include <windows.h>

#include <cstdint>

#include "console/core/instance.h"
#include "console/win32/console_window.h"
#include "sdk/quorvend_console.h"

namespace console_test {

inline void ensureClasses() { console::win32::registerConsoleClasses(GetModuleHandleA(nullptr)); }

// A console window as a borderless popup, so its client area equals its size. Only
// tests that read pixels need it shown (hiding a shown window is slow under Wine).
inline HWND createConsole(int width = 256, int height = 128, const char* title = "", bool visible = false) {
    ensureClasses();
    return CreateWindowExA(0, QUORVEND_CONSOLE_CLASS, title, WS_POPUP | (visible ? WS_VISIBLE : 0), 0, 0, width,
                           height, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

inline LRESULT send(HWND window, UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
    return SendMessageA(window, message, wparam, lparam);
}

// A console with screen 0 created, selected and laid out for the 8x16 font.
inline HWND consoleWithScreen() {
    HWND window = createConsole();
    send(window, CONM_CREATESCREEN, 0);
    send(window, CONM_SELECTSCREEN, 0);
    send(window, CONM_SETFONT, CONSOLE_SETFONT_WPARAM(0, CONSOLE_FONT_8X16));
    return window;
}

// A message-only window of a class of its own, for tests that need a receiver.
inline HWND createMessageWindow(WNDPROC procedure, const char* className) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = procedure;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = className;
    RegisterClassA(&wc);
    return CreateWindowExA(0, className, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
}

// The window's block, through the public sharing messages.
inline console::ConsoleInstance* shareInstance(HWND window) {
    send(window, CONM_SETSHARING, 0, 1);
    return reinterpret_cast<console::ConsoleInstance*>(send(window, CONM_GETINSTANCE));
}

// Dispatches this thread's messages for the given time.
inline void pumpFor(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    MSG msg;
    while (GetTickCount() - start < milliseconds) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

// Polls a condition for up to the given time; true as soon as it holds.
template <typename Condition>
bool eventually(Condition condition, DWORD milliseconds = 2000) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > milliseconds) return false;
        Sleep(5);
    }
    return true;
}

// Removes a pending WM_QUIT (posted by a destroyed modal console) and returns its code.
inline bool takeQuit(int* code) {
    MSG msg;
    if (!PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) return false;
    if (code != nullptr) *code = static_cast<int>(msg.wParam);
    return true;
}

// Destroys the window at the end of a test unless the test already did.
class ScopedWindow {
public:
    explicit ScopedWindow(HWND window) : window_(window) {}
    ~ScopedWindow() {
        if (IsWindow(window_)) DestroyWindow(window_);
    }
    ScopedWindow(const ScopedWindow&) = delete;
    ScopedWindow& operator=(const ScopedWindow&) = delete;
    HWND get() const { return window_; }
    operator HWND() const { return window_; }

private:
    HWND window_;
};

}  // namespace console_test
