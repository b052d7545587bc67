// The console window's UI Automation element: a document with the text pattern.
// Holds the window's AccessContext only, never its block; every method fails with
// UIA_E_ELEMENTNOTAVAILABLE once the window is gone.
#pragma once

#include "access_state.h"
#include "uia_api.h"

namespace console {
namespace win32 {

// A new provider with one reference for the caller, or null without memory.
IRawElementProviderSimple* createConsoleProvider(AccessContext* context);

}  // namespace win32
}  // namespace console
