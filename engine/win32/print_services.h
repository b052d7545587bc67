// The two console services of the call block, printText and setPrintColor, over a
// replaceable sink: the front-end's sends to the console window g_printTarget, a test
// host's may write elsewhere. Logs each printed piece, then sends it; never holds the
// log's lock across a send, so the UI thread may log while the worker waits on it.
#pragma once

#include <windows.h>

#include <cstdint>

#include "sdk/kelvane_install.h"

namespace engine::win32 {

// Where printing goes. Both functions run on the printing thread (the install worker)
// and may block until the receiver answered. Their results are the services' results.
struct PrintSink {
    int32_t (*putString)(void* context, const char* text);
    int32_t (*setTextColor)(void* context, uint8_t color);
    void* context;
};

// The console window that printing goes to (the main dialog's console, screen 0); null
// until the main dialog is initialised. Written once on the main thread before any
// worker starts, read by the worker afterwards.
extern HWND g_printTarget;

// The default sink: CONM_PUTSTRING and CONM_SETTEXTCOLOR, wparam 0, by SendMessageA to
// g_printTarget (sends to a null target do nothing and give 0).
PrintSink ConsolePrintSink();

// Replaces the sink. Call before the worker starts (thread start orders the write before
// the worker's reads); not while a service runs.
void SetPrintSink(const PrintSink& sink);

// Up to five pieces: "\n" if newlineBefore, text, " " and text2 if text2 is not null,
// "\n" if newlineAfter; each passed to WriteLogLine and the /stdout mirror, then to the
// sink. Booleans count by their low 8 bits; a null text prints as empty. Returns the
// sink's result for the last piece. Any thread.
int32_t __cdecl printText(const char* text, const char* text2, KelvaneBool newlineBefore, KelvaneBool newlineAfter);

// Sends the low 8 bits of color to the sink; nothing is logged (the /stdout mirror
// notes it, to tell red text). Returns the sink's result.
int32_t __cdecl setPrintColor(uint32_t color);

// One text of the host's own (a result, a failure report), as printText prints a piece:
// logged, mirrored, then sent to the sink. Any thread.
int32_t ShowHostText(const char* text);
// ShowHostText for a result or failure that a message box repeats at once: readers
// hear it once, from the box. Unattended, no box follows: the line is announced as
// important.
int32_t ShowResultText(const char* text);

// Puts the two services into the module's interface block.
void SetPrintServices(InstallHostInterface& host);

}  // namespace engine::win32
