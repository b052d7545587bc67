// A tour of the console control: both fonts' glyph tables, the 16 colours, grey mode,
// blinking text, the cursor, output that scrolls in on a timer, an input field and a
// marked rectangle, in three consoles. Must use nothing but sdk/quorvend_console.h: it
// is also built outside the tree against the installed library.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstring>

#include "input_demo.h"
#include "sdk/quorvend_console.h"

namespace {

const int kClientWidth = 1008;
const int kClientHeight = 704;
const UINT_PTR kScrollTimer = 1;

// The scrolling box on the large console, in cells (inside its frame).
const int kBoxLeft = 2, kBoxRight = 61, kBoxTop = 30, kBoxBottom = 41;

HWND g_large = nullptr;  // 8x16 font, colour
HWND g_small = nullptr;  // 8x8 font, colour
HWND g_grey = nullptr;   // 8x16 font, grey mode
int g_lineNumber = 0;

LRESULT send(HWND console, UINT message, WPARAM wparam, LPARAM lparam) {
    return SendMessageA(console, message, wparam, lparam);
}

// Screen 0 laid out for a font and shown; colour mode 0 is grey.
void setUpScreen(HWND console, unsigned font, int colorMode) {
    send(console, CONM_CREATESCREEN, 0, 0);
    send(console, CONM_SELECTSCREEN, 0, 0);
    send(console, CONM_SETCOLORMODE, 0, colorMode);
    send(console, CONM_SETFONT, CONSOLE_SETFONT_WPARAM(0, font), 0);
    send(console, CONM_SETATTR, 0, CONSOLE_ATTR(7, 0));
    send(console, CONM_CLEAR, 0, 0);
}

// ANSI text through the console's own conversion, at a cell, in an attribute.
void text(HWND console, int column, int row, unsigned attribute, const char* s) {
    send(console, CONM_SETCURSORPOS, 0, CONSOLE_CURSORPOS_LPARAM(column, row));
    send(console, CONM_SETATTR, 0, attribute);
    send(console, CONM_PUTSTRING, 0, reinterpret_cast<LPARAM>(s));
}

// A raw OEM character code, bypassing the conversion (box drawing, glyph tables).
void cell(HWND console, int column, int row, unsigned attribute, unsigned char code) {
    send(console, CONM_PUTCELL, 0, CONSOLE_PUTCELL_LPARAM(column, row, CONSOLE_CELL(code, attribute)));
}

void frame(HWND console, int left, int top, int right, int bottom, unsigned attribute) {
    for (int c = left + 1; c < right; ++c) {
        cell(console, c, top, attribute, 0xCD);
        cell(console, c, bottom, attribute, 0xCD);
    }
    for (int r = top + 1; r < bottom; ++r) {
        cell(console, left, r, attribute, 0xBA);
        cell(console, right, r, attribute, 0xBA);
    }
    cell(console, left, top, attribute, 0xC9);
    cell(console, right, top, attribute, 0xBB);
    cell(console, left, bottom, attribute, 0xC8);
    cell(console, right, bottom, attribute, 0xBC);
}

// All 256 glyphs, 16 a row, with hexadecimal labels.
void glyphTable(HWND console, int left, int top) {
    static const char hex[] = "0123456789ABCDEF";
    for (int i = 0; i < 16; ++i) {
        cell(console, left + 3 + i * 2, top, CONSOLE_ATTR(11, 0), static_cast<unsigned char>(hex[i]));
        cell(console, left, top + 1 + i, CONSOLE_ATTR(11, 0), static_cast<unsigned char>(hex[i]));
        cell(console, left + 1, top + 1 + i, CONSOLE_ATTR(11, 0), 'x');
    }
    for (int code = 0; code < 256; ++code) {
        cell(console, left + 3 + (code % 16) * 2, top + 1 + code / 16, CONSOLE_ATTR(15, 1),
             static_cast<unsigned char>(code));
    }
}

// Foreground 0-15 as full blocks with their numbers, backgrounds 0-7 as blank cells.
void colourSwatches(HWND console, int left, int top) {
    text(console, left, top, CONSOLE_ATTR(7, 0), "foreground");
    text(console, left, top + 3, CONSOLE_ATTR(7, 0), "background");
    for (int i = 0; i < 16; ++i) {
        char label[4];
        std::snprintf(label, sizeof label, "%2d", i);
        text(console, left + 11 + i * 3, top + 1, CONSOLE_ATTR(7, 0), label);
        cell(console, left + 11 + i * 3, top, CONSOLE_ATTR(i, 0), 0xDB);
        cell(console, left + 12 + i * 3, top, CONSOLE_ATTR(i, 0), 0xDB);
    }
    for (int i = 0; i < 8; ++i) {
        for (int j = 0; j < 5; ++j) cell(console, left + 11 + i * 6 + j, top + 3, CONSOLE_ATTR(15, i), ' ');
        char label[4];
        std::snprintf(label, sizeof label, "%d", i);
        text(console, left + 13 + i * 6, top + 4, CONSOLE_ATTR(7, 0), label);
    }
}

void fillLarge() {
    setUpScreen(g_large, CONSOLE_FONT_8X16, 1);
    text(g_large, 1, 0, CONSOLE_ATTR(14, 1), " quorvend.console - 8x16 font, colour ");
    glyphTable(g_large, 1, 2);
    colourSwatches(g_large, 1, 20);
    text(g_large, 1, 26, CONSOLE_ATTR(7, 0), "blinking:");
    text(g_large, 11, 26, CONSOLE_ATTR(12, 0) | CONSOLE_ATTR_BLINK, "Insert disk 2");
    text(g_large, 26, 26, CONSOLE_ATTR(0, 7) | CONSOLE_ATTR_BLINK, " and press any key ");
    frame(g_large, kBoxLeft - 1, kBoxTop - 1, kBoxRight + 1, kBoxBottom + 1, CONSOLE_ATTR(3, 0));
    text(g_large, kBoxLeft + 1, kBoxTop - 1, CONSOLE_ATTR(11, 0), " scrolling output ");
}

void fillSmall() {
    setUpScreen(g_small, CONSOLE_FONT_8X8, 1);
    text(g_small, 1, 0, CONSOLE_ATTR(14, 1), " 8x8 font, colour ");
    glyphTable(g_small, 1, 2);
    colourSwatches(g_small, 1, 21);
    text(g_small, 1, 28, CONSOLE_ATTR(7, 0), "Box pieces:");
    static const unsigned char boxes[] = {0xDA, 0xC4, 0xC2, 0xBF, 0xB3, 0xC3, 0xC5, 0xB4, 0xC0, 0xC1, 0xD9,
                                          0xC9, 0xCD, 0xCB, 0xBB, 0xBA, 0xCC, 0xCE, 0xB9, 0xC8, 0xCA, 0xBC,
                                          0xB0, 0xB1, 0xB2, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF};
    for (size_t i = 0; i < sizeof boxes; ++i) cell(g_small, 13 + static_cast<int>(i), 28, CONSOLE_ATTR(10, 0), boxes[i]);
    text(g_small, 1, 30, CONSOLE_ATTR(7, 0), "Symbols: ");
    for (int i = 1; i < 32; ++i) cell(g_small, 9 + i, 30, CONSOLE_ATTR(13, 0), static_cast<unsigned char>(i));
    text(g_small, 1, 32, CONSOLE_ATTR(15, 4), " Accents: ");
    for (int i = 0; i < 48; ++i) cell(g_small, 11 + i, 32, CONSOLE_ATTR(15, 4), static_cast<unsigned char>(128 + i));
    text(g_small, 1, 34, CONSOLE_ATTR(7, 0), "Greek and maths: ");
    for (int i = 0; i < 31; ++i) cell(g_small, 18 + i, 34, CONSOLE_ATTR(14, 0), static_cast<unsigned char>(224 + i));
    text(g_small, 1, 37, CONSOLE_ATTR(8, 0), "Each console window is independent:");
    text(g_small, 1, 38, CONSOLE_ATTR(8, 0), "its own screens, timer and callback thread.");
    text(g_small, 1, 40, CONSOLE_ATTR(7, 0), "ready_");
    send(g_small, CONM_SETCURSORPOS, 0, CONSOLE_CURSORPOS_LPARAM(7, 40));
}

void fillGrey() {
    setUpScreen(g_grey, CONSOLE_FONT_8X16, 0);
    text(g_grey, 1, 0, CONSOLE_ATTR(15, 1), " the same colours in grey mode ");
    colourSwatches(g_grey, 1, 2);
    text(g_grey, 1, 9, CONSOLE_ATTR(14, 0), "Yellow (14) and light cyan (11) share grey 170;");
    text(g_grey, 1, 10, CONSOLE_ATTR(11, 0), "blue (1) and green (2) share grey 64.");
    text(g_grey, 1, 12, CONSOLE_ATTR(15, 0) | CONSOLE_ATTR_BLINK, "Blinking works in grey too.");
    text(g_grey, 1, 14, CONSOLE_ATTR(15, 0), "Log of the input field (each echo is a line):");
}

// One more line at the bottom of the box; the rest of the box moves up a row.
void scrollInLine() {
    static const char* const messages[] = {
        "Copying files...", "Unpacking data.cab", "Registering components",
        "Writing settings", "Creating shortcuts", "Checking free space",
    };
    send(g_large, CONM_SCROLL, 0, CONSOLE_SCROLL_LPARAM(kBoxLeft, kBoxRight, kBoxTop, kBoxBottom));
    char line[64];
    std::snprintf(line, sizeof line, "%04d  %-24s %3d%%", g_lineNumber, messages[g_lineNumber % 6],
                  (g_lineNumber * 7) % 101);
    const unsigned attribute = CONSOLE_ATTR(static_cast<unsigned>(9 + g_lineNumber % 7), 0);
    for (int i = 0; line[i] != '\0' && kBoxLeft + 1 + i <= kBoxRight; ++i) {
        cell(g_large, kBoxLeft + 1 + i, kBoxBottom, attribute, static_cast<unsigned char>(line[i]));
    }
    ++g_lineNumber;
}

HWND createConsole(HWND parent, int x, int y, int width, int height, int id) {
    return CreateWindowExA(0, QUORVEND_CONSOLE_CLASS, "", WS_CHILD | WS_VISIBLE, x, y, width, height, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr), nullptr);
}

