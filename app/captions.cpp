// Caption and application-name composition. Texts longer than their buffer are cut at
// the buffer's end: the start of a caption is what the user reads.
#include "app/captions.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace app {

char g_applicationName[256] = "";

void FormatPagesCaption(const char* programName, const char* buildDate, const char* buildTime, char (&out)[256]) {
    if (snprintf(out, sizeof out, "Installation of program %s Build %s %s", programName, buildDate, buildTime) < 0) {
        out[0] = '\0';
    }
}

void FormatMainCaption(const char* programName, char (&out)[512]) {
    if (snprintf(out, sizeof out, "Local installation scenario %s Pelbrix", programName) < 0) out[0] = '\0';
}

void ComputeApplicationName() {
    char file[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, file, sizeof file);
    if (length == 0 || length >= sizeof file) {
        snprintf(g_applicationName, sizeof g_applicationName, "%s", "kelvane");
        return;
    }
    char name[_MAX_FNAME];
    _splitpath(file, nullptr, nullptr, name, nullptr);
    snprintf(g_applicationName, sizeof g_applicationName, "%s", name);
}

}  // namespace app
