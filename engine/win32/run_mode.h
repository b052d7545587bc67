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

}  // namespace engine::win32
