// Line reading over the setup description text and extraction of the two values the
// front-end uses (line 2, the program name; line 5, the install module's file name), and the
// rule for one part of a relative path that line 5 and the archive's paths share.
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

// One part of a relative path, between separators, as Windows would create or open it.
// kPlain: a name of its own inside its folder. Otherwise, the first rule it breaks, in this
// order: empty; a control character (below 0x20, 0x7F); a colon (drive or stream); one of
// <>"|?*; "."; ".."; ending in a dot or a blank (Windows drops them, so "a." is "a" and
// ". ." climbs); a device, whatever follows the first dot and with blanks before it
// (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9, LPT0-9, COM and LPT with superscript 1-3,
// both as ANSI bytes 0xB9 0xB2 0xB3 and as UTF-8), ASCII case ignored. Bytes 0x80 and up
// are otherwise plain: what they mean depends on the reader's encoding.
enum class NamePart { kPlain, kEmpty, kControl, kColon, kReserved, kDot, kDotDot, kTrailing, kDevice };
NamePart ClassifyNamePart(const char* part, size_t length);

// Whether line 5 names a file inside the program folder once joined to it: false for a
// name that is absolute (drive, UNC, leading slash or backslash), holds a colon (drives,
// streams), has a part made of dots and spaces with two dots or more (".." as Windows
// reads it), or has a part that ClassifyNamePart calls a device. Every one-part name
// the archive's paths accept passes; names the archive refuses but that stay inside the
// folder (a trailing blank, a "." part) pass too, as they always have. Null is false;
// empty is true (it names nothing outside).
bool IsSafeModuleName(const char* name);

}  // namespace engine
