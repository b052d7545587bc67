// Opening the install log in the user's viewer once the log question is answered Yes.
// Never launches anything from this elevated process: the open is handed to the
// desktop's shell, which runs as the user. Never waits for the viewer, and never
// initialises COM (the calling thread does that before it asks).
#pragma once

#include <windows.h>

#include <cstddef>

namespace app {

// Asks the interactive desktop's shell (explorer, with the user's normal rights) to
// "open" path, so the user's own file associations run unelevated. An empty or missing
// path (no log was created) opens nothing and returns false. Without such a shell
// (SYSTEM, no explorer) nothing is opened either: false, and a late log record says why.
// owner is not used: the viewer belongs to the shell. A thread with COM initialised.
bool OpenLogViewer(HWND owner, const char* path);

// The steps of OpenLogViewer without the log: file opened in directory through the
// desktop's shell. On failure returns false with why (the step and its HRESULT) in
// why, at most size - 1 characters, cut when longer.
bool OpenAsDesktopUser(const wchar_t* file, const wchar_t* directory, char* why, size_t size);

}  // namespace app
