// The start of a run: the command line, and for unattended runs everything settled
// before the first window could appear (log, licence acceptance, the single-run guard,
// answers). Ends the process itself where the run must not go on.
#pragma once

namespace app {

// Reads commandLine (as GetCommandLineW gives it) and prepares the run it asks for,
// KELVANE_UI, KELVANE_ACTION, KELVANE_DIR, KELVANE_ALLOW_DOWNGRADE and
// KELVANE_CLOSE_APPLICATIONS for the module among it.
// Ends the process for /? (0), a bad command line (87: a bad switch, plain words beside
// /quiet or /passive, text that is not valid UTF-16), a damaged one-file installer
// (1603) and, unattended, when an installation's licence was not accepted (1602),
// another installation runs (1618) or the answers file cannot be read (1603). Main
// thread, first thing after the DLL search is narrowed.
void StartRun(const wchar_t* commandLine);

// Writes what start-up could not log yet in an interactive run (a /log= copy that
// failed, a run guard held by no installer), once the main dialog has opened the log.
// Main thread.
void WritePendingLogNote();

// After the dialogs, when no worker has ended the process: an interactive installation
// removes what it unpacked and returns; an unattended one, or any removal, ends with
// 1603, since it did nothing. Main thread.
void FinishRun(bool mainDialogCreated);

// An interactive removal, once the setup description is loaded: opens the log, records
// the uninstallation and asks once whether to go on; No ends the run with 1602 and
// nothing removed. Main thread, before the main dialog.
void ConfirmRemoval();

// Removals: moves the current folder to the system folder, out of the way of the removal.
void LeaveCurrentFolder();

// "1.0.0.1": the file version of the program's own version block; "unknown" without one.
void ProgramVersion(char (&out)[32]);

}  // namespace app
