// Start-up: the library set-up and the dialog sequence. Exit codes 4, -1 and 512 come
// from inside the dialogs; this returns on every other path.
#include "app/kelvane_app.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdio>

#include "app/captions.h"
#include "app/kelvane_dlg.h"
#include "app/kvstart.h"
#include "console/win32/console_window.h"
#include "console/win32/log_sink.h"
#include "engine/win32/install_log.h"

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
    // The framework's own initialisation, control containers and profile key have no
    // counterpart here: neither dialog hosts a control that would need them.
    LoadSystemLibrary("riched20.dll");  // registers "RichEdit20A" for template 130; kept loaded
    console::win32::registerConsoleClasses(GetModuleHandleA(nullptr));
    // What a person types into an input field reaches the installation log too.
    console::win32::setConsoleLogWriter(engine::win32::WriteLogLine);
    ComputeApplicationName();

    kvstart pages;
    if (pages.DoModal() == IDOK) {
        CkelvaneDlg main;
        m_pMainWnd = &main;
        main.DoModal();
        m_pMainWnd = nullptr;
    }
    return false;
}

}  // namespace app
