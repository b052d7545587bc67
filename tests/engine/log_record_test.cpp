// Tests of log record bytes and the log path: format, bounds, and that nothing is cut.
#include "engine/core/log_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace engine {
namespace {

const LogTime kSample{2026, 12, 5, 17, 3, 9};  // 5 December 2026, 17:03:09

std::string Record(const LogTime& time, const char* text) {
    const size_t textLength = text == nullptr ? 0 : std::strlen(text);
    std::string out(LogRecordSize(textLength), '\0');
    out.resize(BuildLogRecord(time, text, textLength, &out[0], out.size()));
    return out;
}

TEST(LogRecord, PrefixIsDayMonthYearTimeIn22Characters) {
    char prefix[kLogPrefixMax];
    const size_t length = FormatLogPrefix(kSample, prefix);
    EXPECT_EQ(std::string(prefix, length), "(05/12/2026 17:03:09) ");
    EXPECT_EQ(length, size_t{22});
    EXPECT_EQ(Record(LogTime{987, 1, 1, 0, 0, 0}, ""), std::string("(01/01/0987 00:00:00) \r\n"));
}

TEST(LogRecord, TextIsKeptUnchangedAndOnlyTheRecordEndCarriesCrLf) {
    EXPECT_EQ(Record(kSample, "Running setup installation"), "(05/12/2026 17:03:09) Running setup installation\r\n");
    EXPECT_EQ(Record(kSample, "Welcome\nsecond line"), "(05/12/2026 17:03:09) Welcome\nsecond line\r\n");
    EXPECT_EQ(Record(kSample, "\n"), "(05/12/2026 17:03:09) \n\r\n");
    EXPECT_EQ(Record(kSample, ""), "(05/12/2026 17:03:09) \r\n");
    EXPECT_EQ(Record(kSample, nullptr), "(05/12/2026 17:03:09) \r\n");
    EXPECT_EQ(Record(kSample, "tab\tcr\rend"), "(05/12/2026 17:03:09) tab\tcr\rend\r\n");
}

TEST(LogRecord, WideFieldsWidenThePrefixInsteadOfBeingCut) {
    EXPECT_EQ(Record(LogTime{30827, 12, 31, 23, 59, 59}, "x"), "(31/12/30827 23:59:59) x\r\n");
    const LogTime widest{65535, 65535, 65535, 65535, 65535, 65535};
    char prefix[kLogPrefixMax];
    EXPECT_EQ(FormatLogPrefix(widest, prefix), kLogPrefixMax);
}

TEST(LogRecord, TooSmallCapacityWritesNothingRatherThanAPartRecord) {
    const std::string expected = "(05/12/2026 17:03:09) abc\r\n";
    char out[64];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(BuildLogRecord(kSample, "abc", 3, out, expected.size()), expected.size());
    EXPECT_EQ(std::string(out, expected.size()), expected);

    std::memset(out, '#', sizeof out);
    EXPECT_EQ(BuildLogRecord(kSample, "abc", 3, out, expected.size() - 1), size_t{0});
    EXPECT_EQ(out[0], '#');
    EXPECT_EQ(LogRecordSize(SIZE_MAX - 10), size_t{0});
}

TEST(LogPath, DoubleBackslashIsKeptAndTheWholeMustFit259Characters) {
    char path[kLogPathSize];
    ASSERT_TRUE(ComposeLogPath("C:\\Temp\\", 8, path));
    EXPECT_STREQ(path, "C:\\Temp\\\\setup-internet-gui.log");

    const size_t room = kLogPathSize - 1 - (sizeof kLogFileName - 1);  // 236
    const std::string fits = "C:\\" + std::string(room - 4, 'd') + "\\";
    ASSERT_EQ(fits.size(), room);
    ASSERT_TRUE(ComposeLogPath(fits.data(), fits.size(), path));
    EXPECT_EQ(std::strlen(path), size_t{259});

    const std::string tooLong = "C:\\" + std::string(room - 3, 'd') + "\\";
    std::strcpy(path, "stale");
    EXPECT_FALSE(ComposeLogPath(tooLong.data(), tooLong.size(), path));
    EXPECT_STREQ(path, "");  // never a shortened path pointing elsewhere
    EXPECT_FALSE(ComposeLogPath("", 0, path));  // would name the root of the current drive
}

}  // namespace
}  // namespace engine
