// The registered answer source of the console, one process-wide pointer swapped and
// read atomically. Must not copy, keep or interpret answers: the source decides.
#include "answer_source.h"

#include <windows.h>

namespace console {
namespace win32 {

namespace {

void* volatile g_consoleAnswerSource = nullptr;

const ConsoleAnswerSource* currentSource() {
    return static_cast<const ConsoleAnswerSource*>(
        InterlockedCompareExchangePointer(&g_consoleAnswerSource, nullptr, nullptr));
}

}  // namespace

void setConsoleAnswerSource(const ConsoleAnswerSource* source) {
    InterlockedExchangePointer(&g_consoleAnswerSource, const_cast<ConsoleAnswerSource*>(source));
}

bool hasConsoleAnswerSource() { return currentSource() != nullptr; }

bool takeConsoleAnswer(char* line, size_t size) {
    const ConsoleAnswerSource* source = currentSource();
    if (source == nullptr || source->nextAnswer == nullptr || line == nullptr || size == 0) return false;
    return source->nextAnswer(source->context, line, size);
}

}  // namespace win32
}  // namespace console
