// Tests of the installation log under Wine: creation, appending, record shape, the
// refusal of planted links (for the /log= copy too), failure boxes and records from
// several threads and writers.
#include "engine/win32/install_log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "engine/win32/run_mode.h"
#include "test_support.h"

namespace engine::win32 {
namespace {

using engine_test::BoxRecorder;
using engine_test::IsRecordOf;
using engine_test::ReadBytes;
using engine_test::ScratchDirectory;
using engine_test::TempDirectoryOverride;

const HWND kOwner = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1234));
const char kFirstRecord[] = "Running setup installation";

// Splits at CR LF, the record end; a lone LF stays inside its record.
std::vector<std::string> Records(const std::string& bytes) {
    std::vector<std::string> records;
    size_t start = 0;
    for (size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2)
        records.push_back(bytes.substr(start, end - start));
    if (start != bytes.size()) records.push_back("<unterminated>" + bytes.substr(start));
    return records;
}

// Symbolic links for the tests. Wine's CreateSymbolicLinkA reports success and makes
// nothing, but Wine shows a Unix symbolic link as the file or folder it points at; so
// under Wine the link is made by the Unix ln, started through Wine. Elsewhere the
// Windows call is tried, which needs the privilege or developer mode.
using UnixNameFunction = char*(CDECL*)(const WCHAR*);
using DosNameFunction = WCHAR*(CDECL*)(const char*);

using engine_test::IsWine;

std::wstring Wide(const std::string& text) {
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], length);
    wide.resize(static_cast<size_t>(length) - 1);
    return wide;
}

// The Unix path of a Windows path whose folder exists; empty outside Wine.
std::string UnixPath(const std::string& windowsPath) {
    const auto toUnix = reinterpret_cast<UnixNameFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    const size_t slash = windowsPath.rfind('\\');
    if (toUnix == nullptr || slash == std::string::npos) return std::string();
    char* folder = toUnix(Wide(windowsPath.substr(0, slash)).c_str());
    if (folder == nullptr) return std::string();
    const std::string path = std::string(folder) + "/" + windowsPath.substr(slash + 1);
    HeapFree(GetProcessHeap(), 0, folder);
    return path;
}

