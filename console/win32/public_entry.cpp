// The console library's C entry points from sdk/quorvend_console.h, for programs that
// link it without its internal headers. Only forwards to the Win32 layer; must hold no
// console state or behaviour of its own.
#include <windows.h>

#include <atomic>

#include "console/win32/console_window.h"
#include "console/win32/log_sink.h"
#include "sdk/quorvend_console.h"

namespace {

bool isRegistered(HINSTANCE module, const char* name) {
    WNDCLASSEXA wc;
    wc.cbSize = sizeof wc;
    return GetClassInfoExA(module, name, &wc) != FALSE;
}

// The public writer is __cdecl by contract; the internal one uses the default
// convention, which /Gz (MSVC) could make __stdcall. A trampoline keeps both honest.
std::atomic<ConsoleLogCallback> g_publicWriter{nullptr};

void forwardLogLine(const char* text) {
    ConsoleLogCallback writer = g_publicWriter.load();
    if (writer != nullptr) writer(text);
}

}  // namespace

extern "C" int QUORVEND_CDECL quorvend_register_console_classes(void* instance) {
    HINSTANCE module = instance != nullptr ? static_cast<HINSTANCE>(instance) : GetModuleHandleA(nullptr);
    console::win32::registerConsoleClasses(module);
    // Asked afterwards, so that classes registered by an earlier call count too.
    return isRegistered(module, QUORVEND_CONSOLE_CLASS) && isRegistered(module, QUORVEND_MODAL_CONSOLE_CLASS) ? 1 : 0;
}

extern "C" void QUORVEND_CDECL quorvend_set_console_log_writer(ConsoleLogCallback writer) {
    g_publicWriter.store(writer);
    console::win32::setConsoleLogWriter(writer != nullptr ? forwardLogLine : nullptr);
}
