// The installer walk: windows found by their control ids, buttons pressed with posted
// BM_CLICK (so a box the installer opens never blocks the walk), console text read from
// the installer's memory. Every wait has a deadline and says what it waited for.
#include "tools/demo_driver/installer_walk.h"

#include <cstdio>
#include <functional>

#include "tools/demo_driver/window_probe.h"

namespace demo {

namespace {

using window_probe::ClassName;
using window_probe::WindowText;

constexpr int kNext = 1, kInstall = 1001, kConsole = 1000, kDocument = 1005, kAccept = 1010;

// What an installer made without code prints when it asks for the install folder.
constexpr char kFolderQuestion[] = "Install into:";

class Walk {
public:
    Walk(const WalkOptions& options, WalkResult& result) : options_(options), result_(result) {}
    ~Walk() {
        if (process_.hProcess != nullptr) {
            if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process_.hProcess, 99);
            CloseHandle(process_.hProcess);
            CloseHandle(process_.hThread);
        }
    }
    Walk(const Walk&) = delete;
    Walk& operator=(const Walk&) = delete;

    bool Run();
    bool RunPassive();
    bool RunSnap();
    bool RunUninstall();

private:
    bool Start();
    bool Fail(const std::string& why) {
        if (result_.failure.empty()) result_.failure = why;
        return false;
    }
    // Polls condition until it holds; an unexpected box or the end of the process fails it.
    bool WaitFor(const std::function<bool()>& condition, const std::string& what, bool boxesExpected = false);
    std::vector<HWND> TopWindows() const;
    HWND DialogHolding(int controlId) const;
    HWND MessageBoxWindow() const;
    BoxSeen Describe(HWND box) const;
    std::string ConsoleText(HWND console) const;
    bool Checkpoint(const char* name, const std::vector<HWND>& windows);
    // textStart: the box's text must start with text, not equal it.
    bool AnswerBox(const std::string& text, int button, const char* checkpoint, HWND background,
                   bool textStart = false);
    void PlaceBelow(HWND box, HWND dialog);

    const WalkOptions& options_;
    WalkResult& result_;
    PROCESS_INFORMATION process_ = {};
};

bool Walk::Start() {
    std::string directory = options_.workingDirectory;
    if (directory.empty()) directory = options_.installer.substr(0, options_.installer.find_last_of("\\/") + 1);
    std::string commandLine = "\"" + options_.installer + "\"";
    if (options_.uninstall) commandLine += options_.passive ? " /uninstall /passive" : " /uninstall";
    else if (options_.passive) commandLine += " /passive /acceptlicence";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessA(options_.installer.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, &process_)) {
        process_ = PROCESS_INFORMATION();
        return Fail("cannot start " + options_.installer + " (error " + std::to_string(GetLastError()) + ")");
    }
    return true;
}

std::vector<HWND> Walk::TopWindows() const { return window_probe::VisibleTopWindows(process_.dwProcessId); }

HWND Walk::DialogHolding(int controlId) const {
    for (HWND window : TopWindows()) {
        if (GetDlgItem(window, controlId) != nullptr) return window;
    }
    return nullptr;
}

HWND Walk::MessageBoxWindow() const { return window_probe::FindMessageBox(TopWindows()); }

BoxSeen Walk::Describe(HWND box) const {
    BoxSeen seen;
    seen.caption = WindowText(box);
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassName(child) == "Static") {
            const std::string text = WindowText(child);
            if (!text.empty()) seen.text += seen.text.empty() ? text : "\n" + text;
        }
    }
    return seen;
}

bool Walk::WaitFor(const std::function<bool()>& condition, const std::string& what, bool boxesExpected) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (!boxesExpected) {
            if (HWND box = MessageBoxWindow()) {
                const BoxSeen seen = Describe(box);
                result_.boxes.push_back(seen);
                return Fail("unexpected message box while waiting for " + what + ": \"" + seen.text + "\"");
            }
        }
        if (WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0) {
            GetExitCodeProcess(process_.hProcess, &result_.exitCode);
            return Fail("the installer ended (exit code " + std::to_string(result_.exitCode) + ") while waiting for " +
                        what);
        }
        if (GetTickCount() - start > options_.stepTimeoutMs) return Fail("timed out waiting for " + what);
        Sleep(50);
    }
}

std::string Walk::ConsoleText(HWND console) const {
    const window_probe::ConsoleCells grid = window_probe::ReadConsoleCells(process_.hProcess, console);
    std::string text;
    for (int r = 0; r < grid.rows; ++r) {
        for (int c = 0; c < grid.columns; ++c) text += static_cast<char>(grid.cells[r * grid.columns + c] & 0xFF);
        text += '\n';
    }
    return text;
}

