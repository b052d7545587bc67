// Tests of kelvane-modtest, run as a child process under Wine with small test modules:
// the block it hands over, the result rule, the installer's load-failure text, the log,
// crashes, the command line, and the colour sequences of its terminal output.
#include <gtest/gtest.h>

#include <string>

#include "run_support.h"
#include "sdk/kelvane_install.h"
#include "tests/engine_win32/test_support.h"
#include "tools/modtest/stdout_sink.h"

namespace modtest_test {
namespace {

class ModuleTestHost : public ::testing::Test {
protected:
    ModuleTestHost()
        : program_(scratch_.folder("program")), temp_(scratch_.folder("temp")), tempOverride_(temp_) {}
    ~ModuleTestHost() override { SetEnvironmentVariableA("PROBE_RESULT", nullptr); }

    ProgramRun Run(const std::vector<std::string>& arguments) {
        return RunProgram(BinDirectory() + "kelvane-modtest.exe", arguments);
    }
    ProgramRun RunProbe(const char* result, std::vector<std::string> more = {}) {
        EXPECT_TRUE(CopyFromBin("probe_install_module.dll", program_));
        SetEnvironmentVariableA("PROBE_RESULT", result);
        more.insert(more.begin(), program_ + "\\probe_install_module.dll");
        return Run(more);
    }
    std::vector<std::string> LogTexts() {
        std::vector<std::string> texts;
        const std::string log = engine_test::ReadBytes(temp_ + "\\setup-internet-gui.log");
        // Records end with CR LF; a record's own text may hold a bare LF.
        for (size_t start = 0; start < log.size();) {
            size_t end = log.find("\r\n", start);
            if (end == std::string::npos) end = log.size();
            const std::string record = log.substr(start, end - start);
            texts.push_back(record.size() >= 22 ? record.substr(22) : "(short record) " + record);
            start = end + 2;
        }
        return texts;
    }

    engine_test::ScratchDirectory scratch_;
    std::string program_;
    std::string temp_;
    engine_test::TempDirectoryOverride tempOverride_;
};

TEST_F(ModuleTestHost, HandsOverTheInstallersBlockPrintsAndLogsEveryPiece) {
    const ProgramRun run = RunProbe("1", {"--program-name", "My Program"});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u) << run.out << run.err;
    const std::string expected = "size=" + std::to_string(sizeof(InstallHostInterface)) +
                                 " name=[My Program] directory=[" + program_ + "\\] window=null reserved2=0\n"
                                 "A B\n"
                                 "\nservices: ok\n"
                                 "Installation finished.\n";
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(run.out.find('\x1b'), std::string::npos);  // a file gets no colour sequences

    const std::vector<std::string> texts = LogTexts();
    const std::vector<std::string> expectedTexts = {
        "Running setup installation",
        expected.substr(0, expected.find('\n')), "\n",
        "A", " ", "B", "\n",
        "\n", "services:", " ", "ok", "\n",
        "Installation finished."};
    EXPECT_EQ(texts, expectedTexts);
    EXPECT_NE(run.err.find("setup-internet-gui.log"), std::string::npos) << run.err;
}

TEST_F(ModuleTestHost, OnlyTheLowByteOfTheResultCounts) {
    ProgramRun run = RunProbe("256");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(run.out.find("Installation failure.\n"), std::string::npos) << run.out;
    run = RunProbe("257");
    EXPECT_EQ(run.exitCode, 0u) << run.out;
    run = RunProbe("0");
    EXPECT_EQ(run.exitCode, 1u) << run.out;
    EXPECT_EQ(LogTexts().back(), "Installation failure.");
}

TEST_F(ModuleTestHost, ProgramNameDefaultsToTheModulesNameAndIsCutAt255) {
    ProgramRun run = RunProbe("1");
    EXPECT_NE(run.out.find("name=[probe_install_module]"), std::string::npos) << run.out;
    run = RunProbe("1", {"--program-name", std::string(300, 'n')});
    EXPECT_NE(run.out.find("name=[" + std::string(255, 'n') + "]"), std::string::npos) << run.out;
}

TEST_F(ModuleTestHost, MissingModuleGivesTheInstallersLoadFailure) {
    const ProgramRun run = Run({program_ + "\\missing.dll"});
    EXPECT_EQ(run.exitCode, 1u);
    const std::string start = "Can't load file " + program_ + "\\\\missing.dll with error 126 (Error Windows n\xB0" "126\n";
    ASSERT_EQ(run.out.compare(0, start.size(), start), 0) << run.out;
    const std::string message = run.out.substr(0, run.out.find(")\n") + 1);
    EXPECT_EQ(run.out, message + "\n");  // as in the installer: nothing was run, so no result line
    const std::vector<std::string> texts = LogTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[1], message);  // one record, its line feed inside
}

TEST_F(ModuleTestHost, ModulePathTooLongIsALoadFailureNotACutPath) {
    const ProgramRun run = Run({program_ + "\\" + std::string(300, 'm') + ".dll"});
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(run.out.find(".dll with error 206 (Error Windows n\xB0" "206\n"), std::string::npos) << run.out;
}

TEST_F(ModuleTestHost, ModuleWithoutTheEntryFails) {
    ASSERT_TRUE(CopyFromBin("no_entry_module.dll", program_));
    const ProgramRun run = Run({program_ + "\\no_entry_module.dll"});
    EXPECT_EQ(run.exitCode, 1u);
    const std::string start = "Can't find quorvend_install2 in file " + program_ + "\\\\no_entry_module.dll with error 127 (";
    EXPECT_EQ(run.out.rfind(start, 0), 0u) << run.out;
}

TEST_F(ModuleTestHost, CrashingModuleEndsAsAFailureWithItsOutputKept) {
    const ProgramRun run = RunProbe("crash");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_NE(run.out.find("services: ok"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("raised exception 0xC0000005"), std::string::npos) << run.err;
}

TEST_F(ModuleTestHost, CommandLineMistakesFailWithUsage) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{}, {"--bogus", "x.dll"}, {"a.dll", "b.dll"}, {"a.dll", "--program-name"}}) {
        const ProgramRun run = Run(arguments);
        EXPECT_EQ(run.exitCode, 1u);
        EXPECT_NE(run.err.find("usage: kelvane-modtest"), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
    EXPECT_EQ(Run({"--help"}).exitCode, 0u);
}

TEST(ModuleTestHostColours, PaletteIndicesBecomeTheirAnsiColours) {
    // The palette counts 1 blue, 4 red; ANSI counts 1 red, 4 blue.
    EXPECT_STREQ(modtest::AnsiSequence(1), "\x1b[34m");
    EXPECT_STREQ(modtest::AnsiSequence(4), "\x1b[31m");
    EXPECT_STREQ(modtest::AnsiSequence(6), "\x1b[33m");
    EXPECT_STREQ(modtest::AnsiSequence(7), "\x1b[0m");
    EXPECT_STREQ(modtest::AnsiSequence(12), "\x1b[91m");
    EXPECT_STREQ(modtest::AnsiSequence(14), "\x1b[93m");
    EXPECT_STREQ(modtest::AnsiSequence(0x1E), "\x1b[93m");  // the background bits do not count
}

}  // namespace
}  // namespace modtest_test
