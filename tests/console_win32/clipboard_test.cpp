// Copy under Wine, end to end: Select and Copy chosen from the real context menu, a
// rectangle dragged with the left button, and the clipboard read back in this process
// and by a second one, with box-drawing and accented characters in both formats.
// x11_clipboard_test.sh runs the last test again and reads the X11 clipboard after it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "console_test_support.h"
#include "menu_driver.h"

using namespace console_test;

namespace {

// Rows 1-3, columns 1-5 of the console: a box round three accented letters.
const unsigned char kBox[3][5] = {
    {0xC9, 0xCD, 0xCD, 0xCD, 0xBB},
    {0xBA, 0x82, 0x87, 0x94, 0xBA},
    {0xC8, 0xCD, 0xCD, 0xCD, 0xBC},
};
const char kBytes[] = "\xC9\xCD\xCD\xCD\xBB\r\n\xBA\x82\x87\x94\xBA\r\n\xC8\xCD\xCD\xCD\xBC\r\n";
const wchar_t kWide[] = L"\u2554\u2550\u2550\u2550\u2557\r\n\u2551\u00E9\u00E7\u00F6\u2551\r\n\u255A\u2550\u2550\u2550\u255D\r\n";

LPARAM cellCentre(int column, int row) { return MAKELPARAM(column * 8 + 4, row * 16 + 8); }

std::string readFile(const std::string& path) {
    std::string data;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return "<missing>";
    char chunk[256];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) data.append(chunk, n);
    std::fclose(f);
    return data;
}

std::string besideThisProgram(const char* name) {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    return dir.substr(0, dir.find_last_of("\\/") + 1) + name;
}

// Runs the reader process; its exit code, or -1 when it could not run.
int runReader(const std::string& textFile, const std::string& wideFile) {
    std::string command = "\"" + besideThisProgram("clipboard_reader.exe") + "\" \"" + textFile + "\" \"" + wideFile + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
    DWORD code = 1;
    if (WaitForSingleObject(pi.hProcess, 20000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}

}  // namespace

TEST(ConsoleClipboard, CopiedRectangleReachesAnotherProcessInBothFormats) {
    ScopedWindow console(createConsole());
    send(console, CONM_CREATESCREEN, 0);
    send(console, CONM_SELECTSCREEN, 0);
    send(console, CONM_SETFONT, CONSOLE_SETFONT_WPARAM(0, CONSOLE_FONT_8X16));
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 5; ++column) {
            send(console, CONM_PUTCELL, 0, CONSOLE_PUTCELL_LPARAM(column + 1, row + 1, CONSOLE_CELL(kBox[row][column], 7)));
        }
    }
    send(console, WM_TIMER, shareInstance(console)->timerId);  // the picture on show is what Copy takes

    MenuDriver menu(MenuDriver::kSelect);
    send(console, WM_RBUTTONDOWN, 0, cellCentre(0, 0));
    send(console, WM_LBUTTONDOWN, MK_LBUTTON, cellCentre(5, 3));  // drag up and left
    send(console, WM_MOUSEMOVE, MK_LBUTTON, cellCentre(1, 1));
    send(console, WM_LBUTTONUP, 0, cellCentre(1, 1));
    menu.choose(MenuDriver::kCopy);
    send(console, WM_RBUTTONDOWN, 0, cellCentre(0, 0));
    ASSERT_EQ(menu.opened, 2);

    ASSERT_TRUE(OpenClipboard(nullptr));
    HANDLE text = GetClipboardData(CF_TEXT);
    HANDLE wide = GetClipboardData(CF_UNICODETEXT);
    ASSERT_TRUE(text && wide);
    EXPECT_STREQ(static_cast<const char*>(GlobalLock(text)), kBytes) << "codes unchanged";
    EXPECT_STREQ(static_cast<const wchar_t*>(GlobalLock(wide)), kWide);
    GlobalUnlock(text);
    GlobalUnlock(wide);
    CloseClipboard();

    char temp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, temp);
    const std::string textFile = std::string(temp) + "kelvane-clip.txt";
    const std::string wideFile = std::string(temp) + "kelvane-clip.utf16";
    ASSERT_EQ(runReader(textFile, wideFile), 0);
    EXPECT_EQ(readFile(textFile), std::string(kBytes));
    EXPECT_EQ(readFile(wideFile), std::string(reinterpret_cast<const char*>(kWide), (sizeof kWide) - sizeof(wchar_t)));
    DeleteFileA(textFile.c_str());
    DeleteFileA(wideFile.c_str());
}
