// End-to-end driver for kelvane.exe: a scratch installation folder, the running program
// as a child process, its windows, message boxes and console cells seen from outside.
// Test-only. Every wait polls with a deadline and fails with a message saying what it
// waited for; nothing here sleeps for a fixed time to let the program catch up.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tools/demo_driver/window_probe.h"

namespace app_test {

constexpr DWORD kTimeout = 30000;  // generous: Wine on a loaded machine starts slowly

// Folder of the test program, where the build puts kelvane.exe and the test modules.
std::string BinDirectory();  // ends with a backslash

// A fresh folder holding a copy of kelvane.exe, and a temp\ folder that the program
// gets as TMP and TEMP, so its log lands there. Removed with its content on destruction.
class Installation {
public:
    Installation();
    ~Installation();
    Installation(const Installation&) = delete;
    Installation& operator=(const Installation&) = delete;

    const std::string& dir() const { return dir_; }  // ends with a backslash
    std::string tempDir() const { return dir_ + "temp\\"; }
    std::string logPath() const { return tempDir() + "setup-internet-gui.log"; }

    void write(const std::string& name, const std::string& bytes) const;
    void copyFromBin(const std::string& binName, const std::string& name) const;
    bool exists(const std::string& name) const;
    // setup.ini with the program name on line 2 and the module on line 5, CR LF ends.
    void writeSetup(const std::string& programName, const std::string& moduleFileName) const;
    // setup.rtf and epileptic.rtf with the texts below.
    void writeDocuments() const;
    // An install module from the build, under its name in the folder, and kvtest.ini.
    void addModule(const std::string& binName, const std::string& name, const std::string& settings = "") const;
    // The sample single-file installer as it ships (kelvane-sample.exe, its module and
    // payload), its install.cfg aimed at target; extraConfig lines are appended to it.
    void shipSample(const std::string& target, const std::string& extraConfig = "") const;
    std::string read(const std::string& name) const;  // bytes of a file in the folder

    // Log records of the run, each without its CR LF and with its time stamp removed;
    // empty when there is no log. A record whose prefix is malformed comes back as "?".
    std::vector<std::string> logRecords() const;

private:
    std::string dir_;
};

extern const char kWarningText[];  // what the warning page shows
extern const char kLicenceText[];  // what the licence page shows

struct MessageBoxSeen {
    HWND window = nullptr;
    HWND owner = nullptr;
    std::string caption;
    std::string text;
};

// Console content of a main dialog, read through CONM_GETSIZE and CONM_GETCELLS.
struct ConsoleView : window_probe::ConsoleCells {
    ConsoleView() = default;
    explicit ConsoleView(window_probe::ConsoleCells read) : ConsoleCells(std::move(read)) {}
    std::string row(int r) const;  // characters of the row, trailing blanks removed
    std::string text() const;      // all rows, each trimmed, joined with '\n'
    uint8_t attribute(int r, int c) const { return static_cast<uint8_t>(cells[r * columns + c] >> 8); }
    // Row and column of the first occurrence of needle within a row; false when absent.
    bool find(const std::string& needle, int& r, int& c) const;
};

// How a Program is started: which program of the folder, with which arguments, and
// whether it gets files as standard output and error, as a deployment agent hands them.
struct Launch {
    std::string program = "kelvane.exe";
    std::string arguments;  // after the quoted program path
    bool captureStreams = false;
};

// A program started in an Installation, its current directory the same folder.
// Terminated on destruction if it is still running.
class Program {
public:
    explicit Program(const Installation& installation, const Launch& launch = Launch());
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool started() const { return process_ != nullptr; }
    // Waits for the end of the process; its full 32-bit exit code.
    ::testing::AssertionResult waitExit(DWORD& code, DWORD timeout = kTimeout);
    bool running() const { return WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }
    // Waits for the end as waitExit does, looking at the process's top-level windows every
    // few milliseconds meanwhile; seen gets each window that was ever visible, once:
    // "main dialog", "pages dialog", "message box: <text>" or "<class> \"<text>\"".
    ::testing::AssertionResult waitExitWatchingWindows(DWORD& code, std::vector<std::string>& seen,
                                                       DWORD timeout = kTimeout);

    // What it wrote so far to the files handed as its standard streams (captureStreams).
    std::string standardOutput() const;
    std::string standardError() const;

    // The pages dialog (it holds control 1005) or the main dialog (control 1000).
    HWND waitPagesDialog();
    HWND waitMainDialog();
    // The next visible message box of the process; null (with a test failure) on timeout.
    MessageBoxSeen waitMessageBox();
    // Waits for a box with this text, checks its caption, presses button (IDOK...), and
    // waits until it is gone. Returns what was seen (window null when none came).
    MessageBoxSeen answer(const std::string& text, const std::string& caption, int button = IDOK);
    // The three warnings that a program without resources shows on every start.
    void answerStartupWarnings();

    ConsoleView readConsole(HWND console);
    // Polls the console until condition holds; fails with what, and the screen, if not.
    ConsoleView waitConsole(HWND console, const std::function<bool(const ConsoleView&)>& condition,
                            const std::string& what);

    // Polls condition; on timeout, or as soon as the program has ended without it
    // holding, records a failure naming what and returns false.
    bool waitUntil(const std::function<bool()>& condition, const std::string& what, DWORD timeout = kTimeout);

    std::vector<HWND> topWindows() const;  // visible top-level windows of the process
    HANDLE process() const { return process_; }
    DWORD threadIdOf(HWND window) const;

private:
    HWND waitDialogHolding(int controlId, const char* what);

    PROCESS_INFORMATION info_ = {};
    HANDLE process_ = nullptr;
    std::string streamsBase_;  // "<folder>\\streams" when captured
};

// Pages through the startup warnings (a program without resources shows them) and
// accepts the licence; the main dialog that follows (null, with a failure, when it does
// not come).
HWND AcceptLicence(Program& program, bool startupWarnings = true);

// Input as the user would give it, posted so the driver never blocks on a modal box the
// program opens in response.
void Click(HWND button);                       // BM_CLICK
void PressKey(HWND dialog, WPARAM key);        // to the focused control of dialog's thread
void PressAltF4(HWND dialog);
void CloseBox(HWND dialog);                    // WM_SYSCOMMAND SC_CLOSE
// Real keyboard input (SendInput) as a person types it, Shift held around the key when
// asked: it reaches the focus of the foreground window, so dialog is brought there first.
void TypeKey(HWND dialog, WORD key, bool shift = false);

// Texts through WM_GETTEXT, which the system carries across processes.
using window_probe::WindowText;

}  // namespace app_test
