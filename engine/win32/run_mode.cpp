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
        default: break;  // the others mean what they mean for an installation
        }
    }
    switch (code) {
    case kExitSucceeded: return "the installation succeeded";
    case kExitBadCommandLine: return "the command line is not valid";
    case kExitLicenceNotAccepted: return "the licence was not accepted";
    case kExitFailed: return "the installation failed";
    case kExitAlreadyRunning: return "another kelvane installation is running";
    default: return "no meaning defined";
    }
}

void EndUnattendedRun(uint32_t code, const char* reason) {
    if (reason != nullptr) {
        WriteLogLine(reason);
        MirrorNote(reason);
    }
    char closing[128];
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
