// The one-line input field of CONM_INPUTLINE: edit line, type filters, editing keys,
// echo on the screen and into the log. Portable; it runs a nested message loop on the
// window's thread and never writes outside its line, the caller's buffer or the grid.
#pragma once

#include <cstdint>

#include "instance.h"

namespace console {

constexpr uint32_t kMaxFieldLength = 4095;  // wparam bits 0-11

// Index of the last character of line[0, n) that is not a blank; 0 for a blank line
// and for n = 0.
int32_t lastNonBlank(const char* line, int32_t n);

// CONM_INPUTLINE on the active screen: wparam bits 0-11 the field length L, bits 12-31
// the field type; buffer holds the initial text and, after Enter, the result (it must
// hold L + 1 bytes). 1 after Enter, 0 when the input ended otherwise (buffer
// unchanged), -1 without an active screen or without a buffer. When the host says
// nobody is at the keyboard, the field takes the host's next answer (or keeps its
// initial text), echoes it once and ends as Enter does, without waiting.
int32_t editLine(ConsoleInstance& instance, ConsoleHost& host, uint32_t wparam, char* buffer);

}  // namespace console