bool Walk::Checkpoint(const char* name, const std::vector<HWND>& windows) {
    result_.checkpoints.push_back(name);
    printf("checkpoint %s\n", name);
    fflush(stdout);
    if (options_.syncFolder.empty()) return true;
    // Paint now what may not have been painted yet (a box that has just opened), then
    // give the display time to show it.
    for (HWND window : windows) {
        if (window != nullptr) {
            RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        }
    }
    if (options_.settleMs > 0) Sleep(options_.settleMs);
    RECT all = {0, 0, 0, 0};
    for (HWND window : windows) {
        RECT rect;
        if (window == nullptr || !GetWindowRect(window, &rect)) continue;
        if (IsRectEmpty(&all)) all = rect;
        else UnionRect(&all, &all, &rect);
    }
    const std::string base = options_.syncFolder + "\\" + name;
    FILE* ready = fopen((base + ".ready.part").c_str(), "wb");
    if (ready == nullptr) return Fail("cannot write " + base + ".ready");
    fprintf(ready, "%ld %ld %ld %ld\n", all.left, all.top, all.right - all.left, all.bottom - all.top);
    fclose(ready);
    // Renamed into place, so that the watcher never reads half a line.
    MoveFileExA((base + ".ready.part").c_str(), (base + ".ready").c_str(), MOVEFILE_REPLACE_EXISTING);
    const std::string done = base + ".done";
    return WaitFor([&] { return GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES; },
                   "the screenshot of " + std::string(name), true);
}

