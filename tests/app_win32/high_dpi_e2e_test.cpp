// A console window at the Wine prefix's DPI (192, then 144, in high_dpi_test.sh's own
// prefix), in a per-monitor aware process as kelvane.exe is: the grid of 96 DPI, each cell
// the 8x16 glyph scaled nearest neighbour. Reads windows' pixels; changes no prefix.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "console/core/fonts.h"
#include "driver.h"
#include "console/core/instance.h"
#include "console/win32/console_window.h"
#include "sdk/quorvend_console.h"

namespace {

void BecomePerMonitorAware() {
    HMODULE user32 = GetModuleHandleA("user32.dll");
    const auto aware = reinterpret_cast<BOOL(WINAPI*)(HANDLE)>(
        reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")));
    ASSERT_NE(aware, nullptr);
    aware(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)));  // per-monitor v2; FALSE when already so
}

// Pixel (x, y) of a cell w x h showing glyph in fore on back: nearest neighbour, each
// pixel's centre sampled.
COLORREF ScaledGlyphPixel(const uint8_t* glyph, int x, int y, int w, int h, COLORREF fore, COLORREF back) {
    return (glyph[(2 * y + 1) * 16 / (2 * h)] & (0x80 >> ((2 * x + 1) * 8 / (2 * w)))) ? fore : back;
}

// The w x h pixels at a screen point, row by row: another process's window cannot be read
// through its own DC, the screen's can.
std::vector<COLORREF> CaptureScreen(POINT at, int w, int h) {
    std::vector<COLORREF> pixels;
    HDC screen = GetDC(nullptr);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) pixels.push_back(GetPixel(screen, at.x + x, at.y + y));
    ReleaseDC(nullptr, screen);
    return pixels;
}

}  // namespace

TEST(HighDpi, ConsoleKeepsTheNinetySixDpiGridAndDrawsEachCellScaled) {
    BecomePerMonitorAware();
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX), k = dpi / 96;
    ReleaseDC(nullptr, screen);
    ASSERT_EQ(dpi, 192) << "the prefix's LogPixels";
    console::win32::registerConsoleClasses(GetModuleHandleA(nullptr));
    HWND window = CreateWindowExA(0, QUORVEND_CONSOLE_CLASS, "", WS_POPUP | WS_VISIBLE, 0, 0, 256 * k, 128 * k, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
    SendMessageA(window, CONM_CREATESCREEN, 0, 0);
    SendMessageA(window, CONM_SELECTSCREEN, 0, 0);
    SendMessageA(window, CONM_SETCOLORMODE, 0, 1);
    SendMessageA(window, CONM_SETFONT, CONSOLE_SETFONT_WPARAM(0, CONSOLE_FONT_8X16), 0);
    EXPECT_EQ(SendMessageA(window, CONM_GETSIZE, 0, 0), (8 << 16) + 32) << "the grid of 256 x 128 at 96 DPI";
    SendMessageA(window, CONM_SETATTR, 0, CONSOLE_ATTR(15, 1));
    SendMessageA(window, CONM_PUTSTRING, 0, reinterpret_cast<LPARAM>("W"));
    SendMessageA(window, CONM_SETSHARING, 0, 1);
    const auto* instance = reinterpret_cast<console::ConsoleInstance*>(SendMessageA(window, CONM_GETINSTANCE, 0, 0));
    SendMessageA(window, WM_TIMER, instance->timerId, 0);  // paints now; the cursor is in the next cell
    HDC dc = GetDC(window);
    const uint8_t* glyph = console::font8x16 + console::kGlyphOffset8x16 + 'W' * 16;
    for (int y = 0; y < 16 * k; ++y)
        for (int x = 0; x < 8 * k; ++x)
            ASSERT_EQ(GetPixel(dc, x, y), (glyph[y / k] & (0x80 >> (x / k))) ? RGB(255, 255, 255) : RGB(0, 0, 0xC0))
                << x << "," << y;
    ReleaseDC(window, dc);
    DestroyWindow(window);
}

