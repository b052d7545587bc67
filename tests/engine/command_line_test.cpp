// Tests of the command-line word splitting, the unattended-run switches and the usage text.
// Through the public functions only; each table row is one rule.
#include "engine/core/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace engine {
namespace {

TEST(SplitCommandLine, RuntimeRulesForArgumentsSimplerOnesForTheProgramPath) {
    const struct { const char* text; std::vector<std::string> words; } cases[] = {
        {"p a  b\tc \t", {"p", "a", "b", "c"}},
        {"p \"a b\" c\"d\te\"f \"unclosed  end", {"p", "a b", "cd\tef", "unclosed  end"}},
        {"p \"\" x\"\" \"a\"\"b\"", {"p", "", "x", "ab"}},
        {R"(p a\\b x\\"y z" a\\\\"b" a\"b a\\\"b end\)", {"p", R"(a\\b)", R"(x\y z)", R"(a\\b)", "a\"b", R"(a\"b)", "end\\"}},
        {"\"C:\\Program Files\\k.exe\"/quiet x", {"C:\\Program Files\\k.exe", "/quiet", "x"}},
        {"\"C:\\dir\\\" b", {"C:\\dir\\", "b"}},
        {"C:\\a\"b c\"", {"C:\\a\"b", "c"}},
        {"\"unclosed program", {"unclosed program"}},
        {" a", {"", "a"}},
    };
    for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.text), c.words) << c.text;
    EXPECT_TRUE(SplitCommandLine(nullptr).empty());
}

CommandLineParse Parse(const std::string& args) { return ParseCommandLine(("setup.exe " + args).c_str()); }

TEST(ParseCommandLine, EverySwitchWithEitherPrefixInAnyCase) {
    EXPECT_TRUE(ParseCommandLine("/bad.exe x").ok);  // the program path is no switch
    for (const std::string p : {"/", "-"}) {
        EXPECT_STREQ(UiModeName(Parse(p + "Quiet").options.mode), "quiet");
        EXPECT_STREQ(UiModeName(Parse(p + "PASSIVE").options.mode), "passive");
        EXPECT_TRUE(Parse(p + "AcceptLicence").options.acceptLicence && Parse(p + "acceptLICENSE").options.acceptLicence);
        EXPECT_TRUE(Parse(p + "StdOut").options.mirrorToStdout);
        EXPECT_TRUE(Parse(p + "?").options.help && Parse(p + "HELP").options.help);
        EXPECT_EQ(Parse(p + "LOG=C:\\Logs\\Run.LOG").options.logPath, "C:\\Logs\\Run.LOG");
        EXPECT_EQ(Parse(p + "Answers=a=b.txt").options.answersPath, "a=b.txt");
        EXPECT_EQ(Parse(p + "DIR=\"C:\\My Files\\Caf\xC3\xA9\"").options.installDir, "C:\\My Files\\Caf\xC3\xA9");
        EXPECT_TRUE(Parse(p + "UnInstall").options.uninstall);
        const CommandLineOptions o = Parse(p + "AllowDowngrade " + p + "CLOSEapplications " + p + "ForceRestart").options;
        EXPECT_TRUE(o.allowDowngrade && o.closeApplications && o.forceRestart);
        EXPECT_TRUE(Parse(p + "NoRestart " + p + "norestart").ok && !Parse(p + "NoRestart").options.forceRestart);
    }
    EXPECT_FALSE(Parse("/dir").ok || Parse("/uninstall=yes").ok);
}

TEST(NeedsLicenceAcceptance, OnlyAnUnattendedInstallation) {
    EXPECT_TRUE(NeedsLicenceAcceptance(Parse("/quiet /acceptlicence").options) &&
                NeedsLicenceAcceptance(Parse("/passive /dir=x").options));
    for (const char* args : {"/quiet /uninstall", "/uninstall /passive", "/dir=x"}) {
        EXPECT_FALSE(NeedsLicenceAcceptance(Parse(args).options)) << args;
    }
}

