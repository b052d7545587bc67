// The console's mouse: pointer movement and left-button presses for the listener and
// the selection, and the Select/Copy/Cancel context menu. Portable; listener sends and
// the menu go through the host and may run other messages before they return.
#pragma once

#include <cstdint>

#include "instance.h"

namespace console {

// Command identifiers of the context menu, in its order: Cancel, Copy, Select.
constexpr uint32_t kMenuCopy = 8000;
constexpr uint32_t kMenuSelect = 8001;
constexpr uint32_t kMenuCancel = 8002;

// Window message handlers; position is the message's lparam (x bits 0-15, y bits 16-31,
// client pixels). Each ends with the message's default processing, left to the caller.
void mouseMove(ConsoleInstance& instance, ConsoleHost& host, uint32_t position);
void leftButtonDown(ConsoleInstance& instance, ConsoleHost& host, uint32_t position);
void leftButtonUp(ConsoleInstance& instance, ConsoleHost& host, uint32_t position);
// Shows the menu and carries out the chosen command on the screen then active.
void rightButtonDown(ConsoleInstance& instance, ConsoleHost& host);

// One menu command on the active screen; unknown commands and 0 do nothing.
void runMenuCommand(ConsoleInstance& instance, ConsoleHost& host, uint32_t command);

}  // namespace console
