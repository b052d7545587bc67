// Tests of the sample install module, run through kelvane-modtest under Wine: a good
// install.cfg installs byte for byte with an uninstall list; every failure exits 1 and
// leaves nothing that this run made behind. Random install.cfg files never crash it.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "run_support.h"
#include "tests/engine_win32/test_support.h"

namespace modtest_test {
namespace {

using engine_test::ReadBytes;
using engine_test::WriteBytes;

std::string CrLf(const std::string& lines) {
    std::string text;
    for (char c : lines) text += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return text;
}

class SampleModule : public ::testing::TestWithParam<const char*> {
protected:
    SampleModule()
        : program_(scratch_.folder("program")),
          temp_(scratch_.folder("temp")),
          tempOverride_(temp_),
          out_(scratch_.file("out")),
          target_(out_ + "\\deep") {}

    // Module, payload and install.cfg lie in the program folder, as beside an installer.
    ProgramRun Install(const std::string& configLines, const char* module = "sample_install_module.dll") {
        EXPECT_TRUE(CopyFromBin(module, program_));
        EXPECT_TRUE(WriteBytes(program_ + "\\install.cfg", CrLf(configLines)));
        return RunProgram(BinDirectory() + "kelvane-modtest.exe", {program_ + "\\" + module});
    }
    void Payload(const std::string& name, const std::string& bytes) {
        ASSERT_TRUE(WriteBytes(program_ + "\\" + name, bytes));
    }
    // A failed run: exit 1, the host's failure line last, and `expected` in the output.
    void ExpectFailure(const ProgramRun& run, const std::string& expected) {
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, 1u) << run.out;
        EXPECT_NE(run.out.find(expected), std::string::npos) << "missing: " << expected << "\n" << run.out;
        const std::string last = "Installation failure.\n";
        EXPECT_TRUE(run.out.size() >= last.size() && run.out.compare(run.out.size() - last.size(), last.size(), last) == 0)
            << run.out;
    }

    engine_test::ScratchDirectory scratch_;
    std::string program_;
    std::string temp_;
    engine_test::TempDirectoryOverride tempOverride_;
    std::string out_;
    std::string target_;
};

TEST_P(SampleModule, GoodConfigInstallsEveryFileByteForByte) {
    std::string binary;
    for (int round = 0; round < 3; ++round)
        for (int byte = 0; byte < 256; ++byte) binary += static_cast<char>(byte);
    binary += std::string("\r\n\n\r\0", 5);
    std::string big(300000, '\0');
    std::mt19937 random(7);
    for (char& c : big) c = static_cast<char>(random());
    Payload("binary.dat", binary);
    Payload("big.bin", big);
    Payload("empty.txt", "");

    const ProgramRun run = Install("TARGET=" + target_ + "\nREQUIRED_MB=1\nFILE1=binary.dat\nFILE2=big.bin\n"
                                   "FILE3=empty.txt\n", GetParam());
    ASSERT_TRUE(run.finished);
    ASSERT_EQ(run.exitCode, 0u) << run.out;
    EXPECT_EQ(ReadBytes(target_ + "\\binary.dat"), binary);
    EXPECT_EQ(ReadBytes(target_ + "\\big.bin"), big);
    EXPECT_TRUE(Exists(target_ + "\\empty.txt"));
    EXPECT_EQ(ReadBytes(target_ + "\\empty.txt"), "");
    // Files, the list itself, then the folders this run made, deepest first.
    EXPECT_EQ(ReadBytes(target_ + "\\uninstall.lst"),
              CrLf(target_ + "\\binary.dat\n" + target_ + "\\big.bin\n" + target_ + "\\empty.txt\n" + target_ +
                   "\\uninstall.lst\n" + target_ + "\n" + out_ + "\n"));
    EXPECT_NE(run.out.find("[ 33%] binary.dat ... done\n[ 66%] big.bin ... done\n[100%] empty.txt ... done\n"),
              std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Installed 3 file(s), " + std::to_string(binary.size() + big.size()) + " bytes, into " +
                           target_ + "\n"),
              std::string::npos) << run.out;