TEST(ParseCommandLine, QuotedValuesRepeatsPlainWordsAndLastValueWins) {
    const CommandLineParse p = Parse("-stdout \"/log=C:\\My Logs\\a.log\" /passive \"\" "
                                     "/acceptlicence /passive /log=\"C:\\My Logs\\b.log\" /answers=1 -answers=2");
    EXPECT_TRUE(p.ok && p.options.mode == UiMode::passive && p.options.acceptLicence && p.options.mirrorToStdout);
    EXPECT_EQ(p.options.logPath + "|" + p.options.answersPath, "C:\\My Logs\\b.log|2");
}

TEST(ParseCommandLine, FirstBadWordFailsTheWholeLineAndIsNamedAsWritten) {
    const struct { const char* args; const char* error; } cases[] = {
        {"/passive /x /quiet", "Unknown switch: /x"},
        {"/quiet /log=x -", "Unknown switch: -"},
        {"/quietly", "Unknown switch: /quietly"},
        {"/? /LOG", "Switch needs a value: /LOG"},
        {"\"-answers=\"", "Switch needs a value: -answers="},
        {"/Quiet=1", "Switch takes no value: /Quiet=1"},
        {"/quiet /acceptlicence /QUIET -PASSIVE /quiet", "Conflicting switches: /quiet and -PASSIVE"},
        {"/norestart /forcerestart", "Conflicting switches: /norestart and /forcerestart"},
        {"-ForceRestart /forcerestart /NORESTART", "Conflicting switches: -ForceRestart and /NORESTART"},
    };
    for (const auto& c : cases) {
        const CommandLineParse parse = Parse(c.args);
        EXPECT_TRUE(!parse.ok && parse.error == c.error) << c.args << " gave: " << parse.error;
        EXPECT_TRUE(parse.options.mode == UiMode::full && parse.options.logPath.empty()) << c.args;
    }
}

// Regression: "quiet /acceptlicence" under SYSTEM fell back to an interactive run nobody could answer.
TEST(ParseCommandLine, PlainWordsFailOnlyWhenTheLineNamesAnUnattendedMode) {
    const struct { const char* args; const char* error; } cases[] = {
        {"quiet /acceptlicence", "Not a switch (switches start with / or -): quiet"},
        {"/quiet acceptlicence /bogus", "Not a switch (switches start with / or -): acceptlicence"},
        {"/acceptlicence \xE2\x80\x93Passive", "Not a switch (switches start with / or -): \xE2\x80\x93Passive"},
        {"x /passive=1", "Not a switch (switches start with / or -): x"},
        {"/quiet /acceptlicence \"\" \" \"", "Not a switch (switches start with / or -):  "},
    };
    for (const auto& c : cases) {
        const CommandLineParse parse = Parse(c.args);
        EXPECT_TRUE(!parse.ok && parse.error == c.error) << c.args << " gave: " << parse.error;
        EXPECT_TRUE(NamesUnattendedMode(("setup.exe " + std::string(c.args)).c_str())) << c.args;
    }
    EXPECT_TRUE(Parse("quietly install.log x/quiet /acceptlicence /log=quiet.log").ok);
    EXPECT_FALSE(NamesUnattendedMode("quiet.exe quietly /log=quiet /answers=/passive"));
    EXPECT_TRUE(NamesUnattendedMode("setup.exe /x -PASSIVE=no"));
    EXPECT_FALSE(NamesUnattendedMode("setup.exe \"\" p"));  // regression: an empty word read past its end
}

TEST(UsageText, StartsWithTheTitleAndEndsEveryLineWithCrLf) {
    std::string usage = kUsageText;
    EXPECT_EQ(usage.rfind("kelvane installer: unattended installation switches\r\n", 0), 0u);
    EXPECT_EQ(usage.substr(usage.size() - 2), "\r\n");
    for (const char* line : {"  /forcerestart ", "  1638  ", "  3010  ", "  1641  "}) {
        EXPECT_NE(usage.find(line), std::string::npos) << line;
    }
    for (size_t at; (at = usage.find("\r\n")) != std::string::npos;) usage.erase(at, 2);
    EXPECT_EQ(usage.find_first_of("\r\n"), std::string::npos);  // no lone CR or LF
}

}  // namespace
}  // namespace engine
