// The console demo's keyboard and mouse part: an input field run by a worker thread
// (as an install module would ask for a folder), a short scripted session of typing
// and of marking a rectangle, and the field's log lines shown on a second console.
// Uses nothing but console messages and the window system's own input messages.
#pragma once

#include <windows.h>

namespace demo {

// Main thread, after both consoles are laid out. Prints the prompt, starts the worker
// that waits in the input field, and starts the scripted session on a timer of owner.
void startInputDemo(HWND owner, HWND fieldConsole, HWND logConsole);

// Main thread: the owner's WM_TIMER for the scripted session; false for other timers.
bool onInputDemoTimer(UINT_PTR timer);

// Main thread, before the consoles are destroyed: stops the script and lets the worker
// go (its field ends when the window does).
void stopInputDemo();

}  // namespace demo