    const std::string log = ReadBytes(temp_ + "\\setup-internet-gui.log");
    EXPECT_NE(log.find(") [100%] empty.txt ... \r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(") Installation finished.\r\n"), std::string::npos) << log;
}

// The same module built with __stdcall and a .def file, as the guide shows for MSVC.
INSTANTIATE_TEST_SUITE_P(BothConventions, SampleModule,
                         ::testing::Values("sample_install_module.dll", "sample_install_module_stdcall.dll"));

class SampleModuleFailure : public SampleModule {};

TEST_F(SampleModuleFailure, MissingPayloadFailsBeforeAnythingIsMade) {
    Payload("a.txt", "a");
    const ProgramRun run = Install("TARGET=" + target_ + "\nFILE1=a.txt\nFILE2=missing.txt\n");
    ExpectFailure(run, "Payload file missing: " + program_ + "\\missing.txt\nError 2: ");
    EXPECT_FALSE(Exists(out_));
}

TEST_F(SampleModuleFailure, TargetThatCannotBeMadeFails) {
    Payload("a.txt", "a");
    ASSERT_TRUE(WriteBytes(scratch_.file("blocker"), "a file where a folder should go"));
    const ProgramRun run = Install("TARGET=" + scratch_.file("blocker") + "\\sub\nFILE1=a.txt\n");
    ExpectFailure(run, "Cannot create the folder " + scratch_.file("blocker") + "\nError 267: ");
    EXPECT_EQ(ReadBytes(scratch_.file("blocker")), "a file where a folder should go");
}

TEST_F(SampleModuleFailure, NotEnoughFreeSpaceFailsBeforeAnythingIsMade) {
    Payload("a.txt", "a");
    const ProgramRun run = Install("TARGET=" + target_ + "\nREQUIRED_MB=2147483647\nFILE1=a.txt\n");
    ExpectFailure(run, "Not enough free space for " + target_ + ": ");
    EXPECT_NE(run.out.find(" needed\nError 112: "), std::string::npos) << run.out;
    EXPECT_FALSE(Exists(out_));
}

TEST_F(SampleModuleFailure, BadConfigurationIsRefusedWithItsReason) {
    Payload("a.txt", "a");
    const std::string good = "TARGET=" + target_ + "\n";
    const struct {
        std::string config;
        std::string reason;
    } cases[] = {
        {"TARGET=relative\\folder\nFILE1=a.txt\n", "install.cfg: bad value for TARGET (\"relative\\folder\")"},
        {good + "REQUIRED_MB=12x\nFILE1=a.txt\n", "install.cfg: bad value for REQUIRED_MB (\"12x\")"},
        {good + "FILE1=..\\a.txt\n", "install.cfg: bad value for FILE1 (\"..\\a.txt\")"},
        {good + "FILE1=a.txt\nFILE3=a.txt\n", "install.cfg: FILE2 is missing but FILE3 is given"},
        {good, "install.cfg: no payload file (FILE1 is missing or empty)"},
        {"", "No key=value line could be read from " + program_ + "\\install.cfg"},
        // Bare CR ends: the byte after each line end is lost, so FILE1 reads as ILE1.
        {"TARGET=C:\\x\rFILE1=a.txt\r", "install.cfg: no payload file"},
        {std::string("\xff\x01=\x80\0=\n=\n", 9), "install.cfg: TARGET is missing or empty"},
    };
    for (const auto& c : cases) {
        ExpectFailure(Install(c.config), c.reason);
        EXPECT_FALSE(Exists(out_)) << c.config;
    }
    DeleteFileA((program_ + "\\install.cfg").c_str());
    ProgramRun run = RunProgram(BinDirectory() + "kelvane-modtest.exe", {program_ + "\\sample_install_module.dll"});
    ExpectFailure(run, "Cannot find " + program_ + "\\install.cfg\nError 2: ");
}

TEST_F(SampleModuleFailure, FailedCopyRollsBackWhatThisRunMade) {
    Payload("a.txt", "first");
    Payload("b.txt", "second");
    // A read-only file is copied read-only; the roll-back must still remove it.
    ASSERT_TRUE(SetFileAttributesA((program_ + "\\a.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    // Held open without sharing, so the copy of b.txt fails after a.txt was copied.
    HANDLE lock = CreateFileA((program_ + "\\b.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    const ProgramRun run = Install("TARGET=" + target_ + "\nFILE1=a.txt\nFILE2=b.txt\n");
    CloseHandle(lock);
    ExpectFailure(run, "[100%] b.txt ... failed\nCannot copy to " + target_ + "\\b.txt\nError 32: ");
    EXPECT_NE(run.out.find("Rolled back: removed 1 file(s) and 2 folder(s) made by this run.\n"), std::string::npos)
        << run.out;
    EXPECT_FALSE(Exists(out_));
}

TEST_F(SampleModuleFailure, FilesAndFoldersThatWereThereBeforeSurviveARollBack) {
    Payload("a.txt", "new");
    Payload("b.txt", "second");
    CreateDirectoryA(out_.c_str(), nullptr);
    CreateDirectoryA(target_.c_str(), nullptr);
    ASSERT_TRUE(WriteBytes(target_ + "\\a.txt", "old"));
    ASSERT_TRUE(WriteBytes(target_ + "\\keep.txt", "keep"));
    HANDLE lock = CreateFileA((program_ + "\\b.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const ProgramRun run = Install("TARGET=" + target_ + "\nFILE1=a.txt\nFILE2=b.txt\n");
    CloseHandle(lock);
    ExpectFailure(run, "Cannot copy to " + target_ + "\\b.txt");
    EXPECT_EQ(run.out.find("Rolled back"), std::string::npos) << run.out;  // nothing was made
    EXPECT_EQ(ReadBytes(target_ + "\\a.txt"), "new");
    EXPECT_EQ(ReadBytes(target_ + "\\keep.txt"), "keep");
    EXPECT_FALSE(Exists(target_ + "\\uninstall.lst"));
}

// install.cfg files pieced together at random from the format's own tokens: the module
// must end every run with 0 or 1, and a 0 must mean every named file is installed.
TEST_F(SampleModuleFailure, RandomConfigurationsNeverCrashIt) {
    Payload("a.txt", "a");
    Payload("b.txt", "b");
    const char* const keys[] = {"TARGET", "FILE1", "FILE2", "FILE3", "REQUIRED_MB", "PAUSE_MS", "", "target "};
    const std::string values[] = {target_, target_ + "\\", "a.txt", "b.txt", "..", "0", "99999999999", "-1",
                                  "C:", "\\\\", "CON", std::string(300, 'x'), "", "a.txt\\", "uninstall.lst"};
    const char* const ends[] = {"\r\n", "\r\n", "\r\n", "\n", "\r", ""};
    std::mt19937 random(2026);
    for (int round = 0; round < 12; ++round) {
        std::string config;
        const int lines = 1 + static_cast<int>(random() % 6);
        for (int line = 0; line < lines; ++line) {
            config += keys[random() % (sizeof keys / sizeof keys[0])];
            config += random() % 8 == 0 ? "" : "=";
            config += values[random() % (sizeof values / sizeof values[0])];
            config += ends[random() % (sizeof ends / sizeof ends[0])];
        }
        ASSERT_TRUE(CopyFromBin("sample_install_module.dll", program_));
        ASSERT_TRUE(WriteBytes(program_ + "\\install.cfg", config));
        const ProgramRun run =
            RunProgram(BinDirectory() + "kelvane-modtest.exe", {program_ + "\\sample_install_module.dll"});
        ASSERT_TRUE(run.finished) << config;
        ASSERT_TRUE(run.exitCode == 0 || run.exitCode == 1) << run.exitCode << "\n" << config << "\n" << run.out;
        if (run.exitCode == 0) {
            EXPECT_TRUE(Exists(target_ + "\\uninstall.lst")) << config;
        }
        engine_test::RemoveTree(out_);
    }
}

}  // namespace
}  // namespace modtest_test
