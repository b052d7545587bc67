// Tests of the sample module's install.cfg checks: what a good file gives, and that
// every bad value is refused with a reason naming its key, before any disk work.
// The lookups are the engine's own, as the real host hands them to the module.
#include "install_config.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/core/key_values.h"

namespace {

const char* KELVANE_CDECL LookUp(const KeyValueNode* list, const char* key, KelvaneBool upper) {
    return engine::getValue(list, key, (upper & 0xFFu) != 0);
}
int32_t KELVANE_CDECL LookUpNumber(const KeyValueNode* list, const char* key) {
    return engine::getIntValue(list, key);
}

class SampleConfigTest : public ::testing::Test {
protected:
    SampleConfigTest() {
        host_.size = sizeof host_;
        host_.getValue = LookUp;
        host_.getIntValue = LookUpNumber;
    }
    // Parses lines given with "\n"; the file itself uses CR LF as install.cfg must.
    bool Parse(const std::string& lines) {
        std::string text;
        for (char c : lines) text += c == '\n' ? std::string("\r\n") : std::string(1, c);
        engine::MemoryByteSource source(text.data(), text.size());
        const KeyValueNode* list = engine::loadKeyValues(source, arena_);
        return SampleParseConfig(&host_, list, &config_, error_, sizeof error_) != 0;
    }
    // A good file with one line replaced or added.
    bool ParseWith(const std::string& line) {
        return Parse("TARGET=C:\\Apps\\Sample\nFILE1=readme.txt\n" + line + "\n");
    }
    InstallHostInterface host_{};
    engine::KeyValueArena arena_;
    SampleConfig config_{};
    char error_[512] = "";
};

TEST_F(SampleConfigTest, GoodFileGivesEveryValue) {
    ASSERT_TRUE(Parse("target=D:\\Games\\Sample\\\nREQUIRED_MB=0012\nPause_ms=250\n"
                      "FILE1=readme.txt\nFILE2=data.bin\nFILE3=a b=c.txt\n"))
        << error_;
    EXPECT_STREQ(config_.target, "D:\\Games\\Sample");  // trailing backslash dropped
    EXPECT_EQ(config_.requiredMegabytes, 12u);
    EXPECT_EQ(config_.pauseMilliseconds, 250u);
    ASSERT_EQ(config_.fileCount, 3u);
    EXPECT_STREQ(config_.files[0], "readme.txt");
    EXPECT_STREQ(config_.files[2], "a b=c.txt");  // later "=" belong to the value
    EXPECT_STREQ(error_, "");
}

TEST_F(SampleConfigTest, OptionalNumbersDefaultToZeroAndRootsAndSharesAreFolders) {
    ASSERT_TRUE(Parse("TARGET=C:\\\nFILE1=a\n")) << error_;
    EXPECT_STREQ(config_.target, "C:\\");  // a drive root keeps its backslash
    EXPECT_EQ(config_.requiredMegabytes, 0u);
    EXPECT_EQ(config_.pauseMilliseconds, 0u);
    EXPECT_EQ(config_.askTarget, 0u);
    ASSERT_TRUE(Parse("TARGET=\\\\server\\share\\apps\\\nFILE1=a\n")) << error_;
    EXPECT_STREQ(config_.target, "\\\\server\\share\\apps");
}

TEST_F(SampleConfigTest, MissingOrUnreadableFileIsRefused) {
    EXPECT_FALSE(SampleParseConfig(&host_, nullptr, &config_, error_, sizeof error_));
    EXPECT_STREQ(error_, "install.cfg: TARGET is missing or empty");
    EXPECT_FALSE(Parse("FILE1=a\n"));
    EXPECT_STREQ(error_, "install.cfg: TARGET is missing or empty");
    InstallHostInterface noLookups{};
    EXPECT_FALSE(SampleParseConfig(&noLookups, nullptr, &config_, error_, sizeof error_));
}

TEST_F(SampleConfigTest, TargetMustBeAnAbsolutePlainFolder) {
    for (const char* target : {"Sample", "\\Sample", "C:Sample", "C:/Sample", "C:\\a/b", "C:\\a\\\\b", "C:\\a\\..\\b",
                               "C:\\a\\.", "C:\\a*", "C:\\a|b", "C:\\a\"b", "C:\\a:b", "C:\\dots.", "1:\\a",
                               "\\\\server", "\\\\server\\", "\\\\\\x", "C:\\a\tb"}) {
        EXPECT_FALSE(Parse(std::string("TARGET=") + target + "\nFILE1=a\n")) << target;
        EXPECT_NE(std::string(error_).find("bad value for TARGET"), std::string::npos) << target << ": " << error_;
    }
}

TEST_F(SampleConfigTest, NumbersMustBePlainDigitsWithinTheirLimits) {
    for (const char* bad : {"REQUIRED_MB=12x", "REQUIRED_MB=-1", "REQUIRED_MB= 5", "REQUIRED_MB=+5",
                            "REQUIRED_MB=2147483648", "REQUIRED_MB=99999999999999999999", "PAUSE_MS=10001",
                            "PAUSE_MS=1e3", "ASK_TARGET=2", "ASK_TARGET=yes", "ASK_TARGET=-1"}) {
        EXPECT_FALSE(ParseWith(bad)) << bad;
        const std::string key(bad, std::strchr(bad, '=') - bad);
        EXPECT_NE(std::string(error_).find("bad value for " + key), std::string::npos) << error_;
    }
    ASSERT_TRUE(ParseWith("REQUIRED_MB=2147483647")) << error_;
    EXPECT_EQ(config_.requiredMegabytes, 2147483647u);
    ASSERT_TRUE(ParseWith("REQUIRED_MB=000000000002147483647")) << error_;
    EXPECT_EQ(config_.requiredMegabytes, 2147483647u);
    ASSERT_TRUE(ParseWith("PAUSE_MS=10000")) << error_;
    EXPECT_EQ(config_.pauseMilliseconds, 10000u);
    ASSERT_TRUE(ParseWith("ASK_TARGET=01")) << error_;
    EXPECT_EQ(config_.askTarget, 1u);
}

TEST_F(SampleConfigTest, PayloadNamesMustBePlainDistinctFileNames) {
    for (const char* name : {"..", ".", "a\\b", "a/b", "c:x", "x.", "x ", "con", "CON.txt", "nul", "Com1",
                             "lpt9.log", "a?b", "uninstall.LST", "a\x01" "b"}) {
        EXPECT_FALSE(Parse(std::string("TARGET=C:\\S\nFILE1=") + name + "\n")) << name;
        EXPECT_NE(std::string(error_).find("bad value for FILE1"), std::string::npos) << name << ": " << error_;
    }
    EXPECT_FALSE(Parse("TARGET=C:\\S\nFILE1=Read.me\nFILE2=READ.ME\n"));
    EXPECT_STREQ(error_, "install.cfg: bad value for FILE2 (\"READ.ME\"): same file as FILE1");
    // Names that merely resemble devices are ordinary files.
    EXPECT_TRUE(Parse("TARGET=C:\\S\nFILE1=console.txt\nFILE2=com10\nFILE3=lpt0\nFILE4=nul2\n")) << error_;
}

TEST_F(SampleConfigTest, FileListIsNumberedWithoutGapsUpToSixtyFour) {
    EXPECT_FALSE(Parse("TARGET=C:\\S\n"));
    EXPECT_STREQ(error_, "install.cfg: no payload file (FILE1 is missing or empty)");
    EXPECT_FALSE(Parse("TARGET=C:\\S\nFILE1=a\nFILE3=c\n"));
    EXPECT_STREQ(error_, "install.cfg: FILE2 is missing but FILE3 is given");

    std::string files;
    for (int n = 1; n <= 64; ++n) files += "FILE" + std::to_string(n) + "=f" + std::to_string(n) + "\n";
    ASSERT_TRUE(Parse("TARGET=C:\\S\n" + files)) << error_;
    EXPECT_EQ(config_.fileCount, 64u);
    EXPECT_STREQ(config_.files[63], "f64");
    EXPECT_FALSE(Parse("TARGET=C:\\S\n" + files + "FILE65=f65\n"));
    EXPECT_STREQ(error_, "install.cfg: too many payload files (at most FILE64)");
}

TEST_F(SampleConfigTest, InstalledPathsMustFitInTwoHundredFiftyNineCharacters) {
    const std::string target = "C:\\" + std::string(200, 't');  // 203 characters
    ASSERT_TRUE(Parse("TARGET=" + target + "\nFILE1=" + std::string(55, 'n') + "\n")) << error_;  // 259
    EXPECT_FALSE(Parse("TARGET=" + target + "\nFILE1=" + std::string(56, 'n') + "\n"));
    EXPECT_NE(std::string(error_).find("bad value for FILE1"), std::string::npos) << error_;
}

TEST_F(SampleConfigTest, AnsweredTargetIsCheckedLikeTargetAndRefusedWithoutChange) {
    ASSERT_TRUE(Parse("TARGET=C:\\S\nFILE1=a\nFILE2=" + std::string(55, 'n') + "\n")) << error_;
    ASSERT_TRUE(SampleSetTarget(&config_, "\\\\srv\\share\\Apps\\", error_, sizeof error_)) << error_;
    EXPECT_STREQ(config_.target, "\\\\srv\\share\\Apps");
    EXPECT_STREQ(error_, "");

    EXPECT_FALSE(SampleSetTarget(&config_, "Apps\\Sample", error_, sizeof error_));
    EXPECT_STREQ(error_, "bad target folder (\"Apps\\Sample\"): not an absolute folder such as C:\\Program");
    EXPECT_STREQ(config_.target, "\\\\srv\\share\\Apps");

    const std::string target = "C:\\" + std::string(200, 't');  // with "\\" and FILE2: 259 characters
    ASSERT_TRUE(SampleSetTarget(&config_, target.c_str(), error_, sizeof error_)) << error_;
    EXPECT_FALSE(SampleSetTarget(&config_, (target + "u").c_str(), error_, sizeof error_));
    EXPECT_NE(std::string(error_).find("target folder too long: " + target + "u\\nnn"), std::string::npos) << error_;
    EXPECT_EQ(config_.target, target);

    char small[8];
    EXPECT_FALSE(SampleSetTarget(&config_, "x", small, sizeof small));
    EXPECT_STREQ(small, "bad tar");
}

TEST_F(SampleConfigTest, ReasonIsCutToItsBufferAndAlwaysTerminated) {
    char small[8];
    std::memset(small, 'x', sizeof small);
    EXPECT_FALSE(SampleParseConfig(&host_, nullptr, &config_, small, sizeof small));
    EXPECT_STREQ(small, "install");
    char untouched = 'x';
    EXPECT_FALSE(SampleParseConfig(&host_, nullptr, &config_, &untouched, 0));
    EXPECT_EQ(untouched, 'x');
}

TEST(SampleJoinPath, JoinsWithOneBackslashAndRefusesWhatDoesNotFit) {
    char out[13];
    EXPECT_TRUE(SampleJoinPath(out, sizeof out, "C:\\dir\\", "a.txt"));
    EXPECT_STREQ(out, "C:\\dir\\a.txt");
    EXPECT_TRUE(SampleJoinPath(out, sizeof out, "C:\\dir", "a.txt"));
    EXPECT_STREQ(out, "C:\\dir\\a.txt");  // 12 characters: exactly fits
    EXPECT_FALSE(SampleJoinPath(out, sizeof out, "C:\\dir", "ab.txt"));
    EXPECT_STREQ(out, "");
}

}  // namespace
