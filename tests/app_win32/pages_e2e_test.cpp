// kelvane.exe from start to the end of the pages dialog, driven from outside: the page
// rules, every way out with its exit code, missing files and the system-folder rule.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "driver.h"

using namespace app_test;

namespace {

constexpr int kNext = 1, kExit = 2, kRichEdit = 1005, kPrev = 1001, kCheck = 1010, kDisagree = 1011;

struct Pages {
    HWND dialog, richEdit, check;
    explicit Pages(HWND d)
        : dialog(d), richEdit(GetDlgItem(d, kRichEdit)), check(GetDlgItem(d, kCheck)) {}
    std::string document() const { return WindowText(richEdit); }
    bool checkVisible() const { return IsWindowVisible(check) != FALSE; }
    LRESULT checkState() const {
        DWORD_PTR state = 0;
        SendMessageTimeoutA(check, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &state);
        return static_cast<LRESULT>(state);
    }
    void click(int id) const { Click(GetDlgItem(dialog, id)); }
};

bool Shows(const Pages& pages, const char* text) { return pages.document().find(text) != std::string::npos; }

void ExpectWarningPage(Program& program, const Pages& pages, const char* when) {
    SCOPED_TRACE(when);
    program.waitUntil([&] { return Shows(pages, kWarningText) && !pages.checkVisible(); }, "the warning page");
    EXPECT_EQ(pages.checkState(), BST_UNCHECKED);
}

void ExpectLicencePage(Program& program, const Pages& pages, const char* when) {
    SCOPED_TRACE(when);
    program.waitUntil([&] { return Shows(pages, kLicenceText) && pages.checkVisible(); }, "the licence page");
}

// Outside Wine any library on the search path loads; under Wine only when asked.
bool WineLoadsNativeRichEdit() {
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") == nullptr) return true;
    char overrides[1024] = "";
    GetEnvironmentVariableA("WINEDLLOVERRIDES", overrides, sizeof overrides);
    return strstr(overrides, "riched20=n") != nullptr && strstr(overrides, "oleacc=n") != nullptr;
}

void Prepare(const Installation& installation) {
    installation.writeSetup("My Program", "kvtest.dll");
    installation.writeDocuments();
}

}  // namespace

TEST(PagesDialog, PageRulesAndLeavingWithEscape) {
    Installation installation;
    Prepare(installation);
    Program program(installation);
    program.answerStartupWarnings();
    const Pages pages(program.waitPagesDialog());
    ASSERT_NE(pages.dialog, nullptr);

    const std::string caption = WindowText(pages.dialog);
    EXPECT_EQ(caption.rfind("Installation of program My Program Build ", 0), 0u) << caption;
    EXPECT_EQ(caption.size(), strlen("Installation of program My Program Build ") + 11 + 1 + 8) << caption;
    ExpectWarningPage(program, pages, "at start");

    // "Prec <<" on page 0 does nothing: the following "Next >>" still leads to page 1.
    pages.click(kPrev);
    pages.click(kNext);
    ExpectLicencePage(program, pages, "after Prec and Next");
    EXPECT_EQ(pages.checkState(), BST_UNCHECKED);

    // Acceptance given and withdrawn by going back must be given again.
    pages.click(kCheck);
    program.waitUntil([&] { return pages.checkState() == BST_CHECKED; }, "the ticked box");
    pages.click(kPrev);
    ExpectWarningPage(program, pages, "after Prec from the licence");
    pages.click(kNext);
    ExpectLicencePage(program, pages, "back on the licence");
    EXPECT_EQ(pages.checkState(), BST_UNCHECKED);

    // Unticked "Next >>" on the licence page: the box, then the warning page.
    pages.click(kNext);
    const MessageBoxSeen refusal = program.answer("Vous devez accepter la convention de licence", "SETUP");
    EXPECT_EQ(refusal.owner, pages.dialog);
    ExpectWarningPage(program, pages, "after the refusal");

    // Enter acts as "Next >>".
    PressKey(pages.dialog, VK_RETURN);
    ExpectLicencePage(program, pages, "after Enter");

    PressKey(pages.dialog, VK_ESCAPE);
    DWORD code = 0;
    ASSERT_TRUE(program.waitExit(code));
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(installation.exists("temp\\setup-internet-gui.log")) << "the main dialog must not have run";
}

