// The main installation dialog (template 102): opens the log, sets up the console,
// prints the welcome text, starts the install worker and refuses to close while it
// runs. The worker ends the process; this dialog never waits for it.
#pragma once

#include <windows.h>

#include <cstddef>

#include "app/dialog.h"

namespace app {

class CkelvaneDlg final : public Dialog {
public:
    static constexpr int kTemplate = 102;
    static constexpr int kConsole = 1000;
    static constexpr int kInstall = 1001;
    // Posted to itself in unattended runs and removals: "Install ..." without a click.
    static constexpr UINT kStartInstallation = WM_APP + 1;
    // Posted to itself after a DPI change, once the system has laid the dialog out anew.
    static constexpr UINT kFitConsole = WM_APP + 2;
    // Posted to itself when keyboard cues change, so the focus band is repainted after
    // the default handling has stored the new state.
    static constexpr UINT kFocusCuesChanged = WM_APP + 3;
    // Posted by the install worker: new progress for the taskbar button.
    static constexpr UINT kTaskbarProgress = WM_APP + 4;

    CkelvaneDlg();

    // Read by the install worker: the dialog's window outlives every worker, since the
    // dialog cannot end while one runs.
    HWND mainWindow() const { return window(); }

protected:
    bool OnInitDialog() override;
    void OnCommand(int id, int code) override;
    bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam, INT_PTR& result) override;

private:
    void OnExit();
    bool OnClose();  // true swallows WM_CLOSE
    void OnCancel();
    void OnInstall();
    // g_programDirectory for this run: the program's folder, or a one-file installer's
    // unpacked files. False when it cannot be had; message then says why, or is left
    // empty for a folder too long to name.
    bool PrepareProgramDirectory(char* message, size_t size);
    void OnNcDestroy();
    bool OnPaint();
    bool PaintFocusRing();
    // Red text on the console, a log record, back to colour 7, then an error box.
    void ReportInstallFailure(const char* message);

    bool m_bInstalling = false;  // set when the worker starts; never cleared
    HICON m_hIcon;
    HWND m_console = nullptr;
};

// The worker of one installation: runs the module's entry and ends the process with 512
// (a removal: 0 or 1603).
DWORD WINAPI InstallWorker(LPVOID block);

// The worker's thread handle, kept and never used again.
extern HANDLE g_installThread;

}  // namespace app
