// Tests of the install module's file services through their real Win32 signatures:
// handles, file names, share modes and the 32-bit boolean conventions.
#include "engine/win32/host_services.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/core/key_values.h"
#include "test_support.h"

namespace engine::win32 {
namespace {

using engine_test::ScratchDirectory;
using engine_test::WriteBytes;

class HostServices : public ::testing::Test {
protected:
    HANDLE OpenForReading(const std::string& name, const std::string& bytes) {
        const std::string path = scratch_.file(name);
        EXPECT_TRUE(WriteBytes(path, bytes));
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(file, INVALID_HANDLE_VALUE);
        opened_.push_back(file);
        return file;
    }
    ~HostServices() override {
        for (HANDLE file : opened_) CloseHandle(file);
    }
    ScratchDirectory scratch_;
    std::vector<HANDLE> opened_;
};

TEST_F(HostServices, ReadLineReturnsEachLineAndHowItEnded) {
    HANDLE file = OpenForReading("lines.txt", "one\r\n\r\nlast\r");
    char line[256];
    EXPECT_EQ(readLine(file, line), 1u);
    EXPECT_STREQ(line, "one");
    EXPECT_EQ(readLine(file, line), 1u);
    EXPECT_STREQ(line, "");
    EXPECT_EQ(readLine(file, line), 1u);  // CR as the very last byte
    EXPECT_STREQ(line, "last");
    EXPECT_EQ(readLine(file, line), 0u);
    EXPECT_STREQ(line, "");

    HANDLE unterminated = OpenForReading("tail.txt", "tail");
    EXPECT_EQ(readLine(unterminated, line), 0u);
    EXPECT_STREQ(line, "tail");
}

// The module owns the handle and may read on by itself after our line.
TEST_F(HostServices, ReadLineNeverReadsAheadOfTheLine) {
    HANDLE file = OpenForReading("mixed.txt", "ab\r\ncd");
    char line[256];
    ASSERT_EQ(readLine(file, line), 1u);
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 4u);
}

TEST_F(HostServices, ReadLineOnAnInvalidHandleGivesAnEmptyLineAndFalse) {
    char line[256] = "stale";
    EXPECT_EQ(readLine(INVALID_HANDLE_VALUE, line), 0u);
    EXPECT_STREQ(line, "");
    EXPECT_EQ(readLine(INVALID_HANDLE_VALUE, nullptr), 0u);
}

TEST_F(HostServices, ReadLineKeeps255BytesOfALongerLine) {
    HANDLE file = OpenForReading("long.txt", std::string(600, 'x') + "\r\nnext\r\n");
    char line[256 + 16];
    memset(line, '#', sizeof line);
    EXPECT_EQ(readLine(file, line), 1u);
    EXPECT_EQ(std::string(line), std::string(255, 'x'));
    EXPECT_EQ(line[256], '#') << "wrote past the 256 bytes the module provides";
    EXPECT_EQ(readLine(file, line), 1u);
    EXPECT_STREQ(line, "next");
}

TEST_F(HostServices, LoadKeyValuesReadsTheNamedFile) {
    const std::string path = scratch_.file("values.ini");
    ASSERT_TRUE(WriteBytes(path, "name=Value\r\ncount= -5\r\n"));
    KeyValueList list = loadKeyValues(path.c_str());
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(getValue(list, "NAME", 0), "Value");
    EXPECT_STREQ(getValue(list, "name", 1), "VALUE");
    EXPECT_EQ(getIntValue(list, "Count"), -5);
}

TEST_F(HostServices, UnopenableFilesGiveANullListThatLooksEmpty) {
    EXPECT_EQ(loadKeyValues(scratch_.file("absent.ini").c_str()), nullptr);
    EXPECT_EQ(loadKeyValues(nullptr), nullptr);

    // Held open elsewhere, even only for shared reading: we open without sharing.
    const std::string path = scratch_.file("held.ini");
    ASSERT_TRUE(WriteBytes(path, "a=1\r\n"));
    HANDLE holder = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    KeyValueList list = loadKeyValues(path.c_str());
    CloseHandle(holder);
    EXPECT_EQ(list, nullptr);
    EXPECT_STREQ(getValue(list, "a", 0), "");
    EXPECT_EQ(getIntValue(list, "a"), 0);
}

// Regression: only the low 8 bits of a boolean argument count.
TEST_F(HostServices, UpperFlagReadsOnlyItsLowByte) {
    const std::string path = scratch_.file("flag.ini");
    ASSERT_TRUE(WriteBytes(path, "k=MiXed\r\n"));
    KeyValueList list = loadKeyValues(path.c_str());
    EXPECT_STREQ(getValue(list, "k", 0x100), "MiXed");
    EXPECT_STREQ(getValue(list, "k", 0x101), "MIXED");
    EXPECT_STREQ(getValue(list, "k", 0xFFFFFF00u), "MiXed");
}

// The file is read in blocks; lines and the dropped byte after each line end must
// come out exactly as a byte-at-a-time reading of the same bytes gives them.
TEST_F(HostServices, BlockReadingMatchesByteReadingAcrossBlockBoundaries) {
    std::string bytes;
    const char* ends[] = {"\r\n", "\r", "\n", "\r\r", "\n\n"};
    for (int i = 0; bytes.size() < 20000; ++i) {
        bytes += "key" + std::to_string(i) + "=" + std::string(i % 41, 'v') + ends[i % 5];
    }
    const std::string path = scratch_.file("big.ini");
    ASSERT_TRUE(WriteBytes(path, bytes));
    KeyValueList fromFile = loadKeyValues(path.c_str());

    KeyValueArena arena;
    MemoryByteSource source(bytes.data(), bytes.size());
    KeyValueList fromMemory = engine::loadKeyValues(source, arena);
    int count = 0;
    for (; fromFile != nullptr && fromMemory != nullptr; fromFile = fromFile->next, fromMemory = fromMemory->next) {
        ASSERT_STREQ(fromFile->entry->key, fromMemory->entry->key) << count;
        ASSERT_STREQ(fromFile->entry->value, fromMemory->entry->value) << count;
        ++count;
    }
    EXPECT_EQ(fromFile, nullptr);
    EXPECT_EQ(fromMemory, nullptr);
    EXPECT_GT(count, 400);
}

TEST(HostServiceBlock, SetFileServicesFillsTheFourFileServices) {
    InstallHostInterface host = {};
    SetFileServices(host);
    EXPECT_EQ(host.readLine, &readLine);
    EXPECT_EQ(host.loadKeyValues, &loadKeyValues);
    EXPECT_EQ(host.getValue, &getValue);
    EXPECT_EQ(host.getIntValue, &getIntValue);
    EXPECT_STREQ(host.getValue(nullptr, "x", 1), "");
    EXPECT_EQ(host.printText, nullptr) << "console services belong to the module host, not here";
}

}  // namespace
}  // namespace engine::win32
