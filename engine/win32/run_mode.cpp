// The run mode and the one way an unattended run ends: its last log record always says
// which code the process ends with and why, so a deployment log is never left open-ended.
#include "engine/win32/run_mode.h"

#include <windows.h>

#include <cstdio>

#include "engine/win32/embedded_payload.h"
#include "engine/win32/install_log.h"
#include "engine/win32/std_streams.h"

namespace engine::win32 {

UiMode g_uiMode = UiMode::full;

const char* ExitCodeMeaning(uint32_t code) {
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
    if (!Unattended()) {
        RemovePayloadFolder();
        ExitProcess(interactiveCode);
    }
    EndUnattendedRun(unattendedCode, reason);
}

}  // namespace engine::win32
