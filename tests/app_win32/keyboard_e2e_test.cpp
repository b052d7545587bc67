// Both dialogs driven by the keyboard alone: Tab through every control in the
// templates' order, Space on the check box, Enter and Escape; an installation with a
// key wait, typed on the real keyboard.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver.h"

using namespace app_test;

namespace {

HWND FocusOf(Program& program, HWND dialog) {
    GUITHREADINFO gui = {};
    gui.cbSize = sizeof gui;
    return GetGUIThreadInfo(program.threadIdOf(dialog), &gui) ? gui.hwndFocus : nullptr;
}

// Presses Tab until the focus is back where it started: the ids it stopped at.
std::vector<int> TabCycle(Program& program, HWND dialog) {
    const HWND start = FocusOf(program, dialog);
    std::vector<int> ids;
    HWND at = start;
    for (int i = 0; i < 10; ++i) {
        const HWND before = at;
        PressKey(dialog, VK_TAB);
        if (!program.waitUntil([&] { return (at = FocusOf(program, dialog)) != before; }, "the focus to move")) break;
        if (at == start) break;
        ids.push_back(GetDlgCtrlID(at));
    }
    return ids;
}

void Tabs(Program& program, HWND dialog, int count) {
    for (int i = 0; i < count; ++i) {
        const HWND before = FocusOf(program, dialog);
        PressKey(dialog, VK_TAB);
        program.waitUntil([&] { return FocusOf(program, dialog) != before; }, "the focus to move");
    }
}

}  // namespace

TEST(Keyboard, BothDialogsByKeysAlone) {
    Installation installation;
    installation.writeSetup("My Program", "kvtest.dll");
    installation.writeDocuments();
    Program program(installation);
    program.answerStartupWarnings();
    const HWND pages = program.waitPagesDialog();
    ASSERT_NE(pages, nullptr);
    const HWND check = GetDlgItem(pages, 1010);

    // "Next >>" has the focus; the hidden check box is skipped on the warning page.
    EXPECT_EQ(GetDlgCtrlID(FocusOf(program, pages)), 1);
    EXPECT_EQ(TabCycle(program, pages), (std::vector<int>{2, 1005, 1001, 1011}));
    PressKey(pages, VK_RETURN);
    program.waitUntil([&] { return IsWindowVisible(check) != FALSE; }, "the licence page after Enter");
    EXPECT_EQ(TabCycle(program, pages), (std::vector<int>{2, 1005, 1001, 1010, 1011}));

    // From "Next >>" to the box, Space ticks it, Enter accepts.
    Tabs(program, pages, 4);
    ASSERT_EQ(FocusOf(program, pages), check);
    PressKey(pages, VK_SPACE);
    program.waitUntil([&] { return SendMessageA(check, BM_GETCHECK, 0, 0) == BST_CHECKED; }, "Space to tick the box");
    PressKey(pages, VK_RETURN);
    const HWND dialog = program.waitMainDialog();
    ASSERT_NE(dialog, nullptr);

    // "Exit ...", the console, "Install ..."; Escape leaves while nothing is installing.
    EXPECT_EQ(GetDlgCtrlID(FocusOf(program, dialog)), 1);
    EXPECT_EQ(TabCycle(program, dialog), (std::vector<int>{1000, 1001}));
    PressKey(dialog, VK_ESCAPE);
    DWORD code = 0;
    ASSERT_TRUE(program.waitExit(code));
    EXPECT_EQ(code, 0u);
}

// Regression: the key wait left the focus on "Install ...", Tab did nothing during it,
// and Enter on the idle console ended the installer.
TEST(Keyboard, InstallationThroughAKeyWaitByKeysAlone) {
    Installation installation;
    installation.writeSetup("Keyed Program", "kvtest.dll");
    installation.writeDocuments();
    installation.addModule("kvtest_cdecl.dll", "kvtest.dll", "WAITKEY=2\r\n");
    Program program(installation);
    const HWND dialog = AcceptLicence(program);
    ASSERT_NE(dialog, nullptr);
    const HWND console = GetDlgItem(dialog, 1000);
    EXPECT_EQ(WindowText(console), "Installation log");
    const auto shows = [](const char* text) {
        return [text](const ConsoleView& v) { return v.text().find(text) != std::string::npos; };
    };
    // Enter on the idle console: the dialog stays, and no 13 is left for the wait.
    for (WORD key : {VK_TAB, VK_RETURN, VK_TAB, VK_SPACE}) TypeKey(dialog, key);
    program.waitConsole(console, shows("press a key"), "the key wait");
    program.waitUntil([&] { return FocusOf(program, dialog) == console; }, "the wait to take the focus");
    PostMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, 1)), TRUE);
    program.waitUntil([&] { return GetDlgCtrlID(FocusOf(program, dialog)) == 1; }, "the focus on Exit");
    // Shift+Tab, Tab, Tab: through both buttons back to the console, the wait running.
    TypeKey(dialog, VK_TAB, true);
    for (WORD key : std::initializer_list<WORD>{VK_TAB, VK_TAB, 'K'}) TypeKey(dialog, key);
    program.waitConsole(console, shows("key 107"), "the typed key in the module");
    program.answer("Installation finished.", "kelvane");
    program.answer("View Log install", "Log", IDNO);
    DWORD code = 0;
    ASSERT_TRUE(program.waitExit(code));
    EXPECT_EQ(code, 512u);
}
