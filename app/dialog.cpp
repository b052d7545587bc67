// The dialog procedure shared by every dialog of the program. Messages before
// WM_INITDIALOG find no object and get the default handling; no exception crosses it.
#include "app/dialog.h"

#include <cstring>
#include <vector>

namespace app {

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
    default: {
        INT_PTR result = FALSE;
        return OnMessage(message, wparam, lparam, result) ? result : FALSE;
    }
    }
}

}  // namespace app
