// The application object: one-time start-up and the fixed order of the two dialogs.
// Runs no message loop of its own and never ends the process itself.
#pragma once

#include "app/dialog.h"

namespace app {

class CkelvaneApp {
public:
    // Loads the platform libraries from the system folder only, registers the console
    // classes, runs the pages dialog and, on a result of exactly 1, the main dialog
    // (unattended runs and removals: the main dialog alone).
    // Returns false on every path (nothing further to run). Main thread.
    bool InitInstance();

    // The main dialog while it runs; cleared when its window goes.
    Dialog* m_pMainWnd = nullptr;

private:
    // /quiet, /passive and /uninstall: no pages dialog (an interactive removal asks once
    // instead); the main dialog, hidden for /quiet, starts the module itself. Returns only
    // when no worker ended the process, and then ends the run as failed.
    void RunWithoutPages();
};

extern CkelvaneApp theApp;

// Keeps every later load by bare name, including the platform's own, to the system
// folder: the program runs elevated from folders where anyone may drop a DLL.
void RestrictDllSearchToSystemFolder();

}  // namespace app
