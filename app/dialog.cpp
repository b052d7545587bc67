// The dialog procedure shared by every dialog of the program. Messages before
// WM_INITDIALOG find no object and get the default handling; no exception crosses it.
#include "app/dialog.h"

namespace app {

INT_PTR Dialog::DoModal(HWND parent) {
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId_), parent, Procedure,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK Dialog::Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(window, DWLP_USER, lparam);
        reinterpret_cast<Dialog*>(lparam)->window_ = window;
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
