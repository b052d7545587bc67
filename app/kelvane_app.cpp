// Start-up: the library set-up and the dialog sequence. Exit codes 4, -1 and 512 (a
// removal's 0, 1602 and 1603) come from inside; this returns on every other path.
#include "app/kelvane_app.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <cstdio>
#include <string>

#include "app/captions.h"
#include "app/kelvane_dlg.h"
#include "app/kvstart.h"
#include "app/run_start.h"
#include "console/win32/console_window.h"
#include "console/win32/log_sink.h"
#include "engine/win32/install_log.h"
#include "engine/win32/run_mode.h"
#include "engine/win32/setup_description.h"
#include "engine/win32/std_streams.h"

namespace app {

CkelvaneApp theApp;

namespace {

// Loaded by name from the system folder, so neither a planted copy nor the import
// table (which the loader resolves before any code runs) can bring in another one.
// Side-by-side redirection (common controls 6 from the manifest) still applies to a bare
// name. Systems without the search flags refuse them; there the full path is used.
HMODULE LoadSystemLibrary(const char* name) {
    HMODULE module = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module != nullptr || GetLastError() != ERROR_INVALID_PARAMETER) return module;
    char path[MAX_PATH];
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    if (snprintf(path + length, MAX_PATH - length, "\\%s", name) >= static_cast<int>(MAX_PATH - length)) return nullptr;
    return LoadLibraryA(path);
}

void InitCommonControls() {
    HMODULE comctl = LoadSystemLibrary("comctl32.dll");
    if (comctl == nullptr) return;
    using Init = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    auto init = reinterpret_cast<Init>(reinterpret_cast<void*>(GetProcAddress(comctl, "InitCommonControlsEx")));
    if (init == nullptr) return;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    init(&controls);
}

// An input field's echo goes to the log; in an unattended run, where a field is echoed
// once with its answer, also to the /stdout mirror as the line the console shows.
void WriteFieldEcho(const char* text) {
    engine::win32::WriteLogLine(text);
    if (!engine::win32::Unattended() || text == nullptr) return;
    std::string line(text);
    line.erase(line.find_last_not_of(' ') + 1);
    engine::win32::MirrorConsoleText((line + "\n").c_str());
}

}  // namespace

void RestrictDllSearchToSystemFolder() {
    using SetDirectories = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    auto set = reinterpret_cast<SetDirectories>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (set == nullptr || !set(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        SetDllDirectoryA("");  // older systems: at least drop the current directory
    }
}

bool CkelvaneApp::InitInstance() {
    InitCommonControls();
    // Readers reach the consoles' accessible objects through COM on this thread; kept
    // for the process's life, which ends without uninitialising.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // The framework's own initialisation, control containers and profile key have no
    // counterpart here: neither dialog hosts a control that would need them.
    LoadSystemLibrary("riched20.dll");  // registers "RichEdit20A" for template 130; kept loaded
    console::win32::registerConsoleClasses(GetModuleHandleA(nullptr));
    // What a person types into an input field reaches the installation log too.
    console::win32::setConsoleLogWriter(WriteFieldEcho);
    ComputeApplicationName();

    if (engine::win32::Unattended() || engine::win32::Uninstalling()) {
        RunWithoutPages();
        return false;
    }
    kvstart pages;
    if (pages.DoModal() == IDOK) {
        CkelvaneDlg main;
        m_pMainWnd = &main;
        main.DoModal();
        m_pMainWnd = nullptr;
    }
    FinishRun(true);
    return false;
}

void CkelvaneApp::RunWithoutPages() {
    // No pages dialog: /acceptlicence stood for it, or a removal has no licence to accept;
    // either way nobody would read the documents, so they are never loaded.
    engine::win32::LoadSetupDescription();  // ends the run without one
    if (engine::win32::Uninstalling()) LeaveCurrentFolder();
    if (!engine::win32::Unattended()) ConfirmRemoval();  // the box names the program
    CkelvaneDlg main;
    m_pMainWnd = &main;
    if (engine::win32::g_uiMode == engine::UiMode::quiet) {
        main.RunHidden();
    } else {
        main.DoModal();
    }
    m_pMainWnd = nullptr;
    FinishRun(main.wasCreated());
}

}  // namespace app
