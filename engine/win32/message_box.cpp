// The message box door. Unattended answers are the ones that change nothing: a question
// is declined, a notice acknowledged. The record names the answer so a log reader sees
// every decision the program took on its own.
#include "engine/win32/message_box.h"

#include <string>

#include "engine/win32/install_log.h"
#include "engine/win32/run_mode.h"
#include "engine/win32/std_streams.h"

namespace engine::win32 {

MessageBoxFunction g_messageBox = MessageBoxA;

namespace {

const char* AnswerName(int answer) {
    switch (answer) {
    case IDNO: return "No";
    case IDCANCEL: return "Cancel";
    case IDABORT: return "Abort";
    default: return "OK";
    }
}

}  // namespace

int UnattendedAnswer(UINT style) {
    switch (style & MB_TYPEMASK) {
    case MB_YESNO:
    case MB_YESNOCANCEL: return IDNO;
    case MB_OKCANCEL:
    case MB_RETRYCANCEL:
    case MB_CANCELTRYCONTINUE: return IDCANCEL;
    case MB_ABORTRETRYIGNORE: return IDABORT;
    default: return IDOK;
    }
}

int AskUser(HWND owner, const char* text, const char* caption, UINT style) {
    if (!Unattended()) return g_messageBox(owner, text, caption, style);
    const int answer = UnattendedAnswer(style);
    std::string record = "Message box";
    if (caption != nullptr) record += std::string(" \"") + caption + "\"";
    record += std::string(": ") + (text != nullptr ? text : "") + " [answered " + AnswerName(answer) +
              ", unattended]";
    WriteLogLine(record.c_str());
    MirrorNote(record.c_str());
    return answer;
}

}  // namespace engine::win32
