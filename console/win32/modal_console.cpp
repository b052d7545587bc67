// The "quorvend.modal.console" window procedure and the process-wide modal mouse callback.
// Must not keep per-window state: the class only forwards mouse events, closes on request
// and ends the message loop of its thread when destroyed.
#include "console_window.h"
#include "sdk/quorvend_console.h"

namespace console {
namespace win32 {

namespace {

// Installed by CONM_SETMODALCALLBACK from any thread; swapped and read atomically.
void* volatile g_modalMouseCallback = nullptr;

LRESULT OnSetModalCallback(LPARAM lparam) {
    return reinterpret_cast<LRESULT>(InterlockedExchangePointer(&g_modalMouseCallback, reinterpret_cast<void*>(lparam)));
}

void OnMouseEvent(WPARAM wparam, LPARAM lparam) {
    if (lparam == 0) return;
    void* installed = InterlockedCompareExchangePointer(&g_modalMouseCallback, nullptr, nullptr);
    if (installed == nullptr) return;
    const ConsoleListener* listener = reinterpret_cast<const ConsoleListener*>(lparam);
    uint32_t cell = listener->cell;
    reinterpret_cast<ConsoleModalMouseCallback>(installed)(cell, cell >> 16, static_cast<uint32_t>(wparam));
}

}  // namespace

LRESULT CALLBACK modalConsoleWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_DESTROY:
        PostQuitMessage(-1);
        break;
    case CONM_CLOSE:
        DestroyWindow(window);
        break;
    case CONM_MOUSEEVENT:
        OnMouseEvent(wparam, lparam);
        break;
    case CONM_SETMODALCALLBACK:
        return OnSetModalCallback(lparam);
    default:
        break;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace win32
}  // namespace console
