// Main dialog: console set-up, the welcome text, the guards on every way out and the
// minimised icon. Installation itself is in install_worker.cpp.
#include "app/kelvane_dlg.h"

#include "app/captions.h"
#include "app/console_fit.h"
#include "app/kelvane_app.h"
#include "app/run_start.h"
#include "app/taskbar_progress.h"
#include "console/win32/focus_band.h"
#include "engine/win32/install_log.h"
#include "engine/win32/print_services.h"
#include "engine/win32/run_mode.h"
#include "engine/win32/setup_description.h"
#include "engine/win32/std_streams.h"
#include "sdk/quorvend_console.h"

namespace app {

namespace {

constexpr int kIcon = 129;
constexpr int kConsoleWidthUnits = 634, kConsoleHeightUnits = 263;  // the template's
constexpr char kConsoleName[] = "Installation log";
constexpr char kWelcome[] = "Welcome in installation program\nClick Start button for starting install ...";

}  // namespace

CkelvaneDlg::CkelvaneDlg() : Dialog(kTemplate), m_hIcon(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kIcon))) {}

bool CkelvaneDlg::OnInitDialog() {
    m_console = GetDlgItem(window(), kConsole);
    // What screen readers call the console; the console never draws its window text.
    SetWindowTextA(m_console, kConsoleName);
    engine::win32::OpenInstallLog(window());
    WritePendingLogNote();

    // Before the screen exists: its bitmaps and grid follow the console's size.
    FitConsoleToDpi(window(), m_console, kConsoleWidthUnits, kConsoleHeightUnits);
    // The cursor shape needs the font, and clearing needs the grid the font lays out.
    SendMessageA(m_console, CONM_CREATESCREEN, 0, 0);
    SendMessageA(m_console, CONM_SELECTSCREEN, 0, 0);
    SendMessageA(m_console, CONM_SETCOLORMODE, 0, 1);
    SendMessageA(m_console, CONM_SETTEXTCOLOR, 0, 7);
    SendMessageA(m_console, CONM_SETFONT, CONSOLE_SETFONT_WPARAM(0, CONSOLE_FONT_8X16), 0);
    SendMessageA(m_console, CONM_SETCURSORSHAPE, 0, CONSOLE_CURSORSHAPE_LPARAM(14, 15));
    SendMessageA(m_console, CONM_CLEAR, 0, 0);

    engine::win32::WriteLogLine(kWelcome);
    engine::win32::MirrorConsoleText(kWelcome);
    SendMessageA(m_console, CONM_PUTSTRING, 0, reinterpret_cast<LPARAM>(kWelcome));
    engine::win32::g_printTarget = m_console;

    SendMessageA(window(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageA(window(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    char caption[512];
    FormatMainCaption(engine::win32::g_programName, caption);
    SetWindowTextA(window(), caption);
    // Unattended, or a removal already confirmed: nobody presses "Install ..."; it starts
    // once the dialog is running.
    if (engine::win32::Unattended() || engine::win32::Uninstalling()) {
        PostMessageA(window(), kStartInstallation, 0, 0);
    }
    return true;
}

void CkelvaneDlg::OnCommand(int id, int code) {
    if (code != BN_CLICKED) return;
    switch (id) {
    case kInstall: OnInstall(); break;
    case IDOK: OnExit(); break;       // "Exit ...", also Enter while it is the default button
    case IDCANCEL: OnCancel(); break;  // Escape, and WM_CLOSE's default handling
    default: break;
    }
}

bool CkelvaneDlg::OnMessage(UINT message, WPARAM, LPARAM, INT_PTR& result) {
    switch (message) {
    case WM_PAINT:
        result = TRUE;
        return OnPaint();
    case WM_QUERYDRAGICON:
        result = reinterpret_cast<INT_PTR>(m_hIcon);
        return true;
    case WM_CLOSE:
        result = TRUE;
        return OnClose();
    case WM_NCDESTROY:
        OnNcDestroy();
        return false;
    case kStartInstallation:
        OnInstall();
        result = TRUE;
        return true;
    case WM_DPICHANGED:
        PostMessageA(window(), kFitConsole, 0, 0);
        return true;  // the dialog's own handling still moves and scales it first
    case kTaskbarProgress:
        ShowTaskbarProgress(window());
        result = TRUE;
        return true;
    case kFitConsole:
        FitConsoleToDpi(window(), m_console, kConsoleWidthUnits, kConsoleHeightUnits);
        result = TRUE;
        return true;
    case WM_UPDATEUISTATE:
    case WM_CHANGEUISTATE:
        // Keyboard cues shown or hidden: the ring follows once the new state is in place.
        PostMessageA(window(), kFocusCuesChanged, 0, 0);
        return false;
    case kFocusCuesChanged:
        if (m_console != nullptr) console::win32::invalidateFocusBand(m_console);
        result = TRUE;
        return true;
    default:
        return false;
    }
}

void CkelvaneDlg::OnExit() {
    if (!m_bInstalling) EndDialog(-1);
}

bool CkelvaneDlg::OnClose() { return m_bInstalling; }

void CkelvaneDlg::OnCancel() {
    if (!m_bInstalling) EndDialog(IDCANCEL);
}

void CkelvaneDlg::OnNcDestroy() {
    HWND console = m_console;
    m_console = nullptr;
    if (console != nullptr) DestroyWindow(console);  // normally gone already
    if (theApp.m_pMainWnd == this) theApp.m_pMainWnd = nullptr;
    // An unattended run still owes the log its last record, written as the run ends.
    if (!engine::win32::Unattended()) engine::win32::CloseInstallLog();
}

bool CkelvaneDlg::OnPaint() {
    if (!IsIconic(window())) return PaintFocusRing();
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window(), &paint);
    SendMessageA(window(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(window(), &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, m_hIcon);
    EndPaint(window(), &paint);
    return true;
}

// The console's pixels are the screen's alone, so its keyboard focus is shown by a ring
// the dialog draws around it (the console invalidates that band when the focus moves).
// Without the focus, or while focus cues are hidden, the dialog paints as it always did.
bool CkelvaneDlg::PaintFocusRing() {
    RECT ring;
    if (m_console == nullptr || GetFocus() != m_console) return false;
    if ((SendMessageA(window(), WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS) != 0) return false;
    if (!console::win32::focusBandRect(m_console, ring)) return false;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window(), &paint);
    console::win32::paintFocusRing(m_console, dc);
    EndPaint(window(), &paint);
    return true;
}

}  // namespace app
