// The installation log: "setup-internet-gui.log" in the user's temp directory, one
// time-stamped record per text shown on the console. Appends only, never truncates,
// and never writes through, nor creates at the target of, a hard link, symbolic link
// or reparse point planted in place of the file. Neither does its /log= copy.
#pragma once

#include <windows.h>

#include <string>

namespace engine::win32 {

// The open log, or INVALID_HANDLE_VALUE. Read it, never assign it: the functions below
// change it under the log lock so that a record in progress is never cut short.
extern HANDLE g_logFile;
// Full path of the open log ("<temp>\\setup-internet-gui.log"); empty until opened.
extern char g_logPath[260];

// Opens (creating if needed) the log for appending and writes the record "Running
// setup installation", preceded by firstRecord when one is given. On failure shows
// "troubleshooting creating log file (<path>)" owned by ownerWindow and leaves the
// program without a log (a copy, if open, still gets the records, firstRecord before
// the box's). Does nothing while a log is open. Other kelvane runs may have the same
// file open and append to it meanwhile. Main thread (it may show a modal box).
void OpenInstallLog(HWND ownerWindow, const char* firstRecord = nullptr);

// Why a /log= copy was not opened: a system error, or a refusal of what the path is.
struct LogCopyFailure {
    DWORD error = 0;     // when reason is empty
    std::string reason;  // "it is ...": a device path, not a plain single-link file, a foreign owner
};

// Also writes every later record to path (/log=): appended, the file created when
// missing, opened as the log is (no link, no second name, no device, another run's
// records welcome). A path in the device namespaces (\\.\, \\?\, \??\) is refused
// before anything is opened; with administrator rights, an existing file owned by
// anyone but SYSTEM, Administrators or this account is refused too. False, with
// *failure filled, when not opened; the program then goes on with the log alone.
// Main thread, before other threads start.
bool OpenLogCopy(const wchar_t* path, LogCopyFailure* failure);

// Appends one record (prefix, text, CR LF) at the end of the file in a single write,
// then flushes; the same to the copy, when one is open. Records from different threads,
// and from other kelvane runs writing the same file, never interleave. A null text
// counts as empty. Any thread; a no-op while neither is open. Write failures are not
// reported.
void WriteLogLine(const char* text);

// Closes the log and its copy; later records are dropped. Any thread; no effect
// without a log.
void CloseInstallLog();

// Stops logging (the copy too) but leaves the files open until the process ends. Any
// thread.
void SwitchOffInstallLog();

// After SwitchOffInstallLog: one record, as WriteLogLine would have written it, to the
// files it switched off (what became of the log question's answer). Any thread; a no-op
// before the switch-off or without a log.
void WriteLateLogLine(const char* text);

}  // namespace engine::win32
