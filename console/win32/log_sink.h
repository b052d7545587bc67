// Where the console's own log lines go (the line editor's echo): a function the
// program registers, normally the installation log's writer. The console library does
// not depend on the engine; without a registered writer the lines are dropped.
#pragma once

namespace console {
namespace win32 {

// Takes one line without its line end; any thread may call it.
using ConsoleLogWriter = void (*)(const char* text);

// Any thread, any time; null stops logging. The previous writer may still be running
// on another thread when this returns.
void setConsoleLogWriter(ConsoleLogWriter writer);

// Window thread: hands the line to the registered writer, if any.
void writeConsoleLog(const char* text);

}  // namespace win32
}  // namespace console
