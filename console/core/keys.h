// Typed keys of a console: the key ring of each screen, the editing codes made of
// keys without a character, and the freeze and Scroll Lock pause of the picture.
// Portable; runs on the console window's thread.
#pragma once

#include <cstdint>

#include "instance.h"

namespace console {

// Appends a character to the active screen's ring; a full ring drops it.
void queueChar(ConsoleScreen& screen, uint8_t c);
// CONM_GETKEY: 255 without an active screen, 27 while closing, 0 when empty.
int32_t takeKey(ConsoleInstance& instance);

// The key wait behind CONM_WAITKEY and the input field: a nested message loop on the
// window's thread until the active screen's ring gives a character. When the host says
// nobody is at the keyboard it gives Enter (13) at once, pumping nothing and leaving the
// ring alone. ended is set when the wait stopped without one: with key 0 when the window
// is closing or gone, waitAbort was set, or the thread's loop was told to quit; with key
// 255, what a key check gives then, when no screen is active any more. aborted tells
// that waitAbort ended it, the window still alive. The caller must look up any screen
// it holds again afterwards.
struct KeyWait {
    int32_t key;
    bool ended;
    bool aborted;
};
KeyWait pumpUntilKey(ConsoleInstance& instance, ConsoleHost& host);

// CONM_WAITKEY: the key wait with the keyboard focus on the console, as an input field
// takes it, so that the keys go to the wait. Unattended, nothing moves the focus. A
// window that starts closing while the focus moves ends the wait with key 0.
KeyWait waitForKey(ConsoleInstance& instance, ConsoleHost& host);

// WM_KEYDOWN on the active screen. Returns true when the key was consumed (Scroll
// Lock); otherwise the caller gives it default processing. Editing keys are sent to
// the window as characters through the host's WM_CHAR.
bool keyDown(ConsoleScreen& screen, ConsoleHost& host, uint32_t virtualKey);

// CONM_SETFREEZE: sets bit 0 of flags, clears bits 8-31, refreshes when bit 0 changed.
int32_t setFreeze(ConsoleScreen& screen, ConsoleHost& host, bool freeze);

}  // namespace console
