// The answers of an unattended run (/answers=FILE): lines handed, in order, to the input
// fields the module opens on the console. Each hand-out is logged by number and length,
// never by text: answers may be licence keys or passwords, and logs travel.
#pragma once

#include <windows.h>

#include <cstddef>

namespace engine::win32 {

// Reads the whole file (at most 1 MB). False, with the system error in *error (a file
// too large gives ERROR_FILE_TOO_LARGE), when it cannot be read; no answers then. Main
// thread, before other threads start.
bool LoadAnswers(const wchar_t* path, DWORD* error);

// The next answer into line, NUL-terminated within size (a longer answer is cut there;
// no field holds more than 4095 characters anyway); false when none is left. Logs a
// record either way. The console's window thread calls it.
bool NextAnswer(char* line, size_t size);

}  // namespace engine::win32
