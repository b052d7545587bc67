// The program's entry: narrows the DLL search before anything else, reads the command
// line, then runs start-up. Every interactive path that comes back here ends with exit
// code 0; unattended runs and the other interactive paths never return.
#include <windows.h>

#include "app/kelvane_app.h"
#include "app/run_start.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    app::RestrictDllSearchToSystemFolder();
    app::StartRun(GetCommandLineW());
    app::theApp.InitInstance();
    return 0;
}
