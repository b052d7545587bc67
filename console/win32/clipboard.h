// Places console text on the Windows clipboard. Must not interpret the text: the core
// decides the bytes of both formats; this only makes the shareable blocks and hands
// them over.
#pragma once

#include "console/core/host.h"

namespace console {
namespace win32 {

// Any thread with a message queue. Replaces the clipboard's contents with the bytes as
// CF_TEXT and the UTF-16 text as CF_UNICODETEXT, each in a movable, zero-filled,
// shareable block of its capacity. Opens the clipboard without an owner window. False
// when the clipboard cannot be opened or memory is short (nothing placed then), or when
// the clipboard refused one of the two formats.
bool placeClipboardText(const ClipboardText& text);

}  // namespace win32
}  // namespace console
