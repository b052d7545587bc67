// kelvane.exe's main dialog and installation, driven from outside: the welcome text,
// the console and the log, load failures, the running guard, both entry conventions,
// the module's own owner window, the user's log viewer, a module's dependency and
// over-long names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver.h"
#include "sdk/quorvend_console.h"

using namespace app_test;

namespace {

constexpr int kExitButton = 1, kConsole = 1000, kInstall = 1001;
constexpr uint8_t kRed = 0x04, kNormal = 0x07;
const char kWelcome[] = "Welcome in installation program\nClick Start button for starting install ...";

// What the system itself says for code, as the program must quote it.
std::string SystemReason(DWORD code) {
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string reason = text != nullptr ? text : "";
    if (text != nullptr) LocalFree(text);
    reason = reason.substr(0, reason.find('\r'));
    return "Error Windows n\xB0" + std::to_string(code) + "\n" + reason;
}

LRESULT ConsoleAttribute(HWND console) {
    DWORD_PTR attribute = 0;
    SendMessageTimeoutA(console, CONM_GETATTR, 0, 0, SMTO_ABORTIFHUNG, 5000, &attribute);
    return static_cast<LRESULT>(attribute);
}

// The user's own classes (writable unelevated) send .log files to a command that leaves
// viewer-elevated.txt in folder when it runs at high integrity, then viewer-started.txt.
// What was there before comes back at the end.
class UserLogAssociation {
public:
    explicit UserLogAssociation(const std::string& folder) {
        LONG size = sizeof previous_;
        hadOne_ = RegQueryValueA(HKEY_CURRENT_USER, kExtension, previous_, &size) == ERROR_SUCCESS;
        char system[MAX_PATH] = "";
        GetSystemDirectoryA(system, MAX_PATH);
        const std::string command = "\"" + std::string(system) + "\\cmd.exe\" /d /s /c \"(whoami /groups | find " +
                                    "\"S-1-16-12288\" >nul && type nul > \"" + folder + "viewer-elevated.txt\") & " +
                                    "type nul > \"" + folder + "viewer-started.txt\" & rem \"%1\"\"";
        RegSetValueA(HKEY_CURRENT_USER, kExtension, REG_SZ, "kvtest.logfile", 0);
        RegSetValueA(HKEY_CURRENT_USER, "Software\\Classes\\kvtest.logfile\\shell\\open\\command", REG_SZ,
                     command.c_str(), 0);
    }
    ~UserLogAssociation() {
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Classes\\kvtest.logfile");
        if (hadOne_) RegSetValueA(HKEY_CURRENT_USER, kExtension, REG_SZ, previous_, 0);
        if (!hadOne_) RegDeleteTreeA(HKEY_CURRENT_USER, kExtension);
    }

private:
    static constexpr const char* kExtension = "Software\\Classes\\.log";
    char previous_[260] = "";
    bool hadOne_ = false;
};

std::vector<std::string> Welcome() { return {"Running setup installation", kWelcome}; }

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A load-type failure as the user sees it: red two-line text on the console (the OEM
// degree sign is 0xF8), colour 7 afterwards, the error box owned by the dialog. The
// text wraps wherever the scratch folder's length puts it, so it is found in the cells
// read row after row: the first line runs on across rows, the second starts the row
// after the one where the first ended (one more when the first filled its row exactly,
// which the same formula gives). occurrence counts earlier reports of the same text.
void ExpectFailureReport(Program& program, HWND dialog, const std::string& message, int occurrence) {
    const HWND console = GetDlgItem(dialog, kConsole);
    const MessageBoxSeen box = program.answer(message, "kelvane");
    EXPECT_EQ(box.owner, dialog);
    const size_t split = message.find('\n');
    ASSERT_NE(split, std::string::npos);
    std::string firstLine = message.substr(0, split);
    for (char& ch : firstLine) {
        if (ch == '\xB0') ch = '\xF8';
    }
    const std::string secondLine = message.substr(split + 1);

    const ConsoleView view = program.readConsole(console);
    ASSERT_GT(view.columns, 0);
    std::string cells;
    for (uint16_t cell : view.cells) cells += static_cast<char>(cell & 0xFF);
    size_t first = cells.find(firstLine);
    for (int i = 0; i < occurrence && first != std::string::npos; ++i) first = cells.find(firstLine, first + 1);
    ASSERT_NE(first, std::string::npos) << view.text();
    const size_t columns = static_cast<size_t>(view.columns);
    const size_t second = ((first + firstLine.size()) / columns + 1) * columns;
    ASSERT_EQ(cells.substr(second, secondLine.size()), secondLine) << view.text();
    const auto attributeAt = [&](size_t index) { return static_cast<uint8_t>(view.cells[index] >> 8); };
    for (size_t i = 0; i < firstLine.size(); ++i) EXPECT_EQ(attributeAt(first + i), kRed) << "cell " << first + i;
    for (size_t i = 0; i < secondLine.size(); ++i) EXPECT_EQ(attributeAt(second + i), kRed) << "cell " << second + i;
    EXPECT_EQ(ConsoleAttribute(console), kNormal);
}

}  // namespace

TEST(MainDialog, WelcomeTextFocusAndEscapeBeforeInstalling) {
    Installation installation;
    installation.writeSetup("My Program", "kvtest.dll");
    installation.writeDocuments();
    Program program(installation);
    const HWND dialog = AcceptLicence(program);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(WindowText(dialog), "Local installation scenario My Program Pelbrix");

    const HWND console = GetDlgItem(dialog, kConsole);
    const ConsoleView view = program.waitConsole(
        console, [](const ConsoleView& v) { return v.row(1) == "Click Start button for starting install ..."; },
        "the welcome text");
    EXPECT_EQ(view.row(0), "Welcome in installation program");
    EXPECT_EQ(view.attribute(0, 0), kNormal);
    EXPECT_EQ(installation.logRecords(), Welcome());

    GUITHREADINFO gui = {};
    gui.cbSize = sizeof gui;
    ASSERT_TRUE(GetGUIThreadInfo(program.threadIdOf(dialog), &gui));
    EXPECT_EQ(gui.hwndFocus, GetDlgItem(dialog, kExitButton)) << "\"Exit ...\" has the focus";
    // The icons are checked from inside the program by a test module: Wine answers
    // WM_GETICON and WM_QUERYDRAGICON sent from another process with 0.

    PressKey(dialog, VK_ESCAPE);
    DWORD code = 0;
    ASSERT_TRUE(program.waitExit(code));
    EXPECT_EQ(code, 0u);
}

TEST(MainDialog, MissingModuleIsError126InRedAndTheDialogStaysIdle) {
    Installation installation;
    installation.writeSetup("My Program", "missing.dll");
    installation.writeDocuments();
    Program program(installation);
    const HWND dialog = AcceptLicence(program);
    ASSERT_NE(dialog, nullptr);

    const std::string message =
        "Can't load file " + installation.dir() + "\\missing.dll with error 126 (" + SystemReason(126) + ")";
    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt == 0 ? "first press" : "second press");
        Click(GetDlgItem(dialog, kInstall));
        ExpectFailureReport(program, dialog, message, attempt);
    }
    EXPECT_EQ(installation.logRecords(), Concat(Welcome(), {message, message}));

    Click(GetDlgItem(dialog, kExitButton));
    DWORD code = 0;
    ASSERT_TRUE(program.waitExit(code));
    EXPECT_EQ(code, 0u);

    installation.writeSetup("My Program", "..\\x.dll");  // leads out of the folder: refused before any load
    Program outside(installation);
    const HWND second = AcceptLicence(outside);
    ASSERT_NE(second, nullptr);
    Click(GetDlgItem(second, kInstall));
    ExpectFailureReport(outside, second, "Can't load file " + installation.dir() + "\\..\\x.dll with error 123 (" +
                                             SystemReason(123) + ")", 0);
    Click(GetDlgItem(second, kExitButton));
    ASSERT_TRUE(outside.waitExit(code));
}

