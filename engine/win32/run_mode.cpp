// The run mode, the accounts it trusts, and the one way an unattended run ends: its last
// log record always says which code the process ends with and why, so a deployment log
// is never left open-ended. Never asks the user anything.
#include "engine/win32/run_mode.h"

#include <windows.h>
#include <sddl.h>

#include <cstdio>

#include "engine/win32/embedded_payload.h"
#include "engine/win32/install_log.h"
#include "engine/win32/std_streams.h"

namespace engine::win32 {

UiMode g_uiMode = UiMode::full;
bool g_uninstalling = false;
bool g_forceRestart = false;
bool g_userScopeStub = false;

namespace {

bool IsWellKnown(void* sid, WELL_KNOWN_SID_TYPE type) { return IsWellKnownSid(sid, type) != FALSE; }

}  // namespace

bool IsThisAccount(void* sid) {
    if (sid == nullptr || !IsValidSid(sid)) return false;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } buffer;
    DWORD size = 0;
    const bool same = GetTokenInformation(token, TokenUser, &buffer, sizeof buffer, &size) &&
                      EqualSid(buffer.user.User.Sid, sid);
    CloseHandle(token);
    return same;
}

bool RunsAsAdministrator() {
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    BOOL member = FALSE;
    return CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) &&
           CheckTokenMembership(nullptr, administrators, &member) && member;
}

bool IsSystemOrAdministrators(void* sid) {
    if (sid == nullptr || !IsValidSid(sid)) return false;
    return IsWellKnown(sid, WinLocalSystemSid) || IsWellKnown(sid, WinBuiltinAdministratorsSid);
}

std::string SidText(void* sid) {
    LPWSTR wide = nullptr;
    if (sid == nullptr || !ConvertSidToStringSidW(sid, &wide)) return "an unreadable SID";
    std::string text;
    for (const WCHAR* c = wide; *c != 0; ++c) text += static_cast<char>(*c);  // digits, dashes and 'S'
    LocalFree(wide);
    return text;
}

const char* ExitCodeMeaning(uint32_t code) {
    if (g_uninstalling) {
        switch (code) {
        case kExitSucceeded: return "the uninstallation succeeded";
        case kExitRemovalDeclined: return "the removal was not confirmed";
        case kExitFailed: return "the uninstallation failed";
        case kExitRestartNeeded: return "the uninstallation succeeded; a restart is needed to complete it";
        case kExitRestartStarted: return "the uninstallation succeeded; the computer is restarted to complete it";
        default: break;  // the others mean what they mean for an installation
        }
    }
    switch (code) {
    case kExitSucceeded: return "the installation succeeded";
    case kExitBadCommandLine: return "the command line is not valid";
    case kExitLicenceNotAccepted: return "the licence was not accepted";
    case kExitFailed: return "the installation failed";
    case kExitAlreadyRunning: return "another kelvane installation is running";
    case kExitOtherVersion: return "another version of this product is installed";
    case kExitRestartNeeded: return "the installation succeeded; a restart is needed to complete it";
    case kExitRestartStarted: return "the installation succeeded; the computer is restarted to complete it";
    default: return "no meaning defined";
    }
}

uint32_t UnattendedExitCode(bool succeeded, uint32_t outcome) {
    if (succeeded) return outcome == kExitRestartNeeded ? kExitRestartNeeded : kExitSucceeded;
    return outcome == kExitOtherVersion ? kExitOtherVersion : kExitFailed;
}

namespace {

bool EnableShutdownPrivilege(DWORD* error) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        *error = GetLastError();
        return false;
    }
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    bool enabled = LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid) &&
                   AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    // Success without the privilege in the token says so only through the last error.
    *error = GetLastError();
    if (enabled && *error == ERROR_NOT_ALL_ASSIGNED) enabled = false;
    CloseHandle(token);
    return enabled;
}

// Other sessions are closed when the minute is up: without SHUTDOWN_FORCE_OTHERS the
// request fails whenever someone else is logged on, as the user is when a deployment
// agent runs as SYSTEM, and 1641 would promise a restart that never comes. The own
// session is asked, not forced: whoever started the run there can still save.
bool SystemRestart(uint32_t* error) {
    DWORD privilegeError = ERROR_SUCCESS;
    if (!EnableShutdownPrivilege(&privilegeError)) {
        *error = privilegeError;
        return false;
    }
    wchar_t message[] = L"The computer restarts to complete an installation.";
    const DWORD result = InitiateShutdownW(nullptr, message, 60, SHUTDOWN_RESTART | SHUTDOWN_FORCE_OTHERS,
                                           SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_INSTALLATION |
                                               SHTDN_REASON_FLAG_PLANNED);
    *error = result;
    return result == ERROR_SUCCESS;
}

void Record(const char* text) {
    WriteLogLine(text);
    MirrorNote(text);
}

}  // namespace

bool RestartComputer(ShutdownCall call) {
    // Said first: once the request is taken, the log may be all that is left of the run.
    Record("/forcerestart: the computer is restarted to complete the run (in 60 s)");
    uint32_t error = 0;
    if ((call != nullptr ? call : SystemRestart)(&error)) return true;
    char failure[128];
    snprintf(failure, sizeof failure, "The restart could not be started (error %u): restart the computer to complete it",
             static_cast<unsigned>(error));
    Record(failure);
    return false;
}

void EndUnattendedRun(uint32_t code, const char* reason) {
    if (reason != nullptr) {
        WriteLogLine(reason);
        MirrorNote(reason);
    }
    char closing[160];
    snprintf(closing, sizeof closing, "Exit code %u: %s", static_cast<unsigned>(code), ExitCodeMeaning(code));
    WriteLogLine(closing);
    MirrorNote(closing);
    // Records are flushed as they are written; the handles go with the process.
    SwitchOffInstallLog();
    RemovePayloadFolder();
    ExitProcess(code);
}

void EndRun(uint32_t interactiveCode, uint32_t unattendedCode, const char* reason) {
    if (!Unattended() && !Uninstalling()) {
        RemovePayloadFolder();
        ExitProcess(interactiveCode);
    }
    EndUnattendedRun(unattendedCode, reason);
}

}  // namespace engine::win32
