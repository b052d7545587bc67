// The program's entry: narrows the DLL search before anything else, reads the command
// line, then runs start-up. Every interactive path that comes back here ends with exit
// code 0; unattended runs and the other interactive paths never return.
#include <windows.h>

#include "app/kelvane_app.h"
#include "app/run_start.h"
#include "engine/win32/run_mode.h"

// kelvane-user.exe is built from these same sources with KV_USER_SCOPE_STUB=1.
#if defined(KV_USER_SCOPE_STUB) && KV_USER_SCOPE_STUB
constexpr bool kUserScopeStub = true;
#else
constexpr bool kUserScopeStub = false;
#endif

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    app::RestrictDllSearchToSystemFolder();
    engine::win32::g_userScopeStub = kUserScopeStub;
    app::StartRun(GetCommandLineW());
    app::theApp.InitInstance();
    return 0;
}
