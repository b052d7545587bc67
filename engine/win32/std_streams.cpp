// Standard streams of a windowed program. A console is written in UTF-16 so that the
// program's code page survives; a file or pipe gets the bytes unchanged. One lock keeps
// pieces from the worker and the window thread whole and in order.
#include "engine/win32/std_streams.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "engine/win32/exclusive_lock.h"

namespace engine::win32 {

namespace {

constexpr uint32_t kRed = 4;

struct Stream {
    HANDLE handle = nullptr;
    bool console = false;
    bool atLineStart = true;
};

SRWLOCK g_streamLock = SRWLOCK_INIT;
Stream g_out;
Stream g_err;
bool g_opened = false;
bool g_mirror = false;
volatile LONG g_color = 7;


bool Usable(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

Stream Describe(HANDLE handle) {
    Stream stream;
    if (!Usable(handle)) return stream;
    DWORD mode = 0;
    stream.handle = handle;
    stream.console = GetConsoleMode(handle, &mode) != FALSE;
    return stream;
}

// Caller holds the lock.
void WriteLocked(Stream& stream, const char* text, size_t length) {
    if (stream.handle == nullptr || length == 0) return;
    stream.atLineStart = text[length - 1] == '\n';
    if (stream.console) {
        const int wide = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0);
        if (wide > 0) {
            std::wstring converted(static_cast<size_t>(wide), L'\0');
            MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), &converted[0], wide);
            DWORD written = 0;
            WriteConsoleW(stream.handle, converted.data(), static_cast<DWORD>(wide), &written, nullptr);
        }
        return;
    }
    while (length > 0) {
        DWORD written = 0;
        const DWORD chunk = length > 0x10000 ? 0x10000 : static_cast<DWORD>(length);
        // A reader that went away must not stop the installation: give up on the stream.
        if (!WriteFile(stream.handle, text, chunk, &written, nullptr) || written == 0) {
            stream.handle = nullptr;
            return;
        }
        text += written;
        length -= written;
    }
}

void Write(Stream& stream, const char* text) {
    if (text == nullptr) return;
    const size_t length = strlen(text);  // outside the lock: a bad pointer must not fault holding it
    ExclusiveLock lock(g_streamLock);
    WriteLocked(stream, text, length);
}

}  // namespace

void OpenStandardStreams() {
    if (g_opened) return;
    g_opened = true;
    g_out = Describe(GetStdHandle(STD_OUTPUT_HANDLE));
    g_err = Describe(GetStdHandle(STD_ERROR_HANDLE));
    if (g_out.handle != nullptr || g_err.handle != nullptr) return;
    // Started from a console window without redirection: write to that console.
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
    HANDLE console = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    g_out = Describe(console);
    g_err = g_out;
}

bool HasStandardOutput() { return g_out.handle != nullptr; }
bool HasStandardError() { return g_err.handle != nullptr; }

void WriteStandardOutput(const char* text) { Write(g_out, text); }
void WriteStandardError(const char* text) { Write(g_err, text); }

void EnableConsoleMirror() { g_mirror = true; }

void SetMirrorColor(uint32_t color) { InterlockedExchange(&g_color, static_cast<LONG>(color & 0x0F)); }

void MirrorConsoleText(const char* text) {
    if (!g_mirror) return;
    Write(InterlockedCompareExchange(&g_color, 0, 0) == static_cast<LONG>(kRed) ? g_err : g_out, text);
}

void MirrorNote(const char* text) {
    if (!g_mirror || text == nullptr) return;
    ExclusiveLock lock(g_streamLock);
    if (!g_out.atLineStart) WriteLocked(g_out, "\n", 1);
    const std::string line = std::string("kelvane: ") + text + "\n";
    WriteLocked(g_out, line.data(), line.size());
}

}  // namespace engine::win32
