// The end-to-end driver: scratch folders, the child process, window lookup, message
// boxes and console reads. Reads the program only through what the system offers to
// any other process (window messages, process memory at the console's own addresses).
#include "driver.h"

#include <atomic>
#include <cstring>
#include <fstream>
#include <sstream>

namespace app_test {

const char kWarningText[] = "Warning: flashing lights may affect some viewers.";
const char kLicenceText[] = "Licence agreement: use at your own risk.";

namespace {

constexpr int kMessageBoxTextId = 0xFFFF;

using window_probe::ClassName;

void RemoveTree(const std::string& dir) {  // dir ends with a backslash
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            const std::string path = dir + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path + "\\");
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(dir.c_str());
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool IsDigits(const std::string& s, size_t from, size_t count) {
    for (size_t i = from; i < from + count; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
    }
    return true;
}

// "(dd/mm/yyyy hh:mm:ss) " with digits in place.
bool HasLogPrefix(const std::string& record) {
    if (record.size() < 22) return false;
    static const char shape[] = "(dd/dd/dddd dd:dd:dd) ";
    for (size_t i = 0; i < 22; ++i) {
        if (shape[i] == 'd' ? !IsDigits(record, i, 1) : record[i] != shape[i]) return false;
    }
    return true;
}

// The current environment with TMP and TEMP replaced, as CreateProcessA wants it.
std::string ChildEnvironment(const std::string& tempDir) {
    std::string block;
    char* strings = GetEnvironmentStringsA();
    for (const char* entry = strings; *entry != '\0'; entry += strlen(entry) + 1) {
        if (_strnicmp(entry, "TMP=", 4) == 0 || _strnicmp(entry, "TEMP=", 5) == 0) continue;
        block.append(entry).push_back('\0');
    }
    FreeEnvironmentStringsA(strings);
    const std::string temp = tempDir.substr(0, tempDir.size() - 1);  // without the backslash
    block.append("TMP=" + temp).push_back('\0');
    block.append("TEMP=" + temp).push_back('\0');
    block.push_back('\0');
    return block;
}

}  // namespace

std::string BinDirectory() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string s(path, length);
    return s.substr(0, s.rfind('\\') + 1);
}

// --- Installation ---

Installation::Installation() {
    static std::atomic<unsigned> counter{0};
    char temp[MAX_PATH];
    const DWORD length = GetTempPathA(sizeof temp, temp);
    std::string base(temp, length);
    if (!base.empty() && base.back() != '\\') base += '\\';
    for (;;) {
        dir_ = base + "kvapp-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++) + "\\";
        if (CreateDirectoryA(dir_.c_str(), nullptr)) break;
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            ADD_FAILURE() << "cannot create " << dir_;
            break;
        }
    }
    CreateDirectoryA(tempDir().c_str(), nullptr);
    copyFromBin("kelvane.exe", "kelvane.exe");
}

Installation::~Installation() { RemoveTree(dir_); }

void Installation::write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(dir_ + name, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    EXPECT_TRUE(out.good()) << "cannot write " << dir_ << name;
}

void Installation::copyFromBin(const std::string& binName, const std::string& name) const {
    EXPECT_TRUE(CopyFileA((BinDirectory() + binName).c_str(), (dir_ + name).c_str(), FALSE))
        << "cannot copy " << binName << " from " << BinDirectory();
}