TEST(MainDialog, MissingEntryIsReportedAndTheCloseBoxStillEnds) {
    Installation installation;
    installation.writeSetup("My Program", "noexport.dll");
    installation.writeDocuments();
    installation.copyFromBin("kvtest_noexport.dll", "noexport.dll");
    Program program(installation);
    const HWND dialog = AcceptLicence(program);
    ASSERT_NE(dialog, nullptr);

    const std::string message = "Can't find quorvend_install2 in file " + installation.dir() +
                                "\\noexport.dll with error 127 (" + SystemReason(127) + ")";
    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt == 0 ? "first press" : "second press");
        Click(GetDlgItem(dialog, kInstall));
        ExpectFailureReport(program, dialog, message, attempt);
    }

    CloseBox(dialog);
    DWORD code = 0;
    ASSERT_TRUE(program.waitExit(code));
    EXPECT_EQ(code, 0u);
}

TEST(Installation, CdeclModulePrintsThroughTheHostAndNothingEndsTheDialogWhileItRuns) {
    Installation installation;
    installation.writeSetup("My Program", "module.dll");
    installation.writeDocuments();
    const std::string eventName = "kvtest-release-" + std::to_string(GetCurrentProcessId()) + "-" +
                                  std::to_string(GetTickCount());
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
    ASSERT_NE(release, nullptr);
    installation.addModule("kvtest_cdecl.dll", "module.dll", "WAIT=" + eventName + "\r\n");
    Program program(installation);
    const HWND dialog = AcceptLicence(program);
    ASSERT_NE(dialog, nullptr);
    const HWND console = GetDlgItem(dialog, kConsole);

    Click(GetDlgItem(dialog, kInstall));
    program.waitConsole(console, [](const ConsoleView& v) { return v.row(5) == "waiting"; }, "the module waiting");
    // The row shows before the line feed after it arrives; the module's mark follows both.
    const DWORD waitStart = GetTickCount();
    while (!installation.exists("waiting.txt") && GetTickCount() - waitStart < kTimeout) Sleep(20);
    ASSERT_TRUE(installation.exists("waiting.txt")) << "the module never finished its waiting line";

    // Every way out, and a second "Install ...", while the worker runs. The console's
    // own message, posted last to the same thread, shows when all have been handled.
    Click(GetDlgItem(dialog, kExitButton));
    PressKey(dialog, VK_ESCAPE);
    PressKey(dialog, VK_RETURN);
    CloseBox(dialog);
    PressAltF4(dialog);
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    Click(GetDlgItem(dialog, kInstall));
    PostMessageA(console, CONM_PUTCHAR, 0, '#');
    program.waitConsole(console, [](const ConsoleView& v) { return v.row(6) == "#"; }, "the posted marker");
    EXPECT_TRUE(program.running());
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(program.topWindows().size(), 1u) << "no box may have opened";

    SetEvent(release);
    const MessageBoxSeen finished = program.answer("Installation finished.", "kelvane");
    EXPECT_EQ(finished.owner, dialog);
    const ConsoleView view = program.readConsole(console);
    EXPECT_EQ(view.row(1), "Click Start button for starting install ...Hello world");
    EXPECT_EQ(view.row(2), "");
    EXPECT_EQ(view.row(3), "red");
    EXPECT_EQ(view.attribute(3, 0), 0x0C) << "the colour's low 8 bits";
    EXPECT_EQ(view.row(4), "My Program");
    EXPECT_EQ(view.attribute(4, 0), kNormal);
    EXPECT_EQ(view.row(6), "#lastInstallation finished.");
    EXPECT_EQ(view.row(7), "");

    const MessageBoxSeen question = program.answer("View Log install", "Log", IDNO);
    EXPECT_EQ(question.owner, dialog);
    DWORD code = 0;
    ASSERT_TRUE(program.waitExit(code));
    EXPECT_EQ(code, 512u);
    EXPECT_FALSE(installation.exists("second-entry.txt")) << "a second worker entered the module";
    EXPECT_EQ(installation.logRecords(),
              Concat(Welcome(), {"Hello", " ", "world", "\n", "\n", "red", "\n", "My Program", "\n", "waiting", "\n",
                                 "last", "Installation finished."}));
    CloseHandle(release);
}

