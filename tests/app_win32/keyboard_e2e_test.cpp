// Both dialogs driven by the keyboard alone: Tab through every control in the
// templates' order, Space on the check box, Enter and Escape.
#include <gtest/gtest.h>

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
