// The console's message table: unpacks wparam and lparam, finds the screen and
// answers every console message. Portable; the window procedure calls it after it
// has found the window's block. Runs on the window's thread and may re-enter itself
// through ConsoleHost::sendToSelf.
#pragma once

#include <cstdint>

#include "instance.h"

namespace console {

struct DispatchResult {
    intptr_t value;   // the message's result when useDefault is false (addresses for GETCELLS, GETINSTANCE)
    bool useDefault;  // hand the message to the platform's default processing
};

// Handles the console messages, WM_TIMER (the render tick of the active screen when the
// identifier is the window's timer), WM_KEYDOWN, WM_CHAR and the mouse messages of the
// left and right buttons; everything else comes back with useDefault set. WM_CREATE, WM_DESTROY and WM_PAINT belong to the window procedure.
DispatchResult dispatchMessage(ConsoleInstance& instance, ConsoleHost& host, uint32_t message, uint32_t wparam,
                               intptr_t lparam);

// Whether a message number belongs to the console's own table (1025-1060, 1124-1126).
bool isConsoleMessage(uint32_t message);

// Window message numbers the core knows; the core includes no platform header.
constexpr uint32_t kWmKeyDown = 0x0100;
constexpr uint32_t kWmChar = 0x0102;
constexpr uint32_t kWmTimer = 0x0113;
constexpr uint32_t kWmMouseMove = 0x0200;
constexpr uint32_t kWmLButtonDown = 0x0201;
constexpr uint32_t kWmLButtonUp = 0x0202;
constexpr uint32_t kWmRButtonDown = 0x0204;

}  // namespace console
