// How this run meets its user: interactive (the default), or unattended for deployment
// tools (passive: watched, never asked; quiet: no window at all), the accounts it trusts,
// and how an unattended run ends. Interactive installations keep their own exit codes;
// nothing here changes them. A removal (/uninstall) ends with the unattended codes in
// every mode.
#pragma once

#include <cstdint>
#include <string>

#include "engine/core/command_line.h"

namespace engine::win32 {

// full unless start-up chose otherwise. Written once on the main thread before any
// other thread of the program starts; read from any thread afterwards.
extern UiMode g_uiMode;

inline bool Unattended() { return g_uiMode != UiMode::full; }

// /uninstall: the run removes what the product installed. Written and read as g_uiMode.
extern bool g_uninstalling;

inline bool Uninstalling() { return g_uninstalling; }

// /forcerestart: a run that needs a restart restarts the computer. Written and read as g_uiMode.
extern bool g_forceRestart;

// kelvane-user.exe, the per-user stub (asInvoker): it installs for the account that runs
// it, so nothing it unpacks needs guarding from that account. Set by main before start-up.
extern bool g_userScopeStub;

// Whether this process runs with administrator rights (Administrators enabled in its
// token, as in every elevated run and in SYSTEM's). Any thread.
bool RunsAsAdministrator();

// Whether a SID (an owner) is SYSTEM or Administrators, or the account this process
// runs as. False for null. Any thread.
bool IsSystemOrAdministrators(void* sid);
bool IsThisAccount(void* sid);

// "S-1-5-32-544" for a SID; "an unreadable SID" when it cannot be written. Any thread.
std::string SidText(void* sid);

// Exit codes of unattended runs, the ones deployment tools know from other installers.
constexpr uint32_t kExitSucceeded = 0;
constexpr uint32_t kExitBadCommandLine = 87;
constexpr uint32_t kExitLicenceNotAccepted = 1602;
constexpr uint32_t kExitRemovalDeclined = 1602;  // the same code, for a removal
constexpr uint32_t kExitFailed = 1603;
constexpr uint32_t kExitAlreadyRunning = 1618;
constexpr uint32_t kExitOtherVersion = 1638;
constexpr uint32_t kExitRestartStarted = 1641;
constexpr uint32_t kExitRestartNeeded = 3010;

// The unattended code for a module's result and the outcome it set (sdk/kelvane_payload.h):
// 0 or 3010 on success, 1603 or 1638 on failure; an outcome that does not fit the result
// is ignored. Any thread.
uint32_t UnattendedExitCode(bool succeeded, uint32_t outcome);

// The meaning of an unattended exit code in words ("the installation failed", "the
// uninstallation failed" for a removal); a code without one gives "no meaning defined".
const char* ExitCodeMeaning(uint32_t code);

// Unattended runs: writes reason (when not null) and then the closing record
// "Exit code <n>: <meaning>" to the log and, with /stdout, to the standard output, and
// ends the process with code. Any thread; other threads are cut off where they stand.
[[noreturn]] void EndUnattendedRun(uint32_t code, const char* reason);

// Ends the process: with interactiveCode when an interactive installation, else (an
// unattended run, or any removal) as EndUnattendedRun with unattendedCode and reason.
// Any thread.
[[noreturn]] void EndRun(uint32_t interactiveCode, uint32_t unattendedCode, const char* reason);

// The system's restart, as RestartComputer asks for it; replaced only by tests.
using ShutdownCall = bool (*)(uint32_t* error);

// /forcerestart after a run that needs a restart: says so in the log, enables the
// shutdown privilege and asks the system to restart (a minute's warning to whoever is
// logged on; their sessions are then closed). True when the system took the request;
// false with the reason logged, and the run then ends with 3010 instead. Any thread.
bool RestartComputer(ShutdownCall call = nullptr);

}  // namespace engine::win32
