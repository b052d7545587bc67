// The per-window state block of a console window. Its layout is shared with other
// code in the process (CONM_GETINSTANCE), so field order and widths are fixed; the
// platform handles it holds are opaque here.
#pragma once

#include <cstdint>

#include "sdk/quorvend_console.h"
#include "screen.h"

namespace console {

struct ConsoleInstance {
    ConsoleScreen* screens[256];
    ConsoleScreen* activeScreen;
    uint32_t reserved1;
    void* contextMenu;
    uint8_t closing;
    uint8_t waitAbort;
    void* inputEvent;
    void* notifyThread;
    void* notifyEvent;
    uint32_t notifyArgument;
    uint32_t reserved2;
    uint32_t timerId;
    uint8_t valid;
    uint8_t sharing;
    ConsoleCallback callback;
};

// Releases every screen of the block (bitmaps, buffers, records) and empties the slots.
void releaseAllScreens(ConsoleInstance& instance, ConsoleHost& host);

}  // namespace console
