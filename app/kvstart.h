// The licence and warning pages dialog (template 130): pages through the health warning
// and the licence, and ends with 1 only when the licence was accepted. Loads the
// documents and the setup description once; never touches the main dialog.
#pragma once

#include <windows.h>
#include <richedit.h>

#include <cstdint>

#include "app/dialog.h"

namespace app {

// The document view: the rich-edit control 1005 that the template creates.
class cmyrichedit {
public:
    void Attach(HWND window) { m_hWnd = window; }
    HWND window() const { return m_hWnd; }
    // Replaces the content with the RTF that callback delivers (EM_STREAMIN, SF_RTF).
    void StreamIn(EDITSTREAMCALLBACK callback);
    void SetSel(LONG start, LONG end);

private:
    HWND m_hWnd = nullptr;
};

class kvstart final : public Dialog {
public:
    static constexpr int kTemplate = 130;
    static constexpr int kRichEdit = 1005;
    static constexpr int kAcceptCheck = 1010;
    static constexpr int kDisagree = 1011;
    static constexpr int kPrev = 1001;

    kvstart() : Dialog(kTemplate) {}

protected:
    bool OnInitDialog() override;
    void OnCommand(int id, int code) override;

private:
    void ShowPage();
    void OnNext();
    void OnPrev();
    void OnExit();
    void OnDisagree();
    void OnOK() { EndDialog(IDOK); }

    int32_t m_nPage = 0;  // 0 warning, 1 licence; 2 only inside OnNext
    cmyrichedit m_richEdit;
    HWND m_acceptCheck = nullptr;
};

}  // namespace app