bool Installation::exists(const std::string& name) const {
    return GetFileAttributesA((dir_ + name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

void Installation::writeSetup(const std::string& programName, const std::string& moduleFileName) const {
    write("setup.ini", "[kelvane]\r\n" + programName + "\r\nline three\r\nline four\r\n" + moduleFileName + "\r\n");
}

void Installation::writeDocuments() const {
    write("epileptic.rtf", std::string("{\\rtf1\\ansi ") + kWarningText + "\\par}");
    write("setup.rtf", std::string("{\\rtf1\\ansi ") + kLicenceText + "\\par}");
}

void Installation::addModule(const std::string& binName, const std::string& name, const std::string& settings) const {
    copyFromBin(binName, name);
    write("kvtest.ini", settings);
}

void Installation::shipSample(const std::string& target, const std::string& extraConfig) const {
    static const char* const kShipped[] = {"kelvane-sample.exe", "sample_install_module.dll", "readme.txt",
                                           "licence.txt", "greeting.txt", "colours.dat", "changes.txt"};
    for (const char* name : kShipped) copyFromBin(std::string("kelvane-sample\\") + name, name);
    write("install.cfg", "TARGET=" + target + "\r\nREQUIRED_MB=1\r\nFILE1=readme.txt\r\nFILE2=licence.txt\r\n" +
                             "FILE3=greeting.txt\r\nFILE4=colours.dat\r\nFILE5=changes.txt\r\n" + extraConfig);
}

std::string Installation::read(const std::string& name) const { return ReadFileBytes(dir_ + name); }

std::vector<std::string> Installation::logRecords() const {
    const std::string log = ReadFileBytes(logPath());
    std::vector<std::string> records;
    for (size_t start = 0, end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string record = log.substr(start, end - start);
        records.push_back(HasLogPrefix(record) ? record.substr(22) : "?");
    }
    return records;
}

// --- ConsoleView ---

std::string ConsoleView::row(int r) const {
    std::string s;
    for (int c = 0; c < columns; ++c) s.push_back(static_cast<char>(cells[r * columns + c] & 0xFF));
    const size_t end = s.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

std::string ConsoleView::text() const {
    std::string s;
    for (int r = 0; r < rows; ++r) s += row(r) + (r + 1 < rows ? "\n" : "");
    return s;
}

bool ConsoleView::find(const std::string& needle, int& r, int& c) const {
    for (r = 0; r < rows; ++r) {
        const size_t at = row(r).find(needle);
        if (at != std::string::npos) {
            c = static_cast<int>(at);
            return true;
        }
    }
    return false;
}

// --- Program ---

Program::Program(const Installation& installation, const Launch& launch) {
    const std::string exe = installation.dir() + launch.program;
    std::string commandLine = "\"" + exe + "\"" + (launch.arguments.empty() ? "" : " " + launch.arguments);
    std::string environment = ChildEnvironment(installation.tempDir());
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    HANDLE streams[2] = {nullptr, nullptr};
    if (launch.captureStreams) {
        streamsBase_ = installation.dir() + "streams";
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        for (int i = 0; i < 2; ++i) {
            streams[i] = CreateFileA((streamsBase_ + (i == 0 ? ".out" : ".err")).c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS, 0, nullptr);
        }
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = nullptr;
        startup.hStdOutput = streams[0];
        startup.hStdError = streams[1];
    }
    const BOOL started = CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, launch.captureStreams, 0,
                                       &environment[0], installation.dir().c_str(), &startup, &info_);
    const DWORD error = GetLastError();
    for (HANDLE stream : streams) {
        if (stream != nullptr && stream != INVALID_HANDLE_VALUE) CloseHandle(stream);  // the child has its own
    }
    if (!started) {
        ADD_FAILURE() << "cannot start " << exe << " (error " << error << ")";
        return;
    }
    process_ = info_.hProcess;
}

std::string Program::standardOutput() const { return streamsBase_.empty() ? "" : ReadFileBytes(streamsBase_ + ".out"); }

std::string Program::standardError() const { return streamsBase_.empty() ? "" : ReadFileBytes(streamsBase_ + ".err"); }

::testing::AssertionResult Program::waitExitWatchingWindows(DWORD& code, std::vector<std::string>& seen,
                                                            DWORD timeout) {
    const DWORD start = GetTickCount();
    const auto note = [&](const std::string& what) {
        for (const std::string& s : seen) {
            if (s == what) return;
        }
        seen.push_back(what);
    };
    while (process_ != nullptr && running() && GetTickCount() - start < timeout) {
        const std::vector<HWND> windows = topWindows();
        for (HWND w : windows) {
            const std::string name = ClassName(w);
            std::string what = name + " \"" + WindowText(w) + "\"";
            if (GetDlgItem(w, 1000) != nullptr && name == "#32770") {
                what = "main dialog";
            } else if (GetDlgItem(w, 1005) != nullptr && name == "#32770") {
                what = "pages dialog";
            } else if (window_probe::FindMessageBox({w}) == w) {
                what = "message box: " + WindowText(GetDlgItem(w, kMessageBoxTextId));
            }
            // A window destroyed while it was read (the process ending) reads as another.
            if (IsWindow(w)) note(what);
        }
        Sleep(5);
    }
    return waitExit(code, 0);
}

Program::~Program() {
    if (process_ == nullptr) return;
    if (running()) {
        TerminateProcess(process_, 0xDEAD);
        WaitForSingleObject(process_, kTimeout);
    }
    CloseHandle(info_.hThread);
    CloseHandle(process_);
}

::testing::AssertionResult Program::waitExit(DWORD& code, DWORD timeout) {
    code = 0xDEADBEEF;
    if (process_ == nullptr) return ::testing::AssertionFailure() << "the program was not started";
    if (WaitForSingleObject(process_, timeout) != WAIT_OBJECT_0) {
        std::string windows;
        for (HWND w : topWindows()) windows += " [" + ClassName(w) + " \"" + WindowText(w) + "\"]";
        return ::testing::AssertionFailure() << "the program did not end within " << timeout
                                             << " ms; its windows:" << windows;
    }
    GetExitCodeProcess(process_, &code);
    return ::testing::AssertionSuccess();
}

std::vector<HWND> Program::topWindows() const { return window_probe::VisibleTopWindows(info_.dwProcessId); }

DWORD Program::threadIdOf(HWND window) const { return GetWindowThreadProcessId(window, nullptr); }

bool Program::waitUntil(const std::function<bool()>& condition, const std::string& what, DWORD timeout) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (!running()) {
            if (condition()) return true;
            ADD_FAILURE() << "the program ended while waiting for " << what;
            return false;
        }
        if (GetTickCount() - start > timeout) {
            ADD_FAILURE() << "timed out after " << timeout << " ms waiting for " << what;
            return false;
        }
        Sleep(20);
    }
    return true;
}

HWND Program::waitDialogHolding(int controlId, const char* what) {
    HWND dialog = nullptr;
    waitUntil(
        [&] {
            for (HWND w : topWindows()) {
                if (ClassName(w) == "#32770" && GetDlgItem(w, controlId) != nullptr) {
                    dialog = w;
                    return true;
                }
            }
            return false;
        },
        what);
    return dialog;
}

HWND Program::waitPagesDialog() { return waitDialogHolding(1005, "the pages dialog"); }

HWND Program::waitMainDialog() { return waitDialogHolding(1000, "the main dialog"); }

MessageBoxSeen Program::waitMessageBox() {
    MessageBoxSeen seen;
    waitUntil(
        [&] {
            seen.window = window_probe::FindMessageBox(topWindows());
            return seen.window != nullptr;
        },
        "a message box");
    if (seen.window != nullptr) {
        seen.owner = GetWindow(seen.window, GW_OWNER);
        seen.caption = WindowText(seen.window);
        seen.text = WindowText(GetDlgItem(seen.window, kMessageBoxTextId));
    }
    return seen;
}

MessageBoxSeen Program::answer(const std::string& text, const std::string& caption, int button) {
    MessageBoxSeen seen = waitMessageBox();
    if (seen.window == nullptr) {
        ADD_FAILURE() << "no message box \"" << text << "\" came";
        return seen;
    }
    EXPECT_EQ(seen.text, text);
    EXPECT_EQ(seen.caption, caption);
    PostMessageA(seen.window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(seen.window, button)));
    const HWND box = seen.window;
    waitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); }, "the box \"" + text + "\" to close");
    return seen;
}