TEST(PagesDialog, ExitButtonWithAMissingDocumentShowsAnEmptyPage) {
    Installation installation;
    installation.writeSetup("My Program", "kvtest.dll");
    installation.write("setup.rtf", std::string("{\\rtf1 ") + kLicenceText + "\\par}");
    Program program(installation);
    program.answerStartupWarnings();
    const Pages pages(program.waitPagesDialog());
    ASSERT_NE(pages.dialog, nullptr);
    EXPECT_EQ(pages.document(), "");
    pages.click(kNext);
    ExpectLicencePage(program, pages, "the licence after an empty warning page");
    pages.click(kPrev);
    program.waitUntil([&] { return pages.document().empty() && !pages.checkVisible(); }, "the empty warning page");

    pages.click(kExit);
    DWORD code = 0;
    ASSERT_TRUE(program.waitExit(code));
    EXPECT_EQ(code, 0u);
}

TEST(PagesDialog, CloseBoxEndsAndPlantedRichEditAndAccessibilityLibrariesAreNotLoaded) {
    Installation installation;
    Prepare(installation);
    // The program runs elevated from folders anyone can write to: a library planted
    // under a system name beside it (also its current directory) must never load.
    // Wine prefers its own libraries: only with riched20=n,b in WINEDLLOVERRIDES (which
    // CTest sets) does it load a planted copy that the search reaches.
    if (!WineLoadsNativeRichEdit()) {
        GTEST_SKIP() << "the planted library cannot load here; set WINEDLLOVERRIDES=riched20=n,b;oleacc=n,b";
    }
    installation.copyFromBin("kvtest_planted.dll", "riched20.dll");
    // oleacc is no KnownDLL: a static import of it would load this copy before WinMain.
    installation.copyFromBin("kvtest_planted_oleacc.dll", "OLEACC.dll");
    Program program(installation);
    program.answerStartupWarnings();
    const Pages pages(program.waitPagesDialog());
    ASSERT_NE(pages.dialog, nullptr);
    ExpectWarningPage(program, pages, "with the system's rich edit");
    EXPECT_FALSE(installation.exists("planted-loaded.txt"));

    CloseBox(pages.dialog);
    DWORD code = 0;
    ASSERT_TRUE(program.waitExit(code));
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(installation.exists("planted-loaded.txt"));

    // The one-file sample, as authors ship it, in the same folder.
    installation.copyFromBin("kelvane-sample-onefile.exe", "kelvane-sample-onefile.exe");
    Program oneFile(installation, Launch{"kelvane-sample-onefile.exe", "", false});
    const Pages samplePages(oneFile.waitPagesDialog());
    ASSERT_NE(samplePages.dialog, nullptr);
    CloseBox(samplePages.dialog);
    ASSERT_TRUE(oneFile.waitExit(code));
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(installation.exists("planted-loaded.txt"));
}

TEST(PagesDialog, DisagreeEndsWithExitCode4FromEitherPage) {
    for (int page = 0; page < 2; ++page) {
        SCOPED_TRACE(page == 0 ? "warning page" : "licence page");
        Installation installation;
        Prepare(installation);
        Program program(installation);
        program.answerStartupWarnings();
        const Pages pages(program.waitPagesDialog());
        ASSERT_NE(pages.dialog, nullptr);
        if (page == 1) {
            pages.click(kNext);
            ExpectLicencePage(program, pages, "before disagreeing");
        }
        pages.click(kDisagree);
        const MessageBoxSeen box = program.answer("L'installation ne peux pas aboutir", "SETUP");
        EXPECT_EQ(box.owner, pages.dialog);
        DWORD code = 0;
        ASSERT_TRUE(program.waitExit(code));
        EXPECT_EQ(code, 4u);
    }
}

TEST(StartUp, MissingSetupDescriptionEndsWithMinusOne) {
    Installation installation;
    installation.writeDocuments();
    Program program(installation);
    program.answerStartupWarnings();
    program.answer("Failure loading header", "Error");
    DWORD code = 0;
    ASSERT_TRUE(program.waitExit(code));
    EXPECT_EQ(code, 0xFFFFFFFFu);
}
