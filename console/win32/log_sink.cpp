// The registered log writer of the console, one process-wide function pointer swapped
// and read atomically. Must not buffer, format or own anything: the writer decides.
#include "log_sink.h"

#include <windows.h>

namespace console {
namespace win32 {

namespace {

void* volatile g_consoleLogWriter = nullptr;

}  // namespace

void setConsoleLogWriter(ConsoleLogWriter writer) {
    InterlockedExchangePointer(&g_consoleLogWriter, reinterpret_cast<void*>(writer));
}

void writeConsoleLog(const char* text) {
    void* writer = InterlockedCompareExchangePointer(&g_consoleLogWriter, nullptr, nullptr);
    if (writer != nullptr) reinterpret_cast<ConsoleLogWriter>(writer)(text);
}

}  // namespace win32
}  // namespace console
