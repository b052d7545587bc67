// The payload check beside a window of its own; see verify_window.h. The checking thread
// touches no window: it leaves its progress in a shared counter the window reads on a timer.
#include "app/verify_window.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "engine/win32/embedded_payload.h"

namespace app {

namespace {

constexpr int kTemplate = 140;
constexpr int kText = 1001;
constexpr DWORD kShowAfterMs = 500;
constexpr DWORD kTickMs = 100;
constexpr uint64_t kShowAbove = 4u << 20;  // smaller ones are checked before anybody could look

struct Check {
    std::string failure;
    bool ok = false;
    volatile LONG percent = 0;
    volatile LONG large = 0;  // the payload is worth a window
};

bool Progress(void* context, uint64_t done, uint64_t total) {
    Check& check = *static_cast<Check*>(context);
    InterlockedExchange(&check.large, total > kShowAbove ? 1 : 0);
    InterlockedExchange(&check.percent, total == 0 ? 100 : static_cast<LONG>(done * 100 / total));
    return true;
}

DWORD WINAPI CheckThread(LPVOID parameter) {
    Check& check = *static_cast<Check*>(parameter);
    check.ok = engine::win32::CheckEmbeddedPayload(&check.failure, Progress, &check);
    return 0;
}

// Nothing to answer: the window only shows text, and cannot be closed before the check ends.
INT_PTR CALLBACK VerifyProcedure(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

void ShowPercent(HWND window, LONG percent) {
    char text[64];
    snprintf(text, sizeof text, "Verifying the installer ... %ld %%", static_cast<long>(percent));
    SetDlgItemTextA(window, kText, text);
}

}  // namespace

bool CheckPayloadShowingProgress(bool showWindow, std::string* failure, double* seconds) {
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    Check check;
    HANDLE thread = CreateThread(nullptr, 0, CheckThread, &check, 0, nullptr);
    if (thread == nullptr) {
        CheckThread(&check);  // no thread to spare: checked here, without a window
    } else {
        HWND window = nullptr;
        LONG shown = -1;
        for (;;) {
            const DWORD waited = MsgWaitForMultipleObjects(1, &thread, FALSE, kTickMs, QS_ALLINPUT);
            if (waited == WAIT_OBJECT_0) break;
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (message.message == WM_QUIT) {
                    PostQuitMessage(static_cast<int>(message.wParam));  // for the loop that owns it
                    break;
                }
                if (window == nullptr || !IsDialogMessageW(window, &message)) {
                    TranslateMessage(&message);
                    DispatchMessageW(&message);
                }
            }
            QueryPerformanceCounter(&end);
            const double elapsedMs = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
            if (window == nullptr && showWindow && elapsedMs >= kShowAfterMs &&
                InterlockedCompareExchange(&check.large, 0, 0) != 0) {
                window = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kTemplate), nullptr,
                                            VerifyProcedure, 0);
                if (window != nullptr) ShowWindow(window, SW_SHOWNORMAL);
            }
            const LONG percent = InterlockedCompareExchange(&check.percent, 0, 0);
            if (window != nullptr && percent != shown) {
                ShowPercent(window, percent);
                shown = percent;
            }
        }
        if (window != nullptr) DestroyWindow(window);
        CloseHandle(thread);
    }
    QueryPerformanceCounter(&end);
    *seconds = static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
    if (!check.ok) *failure = check.failure;
    return check.ok;
}

}  // namespace app
