/* A test install module for the module test host: reports what it was handed and
 * returns what the environment asks for. Test-only; never ships with an installer. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kelvane_install.h"

/* PROBE_RESULT: a number returned as the entry's 32-bit result, or "crash". */
__declspec(dllexport) KelvaneBool __cdecl quorvend_install2(InstallHostInterface *host) {
    char line[600];
    char result[32] = "1";
    GetEnvironmentVariableA("PROBE_RESULT", result, sizeof result);
    snprintf(line, sizeof line, "size=%u name=[%s] directory=[%s] window=%s reserved2=%u", (unsigned)host->size,
             host->programName, host->programDirectory, host->mainWindow == NULL ? "null" : "set",
             (unsigned)host->reserved2);
    host->printText(line, NULL, 0, 1);
    host->printText("A", "B", 0, 1);
    host->setPrintColor(0x1E);
    host->printText("services:", host->getValue(NULL, "ANY", 1)[0] == '\0' ? "ok" : "wrong", 1, 1);
    if (strcmp(result, "crash") == 0) {
        volatile int *nowhere = NULL;
        *nowhere = 1;
    }
    return (KelvaneBool)strtoul(result, NULL, 10);
}
