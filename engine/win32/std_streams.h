// The caller's standard output and error, for a windowed program: the handles a
// deployment agent handed over, else the console of the parent process. Carries the
// /stdout mirror of the console's text. Never blocks the installation on a failed write.
#pragma once

#include <cstdint>

namespace engine::win32 {

// Finds the two streams: inherited handles first, else the parent's console (attached).
// Main thread, once, before other threads start; later calls do nothing.
void OpenStandardStreams();
bool HasStandardOutput();
bool HasStandardError();

// Whole texts, as given; nothing when the stream is missing. Any thread.
void WriteStandardOutput(const char* text);
void WriteStandardError(const char* text);

// From now on console text is mirrored (/stdout). Main thread, before other threads start.
void EnableConsoleMirror();

// A text as it reaches the console: to the standard output, or to the standard error
// while the print colour is red (4). Nothing unless the mirror is enabled. Any thread.
void MirrorConsoleText(const char* text);

// The console's print colour as last set; only its low 4 bits count. Any thread.
void SetMirrorColor(uint32_t color);

// A line of the program's own, "kelvane: <text>", on a line of its own of the standard
// output. Nothing unless the mirror is enabled. Any thread.
void MirrorNote(const char* text);

}  // namespace engine::win32