// For the pictures only: the box centred just below the dialog, so that one picture
// holds both without the desktop between them (a box over the dialog is also drawn late).
void Walk::PlaceBelow(HWND box, HWND dialog) {
    RECT boxRect;
    RECT dialogRect;
    if (!GetWindowRect(box, &boxRect) || !GetWindowRect(dialog, &dialogRect)) return;
    const int x = (dialogRect.left + dialogRect.right - (boxRect.right - boxRect.left)) / 2;
    SetWindowPos(box, nullptr, x, dialogRect.bottom + 8, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool Walk::AnswerBox(const std::string& text, int button, const char* checkpoint, HWND background, bool textStart) {
    HWND box = nullptr;
    if (!WaitFor([&] { return (box = MessageBoxWindow()) != nullptr; }, "the box \"" + text + "\"", true)) return false;
    const BoxSeen seen = Describe(box);
    result_.boxes.push_back(seen);
    if (textStart ? seen.text.rfind(text, 0) != 0 : seen.text != text) {
        return Fail("expected the box \"" + text + "\", got \"" + seen.text + "\"");
    }
    if (!options_.syncFolder.empty() && background != nullptr) PlaceBelow(box, background);
    if (!Checkpoint(checkpoint, {background, box})) return false;
    HWND control = GetDlgItem(box, button);
    if (control != nullptr) PostMessageA(control, BM_CLICK, 0, 0);
    else PostMessageA(box, WM_COMMAND, static_cast<WPARAM>(button), 0);
    return WaitFor([&] { return !IsWindow(box) || !IsWindowVisible(box); }, "the box \"" + text + "\" to close",
                   true);
}

bool Walk::Run() {
    if (!Start()) return false;
    HWND pages = nullptr;
    if (!WaitFor([&] { return (pages = DialogHolding(kDocument)) != nullptr; }, "the pages dialog")) return false;
    HWND document = GetDlgItem(pages, kDocument);
    HWND accept = GetDlgItem(pages, kAccept);
    if (!WaitFor([&] { return !WindowText(document).empty(); }, "the warning document")) return false;
    result_.pagesCaption = WindowText(pages);
    result_.warningPage = WindowText(document);
    if (!Checkpoint("01-warning", {pages})) return false;

    PostMessageA(GetDlgItem(pages, kNext), BM_CLICK, 0, 0);
    if (!WaitFor([&] { return IsWindowVisible(accept) != FALSE && WindowText(document) != result_.warningPage; },
                 "the licence page")) {
        return false;
    }
    result_.licencePage = WindowText(document);
    if (!Checkpoint("02-licence", {pages})) return false;

    PostMessageA(accept, BM_CLICK, 0, 0);
    if (!WaitFor([&] { return SendMessageA(accept, BM_GETCHECK, 0, 0) == BST_CHECKED; }, "the ticked box")) {
        return false;
    }
    if (!Checkpoint("03-licence-accepted", {pages})) return false;

    PostMessageA(GetDlgItem(pages, kNext), BM_CLICK, 0, 0);
    HWND main = nullptr;
    if (!WaitFor([&] { return (main = DialogHolding(kConsole)) != nullptr; }, "the main dialog")) return false;
    result_.mainCaption = WindowText(main);
    if (!Checkpoint("04-main", {main})) return false;

    PostMessageA(GetDlgItem(main, kInstall), BM_CLICK, 0, 0);
    HWND console = GetDlgItem(main, kConsole);
    // A box this early means the installation is over already; the walk checks its text.
    // The folder question, when the installation asks it, is answered with Enter: the
    // folder it offers.
    bool asked = false;
    for (;;) {
        std::string text;
        if (!WaitFor([&] {
                text = ConsoleText(console);
                return MessageBoxWindow() != nullptr || text.find(options_.progressText) != std::string::npos ||
                       (!asked && text.find(kFolderQuestion) != std::string::npos);
            },
                     "\"" + options_.progressText + "\" on the console", true)) {
            return false;
        }
        if (asked || MessageBoxWindow() != nullptr || text.find(options_.progressText) != std::string::npos) break;
        asked = true;
        if (!Checkpoint("05-folder-question", {main})) return false;
        PostMessageA(console, WM_CHAR, '\r', 0);
    }
    if (MessageBoxWindow() == nullptr && !Checkpoint("05-installing", {main})) return false;

    if (!AnswerBox("Installation finished.", IDOK, "06-finished", main)) return false;
    if (!AnswerBox("View Log install", IDNO, "07-log-question", main)) return false;

    if (WaitForSingleObject(process_.hProcess, options_.stepTimeoutMs) != WAIT_OBJECT_0) {
        return Fail("the installer did not end after the log question");
    }
    GetExitCodeProcess(process_.hProcess, &result_.exitCode);
    result_.completed = true;
    return true;
}

// Nothing to press: the walk only watches, and any box fails it.
bool Walk::RunPassive() {
    if (!Start()) return false;
    HWND main = nullptr;
    if (!WaitFor([&] { return (main = DialogHolding(kConsole)) != nullptr; }, "the main dialog")) return false;
    result_.mainCaption = WindowText(main);
    HWND console = GetDlgItem(main, kConsole);
    if (!WaitFor([&] { return ConsoleText(console).find(options_.progressText) != std::string::npos; },
                 "\"" + options_.progressText + "\" on the console")) {
        return false;
    }
    if (!Checkpoint(options_.uninstall ? "09-uninstalling" : "08-passive", {main})) return false;
    if (WaitForSingleObject(process_.hProcess, options_.stepTimeoutMs) != WAIT_OBJECT_0) {
        return Fail("the passive installation did not end");
    }
    GetExitCodeProcess(process_.hProcess, &result_.exitCode);
    result_.completed = true;
    return true;
}

// The uninstaller as the installed-apps list starts it: the question, then the removal in
// the main dialog, its result and the log question.
bool Walk::RunUninstall() {
    if (!Start()) return false;
    if (!AnswerBox("Remove ", IDYES, "09-confirm-removal", nullptr, true)) return false;
    HWND main = nullptr;
    if (!WaitFor([&] { return (main = DialogHolding(kConsole)) != nullptr; }, "the main dialog", true)) return false;
    result_.mainCaption = WindowText(main);
    HWND console = GetDlgItem(main, kConsole);
    if (!WaitFor([&] {
            return MessageBoxWindow() != nullptr ||
                   ConsoleText(console).find(options_.progressText) != std::string::npos;
        },
                 "\"" + options_.progressText + "\" on the console", true)) {
        return false;
    }
    if (!AnswerBox("Uninstallation finished.", IDOK, "10-removed", main)) return false;
    if (!AnswerBox("View Log install", IDNO, "11-log-question", main)) return false;
    if (WaitForSingleObject(process_.hProcess, options_.stepTimeoutMs) != WAIT_OBJECT_0) {
        return Fail("the uninstaller did not end after the log question");
    }
    GetExitCodeProcess(process_.hProcess, &result_.exitCode);
    result_.completed = true;
    return true;
}

// Another program's window, found by its caption: one checkpoint, then it is asked to close.
bool Walk::RunSnap() {
    HWND window = nullptr;
    if (!WaitFor([&] { return (window = FindWindowA(nullptr, options_.snapCaption.c_str())) != nullptr; },
                 "the window \"" + options_.snapCaption + "\"", true)) {
        return false;
    }
    if (!Checkpoint(options_.snapName.c_str(), {window})) return false;
    PostMessageA(window, WM_CLOSE, 0, 0);
    result_.completed = true;
    return true;
}

}  // namespace

WalkResult WalkInstaller(const WalkOptions& options) {
    WalkResult result;
    Walk walk(options, result);
    if (!options.snapCaption.empty()) walk.RunSnap();
    else if (options.uninstall && !options.passive) walk.RunUninstall();
    else if (options.passive) walk.RunPassive();
    else walk.Run();
    return result;
}

}  // namespace demo