LRESULT OnCreate(HWND window) {
    g_large = createConsole(window, 0, 0, 512, kClientHeight, 1000);
    g_small = createConsole(window, 512, 0, kClientWidth - 512, 352, 1001);
    g_grey = createConsole(window, 512, 352, kClientWidth - 512, kClientHeight - 352, 1002);
    if (g_large == nullptr || g_small == nullptr || g_grey == nullptr) return -1;
    fillLarge();
    fillSmall();
    fillGrey();
    for (int i = 0; i < kBoxBottom - kBoxTop + 1; ++i) scrollInLine();
    SetTimer(window, kScrollTimer, 700, nullptr);
    demo::startInputDemo(window, g_large, g_grey);
    SetFocus(g_large);
    return 0;
}

LRESULT CALLBACK demoWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_CREATE:
        return OnCreate(window);
    case WM_TIMER:
        if (wparam == kScrollTimer) scrollInLine();
        demo::onInputDemoTimer(wparam);
        return 0;
    case WM_LBUTTONDOWN:
        SetFocus(g_large);
        return 0;
    case WM_DESTROY:
        KillTimer(window, kScrollTimer);
        demo::stopInputDemo();
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wparam, lparam);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    // Older screen readers reach the console's accessible object through COM here.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (!quorvend_register_console_classes(instance)) return 1;

    WNDCLASSEXA wc;
    std::memset(&wc, 0, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = demoWindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    wc.lpszClassName = "kelvane.console_demo";
    if (!RegisterClassExA(&wc)) return 1;

    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT rect = {0, 0, kClientWidth, kClientHeight};
    AdjustWindowRect(&rect, style, FALSE);
    HWND window = CreateWindowExA(0, wc.lpszClassName, "kelvane - console demo", style, 0, 0,
                                  rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return 1;
    ShowWindow(window, show);
    UpdateWindow(window);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}
