// Tests of the installation log under Wine: creation, appending, record shape, the
// refusal of planted links, failure boxes and records from several threads.
#include "engine/win32/install_log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

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
    if (!CreateHardLinkA(scratch_.file("setup-internet-gui.log").c_str(), victim.c_str(), nullptr))
        GTEST_SKIP() << "this system cannot make hard links here";
    OpenInstallLog(kOwner);
    ExpectFailureBoxFor(ExpectedPath());
    EXPECT_EQ(ReadBytes(victim), "precious");
}

TEST_F(InstallLogFailure, SymbolicLinkInPlaceOfTheLogIsRefusedAndItsTargetUntouched) {
    const std::string victim = scratch_.file("victim.txt");
    ASSERT_TRUE(engine_test::WriteBytes(victim, "precious"));
    const std::string link = scratch_.file("setup-internet-gui.log");
    // Wine 8 reports success without making a link; only a real reparse point counts.
    const bool made = CreateSymbolicLinkA(link.c_str(), victim.c_str(), 0) &&
                      GetFileAttributesA(link.c_str()) != INVALID_FILE_ATTRIBUTES &&
                      (GetFileAttributesA(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (!made) GTEST_SKIP() << "this system cannot make symbolic links here (needs Windows and the privilege)";
    OpenInstallLog(kOwner);
    ExpectFailureBoxFor(ExpectedPath());
    EXPECT_EQ(ReadBytes(victim), "precious");
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