// kelvane.exe's console keeps the grid it has at 96 DPI. high_dpi_test.sh runs this once
// before raising the prefix's DPI (KV_DPI_PHASE=96: the grid is written to
// KV_DPI_GRID_FILE) and at 192 and 144 after (the grid must equal the one written, fill
// the control to within one cell, show the first glyph at the DPI's cell size, and have
// the focus ring drawn once Tab reaches the console).
TEST(HighDpi, MainDialogConsoleKeepsItsGrid) {
    char phase[8] = "", file[MAX_PATH] = "";
    if (GetEnvironmentVariableA("KV_DPI_PHASE", phase, sizeof phase) == 0 ||
        GetEnvironmentVariableA("KV_DPI_GRID_FILE", file, sizeof file) == 0) {
        GTEST_SKIP() << "run by high_dpi_test.sh";
    }
    BecomePerMonitorAware();
    app_test::Installation installation;
    installation.writeSetup("My Program", "kvtest.dll");
    installation.writeDocuments();
    app_test::Program program(installation);
    const HWND dialog = app_test::AcceptLicence(program);
    ASSERT_NE(dialog, nullptr);
    DWORD_PTR grid = 0;
    ASSERT_TRUE(SendMessageTimeoutA(GetDlgItem(dialog, 1000), CONM_GETSIZE, 0, 0, SMTO_ABORTIFHUNG, 5000, &grid));
    if (std::string(phase) == "96") {
        std::ofstream(file) << grid;
    } else {
        DWORD_PTR at96 = 0;
        std::ifstream(file) >> at96;
        EXPECT_EQ(grid, at96) << "rows << 16 | columns, here and at 96 DPI";
        // The grid of 8 x 16 cells scaled to the DPI, rounded, fills the control to within a cell.
        const int dpi = std::atoi(phase), w = (8 * dpi + 48) / 96, h = (16 * dpi + 48) / 96;
        const HWND console = GetDlgItem(dialog, 1000);
        RECT client;
        ASSERT_TRUE(GetClientRect(console, &client));
        EXPECT_EQ(client.right / w, static_cast<LONG>(grid & 0xFFFF)) << client.right;
        EXPECT_EQ(client.bottom / h, static_cast<LONG>(grid >> 16)) << client.bottom;
        // The welcome text's "W" in colour 7 on black, read back from the screen.
        const uint8_t* glyph = console::font8x16 + console::kGlyphOffset8x16 + 'W' * 16;
        const COLORREF fore = RGB(0x80, 0x80, 0x80), back = RGB(0, 0, 0);
        POINT origin = {0, 0};
        ClientToScreen(console, &origin);
        std::vector<COLORREF> shown;
        auto cellShown = [&] {
            shown = CaptureScreen(origin, w, h);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    if (shown[y * w + x] != ScaledGlyphPixel(glyph, x, y, w, h, fore, back)) return false;
            return true;
        };
        EXPECT_TRUE(program.waitUntil(cellShown, "the first cell drawn as a W of " + std::to_string(w) + "x" +
                                                     std::to_string(h)));
        // Tab from "Exit ..." to the console: the dialog draws a solid ring in the highlight
        // colour, 2 x DPI/96 pixels wide, along the outer edge of the band around it. Read at
        // the top-left corner: the dialog is wider than the display.
        app_test::PressKey(dialog, VK_TAB);
        const int ring = (2 * dpi + 95) / 96, band = std::max(3 * dpi / 96, ring), side = 64;
        RECT box;
        ASSERT_TRUE(GetWindowRect(console, &box));
        const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);
        auto ringShown = [&] {
            shown = CaptureScreen(POINT{box.left - band, box.top - band}, side, side);
            for (int y = 0; y < side; ++y)
                for (int x = 0; x < side; ++x)
                    if ((x < band || y < band) && (shown[y * side + x] == highlight) != (x < ring || y < ring)) {
                        return false;
                    }
            return true;
        };
        EXPECT_TRUE(program.waitUntil(ringShown, "a ring of " + std::to_string(ring) + " pixels around the console"));
    }
    app_test::PressKey(dialog, VK_ESCAPE);
    DWORD code = 0;
    EXPECT_TRUE(program.waitExit(code));
}
