// The one door through which the program shows message boxes and asks questions. In an
// unattended run nobody could answer, so the door writes the box to the log (and to the
// standard output with /stdout) and answers at once; it never shows a window then.
#pragma once

#include <windows.h>

namespace engine::win32 {

using MessageBoxFunction = int(WINAPI*)(HWND owner, LPCSTR text, LPCSTR caption, UINT style);

// What shows a box in an interactive run: MessageBoxA unless replaced. Tests replace it
// to record boxes instead of blocking on them. Replace it only before any engine call
// and from the main thread; AskUser reads it from whichever thread asks.
extern MessageBoxFunction g_messageBox;

// Every box and question of the program. Interactive: g_messageBox. Unattended: the
// log gets the caption, the text and the answer taken, and the answer comes back at
// once: No to a yes/no question, Cancel or Abort where a box offers it, else OK. Any
// thread; in an interactive run it may pump messages until the user answers.
int AskUser(HWND owner, const char* text, const char* caption, UINT style);

// The answer AskUser takes for a box of this style in an unattended run.
int UnattendedAnswer(UINT style);

}  // namespace engine::win32