void Program::answerStartupWarnings() {
    // Without resources the documents and the setup description come from files, each
    // after a warning with the system's default caption.
    answer("rtf taked", "Error");
    answer("rtf epilec taked", "Error");
    answer("Ini taked", "Error");
}

ConsoleView Program::readConsole(HWND console) {
    return ConsoleView(window_probe::ReadConsoleCells(process_, console));
}

ConsoleView Program::waitConsole(HWND console, const std::function<bool(const ConsoleView&)>& condition,
                                 const std::string& what) {
    ConsoleView view;
    const bool ok = waitUntil(
        [&] {
            view = readConsole(console);
            return view.rows > 0 && condition(view);
        },
        what);
    if (!ok) ADD_FAILURE() << "the console shows:\n" << view.text();
    return view;
}

HWND AcceptLicence(Program& program, bool startupWarnings) {
    if (startupWarnings) program.answerStartupWarnings();
    HWND pages = program.waitPagesDialog();
    if (pages == nullptr) return nullptr;
    HWND check = GetDlgItem(pages, 1010);
    Click(GetDlgItem(pages, 1));
    program.waitUntil([&] { return IsWindowVisible(check) != FALSE; }, "the licence page");
    Click(check);
    program.waitUntil([&] { return SendMessageA(check, BM_GETCHECK, 0, 0) == BST_CHECKED; }, "the ticked box");
    Click(GetDlgItem(pages, 1));
    return program.waitMainDialog();
}

// --- input ---

void Click(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }

void PressKey(HWND dialog, WPARAM key) {
    GUITHREADINFO gui = {};
    gui.cbSize = sizeof gui;
    HWND target = dialog;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &gui) && gui.hwndFocus != nullptr) {
        target = gui.hwndFocus;
    }
    PostMessageA(target, WM_KEYDOWN, key, 1);
    PostMessageA(target, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
}

void PressAltF4(HWND dialog) {
    PostMessageA(dialog, WM_SYSKEYDOWN, VK_F4, static_cast<LPARAM>(0x20000001u));
    PostMessageA(dialog, WM_SYSKEYUP, VK_F4, static_cast<LPARAM>(0xE0000001u));
}

void CloseBox(HWND dialog) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }

void TypeKey(HWND dialog, WORD key, bool shift) {
    const DWORD start = GetTickCount();
    while (GetForegroundWindow() != dialog && IsWindow(dialog) && GetTickCount() - start < kTimeout) {
        SetForegroundWindow(dialog);
        Sleep(20);
    }
    EXPECT_EQ(GetForegroundWindow(), dialog) << "the dialog in the foreground for key " << key;
    const auto event = [](WORD vk, DWORD up) { keybd_event(static_cast<BYTE>(vk), static_cast<BYTE>(MapVirtualKeyA(vk, MAPVK_VK_TO_VSC)), up, 0); };
    if (shift) event(VK_SHIFT, 0);
    event(key, 0);
    event(key, KEYEVENTF_KEYUP);
    if (shift) event(VK_SHIFT, KEYEVENTF_KEYUP);
}

}  // namespace app_test
