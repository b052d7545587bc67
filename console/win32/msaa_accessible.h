// The console's Active Accessibility object (the client area, CHILDID_SELF only): a
// read-only text whose value is the screen's text. For readers without UI Automation;
// holds the window's AccessContext only and is disconnected with the window.
#pragma once

#include <oleacc.h>

#include "access_state.h"

namespace console {
namespace win32 {

// A new object with one reference for the caller, or null without memory.
IAccessible* createConsoleAccessible(AccessContext* context);

}  // namespace win32
}  // namespace console
