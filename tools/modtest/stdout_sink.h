// Standard output as the print sink of the module test host: text goes out unchanged,
// colours become ANSI sequences or console attributes, or nothing when redirected.
// Writes only to stdout; keeps no log (the print services log before calling it).
#pragma once

#include <cstdint>

#include "engine/win32/print_services.h"

namespace modtest {

enum class ColourMode {
    None,               // a file or pipe, or NO_COLOR set: plain bytes only
    Ansi,               // a terminal that is no Windows console
    ConsoleAttributes,  // a Windows console
};

// How stdout takes colours: NO_COLOR (set and not empty) turns them off; a Windows
// console gets attributes (Wine's console shows them on its terminal as escape
// sequences); a character device that is no console gets escape sequences; files and
// pipes get none. Call once, before any output, on the main thread.
ColourMode DetectColourMode();

// The escape sequence for a console palette index (PC text-mode order: 1 blue, 4 red,
// 7 light grey, 14 yellow ...). Only the low 4 bits count; 7, the normal colour, is
// the terminal's own default ("\x1b[0m").
const char* AnsiSequence(uint8_t colour);

// A sink writing to stdout in the given mode. Each piece is flushed at once, so that
// nothing printed before a crash of the module is lost. Any single thread at a time.
engine::win32::PrintSink StdoutPrintSink(ColourMode mode);

// Puts the terminal or console back to its normal colour. Main thread, at the end.
void RestoreColour(ColourMode mode);

}  // namespace modtest
