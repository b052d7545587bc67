// A console window at the Wine prefix's DPI (192 in high_dpi_test.sh's own prefix), in a
// per-monitor aware process as kelvane.exe is: the grid of 96 DPI, each cell drawn as
// the 8x16 glyph with k x k pixels. Reads its own window's pixels; changes no prefix.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <string>

#include "console/core/fonts.h"
#include "driver.h"
#include "console/core/instance.h"
#include "console/win32/console_window.h"
#include "sdk/quorvend_console.h"

TEST(HighDpi, ConsoleKeepsTheNinetySixDpiGridAndDrawsEachCellScaled) {
    HMODULE user32 = GetModuleHandleA("user32.dll");
    const auto aware = reinterpret_cast<BOOL(WINAPI*)(HANDLE)>(
        reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")));
    ASSERT_NE(aware, nullptr);
    aware(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)));  // per-monitor v2; FALSE when already so
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
// KV_DPI_GRID_FILE) and once after (the grid must equal the one written).
TEST(HighDpi, MainDialogConsoleKeepsItsGrid) {
    char phase[8] = "", file[MAX_PATH] = "";
    if (GetEnvironmentVariableA("KV_DPI_PHASE", phase, sizeof phase) == 0 ||
        GetEnvironmentVariableA("KV_DPI_GRID_FILE", file, sizeof file) == 0) {
        GTEST_SKIP() << "run by high_dpi_test.sh";
    }
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
        // The control is sized for that grid of 16 x 32 pixel cells, exactly.
        RECT client;
        ASSERT_TRUE(GetClientRect(GetDlgItem(dialog, 1000), &client));
        EXPECT_EQ(client.right / 16, static_cast<LONG>(grid & 0xFFFF)) << client.right;
        EXPECT_EQ(client.bottom / 32, static_cast<LONG>(grid >> 16)) << client.bottom;
    }
    app_test::PressKey(dialog, VK_ESCAPE);
    DWORD code = 0;
    EXPECT_TRUE(program.waitExit(code));
}
