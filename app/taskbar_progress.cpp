// Taskbar progress through ITaskbarList3, made on the window's thread at first use. The
// reporting side only stores the latest values and posts: a module that reports often
// never waits for the window, and the window shows the latest, not a queue.
#include "app/taskbar_progress.h"

#include <shobjidl.h>

#include "engine/win32/payload_api.h"
#include "sdk/kelvane_payload.h"

namespace app {

namespace {

HWND g_window = nullptr;
UINT g_message = 0;
CRITICAL_SECTION g_lock;
bool g_lockReady = false;
uint32_t g_state = KELVANE_PROGRESS_NONE;
uint64_t g_done = 0, g_total = 0;
volatile LONG g_posted = 0;  // a message is on its way: no need for another
ITaskbarList3* g_taskbar = nullptr;
bool g_taskbarTried = false;

void KELVANE_CDECL FromModule(uint32_t state, uint64_t done, uint64_t total) { ReportTaskbarProgress(state, done, total); }

}  // namespace

void RouteTaskbarProgress(HWND window, UINT message) {
    if (!g_lockReady) {
        InitializeCriticalSection(&g_lock);
        g_lockReady = true;
    }
    g_window = window;
    g_message = message;
    engine::win32::SetTaskbarProgress(FromModule);
}

void ReportTaskbarProgress(uint32_t state, uint64_t done, uint64_t total) {
    if (!g_lockReady || g_window == nullptr) return;
    EnterCriticalSection(&g_lock);
    g_state = state;
    g_done = done <= total ? done : total;
    g_total = total;
    LeaveCriticalSection(&g_lock);
    if (InterlockedExchange(&g_posted, 1) == 0) PostMessageA(g_window, g_message, 0, 0);
}

void ShowTaskbarProgress(HWND window) {
    InterlockedExchange(&g_posted, 0);
    EnterCriticalSection(&g_lock);
    const uint32_t state = g_state;
    const uint64_t done = g_done, total = g_total;
    LeaveCriticalSection(&g_lock);
    if (!g_taskbarTried) {
        g_taskbarTried = true;
        if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                       reinterpret_cast<void**>(&g_taskbar))) &&
            FAILED(g_taskbar->HrInit())) {
            g_taskbar->Release();
            g_taskbar = nullptr;
        }
    }
    if (g_taskbar == nullptr) return;
    const TBPFLAG flag = state == KELVANE_PROGRESS_NORMAL ? TBPF_NORMAL
                         : state == KELVANE_PROGRESS_ERROR ? TBPF_ERROR
                                                           : TBPF_NOPROGRESS;
    g_taskbar->SetProgressState(window, flag);
    if (flag != TBPF_NOPROGRESS && total > 0) g_taskbar->SetProgressValue(window, done, total);
}

}  // namespace app
