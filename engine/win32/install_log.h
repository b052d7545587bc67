// The installation log: "setup-internet-gui.log" in the user's temp directory, one
// time-stamped record per text shown on the console. Appends only, never truncates,
// and never writes through, nor creates at the target of, a hard link, symbolic link
// or reparse point planted in place of the file.
#pragma once

#include <windows.h>

namespace engine::win32 {

// The open log, or INVALID_HANDLE_VALUE. Read it, never assign it: the functions below
// change it under the log lock so that a record in progress is never cut short.
extern HANDLE g_logFile;
// Full path of the open log ("<temp>\\setup-internet-gui.log"); empty until opened.
extern char g_logPath[260];

// Opens (creating if needed) the log for appending and writes the record "Running
// setup installation". On failure shows "troubleshooting creating log file (<path>)"
// owned by ownerWindow and leaves the program without a log. Does nothing while a log
// is open. Main thread (it may show a modal box).
void OpenInstallLog(HWND ownerWindow);

// Appends one record (prefix, text, CR LF) in a single write, then flushes. Records
// from different threads never interleave. A null text counts as empty. Any thread;
// a no-op while no log is open. Write failures are not reported.
void WriteLogLine(const char* text);

// Closes the log; later records are dropped. Any thread; no effect without a log.
void CloseInstallLog();

// Stops logging but leaves the file open until the process ends. Any thread.
void SwitchOffInstallLog();

}  // namespace engine::win32
