// The demo's input field, its scripted session and its log. The worker thread blocks
// in CONM_INPUTLINE like an install module asking for a folder; the main thread keeps
// serving everything, including the keys and clicks the script posts to the console.
#include "input_demo.h"

#include <cstdio>
#include <cstring>

#include "sdk/quorvend_console.h"

namespace demo {

namespace {

const UINT_PTR kScriptTimer = 2;
const int kFieldColumn = 13;
const int kFieldRow = 43;
const int kFieldLength = 40;
const int kLogTop = 15;  // rows of the log console that scroll with new log lines

HWND g_owner = nullptr;
HWND g_field = nullptr;
HWND g_log = nullptr;
HANDLE g_worker = nullptr;
volatile LONG g_stop = 0;
size_t g_step = 0;

enum Kind { kChar, kKey, kMenuSelect, kPress, kMove, kRelease, kPause };

struct Action {
    Kind kind;
    unsigned value;  // the character or virtual key
    int column;      // the cell for mouse actions
    int row;
};

// Marks the box-drawing rows of the glyph table, then edits the field: the picture
// taken a few seconds in shows both, with the cursor inside the edited line.
const Action kScript[] = {
    {kPause, 0, 0, 0},      {kMenuSelect, 0, 0, 0},
    {kPress, 0, 4, 14},     {kMove, 0, 20, 15},      {kMove, 0, 34, 16},
    {kPause, 0, 0, 0},      {kRelease, 0, 34, 16},
    {kKey, VK_END, 0, 0},   {kKey, VK_RIGHT, 0, 0},  {kChar, '\\', 0, 0}, {kChar, 'S', 0, 0},
    {kChar, 'e', 0, 0},     {kChar, 't', 0, 0},      {kChar, 'u', 0, 0},  {kChar, 'p', 0, 0},
    {kKey, VK_HOME, 0, 0},  {kKey, VK_RIGHT, 0, 0},  {kKey, VK_RIGHT, 0, 0},
    {kKey, VK_DELETE, 0, 0}, {kChar, '/', 0, 0},     {kKey, VK_END, 0, 0},
    {kKey, VK_LEFT, 0, 0},  {kKey, VK_LEFT, 0, 0},   {kKey, VK_LEFT, 0, 0}, {kKey, VK_LEFT, 0, 0},
};

LPARAM cellCentre(int column, int row) { return MAKELPARAM(column * 8 + 4, row * 16 + 8); }

void perform(const Action& a) {
    switch (a.kind) {
    case kChar: PostMessageA(g_field, WM_CHAR, a.value, 1); break;
    case kKey: PostMessageA(g_field, WM_KEYDOWN, a.value, 1); break;
    case kMenuSelect:
        // The menu's own loop takes the key that follows the click: "&Select".
        PostMessageA(g_field, WM_RBUTTONDOWN, 0, cellCentre(40, 20));
        PostMessageA(g_field, WM_CHAR, 's', 1);
        break;
    case kPress: PostMessageA(g_field, WM_LBUTTONDOWN, MK_LBUTTON, cellCentre(a.column, a.row)); break;
    case kMove: PostMessageA(g_field, WM_MOUSEMOVE, MK_LBUTTON, cellCentre(a.column, a.row)); break;
    case kRelease: PostMessageA(g_field, WM_LBUTTONUP, 0, cellCentre(a.column, a.row)); break;
    case kPause: break;
    }
}

LRESULT send(HWND console, UINT message, WPARAM wparam, LPARAM lparam) {
    return SendMessageA(console, message, wparam, lparam);
}

// Each echo of the field is one log line: shown at the bottom of the log console.
void QUORVEND_CDECL showLogLine(const char* text) {
    if (g_log == nullptr) return;
    const LRESULT size = send(g_log, CONM_GETSIZE, 0, 0);
    if (size <= 0) return;
    const int columns = static_cast<int>(size & 0xFFFF);
    const int bottom = static_cast<int>(size >> 16) - 1;
    send(g_log, CONM_SCROLL, 0, CONSOLE_SCROLL_LPARAM(0, columns - 1, kLogTop, bottom));
    char line[96];
    std::snprintf(line, sizeof line, "log: %.*s", columns - 7, text);
    send(g_log, CONM_SETCURSORPOS, 0, CONSOLE_CURSORPOS_LPARAM(1, bottom));
    send(g_log, CONM_SETATTR, 0, CONSOLE_ATTR(7, 0));
    send(g_log, CONM_PUTSTRING, 0, reinterpret_cast<LPARAM>(line));
}

DWORD WINAPI fieldWorker(LPVOID) {
    char buffer[kFieldLength + 1] = "C:\\Program Files\\kelvane";
    while (g_stop == 0) {
        send(g_field, CONM_SETATTR, 0, CONSOLE_ATTR(15, 1));
        send(g_field, CONM_SETCURSORPOS, 0, CONSOLE_CURSORPOS_LPARAM(kFieldColumn, kFieldRow));
        const LRESULT result = send(g_field, CONM_INPUTLINE, kFieldLength | (CONI_TEXT << 12), reinterpret_cast<LPARAM>(buffer));
        if (g_stop != 0 || !IsWindow(g_field)) break;
        if (result != 1) continue;  // Escape: ask again
        char line[80];
        std::snprintf(line, sizeof line, "Installing to %-40.40s", buffer);
        send(g_field, CONM_SETCURSORPOS, 0, CONSOLE_CURSORPOS_LPARAM(1, kFieldRow + 1));
        send(g_field, CONM_SETATTR, 0, CONSOLE_ATTR(10, 0));
        send(g_field, CONM_PUTSTRING, 0, reinterpret_cast<LPARAM>(line));
    }
    return 0;
}

}  // namespace

void startInputDemo(HWND owner, HWND fieldConsole, HWND logConsole) {
    g_owner = owner;
    g_field = fieldConsole;
    g_log = logConsole;
    send(g_field, CONM_SETCURSORPOS, 0, CONSOLE_CURSORPOS_LPARAM(1, kFieldRow));
    send(g_field, CONM_SETATTR, 0, CONSOLE_ATTR(7, 0));
    send(g_field, CONM_PUTSTRING, 0, reinterpret_cast<LPARAM>("Install to:"));
    quorvend_set_console_log_writer(showLogLine);
    g_worker = CreateThread(nullptr, 0, fieldWorker, nullptr, 0, nullptr);
    SetTimer(owner, kScriptTimer, 150, nullptr);
}

bool onInputDemoTimer(UINT_PTR timer) {
    if (timer != kScriptTimer) return false;
    if (g_step < sizeof kScript / sizeof kScript[0]) {
        perform(kScript[g_step++]);
    } else {
        KillTimer(g_owner, kScriptTimer);
    }
    return true;
}

void stopInputDemo() {
    InterlockedExchange(&g_stop, 1);
    KillTimer(g_owner, kScriptTimer);
    quorvend_set_console_log_writer(nullptr);
    if (g_worker != nullptr) CloseHandle(g_worker);
    g_worker = nullptr;
}

}  // namespace demo
