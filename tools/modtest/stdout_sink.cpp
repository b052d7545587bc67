// The test host's stdout sink. Bytes are written as the module gave them (its code
// page); no translation, no buffering beyond one piece.
#include "tools/modtest/stdout_sink.h"

#include <windows.h>

#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace modtest {

namespace {

// The console's attributes when the host started, restored for colour 7.
WORD g_normalAttributes = FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE;

int32_t PutString(void*, const char* text) {
    const size_t length = strlen(text);
    const bool written = fwrite(text, 1, length, stdout) == length;
    return fflush(stdout) == 0 && written ? 0 : -1;
}

int32_t SetAnsiColour(void*, uint8_t colour) {
    return fputs(AnsiSequence(colour), stdout) >= 0 && fflush(stdout) == 0 ? 0 : -1;
}

int32_t SetConsoleColour(void*, uint8_t colour) {
    fflush(stdout);
    // The palette order is the console's attribute order: blue, green, red, intensity.
    const WORD attributes = (colour & 0x0F) == 7 ? g_normalAttributes
                                                 : static_cast<WORD>((g_normalAttributes & 0xF0) | (colour & 0x0F));
    return SetConsoleTextAttribute(GetStdHandle(STD_OUTPUT_HANDLE), attributes) ? 0 : -1;
}

int32_t IgnoreColour(void*, uint8_t) { return 0; }

}  // namespace

ColourMode DetectColourMode() {
    const char* noColour = getenv("NO_COLOR");
    if (noColour != nullptr && noColour[0] != '\0') return ColourMode::None;
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(output, &mode)) {
        // Attributes work on every console, Wine's included, which passes them on to
        // its terminal as escape sequences; escape sequences written to a console do not.
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (GetConsoleScreenBufferInfo(output, &info)) g_normalAttributes = info.wAttributes;
        return ColourMode::ConsoleAttributes;
    }
    return _isatty(_fileno(stdout)) ? ColourMode::Ansi : ColourMode::None;
}

const char* AnsiSequence(uint8_t colour) {
    // Index = palette colour; the palette's order is not ANSI's (1 is blue, 4 red).
    static const char* const sequences[16] = {
        "\x1b[30m", "\x1b[34m", "\x1b[32m", "\x1b[36m", "\x1b[31m", "\x1b[35m", "\x1b[33m", "\x1b[0m",
        "\x1b[90m", "\x1b[94m", "\x1b[92m", "\x1b[96m", "\x1b[91m", "\x1b[95m", "\x1b[93m", "\x1b[97m",
    };
    return sequences[colour & 0x0F];
}

engine::win32::PrintSink StdoutPrintSink(ColourMode mode) {
    switch (mode) {
    case ColourMode::Ansi:
        return {PutString, SetAnsiColour, nullptr};
    case ColourMode::ConsoleAttributes:
        return {PutString, SetConsoleColour, nullptr};
    case ColourMode::None:
        break;
    }
    return {PutString, IgnoreColour, nullptr};
}

void RestoreColour(ColourMode mode) {
    if (mode == ColourMode::Ansi) SetAnsiColour(nullptr, 7);
    if (mode == ColourMode::ConsoleAttributes) SetConsoleColour(nullptr, 7);
}

}  // namespace modtest
