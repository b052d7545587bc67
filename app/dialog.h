// A small base for modal dialogs from .rc templates: one static procedure finds the
// object and hands it each message. Holds no dialog's state and shows nothing itself.
#pragma once

#include <windows.h>

namespace app {

class Dialog {
public:
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;
    virtual ~Dialog() = default;

    // Runs the dialog modally (DialogBoxParamA) with template templateId of the program's
    // own module; returns what EndDialog was given, or -1 when it could not be created.
    INT_PTR DoModal(HWND parent = nullptr);

    // Runs the dialog without ever showing it (the template's WS_VISIBLE is cleared),
    // with a message loop of its own until it ends; results as DoModal. Main thread.
    INT_PTR RunHidden();

    // The dialog's window while it exists, else null. Main thread.
    HWND window() const { return window_; }
    // True once the dialog received WM_INITDIALOG: a result of -1 then came from the
    // dialog itself, not from a failed creation.
    bool wasCreated() const { return created_; }

protected:
    explicit Dialog(int templateId) : templateId_(templateId) {}

    // WM_INITDIALOG; true lets the system focus the first tab-stop control.
    virtual bool OnInitDialog() { return true; }
    // WM_COMMAND from a control or an accelerator (notification code in code).
    virtual void OnCommand(int /*id*/, int /*code*/) {}
    // Every other message. Return true when handled; result is then the dialog
    // procedure's answer (TRUE/FALSE, or the value itself for the few messages, such as
    // WM_QUERYDRAGICON, whose answer is the procedure's result).
    virtual bool OnMessage(UINT /*message*/, WPARAM, LPARAM, INT_PTR& /*result*/) { return false; }

    void EndDialog(INT_PTR result);

private:
    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    INT_PTR Dispatch(UINT message, WPARAM wparam, LPARAM lparam);

    int templateId_;
    HWND window_ = nullptr;
    bool created_ = false;
    bool modeless_ = false;  // RunHidden: ending destroys the window
    INT_PTR result_ = -1;
};

}  // namespace app
