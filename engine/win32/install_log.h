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
// setup installation", preceded by firstRecord when one is given. On failure shows
// "troubleshooting creating log file (<path>)" owned by ownerWindow and leaves the
// program without a log (a copy, if open, still gets the records). Does nothing while
// a log is open. Main thread (it may show a modal box).
void OpenInstallLog(HWND ownerWindow, const char* firstRecord = nullptr);

// Also writes every later record to path (/log=): appended, the file created when
// missing. False, with the system error in *error, when it cannot be opened; the
// program then goes on with the log alone. Main thread, before other threads start.
bool OpenLogCopy(const char* path, DWORD* error);

// Appends one record (prefix, text, CR LF) in a single write, then flushes; the same to
// the copy, when one is open. Records from different threads never interleave. A null
// text counts as empty. Any thread; a no-op while neither is open. Write failures are
// not reported.
void WriteLogLine(const char* text);

// Closes the log and its copy; later records are dropped. Any thread; no effect
// without a log.
void CloseInstallLog();

// Stops logging (the copy too) but leaves the files open until the process ends. Any
// thread.
void SwitchOffInstallLog();

}  // namespace engine::win32
