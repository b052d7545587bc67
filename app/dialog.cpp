// The dialog procedure shared by every dialog of the program. Messages before
// WM_INITDIALOG find no object and get the default handling; no exception crosses it.
#include "app/dialog.h"

#include <cstring>
#include <vector>

namespace app {

namespace {

// A dialog under per-monitor v2 awareness is resized and laid out again by the dialog
// manager itself; under per-monitor v1 (Windows 8.1 to 10 1607) nothing moves unless
// the dialog takes the suggested rectangle. Both calls are missing before Windows 10.
bool SystemScalesDialog(HWND window) {
    using ContextOf = HANDLE(WINAPI*)(HWND);
    using ContextsEqual = BOOL(WINAPI*)(HANDLE, HANDLE);
    HMODULE user32 = GetModuleHandleA("user32.dll");
    const auto contextOf = reinterpret_cast<ContextOf>(
        reinterpret_cast<void*>(GetProcAddress(user32, "GetWindowDpiAwarenessContext")));
    const auto equal = reinterpret_cast<ContextsEqual>(
        reinterpret_cast<void*>(GetProcAddress(user32, "AreDpiAwarenessContextsEqual")));
    if (contextOf == nullptr || equal == nullptr) return false;
    // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2, which winuser.h shows only from Windows 10.
    const HANDLE perMonitorV2 = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4));
    return equal(contextOf(window), perMonitorV2) != FALSE;
}

void FollowDpiChange(HWND window, LPARAM suggested) {
    if (suggested == 0 || SystemScalesDialog(window)) return;
    const RECT* r = reinterpret_cast<const RECT*>(suggested);
    SetWindowPos(window, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

INT_PTR Dialog::DoModal(HWND parent) {
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId_), parent, Procedure,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR Dialog::RunHidden() {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(templateId_), MAKEINTRESOURCEA(5));  // RT_DIALOG
    HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    const DWORD size = found != nullptr ? SizeofResource(module, found) : 0;
    if (bytes == nullptr || size < sizeof(DLGTEMPLATE) || size > (1u << 20)) return -1;
    std::vector<DWORD> copy((size + sizeof(DWORD) - 1) / sizeof(DWORD));  // templates are DWORD-aligned
    memcpy(copy.data(), bytes, size);
    // An extended template starts with version 1 and 0xFFFF; its style follows the help
    // id and the extended style. A plain one starts with its style.
    const auto* words = reinterpret_cast<const WORD*>(copy.data());
    DWORD& style = words[0] == 1 && words[1] == 0xFFFF ? copy[3] : copy[0];
    style &= ~static_cast<DWORD>(WS_VISIBLE);

    modeless_ = true;
    result_ = -1;
    if (CreateDialogIndirectParamA(module, reinterpret_cast<LPCDLGTEMPLATEA>(copy.data()), nullptr, Procedure,
                                   reinterpret_cast<LPARAM>(this)) == nullptr) {
        modeless_ = false;
        return -1;
    }
    MSG message;
    while (window_ != nullptr) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == -1) break;
        if (got == 0) {
            PostQuitMessage(static_cast<int>(message.wParam));  // for whoever loops next
            break;
        }
        if (!IsDialogMessageA(window_, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    if (window_ != nullptr) DestroyWindow(window_);
    modeless_ = false;
    return result_;
}

void Dialog::EndDialog(INT_PTR result) {
    if (!modeless_) {
        ::EndDialog(window_, result);
        return;
    }
    result_ = result;
    DestroyWindow(window_);
}

INT_PTR CALLBACK Dialog::Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(window, DWLP_USER, lparam);
        reinterpret_cast<Dialog*>(lparam)->window_ = window;
        reinterpret_cast<Dialog*>(lparam)->created_ = true;
    }
    auto* dialog = reinterpret_cast<Dialog*>(GetWindowLongPtrA(window, DWLP_USER));
    if (dialog == nullptr) return FALSE;
    INT_PTR result = FALSE;
    try {
        result = dialog->Dispatch(message, wparam, lparam);
    } catch (...) {
        result = FALSE;  // USER32 cannot unwind; the message gets the default handling
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(window, DWLP_USER, 0);
        dialog->window_ = nullptr;
    }
    return result;
}

INT_PTR Dialog::Dispatch(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog() ? TRUE : FALSE;
    case WM_COMMAND:
        OnCommand(LOWORD(wparam), HIWORD(wparam));
        return TRUE;
    case WM_DPICHANGED: {
        FollowDpiChange(window_, lparam);
        INT_PTR ignored = FALSE;
        OnMessage(message, wparam, lparam, ignored);
        return FALSE;  // the system's own dialog scaling still runs
    }
    default: {
        INT_PTR result = FALSE;
        return OnMessage(message, wparam, lparam, result) ? result : FALSE;
    }
    }
}

}  // namespace app
