// "Install ...": loads the module, fills the call block and starts the worker, which
// runs the entry, reports, offers the log and ends the process with 512. The UI thread
// never waits for the worker; the worker reaches the console only through messages.
#include "app/kelvane_dlg.h"

#include <windows.h>
#include <shellapi.h>

#include "app/captions.h"
#include "engine/win32/install_log.h"
#include "engine/win32/module_host.h"
#include "engine/win32/print_services.h"
#include "engine/win32/setup_description.h"
#include "sdk/quorvend_console.h"

namespace app {

HANDLE g_installThread = nullptr;

namespace {

using namespace engine::win32;

constexpr UINT kErrorStyle = MB_SYSTEMMODAL | MB_ICONERROR;             // 0x1010
constexpr UINT kInformationStyle = MB_SYSTEMMODAL | MB_ICONINFORMATION;  // 0x1040
constexpr UINT kLogQuestionStyle = MB_SYSTEMMODAL | MB_ICONWARNING | MB_YESNO;  // 0x1034
constexpr int kRed = 4;
constexpr int kNormal = 7;

void SetConsoleColor(int color) { SendMessageA(g_printTarget, CONM_SETTEXTCOLOR, 0, color); }

void PutConsoleText(const char* text) {
    SendMessageA(g_printTarget, CONM_PUTSTRING, 0, reinterpret_cast<LPARAM>(text));
}

}  // namespace

void CkelvaneDlg::ReportInstallFailure(const char* message) {
    SetConsoleColor(kRed);
    WriteLogLine(message);
    PutConsoleText(message);
    SetConsoleColor(kNormal);
    MessageBoxA(window(), message, g_applicationName, kErrorStyle);
}

void CkelvaneDlg::OnInstall() {
    if (m_bInstalling) return;

    char path[260];
    char message[512];
    // A folder that did not fit would name another place; refuse it as too long.
    const bool directoryFits = ComputeProgramDirectory();
    if (!BuildModulePath(g_programDirectory, g_moduleFileName, path) || !directoryFits) {
        ComposeLoadFailure(path, ERROR_FILENAME_EXCED_RANGE, message, sizeof message);
        ReportInstallFailure(message);
        return;
    }

    InstallCallBlock* block = PrepareInstallCall(path, this, g_programName, message, sizeof message);
    if (block == nullptr) {
        ReportInstallFailure(message);
        return;
    }

    m_bInstalling = true;  // before the thread exists, so a second press never starts another
    g_installThread = CreateThread(nullptr, 0, InstallWorker, block, 0, nullptr);
    if (g_installThread == nullptr) {
        const DWORD startError = GetLastError();
        m_bInstalling = false;  // no worker will end the process: the dialog must stay leavable
        ComposeStartFailure(path, static_cast<int32_t>(startError), message, sizeof message);
        ReportInstallFailure(message);
    }
}

DWORD WINAPI InstallWorker(LPVOID parameter) {
    auto* block = static_cast<InstallCallBlock*>(parameter);
    const HWND dialogWindow = static_cast<CkelvaneDlg*>(block->owner)->mainWindow();
    block->host.mainWindow = dialogWindow;

    const uint32_t result = CallInstallEntry(block->entry, &block->host);

    // No line break around the result: it continues the module's last console line.
    if ((result & 0xFFu) != 0) {
        const char text[] = "Installation finished.";
        WriteLogLine(text);
        PutConsoleText(text);
        MessageBoxA(dialogWindow, text, g_applicationName, kInformationStyle);
    } else {
        const char text[] = "Installation failure.";
        SetConsoleColor(kRed);
        WriteLogLine(text);
        PutConsoleText(text);
        SetConsoleColor(kNormal);
        MessageBoxA(dialogWindow, text, g_applicationName, kErrorStyle);
    }

    // The module may have named another owner for what follows.
    const HWND owner = static_cast<HWND>(block->host.mainWindow);
    SwitchOffInstallLog();
    if (MessageBoxA(owner, "View Log install", "Log", kLogQuestionStyle) == IDYES) {
        ShellExecuteA(owner, "open", g_logPath, nullptr, nullptr, SW_SHOW);
    }
    ExitProcess(512);
}

}  // namespace app
