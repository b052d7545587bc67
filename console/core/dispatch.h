// The console's message table: unpacks wparam and lparam, finds the screen and
// answers every console message. Portable; the window procedure calls it after it
// has found the window's block. Runs on the window's thread and may re-enter itself
// through ConsoleHost::sendToSelf.
#pragma once

#include <cstdint>

#include "instance.h"

namespace console {

struct DispatchResult {
    int32_t value;    // the message's result when useDefault is false
    bool useDefault;  // hand the message to the platform's default processing
};

DispatchResult dispatchMessage(ConsoleInstance& instance, ConsoleHost& host, uint32_t message, uint32_t wparam,
                               intptr_t lparam);

// Whether a message number belongs to the console's own table (1025-1060, 1124-1126).
bool isConsoleMessage(uint32_t message);

}  // namespace console
