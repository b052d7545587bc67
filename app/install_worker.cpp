// "Install ...": loads the module, fills the call block and starts the worker, which
// runs the entry, reports, offers the log and ends the process with 512 (unattended,
// and every removal: 0 or 1603, 3010 or 1638 by the module's outcome, 1641 after a forced
// restart). The UI thread never waits for the worker; the worker reaches the console
// only through messages.
#include "app/kelvane_dlg.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "app/captions.h"
#include "app/log_viewer.h"
#include "app/taskbar_progress.h"
#include "engine/win32/embedded_payload.h"
#include "engine/win32/install_log.h"
#include "engine/win32/message_box.h"
#include "engine/win32/module_host.h"
#include "engine/win32/payload_api.h"
#include "engine/win32/print_services.h"
#include "engine/win32/run_mode.h"
#include "engine/win32/setup_description.h"
#include "engine/win32/std_streams.h"
#include "sdk/kelvane_payload.h"

namespace app {

HANDLE g_installThread = nullptr;

namespace {

using namespace engine::win32;

constexpr UINT kErrorStyle = MB_SYSTEMMODAL | MB_ICONERROR;             // 0x1010
constexpr UINT kInformationStyle = MB_SYSTEMMODAL | MB_ICONINFORMATION;  // 0x1040
constexpr UINT kLogQuestionStyle = MB_SYSTEMMODAL | MB_ICONWARNING | MB_YESNO;  // 0x1034
constexpr int kRed = 4;
constexpr int kNormal = 7;

const char* FailureText() { return Uninstalling() ? "Uninstallation failure." : "Installation failure."; }

const char* ResultText(bool restartNeeded) {
    if (restartNeeded) {
        return Uninstalling() ? "Uninstallation finished. Restart the computer to complete it."
                              : "Installation finished. Restart the computer to complete it.";
    }
    return Uninstalling() ? "Uninstallation finished." : "Installation finished.";
}

// Only runs that end with the deployment codes restart by themselves: an interactive
// installation tells its user, who chooses the moment.
uint32_t RestartIfForced(uint32_t code) {
    if (code != kExitRestartNeeded || !g_forceRestart) return code;
    return RestartComputer() ? kExitRestartStarted : code;
}

// Through the print services, so that the /stdout mirror knows red text as such.
void SetConsoleColor(int color) { setPrintColor(static_cast<uint32_t>(color)); }

// A crash is the module's failure, reported before the result like any failure text.
void ReportCrash(const EntryOutcome& outcome) {
    char report[512];
    ComposeCrashReport(outcome, report, sizeof report);
    SetConsoleColor(kRed);
    ShowHostText("\n");
    ShowHostText(report);
    ShowHostText("\n");
    SetConsoleColor(kNormal);
}

// Unattended, a crash ends the run from here: the window thread may be waiting on a
// lock the module abandoned, so nothing goes through it, the console included. The
// records are written by this thread alone.
[[noreturn]] void EndAfterCrash(const EntryOutcome& outcome) {
    char report[512];
    ComposeCrashReport(outcome, report, sizeof report);
    WriteLogLine(report);
    MirrorNote(report);
    EndUnattendedRun(kExitFailed, FailureText());
}

}  // namespace

void CkelvaneDlg::ReportInstallFailure(const char* message) {
    SetConsoleColor(kRed);
    ShowResultText(message);
    SetConsoleColor(kNormal);
    AskUser(window(), message, g_applicationName, kErrorStyle);
    // Unattended, nobody would press "Install ..." again; a removal that cannot start has
    // failed as such.
    if (Unattended() || Uninstalling()) EndRun(kExitFailed, kExitFailed, nullptr);
}

// A one-file installer's files are unpacked first; the module finds them in its program
// directory as it would beside an ordinary installer.
bool CkelvaneDlg::PrepareProgramDirectory(char* message, size_t size) {
    if (!HasEmbeddedPayload()) return ComputeProgramDirectory();
    std::string folder;
    std::string failure;
    if (!UnpackEmbeddedPayload(&folder, &failure, [](const char* line) { ShowHostText(line); })) {
        snprintf(message, size, "Can't unpack the installation files: %s", failure.c_str());
        return false;
    }
    return snprintf(g_programDirectory, sizeof g_programDirectory, "%s", folder.c_str()) <
           static_cast<int>(sizeof g_programDirectory);
}

void CkelvaneDlg::OnInstall() {
    if (m_bInstalling) return;

    char path[260];
    char message[512] = "";
    // A folder that did not fit would name another place; refuse it as too long.
    const bool directoryFits = PrepareProgramDirectory(message, sizeof message);
    if (message[0] != '\0') {
        ReportInstallFailure(message);
        return;
    }
    // A name leading out of the folder is refused as such (123), whatever the lengths.
    DWORD refusal = ERROR_SUCCESS;
    if (!BuildModulePath(g_programDirectory, g_moduleFileName, path, &refusal) || !directoryFits) {
        if (refusal != ERROR_INVALID_NAME) refusal = ERROR_FILENAME_EXCED_RANGE;
        ComposeLoadFailure(path, static_cast<int32_t>(refusal), message, sizeof message);
        ReportInstallFailure(message);
        return;
    }

    InstallCallBlock* block = PrepareInstallCall(path, this, g_programName, message, sizeof message);
    if (block == nullptr) {
        ReportInstallFailure(message);
        return;
    }
    // Loaded: the image now keeps the module as it was checked, and the module may open
    // the other files however it likes.
    ReleasePayloadFiles((std::string(g_programDirectory) + g_moduleFileName).c_str());

    RouteTaskbarProgress(window(), kTaskbarProgress);
    m_bInstalling = true;  // before the thread exists, so a second press never starts another
    g_installThread = CreateThread(nullptr, 0, InstallWorker, block, 0, nullptr);
    if (g_installThread == nullptr) {
        const DWORD startError = GetLastError();
        m_bInstalling = false;  // no worker will end the process: the dialog must stay leavable
        ComposeStartFailure(path, static_cast<int32_t>(startError), message, sizeof message);
        ReportInstallFailure(message);
        return;
    }
    // The module's questions and key waits come on the console: the keys go there now.
    // Through the dialog manager, so that the default button goes back to "Exit ...".
    SendMessageA(window(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(m_console), TRUE);
}

DWORD WINAPI InstallWorker(LPVOID parameter) {
    auto* block = static_cast<InstallCallBlock*>(parameter);
    const HWND dialogWindow = static_cast<CkelvaneDlg*>(block->owner)->mainWindow();
    block->host.mainWindow = dialogWindow;

    SetPayloadModuleRunning(true);
    const EntryOutcome outcome = CallInstallEntry(block->entry, &block->host);
    SetPayloadModuleRunning(outcome.crashed);  // a crashed module is not unloaded: its detach could crash too
    if (outcome.crashed && Unattended()) EndAfterCrash(outcome);
    if (outcome.crashed) ReportCrash(outcome);
    const bool succeeded = !outcome.crashed && (outcome.result & 0xFFu) != 0;

    const uint32_t reported = ModuleOutcome();
    // No line break around the result: it continues the module's last console line.
    if (succeeded) {
        const char* text = ResultText(reported == KELVANE_OUTCOME_RESTART_NEEDED);
        ShowResultText(text);
        AskUser(dialogWindow, text, g_applicationName, kInformationStyle);
    } else {
        ReportTaskbarProgress(KELVANE_PROGRESS_ERROR, 1, 1);
        const char* text = FailureText();
        SetConsoleColor(kRed);
        ShowResultText(text);
        SetConsoleColor(kNormal);
        AskUser(dialogWindow, text, g_applicationName, kErrorStyle);
    }

    // The module may have named another owner for what follows.
    const HWND owner = static_cast<HWND>(block->host.mainWindow);
    if (Unattended()) {
        // The log stays on for the declined question and the closing record.
        AskUser(owner, "View Log install", "Log", kLogQuestionStyle);
        EndUnattendedRun(RestartIfForced(UnattendedExitCode(succeeded, reported)), nullptr);
    }
    const uint32_t code = Uninstalling() ? RestartIfForced(UnattendedExitCode(succeeded, reported)) : 512;
    if (Uninstalling()) {
        // The removal's code is known now; the question only offers the log.
        char closing[160];
        snprintf(closing, sizeof closing, "Exit code %u: %s", static_cast<unsigned>(code), ExitCodeMeaning(code));
        WriteLogLine(closing);
    }
    SwitchOffInstallLog();
    // The shell may hand the open to COM objects: this thread needs its own apartment.
    // Never uninitialised: the process ends below.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (AskUser(owner, "View Log install", "Log", kLogQuestionStyle) == IDYES) {
        OpenLogViewer(owner, g_logPath);
    }
    RemovePayloadFolder();
    ExitProcess(code);
}

}  // namespace app
