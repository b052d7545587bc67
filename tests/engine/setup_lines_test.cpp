// Tests of the setup description line reader and the extraction of lines 2 and 5.
// Texts are passed with explicit lengths; none relies on a terminating NUL.
#include "engine/core/setup_lines.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace engine {
namespace {

struct Names {
    char programName[kSetupLineSize];
    char moduleFileName[kSetupLineSize];
};

Names Extract(const std::string& text) {
    Names names;
    std::memset(&names, 'X', sizeof names);  // must be cleared, not inherited
    ExtractSetupNames(text.data(), static_cast<int32_t>(text.size()), names.programName, names.moduleFileName);
    return names;
}

TEST(SetupNames, CrLfAndBareCrLineEndsGiveTheSameValues) {
    for (const char* end : {"\r\n", "\r"}) {
        const std::string e = end;
        Names names = Extract("[setup]" + e + "My Program" + e + "x" + e + "y" + e + "install.dll" + e);
        EXPECT_STREQ(names.programName, "My Program") << "line end " << (e.size() == 2 ? "CR LF" : "CR");
        EXPECT_STREQ(names.moduleFileName, "install.dll");
    }
}

TEST(SetupNames, BareLineFeedIsAnOrdinaryCharacterSoTheTextIsOneLine) {
    Names names = Extract("one\ntwo\nthree\nfour\nfive\n");
    EXPECT_STREQ(names.programName, "");
    EXPECT_STREQ(names.moduleFileName, "");

    // After a CR, only the one LF that follows belongs to the line end.
    names = Extract("1\r\n\n2\r3\r4\r5");
    EXPECT_STREQ(names.programName, "\n2");
    EXPECT_STREQ(names.moduleFileName, "5");
}

TEST(SetupNames, BlanksBelongToTheValueAndTheLastLineNeedsNoLineEnd) {
    Names names = Extract("\r  Program  \r\r\r install.dll ");
    EXPECT_STREQ(names.programName, "  Program  ");
    EXPECT_STREQ(names.moduleFileName, " install.dll ");
}

TEST(SetupNames, MissingLinesLeaveTheirValuesEmpty) {
    Names names = Extract("1\r\nName\r\n3\r\n");
    EXPECT_STREQ(names.programName, "Name");
    EXPECT_STREQ(names.moduleFileName, "");

    names = Extract("");
    EXPECT_STREQ(names.programName, "");
    EXPECT_STREQ(names.moduleFileName, "");
}

TEST(SetupNames, LinesAfterTheFifthHaveNoEffect) {
    Names names = Extract("1\r2\r3\r4\r5\r6\r7\r");
    EXPECT_STREQ(names.programName, "2");
    EXPECT_STREQ(names.moduleFileName, "5");
}

// Lines 1, 3 and 4 are skipped without storage; an over-long one must not shift line 5.
TEST(SetupNames, OverlongLinesKeep255CharactersAndTheLineCountStays) {
    const std::string longName(300, 'n');
    const std::string longSkipped(1000, 's');
    Names names = Extract(longSkipped + "\r\n" + longName + "\r\n" + longSkipped + "\r\n3\r\n" + std::string(255, 'm'));
    EXPECT_EQ(std::string(names.programName), std::string(255, 'n'));
    EXPECT_EQ(std::string(names.moduleFileName), std::string(255, 'm'));
}

TEST(ReadSetupLine, ReportsHowEachLineEndedAndLeavesTheCursorOnItsLastByte) {
    const std::string text = "ab\r\ncd\r";
    const int32_t length = static_cast<int32_t>(text.size());
    int32_t position = -1;
    char line[kSetupLineSize];

    EXPECT_TRUE(ReadSetupLine(text.data(), length, position, line, sizeof line));
    EXPECT_STREQ(line, "ab");
    EXPECT_EQ(position, 3);  // on the LF

    EXPECT_TRUE(ReadSetupLine(text.data(), length, position, line, sizeof line));
    EXPECT_STREQ(line, "cd");
    EXPECT_EQ(position, 6);  // on the final CR; the LF test must not look past the text

    // A text ending with a line end yields one more, empty, line...
    std::strcpy(line, "untouched");
    EXPECT_FALSE(ReadSetupLine(text.data(), length, position, line, sizeof line));
    EXPECT_STREQ(line, "");
    // ...and every call after that leaves the destination alone.
    std::strcpy(line, "untouched");
    EXPECT_FALSE(ReadSetupLine(text.data(), length, position, line, sizeof line));
    EXPECT_STREQ(line, "untouched");
}

TEST(ReadSetupLine, DestinationBoundKeepsTheFirstCharactersAndConsumesTheRest) {
    const std::string text = "abcdefgh\rnext";
    int32_t position = -1;
    char small[4];
    EXPECT_TRUE(ReadSetupLine(text.data(), static_cast<int32_t>(text.size()), position, small, sizeof small));
    EXPECT_STREQ(small, "abc");
    char line[kSetupLineSize];
    EXPECT_FALSE(ReadSetupLine(text.data(), static_cast<int32_t>(text.size()), position, line, sizeof line));
    EXPECT_STREQ(line, "next");

    // Exactly 255 characters fit whole; 256 lose the last one.
    for (size_t n : {size_t{255}, size_t{256}}) {
        const std::string exact(n, 'a');
        position = -1;
        ReadSetupLine(exact.data(), static_cast<int32_t>(exact.size()), position, line, sizeof line);
        EXPECT_EQ(std::strlen(line), size_t{255}) << n;
    }
}

TEST(ReadSetupLine, NulInsideTheTextIsCopiedWithoutReadingPastTheLength) {
    const char text[] = {'a', '\0', 'b', '\r', 'c'};  // no terminating NUL in range
    int32_t position = -1;
    char line[kSetupLineSize];
    EXPECT_TRUE(ReadSetupLine(text, sizeof text, position, line, sizeof line));
    EXPECT_EQ(std::memcmp(line, "a\0b", 4), 0);
    EXPECT_FALSE(ReadSetupLine(text, sizeof text, position, line, sizeof line));
    EXPECT_STREQ(line, "c");
}

TEST(ReadSetupLine, InvalidCursorOrTextReadsNothing) {
    char line[kSetupLineSize] = "untouched";
    int32_t position = -5;
    EXPECT_FALSE(ReadSetupLine("abc", 3, position, line, sizeof line));
    position = -1;
    EXPECT_FALSE(ReadSetupLine(nullptr, 3, position, line, sizeof line));
    EXPECT_FALSE(ReadSetupLine("abc", -3, position, line, sizeof line));
    EXPECT_STREQ(line, "untouched");
}

// Line 5 is joined to the program folder: whatever could lead out of it is refused.
TEST(SafeModuleName, NamesInsideTheProgramFolderPassAndEveryWayOutIsRefused) {
    for (const char* name : {"install.dll", "modules\\install.dll", "mod/x.dll", "console.dll", "com10.dll",
                             "lpt10.dll", "x..dll", ".hidden.dll", "nul_free.dll", ""}) {
        EXPECT_TRUE(IsSafeModuleName(name)) << name;
    }
    for (const char* name : {"C:\\x.dll", "\\\\server\\x.dll", "\\x.dll", "/x.dll", "..\\..\\Users\\Public\\x.dll",
                             "a\\..\\x.dll", "a/../x.dll", "..", "... \\x.dll", ". .\\x.dll", "x.dll:stream", "CON", "nul.dll",
                             "modules\\COM1.dll", "Lpt9", "aux .txt", "CONOUT$", "com\xB9.dll", "mod\\prn\\x.dll",
                             "lpt0.dll"}) {
        EXPECT_FALSE(IsSafeModuleName(name)) << name;
    }
    EXPECT_FALSE(IsSafeModuleName(nullptr));
}

}  // namespace
}  // namespace engine
