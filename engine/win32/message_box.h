// The one door through which the engine shows message boxes. Replaceable so that
// tests can record boxes instead of blocking on them; not a general UI facility.
#pragma once

#include <windows.h>

namespace engine::win32 {

using MessageBoxFunction = int(WINAPI*)(HWND owner, LPCSTR text, LPCSTR caption, UINT style);

// MessageBoxA unless replaced. Replace it only before any engine call and from the
// main thread; the engine reads it from whichever thread reports a failure.
extern MessageBoxFunction g_messageBox;

}  // namespace engine::win32
