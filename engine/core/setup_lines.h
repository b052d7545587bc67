// Line reading over the setup description text and extraction of the two values the
// front-end uses (line 2, the program name; line 5, the install module's file name).
// Portable: works on a byte buffer only, never looks up or loads the text itself.
#pragma once

#include <cstddef>
#include <cstdint>

namespace engine {

constexpr size_t kSetupLineSize = 256;  // 255 characters and the NUL

// Takes the next line of text[0, length). position is the index of the last byte
// consumed, -1 before the first line. Lines end with CR, optionally followed by one
// LF that belongs to the same line end; a bare LF is an ordinary character.
// Returns true when a CR ended the line, false when the end of the text did or no
// byte was left (then the destination is not touched).
// The destination keeps at most destinationSize - 1 characters; the rest of a longer
// line is consumed and dropped, so the next call still starts on the next line.
// A null destination (or size 0) skips the line without storing anything.
// Any thread; touches nothing but its arguments.
bool ReadSetupLine(const char* text, int32_t length, int32_t& position, char* destination,
                   size_t destinationSize);

// Lines 2 and 5 of the text, each at most 255 characters; missing lines give empty
// values. Both outputs are cleared first. Lines 1, 3, 4 and 6 on take no storage.
void ExtractSetupNames(const char* text, int32_t length, char (&programName)[kSetupLineSize],
                       char (&moduleFileName)[kSetupLineSize]);

// Whether line 5 names a file inside the program folder once joined to it: false for a
// name that is absolute (drive, UNC, leading slash or backslash), holds a colon (drives,
// streams), has a part made of dots and spaces with two dots or more (".." as Windows
// reads it), or has a device name as a part (CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$,
// CONOUT$, with any extension). Null is false; empty is true (it names nothing outside).
bool IsSafeModuleName(const char* name);

}  // namespace engine
