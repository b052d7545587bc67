// The program's entry: narrows the DLL search before anything else, then runs start-up.
// Every path that comes back here ends with exit code 0; the others never return.
#include <windows.h>

#include "app/kelvane_app.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    app::RestrictDllSearchToSystemFolder();
    app::theApp.InitInstance();
    return 0;
}
