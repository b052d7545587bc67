// A range of the console's text for UI Automation: two offsets into the ScreenText of
// the moment, clamped to its length at every use and safe to use from several threads.
// It never changes cells (Select only sets the mouse's selection through the window's
// thread), and it holds the window's AccessContext, never its block.
#pragma once

#include <cstdint>

#include "access_state.h"
#include "uia_api.h"

namespace console {
namespace win32 {

// A new range with one reference for the caller, or null without memory. root is the
// enclosing element (a reference is kept).
uia::ITextRangeProvider* createTextRange(AccessContext* context, IRawElementProviderSimple* root, int32_t start,
                                         int32_t end);

// A SAFEARRAY of VT_UNKNOWN ranges, one per given text range; null without memory.
SAFEARRAY* rangeArray(AccessContext* context, IRawElementProviderSimple* root, const TextRange* ranges, size_t count);

}  // namespace win32
}  // namespace console
