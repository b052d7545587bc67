// printText and setPrintColor for install modules. Each piece is logged and then sent,
// in that order and never under the log's lock; the sink alone decides where text goes.
#include "engine/win32/print_services.h"

#include <type_traits>

#include "engine/win32/install_log.h"
#include "engine/win32/run_mode.h"
#include "engine/win32/std_streams.h"
#include "sdk/quorvend_console.h"

namespace engine::win32 {

HWND g_printTarget = nullptr;

namespace {

static_assert(std::is_same<decltype(&printText), InstallPrintText>::value, "printText signature");
static_assert(std::is_same<decltype(&setPrintColor), InstallSetPrintColor>::value, "setPrintColor signature");

int32_t SendPutString(void*, const char* text) {
    if (g_printTarget == nullptr) return 0;
    return static_cast<int32_t>(
        SendMessageA(g_printTarget, CONM_PUTSTRING, 0, reinterpret_cast<LPARAM>(text)));
}

int32_t SendTextColor(void*, uint8_t color) {
    if (g_printTarget == nullptr) return 0;
    return static_cast<int32_t>(SendMessageA(g_printTarget, CONM_SETTEXTCOLOR, 0, color));
}

PrintSink g_sink = {SendPutString, SendTextColor, nullptr};

int32_t PrintPiece(const char* piece) {
    WriteLogLine(piece);
    MirrorConsoleText(piece);
    return g_sink.putString(g_sink.context, piece);
}

}  // namespace

PrintSink ConsolePrintSink() { return PrintSink{SendPutString, SendTextColor, nullptr}; }

void SetPrintSink(const PrintSink& sink) { g_sink = sink; }

int32_t __cdecl printText(const char* text, const char* text2, KelvaneBool newlineBefore,
                          KelvaneBool newlineAfter) {
    if ((newlineBefore & 0xFFu) != 0) PrintPiece("\n");
    int32_t result = PrintPiece(text != nullptr ? text : "");
    if (text2 != nullptr) {
        PrintPiece(" ");
        result = PrintPiece(text2);
    }
    if ((newlineAfter & 0xFFu) != 0) result = PrintPiece("\n");
    return result;
}

int32_t __cdecl setPrintColor(uint32_t color) {
    SetMirrorColor(color & 0xFFu);
    return g_sink.setTextColor(g_sink.context, static_cast<uint8_t>(color));
}

int32_t ShowHostText(const char* text) { return PrintPiece(text != nullptr ? text : ""); }

int32_t ShowResultText(const char* text) {
    static const UINT important = RegisterWindowMessageA(QUORVEND_CONSOLE_IMPORTANT_MESSAGE);
    const WPARAM how = Unattended() ? 0 : QUORVEND_CONSOLE_NOT_ANNOUNCED;
    if (g_printTarget != nullptr && important != 0) SendMessageA(g_printTarget, important, how, 0);
    return ShowHostText(text);
}

void SetPrintServices(InstallHostInterface& host) {
    host.setPrintColor = setPrintColor;
    host.printText = printText;
}

}  // namespace engine::win32