TEST(Installation, StdcallModuleFailingWith256SeesTheIconsOwnsTheLogQuestionAndTheUsersViewerRunsOnlyAsTheUser) {
    Installation installation;
    const UserLogAssociation association(installation.dir());
    installation.writeSetup("My Program", "module.dll");
    installation.writeDocuments();
    installation.addModule("kvtest_stdcall.dll", "module.dll",
                           "RESULT=256\r\nOWNER=1\r\nPROBEICONS=1\r\nLOADHELPER=1\r\n");
    installation.copyFromBin("kvtest_dependency.dll", "kvtest_dependency_copy.dll");
    Program program(installation);
    const HWND dialog = AcceptLicence(program);
    ASSERT_NE(dialog, nullptr);
    const HWND console = GetDlgItem(dialog, kConsole);

    Click(GetDlgItem(dialog, kInstall));
    const MessageBoxSeen failure = program.answer("Installation failure.", "kelvane");
    EXPECT_EQ(failure.owner, dialog) << "the result box belongs to the dialog, whatever the module stored";
    const ConsoleView view = program.readConsole(console);
    int r = 0, c = 0;
    ASSERT_TRUE(view.find("lastInstallation failure.", r, c)) << view.text();
    EXPECT_EQ(view.attribute(r, c), kNormal);
    EXPECT_EQ(view.attribute(r, c + 4), kRed);
    EXPECT_EQ(ConsoleAttribute(console), kNormal);

    const MessageBoxSeen question = program.waitMessageBox();
    EXPECT_EQ(question.text, "View Log install");
    const HWND moduleWindow = FindWindowA("Static", "kvtest owner window");
    EXPECT_NE(moduleWindow, nullptr);
    EXPECT_EQ(question.owner, moduleWindow);
    PostMessageA(question.window, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);

    DWORD code = 0;
    ASSERT_TRUE(program.waitExit(code));
    EXPECT_EQ(code, 512u) << "the viewer is started, not waited for";
    // The installer runs elevated: the viewer the user's classes name must be started by
    // the desktop's shell, as the user; without a shell by nobody, and the log says why.
    std::vector<std::string> records = installation.logRecords();
    const std::string noShell = "The log is not opened as the user through the desktop shell (";
    const bool shellMissing = !records.empty() && records.back().rfind(noShell, 0) == 0;
    if (shellMissing) records.pop_back();
    // Wine's shell, where one answers, reads no user classes: there its own viewer may open.
    const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    const DWORD start = GetTickCount();  // without a shell: time for a wrongly made launch to show
    const DWORD wait = shellMissing || wine ? 1000 : kTimeout;
    while (!installation.exists("viewer-started.txt") && GetTickCount() - start < wait) {
        Sleep(50);
    }
    if (shellMissing || !wine) {
        EXPECT_NE(installation.exists("viewer-started.txt"), shellMissing) << shellMissing;
    }
    EXPECT_FALSE(installation.exists("viewer-elevated.txt")) << "the user's viewer ran elevated";
    EXPECT_EQ(records,
              Concat(Welcome(), {"Hello", " ", "world", "\n", "\n", "red", "\n", "My Program", "\n", "icons ok", "\n",
                                 "bare: null", "\n", "full path: loaded", "\n", "last", "Installation failure."}));
}

