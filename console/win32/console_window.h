// The two console window classes, "quorvend.console" and "quorvend.modal.console", and
// their window procedures. The procedures only find the window's block and hand the
// message to the portable dispatch; they hold no console logic of their own.
#pragma once

#include <windows.h>

namespace console {
namespace win32 {

// Any thread, before the first console window is created; calls nothing back.
// Registers both classes for the module and creates registryLock. Safe to call again:
// the classes stay registered and the lock is created only once.
void registerConsoleClasses(HINSTANCE module);

// The procedure of "quorvend.console". Runs on the window's thread (other threads reach
// it through SendMessage). May re-enter itself synchronously: the console sends messages
// to its own window, and a key wait dispatches further messages while it waits.
LRESULT CALLBACK consoleWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// The procedure of "quorvend.modal.console". Runs on the window's thread; calls the
// process-wide modal mouse callback synchronously for each mouse event it receives.
LRESULT CALLBACK modalConsoleWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace win32
}  // namespace console
