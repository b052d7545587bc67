// Prepared answers for the console's input fields in unattended runs (/quiet, /passive):
// a record the program registers, normally from its command line or an answer file.
// The console library only hands the answers on; it never reads, stores or owns them.
#pragma once

#include <cstddef>

namespace console {
namespace win32 {

// Prepared answers for unattended runs; null (the default) means a person is at the keyboard.
struct ConsoleAnswerSource {
    // Called on a console window's thread, inside the message that opened the field:
    // writes the next answer into line, NUL-terminated within size bytes (size >= 1);
    // false when none is left. It must not send to the console nor run messages.
    bool (*nextAnswer)(void* context, char* line, size_t size);
    void* context;
};

// Any thread, any time; null makes the console wait for keys again. The pointer is
// kept, not copied: the record must outlive its registration, and the previous one may
// still be in use on a console window's thread when this returns.
void setConsoleAnswerSource(const ConsoleAnswerSource* source);

// Window thread: whether a source is registered, and its next answer (false without a
// source, without a function or when the source has none left).
bool hasConsoleAnswerSource();
bool takeConsoleAnswer(char* line, size_t size);

}  // namespace win32
}  // namespace console