TEST(Installation, ModuleDependencyBesideItLoads) {
    Installation installation;
    installation.writeSetup("My Program", "dependent.dll");
    installation.writeDocuments();
    installation.copyFromBin("kvtest_dependent.dll", "dependent.dll");
    installation.copyFromBin("kvtest_dependency.dll", "kvtest_dependency.dll");
    Program program(installation);
    const HWND dialog = AcceptLicence(program);
    ASSERT_NE(dialog, nullptr);

    Click(GetDlgItem(dialog, kInstall));
    program.answer("Installation finished.", "kelvane");
    const ConsoleView view = program.readConsole(GetDlgItem(dialog, kConsole));
    EXPECT_EQ(view.row(1), "Click Start button for starting install ...dependency says hello");
    program.answer("View Log install", "Log", IDNO);
    DWORD code = 0;
    ASSERT_TRUE(program.waitExit(code));
    EXPECT_EQ(code, 512u);
}

TEST(Installation, OverLongNamesAreCutNeverOverrun) {
    Installation installation;
    const std::string name = "Long" + std::string(251, 'n');
    const std::string module = std::string(251, 'm') + ".dll";
    installation.writeSetup(name, module);
    installation.writeDocuments();
    Program program(installation);
    program.answerStartupWarnings();
    const HWND pages = program.waitPagesDialog();
    ASSERT_NE(pages, nullptr);
    EXPECT_EQ(WindowText(pages), ("Installation of program " + name).substr(0, 255));
    Click(GetDlgItem(pages, 1));
    HWND check = GetDlgItem(pages, 1010);
    program.waitUntil([&] { return IsWindowVisible(check) != FALSE; }, "the licence page");
    Click(check);
    program.waitUntil([&] { return SendMessageA(check, BM_GETCHECK, 0, 0) == BST_CHECKED; }, "the ticked box");
    Click(GetDlgItem(pages, 1));
    const HWND dialog = program.waitMainDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(WindowText(dialog), "Local installation scenario " + name + " Pelbrix");

    // The module path cannot hold folder and name: refused as too long, not cut to
    // another file's name.
    Click(GetDlgItem(dialog, kInstall));
    const MessageBoxSeen box = program.waitMessageBox();
    EXPECT_EQ(box.text.rfind("Can't load file " + installation.dir() + "\\mmm", 0), 0u) << box.text;
    EXPECT_NE(box.text.find(" with error 206 (" + SystemReason(206) + ")"), std::string::npos) << box.text;
    EXPECT_LE(box.text.size(), 511u);
    PostMessageA(box.window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    program.waitUntil([&] { return !IsWindowVisible(box.window); }, "the box to close");

    PressAltF4(dialog);
    DWORD code = 0;
    ASSERT_TRUE(program.waitExit(code));
    EXPECT_EQ(code, 0u);
}
