// Creation and teardown of a console window's state block, and its notification thread.
// The shared part (ConsoleInstance) comes first so its address is the one handed out;
// nothing here may free a block while a window procedure frame of its window still runs.
#pragma once

#include <windows.h>

#include "console/core/instance.h"

namespace console {
namespace win32 {

class AccessState;

struct InstanceBlock {
    ConsoleInstance instance;  // first: the block's address is the instance's address
    int dispatchDepth;         // frames of the window procedure now running for this window
    bool destroyStarted;       // WM_DESTROY has begun; a nested one does nothing more
    bool releasePending;       // free when the outermost frame returns
    bool menuOpen;             // the context menu's loop runs: destruction ends it, and
                               // the menu is destroyed only with the block
    AccessState* access;       // screen readers: made at the first WM_GETOBJECT, freed with the block
    int keyWaits;              // key waits and input fields now running: an Enter is theirs
    uint8_t enterDrop;         // an idle Enter claimed from the dialog: its key press, then its character
};

inline InstanceBlock& blockOf(ConsoleInstance& instance) { return reinterpret_cast<InstanceBlock&>(instance); }

// Window thread, at WM_CREATE. Allocates, registers and starts everything the window
// owns (timer, menu, events, notification thread). A window that already has a block
// keeps it and nothing is made. False only when no block could be made or registered.
bool createInstance(HWND window, WNDPROC consoleProcedure);

// Window thread, at WM_DESTROY. Stops the notification thread (serving messages sent to
// this thread meanwhile, so a callback that sends to its window cannot deadlock), the
// timer and the menu, and frees the registry entry. The block itself is released by
// the outermost window procedure frame through releaseBlock.
void beginDestroy(HWND window, InstanceBlock& block);

// Window thread. Releases the screens and handles the block still owns and frees it.
void releaseBlock(HWND window, InstanceBlock* block);

// Diagnostics for tests: blocks allocated and not yet freed, process-wide.
long liveBlockCount();

}  // namespace win32
}  // namespace console
