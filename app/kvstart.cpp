// Pages dialog: page table, acceptance rule and its message boxes. The documents stream
// from the engine's texts; nothing here writes the log or touches the console.
#include "app/kvstart.h"

#include <richedit.h>

#include "app/build_stamp.h"
#include "app/captions.h"
#include "app/document_stream.h"
#include "engine/win32/message_box.h"
#include "engine/win32/setup_description.h"

namespace app {

namespace {

constexpr UINT kStopBoxStyle = MB_OK | MB_ICONSTOP | MB_SYSTEMMODAL;  // 4112
constexpr int kIcon = 129;

}  // namespace

void cmyrichedit::StreamIn(EDITSTREAMCALLBACK callback) {
    EDITSTREAM stream = {};
    stream.pfnCallback = callback;
    SendMessageA(m_hWnd, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
}

void cmyrichedit::SetSel(LONG start, LONG end) {
    CHARRANGE range = {start, end};
    SendMessageA(m_hWnd, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
}

bool kvstart::OnInitDialog() {
    m_richEdit.Attach(GetDlgItem(window(), kRichEdit));
    m_acceptCheck = GetDlgItem(window(), kAcceptCheck);
    m_nPage = 0;

    using namespace engine::win32;
    if (g_licenceText == nullptr) g_licenceText = LoadLicenceDocument(&g_licenceTextLength);
    if (g_warningText == nullptr) g_warningText = LoadWarningDocument(&g_warningTextLength);
    if (g_setupText == nullptr) LoadSetupDescription();  // ends the process without one

    char caption[256];
    FormatPagesCaption(g_programName, kvBuildDate, kvBuildTime, caption);
    SetWindowTextA(window(), caption);

    ShowPage();

    HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kIcon));
    SendMessageA(window(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    return true;
}

void kvstart::OnCommand(int id, int code) {
    if (code != BN_CLICKED) return;
    switch (id) {
    case IDCANCEL: OnExit(); break;  // also Escape and the close box
    case kDisagree: OnDisagree(); break;
    case kPrev: OnPrev(); break;
    case IDOK: OnNext(); break;  // also Enter while "Next >>" is the default button
    default: break;
    }
}

void kvstart::ShowPage() {
    EDITSTREAMCALLBACK callback = nullptr;
    if (m_nPage == 0) {
        g_warningReadPos = 0;
        callback = WarningStreamCallback;
    } else if (m_nPage == 1) {
        g_licenceReadPos = 0;
        callback = LicenceStreamCallback;
    } else {
        return;
    }
    SendMessageA(m_richEdit.window(), WM_CLEAR, 0, 0);
    RedrawWindow(m_richEdit.window(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    m_richEdit.StreamIn(callback);
    m_richEdit.SetSel(-1, -1);
    if (m_nPage == 0) {
        ShowWindow(m_acceptCheck, SW_HIDE);
        SendMessageA(m_acceptCheck, BM_SETCHECK, BST_UNCHECKED, 0);
    } else {
        ShowWindow(m_acceptCheck, SW_SHOW);
    }
}

void kvstart::OnNext() {
    ++m_nPage;
    ShowPage();
    if (m_nPage != 2) return;
    if (SendMessageA(m_acceptCheck, BM_GETCHECK, 0, 0) == BST_CHECKED) {
        OnOK();
    } else {
        engine::win32::AskUser(window(), "Vous devez accepter la convention de licence", "SETUP", kStopBoxStyle);
    }
    m_nPage = 0;
    ShowPage();
}

void kvstart::OnPrev() {
    if (m_nPage <= 0) return;
    --m_nPage;
    ShowPage();
}

void kvstart::OnExit() { EndDialog(-1); }

void kvstart::OnDisagree() {
    engine::win32::AskUser(window(), "L'installation ne peux pas aboutir", "SETUP", kStopBoxStyle);
    ExitProcess(4);
}

}  // namespace app