// Starts a Unix program. Wine hands back no process handle to wait on: callers poll
// for its effect.
bool StartUnixProgram(const char* program, const std::vector<std::string>& arguments) {
    const auto toDos = reinterpret_cast<DosNameFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name")));
    if (toDos == nullptr) return false;
    WCHAR* dosProgram = toDos(program);
    if (dosProgram == nullptr) return false;
    const std::wstring application = dosProgram;
    HeapFree(GetProcessHeap(), 0, dosProgram);
    std::wstring commandLine = L"\"" + application + L"\"";
    for (const std::string& argument : arguments) commandLine += L" \"" + Wide(argument) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(application.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return false;
    if (process.hThread != nullptr && process.hThread != INVALID_HANDLE_VALUE) CloseHandle(process.hThread);
    if (process.hProcess != nullptr && process.hProcess != INVALID_HANDLE_VALUE) CloseHandle(process.hProcess);
    return true;
}

bool Eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 500; ++i) {
        if (condition()) return true;
        Sleep(20);
    }
    return false;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring FinalPathOf(const std::string& path) {
    HANDLE handle = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return std::wstring();
    WCHAR buffer[1024];
    const DWORD length = GetFinalPathNameByHandleW(handle, buffer, 1024, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(handle);
    return length == 0 || length >= 1024 ? std::wstring() : std::wstring(buffer, length);
}

// A symbolic link at `link` to the existing `target` (file or folder), made and seen:
// opening the link reaches the target. False when this system cannot make one.
bool MakeSymbolicLink(const std::string& target, const std::string& link) {
    const bool folder = (GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (IsWine()) {
        const std::string unixTarget = UnixPath(target);
        const std::string unixLink = UnixPath(link);
        if (unixTarget.empty() || unixLink.empty()) return false;
        if (!StartUnixProgram("/bin/ln", {"-s", unixTarget, unixLink})) return false;
        if (!Eventually([&] { return Exists(link); })) return false;
    } else {
        const DWORD unprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE, developer mode
        const DWORD flags = (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | unprivileged;
        if (!CreateSymbolicLinkA(link.c_str(), target.c_str(), flags)) return false;
        if (!Exists(link) || (GetFileAttributesA(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
    }
    const std::wstring reached = FinalPathOf(link);
    return !reached.empty() && reached == FinalPathOf(target);
}

// Removes the link itself, never its target.
void RemoveSymbolicLink(const std::string& link) {
    if (IsWine()) {
        if (StartUnixProgram("/bin/rm", {"-f", UnixPath(link)})) Eventually([&] { return !Exists(link); });
    } else if (!RemoveDirectoryA(link.c_str())) {
        DeleteFileA(link.c_str());
    }
}

class InstallLog : public ::testing::Test {
protected:
    InstallLog() : temp_(scratch_.path() + "\\") {}
    void SetUp() override { g_logPath[0] = '\0'; }
    void TearDown() override { CloseInstallLog(); }
    // What OpenInstallLog must build: the temp path keeps its backslash before ours.
    std::string ExpectedPath() const { return scratch_.path() + "\\\\setup-internet-gui.log"; }
    std::string LogBytes() const { return ReadBytes(scratch_.file("setup-internet-gui.log")); }

    ScratchDirectory scratch_;
    TempDirectoryOverride temp_;
    BoxRecorder boxes_;
};

TEST_F(InstallLog, FirstOpenCreatesTheFileWithTheFirstRecordAndThePath) {
    OpenInstallLog(kOwner);
    ASSERT_NE(g_logFile, INVALID_HANDLE_VALUE);
    EXPECT_EQ(std::string(g_logPath), ExpectedPath());
    EXPECT_TRUE(boxes_.boxes().empty());
    const std::vector<std::string> records = Records(LogBytes());
    ASSERT_EQ(records.size(), size_t{1});
    EXPECT_TRUE(IsRecordOf(records[0], kFirstRecord)) << records[0];
}

TEST_F(InstallLog, SecondRunAppendsAndStartsWithTheFirstRecordAgain) {
    OpenInstallLog(kOwner);
    WriteLogLine("from the first run");
    CloseInstallLog();
    EXPECT_EQ(g_logFile, INVALID_HANDLE_VALUE);
    OpenInstallLog(kOwner);
    WriteLogLine("from the second run");
    const std::vector<std::string> records = Records(LogBytes());
    ASSERT_EQ(records.size(), size_t{4});
    EXPECT_TRUE(IsRecordOf(records[0], kFirstRecord));
    EXPECT_TRUE(IsRecordOf(records[1], "from the first run"));
    EXPECT_TRUE(IsRecordOf(records[2], kFirstRecord));
    EXPECT_TRUE(IsRecordOf(records[3], "from the second run"));
}

TEST_F(InstallLog, EachTextIsOneRecordWhateverItHolds) {
    OpenInstallLog(kOwner);
    WriteLogLine("Welcome\nsecond line");
    WriteLogLine("\n");
    WriteLogLine("");
    WriteLogLine(nullptr);
    WriteLogLine(std::string(3000, 'L').c_str());  // larger than the on-stack record
    const std::vector<std::string> records = Records(LogBytes());
    ASSERT_EQ(records.size(), size_t{6});
    EXPECT_TRUE(IsRecordOf(records[1], "Welcome\nsecond line"));
    EXPECT_TRUE(IsRecordOf(records[2], "\n"));
    EXPECT_TRUE(IsRecordOf(records[3], ""));
    EXPECT_TRUE(IsRecordOf(records[4], ""));
    EXPECT_TRUE(IsRecordOf(records[5], std::string(3000, 'L')));
}

TEST_F(InstallLog, OpeningAgainWhileOpenChangesNothing) {
    OpenInstallLog(kOwner);
    const HANDLE first = g_logFile;
    OpenInstallLog(kOwner);
    EXPECT_EQ(g_logFile, first);
    EXPECT_EQ(Records(LogBytes()).size(), size_t{1});
}

TEST_F(InstallLog, SwitchingOffDropsLaterRecordsButLeavesTheFileOpen) {
    OpenInstallLog(kOwner);
    const HANDLE file = g_logFile;
    SwitchOffInstallLog();
    EXPECT_EQ(g_logFile, INVALID_HANDLE_VALUE);
    WriteLogLine("too late");
    EXPECT_EQ(Records(LogBytes()).size(), size_t{1});
    DWORD flags = 0;
    EXPECT_TRUE(GetHandleInformation(file, &flags)) << "switching off must not close the handle";
    CloseHandle(file);  // the program leaves it to process exit; the test cleans up
    CloseInstallLog();  // nothing open: no effect
    EXPECT_EQ(g_logFile, INVALID_HANDLE_VALUE);
}

TEST_F(InstallLog, OthersMayReadTheLogWhileItIsOpen) {
    OpenInstallLog(kOwner);
    HANDLE reader = CreateFileA(scratch_.file("setup-internet-gui.log").c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
}

// Regression: a second run appending to the same log wrote over the first one's
// records from its own stale position. Only an unattended run lets it write at all.
TEST_F(InstallLog, AnotherWriterOfTheSameFileLosesNothing) {
    const std::string path = scratch_.file("setup-internet-gui.log");
    OpenInstallLog(kOwner);
    EXPECT_EQ(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                          nullptr),
              INVALID_HANDLE_VALUE);
    CloseInstallLog();
    g_uiMode = engine::UiMode::passive;
    OpenInstallLog(kOwner);
    g_uiMode = engine::UiMode::full;
    HANDLE other = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    SetFilePointer(other, 0, nullptr, FILE_END);
    ASSERT_TRUE(WriteFile(other, "other run\r\n", 11, &written, nullptr));
    CloseHandle(other);
    WriteLogLine("after it");
    const std::vector<std::string> records = Records(LogBytes());
    ASSERT_EQ(records.size(), size_t{4});
    EXPECT_EQ(records[2], "other run");
    EXPECT_TRUE(IsRecordOf(records[3], "after it"));
}

// The copy refuses, before opening anything, what names a device or a raw path, and
// the log itself goes on.
TEST_F(InstallLog, LogCopyRefusesDevicePathsAndLinksAndLeavesTheirTargetsAlone) {
    const std::wstring raw = L"\\\\?\\" + Wide(scratch_.file("raw.log"));
    for (const std::wstring& path : {raw, std::wstring(L"\\\\.\\C:"), std::wstring(L"//./NUL"),
                                     L"\\??\\" + Wide(scratch_.file("nt.log"))}) {
        LogCopyFailure failure;
        EXPECT_FALSE(OpenLogCopy(path.c_str(), &failure));
        EXPECT_EQ(failure.reason, "it is a device path (\\\\.\\, \\\\?\\ or \\??\\)");
    }
    EXPECT_FALSE(Exists(scratch_.file("raw.log")) || Exists(scratch_.file("nt.log")));

    const std::string victim = scratch_.file("victim.txt");
    ASSERT_TRUE(engine_test::WriteBytes(victim, "precious"));
    const std::string link = scratch_.file("copy.log");
    if (!MakeSymbolicLink(victim, link)) {
        ASSERT_FALSE(IsWine()) << "Wine sees Unix links: this test must run here";
        GTEST_SKIP() << "this system cannot make symbolic links here (needs the privilege or developer mode)";
    }
    LogCopyFailure failure;
    EXPECT_FALSE(OpenLogCopy(Wide(link).c_str(), &failure));
    EXPECT_EQ(failure.reason, "it is not a plain file with a single name (a link, a hard link, a folder or a device)");
    OpenInstallLog(kOwner);
    WriteLogLine("not for the victim");
    EXPECT_EQ(ReadBytes(victim), "precious");
    RemoveSymbolicLink(link);
    EXPECT_EQ(Records(LogBytes()).size(), size_t{2});
}

class InstallLogFailure : public InstallLog {
protected:
    void ExpectFailureBoxFor(const std::string& path) {
        const std::vector<engine_test::RecordedBox> boxes = boxes_.boxes();
        ASSERT_EQ(boxes.size(), size_t{1});
        EXPECT_EQ(boxes[0].owner, kOwner);
        EXPECT_EQ(boxes[0].text, "troubleshooting creating log file (" + path + ")");
        EXPECT_TRUE(boxes[0].hasCaption);
        EXPECT_EQ(boxes[0].caption, "log");
        EXPECT_EQ(boxes[0].style, UINT{0x1000});
        EXPECT_EQ(g_logFile, INVALID_HANDLE_VALUE);
        EXPECT_STREQ(g_logPath, "");
        WriteLogLine("nowhere to go");  // a no-op, not a crash
    }
};

TEST_F(InstallLogFailure, MissingTempDirectoryNamesTheFullPathAndRunsWithoutLog) {
    const std::string missing = scratch_.path() + "\\missing";
    TempDirectoryOverride redirect(missing);
    OpenInstallLog(kOwner);
    ExpectFailureBoxFor(missing + "\\\\setup-internet-gui.log");
    EXPECT_EQ(GetFileAttributesA(missing.c_str()), INVALID_FILE_ATTRIBUTES);
}

// Regression: a temp path leaving no room for the name must not overrun g_logPath.
TEST_F(InstallLogFailure, TempDirectoryTooLongForTheNameRunsWithoutLog) {
    const size_t wanted = 245;  // GetTempPathA still reports it; with the name it exceeds 259
    const std::string longDirectory = scratch_.path() + "\\" + std::string(wanted - scratch_.path().size() - 1, 'd');
    ASSERT_EQ(longDirectory.size(), wanted);
    TempDirectoryOverride redirect(longDirectory);
    OpenInstallLog(kOwner);
    ExpectFailureBoxFor(longDirectory + "\\\\setup-internet-gui.log");
}

TEST_F(InstallLogFailure, HardLinkInPlaceOfTheLogIsRefusedAndItsTargetUntouched) {
    const std::string victim = scratch_.file("victim.txt");
    ASSERT_TRUE(engine_test::WriteBytes(victim, "precious"));
    if (!CreateHardLinkA(scratch_.file("setup-internet-gui.log").c_str(), victim.c_str(), nullptr)) {
        ASSERT_FALSE(IsWine()) << "Wine makes Unix hard links: this test must run here";
        GTEST_SKIP() << "this system cannot make hard links here";
    }
    OpenInstallLog(kOwner);
    ExpectFailureBoxFor(ExpectedPath());
    EXPECT_EQ(ReadBytes(victim), "precious");
}

// Regression: under Wine the log was appended to the target of a symbolic link planted
// in its place; the attribute check does not see such a link.
TEST_F(InstallLogFailure, SymbolicLinkInPlaceOfTheLogIsRefusedAndItsTargetUntouched) {
    const std::string victim = scratch_.file("victim.txt");
    const std::string content = std::string("precious\r\nbytes") + '\0' + "after a NUL";
    ASSERT_TRUE(engine_test::WriteBytes(victim, content));
    const std::string link = scratch_.file("setup-internet-gui.log");
    if (!MakeSymbolicLink(victim, link)) {
        ASSERT_FALSE(IsWine()) << "Wine sees Unix links: this test must run here";
        GTEST_SKIP() << "this system cannot make symbolic links here (needs the privilege or developer mode)";
    }
    OpenInstallLog(kOwner);
    ExpectFailureBoxFor(ExpectedPath());
    EXPECT_EQ(ReadBytes(victim), content);
    RemoveSymbolicLink(link);
    EXPECT_EQ(ReadBytes(victim), content);
}

// A link whose target does not exist yet must not make the log create that file.
TEST_F(InstallLogFailure, DanglingSymbolicLinkInPlaceOfTheLogCreatesNothingAtItsTarget) {
    const std::string target = scratch_.file("elsewhere.dll");
    ASSERT_TRUE(engine_test::WriteBytes(target, "x"));
    const std::string link = scratch_.file("setup-internet-gui.log");
    if (!MakeSymbolicLink(target, link)) {
        ASSERT_FALSE(IsWine()) << "Wine sees Unix links: this test must run here";
        GTEST_SKIP() << "this system cannot make symbolic links here (needs the privilege or developer mode)";
    }
    ASSERT_TRUE(DeleteFileA(target.c_str()));
    OpenInstallLog(kOwner);
    ExpectFailureBoxFor(ExpectedPath());
    EXPECT_FALSE(Exists(target));
    RemoveSymbolicLink(link);
}

// A temp folder redirected as a whole still gets its log, in the folder it leads to.
TEST_F(InstallLog, RedirectedTempFolderStillGetsItsLog) {
    const std::string real = scratch_.file("real");
    ASSERT_TRUE(CreateDirectoryA(real.c_str(), nullptr));
    const std::string redirected = scratch_.file("redirected");
    if (!MakeSymbolicLink(real, redirected)) {
        ASSERT_FALSE(IsWine()) << "Wine sees Unix links: this test must run here";
        GTEST_SKIP() << "this system cannot make symbolic links here (needs the privilege or developer mode)";
    }
    {
        TempDirectoryOverride redirect(redirected);
        OpenInstallLog(kOwner);
        EXPECT_TRUE(boxes_.boxes().empty());
        EXPECT_NE(g_logFile, INVALID_HANDLE_VALUE);
        CloseInstallLog();
    }
    const std::vector<std::string> records = Records(ReadBytes(real + "\\setup-internet-gui.log"));
    ASSERT_EQ(records.size(), size_t{1});
    EXPECT_TRUE(IsRecordOf(records[0], kFirstRecord));
    RemoveSymbolicLink(redirected);
    EXPECT_TRUE(Exists(real));
}

TEST_F(InstallLogFailure, DirectoryInPlaceOfTheLogIsRefused) {
    ASSERT_TRUE(CreateDirectoryA(scratch_.file("setup-internet-gui.log").c_str(), nullptr));
    OpenInstallLog(kOwner);
    ExpectFailureBoxFor(ExpectedPath());
}

// Regression: records from the worker and the UI thread must never interleave.
TEST_F(InstallLog, RecordsFromSeveralThreadsNeverInterleave) {
    OpenInstallLog(kOwner);
    constexpr int kThreads = 4;
    constexpr int kRecords = 300;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < kRecords; ++i) {
                // Some records exceed the on-stack buffer, so both write paths race.
                const std::string text = "thread" + std::to_string(t) + std::string((i % 7) * 100, char('a' + t));
                WriteLogLine(text.c_str());
            }
        });
    }
    for (std::thread& writer : writers) writer.join();

    std::map<int, int> perThread;
    const std::vector<std::string> records = Records(LogBytes());
    ASSERT_EQ(records.size(), size_t{1 + kThreads * kRecords});
    for (size_t r = 1; r < records.size(); ++r) {
        const std::string& record = records[r];
        ASSERT_GT(record.size(), size_t{28}) << r;
        const int t = record[28] - '0';
        ASSERT_TRUE(t >= 0 && t < kThreads) << record.substr(0, 60);
        const size_t extra = record.size() - 29;
        ASSERT_TRUE(IsRecordOf(record, "thread" + std::to_string(t) + std::string(extra, char('a' + t))))
            << record.substr(0, 60);
        ++perThread[t];
    }
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(perThread[t], kRecords);
}

// Regression: closing while the worker writes must not cut a record or write to a
// closed handle.
TEST_F(InstallLog, ClosingWhileAnotherThreadWritesLeavesOnlyWholeRecords) {
    OpenInstallLog(kOwner);
    std::atomic<int> written{0};
    std::atomic<bool> stop{false};
    std::thread writer([&written, &stop] {
        const std::string text(1000, 'w');
        while (!stop) {
            WriteLogLine(text.c_str());
            ++written;
        }
    });
    while (written < 20) Sleep(1);
    CloseInstallLog();
    const int atClose = written;
    while (written < atClose + 20) Sleep(1);  // the writer keeps going into a closed log
    stop = true;
    writer.join();
    const std::vector<std::string> records = Records(LogBytes());
    ASSERT_GE(records.size(), size_t{21});
    for (size_t r = 1; r < records.size(); ++r) ASSERT_TRUE(IsRecordOf(records[r], std::string(1000, 'w'))) << r;
}

}  // namespace
}  // namespace engine::win32
