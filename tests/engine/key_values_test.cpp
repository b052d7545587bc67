// Tests of the key=value line reader, the list builder and the lookups, over memory.
// Lists live in a KeyValueArena per test so the leak checker stays meaningful.
#include "engine/core/key_values.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace engine {
namespace {

class KeyValues : public ::testing::Test {
protected:
    KeyValueList Load(const std::string& text) {
        MemoryByteSource source(text.data(), text.size());
        return loadKeyValues(source, arena_);
    }
    KeyValueArena arena_;
};

std::vector<std::string> Keys(const KeyValueNode* list) {
    std::vector<std::string> keys;
    for (; list != nullptr; list = list->next) keys.push_back(list->entry->key);
    return keys;
}

TEST_F(KeyValues, KeyIsUpperCasedAndLookupsIgnoreCase) {
    KeyValueList list = Load("name=Value\r\n");
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(list->entry->key, "NAME");
    EXPECT_STREQ(list->entry->value, "Value");
    EXPECT_STREQ(list->entry->upperValue, "VALUE");
    for (const char* key : {"name", "Name", "NAME"}) {
        EXPECT_STREQ(getValue(list, key, false), "Value") << key;
        EXPECT_STREQ(getValue(list, key, true), "VALUE") << key;
    }
}

TEST_F(KeyValues, SplitsAtTheFirstEqualsAndTrimsNothing) {
    KeyValueList list = Load("path=a=b\r\nkey = v\r\nempty=\r\n");
    EXPECT_STREQ(getValue(list, "path", false), "a=b");
    EXPECT_STREQ(getValue(list, "key", false), "");
    EXPECT_STREQ(getValue(list, "key ", false), " v");
    EXPECT_STREQ(getValue(list, "KEY ", true), " V");
    EXPECT_EQ(Keys(list), (std::vector<std::string>{"PATH", "KEY ", "EMPTY"}));
}

TEST_F(KeyValues, OnlyAsciiLettersAreUpperCased) {
    KeyValueList list = Load("k\xe9y{z}=\xe9t\xe9{a}\r\n");
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(list->entry->key, "K\xe9Y{Z}");
    EXPECT_STREQ(list->entry->upperValue, "\xe9T\xe9{A}");  // 0xE9 stays, '{' is not '['
    EXPECT_STREQ(list->entry->value, "\xe9t\xe9{a}");
}

TEST_F(KeyValues, DuplicateKeysAreAllKeptAndTheFirstWins) {
    KeyValueList list = Load("a=first\r\nA=second\r\n");
    EXPECT_EQ(Keys(list).size(), size_t{2});
    EXPECT_STREQ(getValue(list, "a", false), "first");
    EXPECT_EQ(getIntValue(Load("n=1\r\nn=2\r\n"), "N"), 1);
}

TEST_F(KeyValues, MissingKeyOrNullListGivesEmptyStringNeverNull) {
    KeyValueList list = Load("a=1\r\n");
    const char* missing = getValue(list, "b", false);
    ASSERT_NE(missing, nullptr);
    EXPECT_STREQ(missing, "");
    ASSERT_NE(getValue(nullptr, "a", true), nullptr);
    EXPECT_STREQ(getValue(nullptr, "a", true), "");
    EXPECT_STREQ(getValue(list, nullptr, false), "");
    EXPECT_EQ(getIntValue(list, "b"), 0);
    EXPECT_EQ(getIntValue(nullptr, "a"), 0);
}

TEST_F(KeyValues, BareLineFeedLosesTheFirstCharacterOfTheNextLine) {
    KeyValueList list = Load("a=1\nb=2");
    EXPECT_EQ(Keys(list), (std::vector<std::string>{"A", ""}));
    EXPECT_STREQ(getValue(list, "a", false), "1");
    EXPECT_STREQ(getValue(list, "", false), "2");
    EXPECT_STREQ(getValue(list, "b", false), "");
}

TEST_F(KeyValues, LinesWithoutEqualsAreSkipped) {
    KeyValueList list = Load("[section]\r\n\r\nk=v\r\ncomment\r\n");
    EXPECT_EQ(Keys(list), (std::vector<std::string>{"K"}));
    // Not even the empty last line a trailing line end always yields: no junk "" entry.
    EXPECT_STREQ(getValue(list, "", false), "");
    // Input with no key=value line at all gives no list, as an unopened file does.
    EXPECT_EQ(Load(""), nullptr);
    EXPECT_EQ(Load("\r\n\r\nno equals here\r\n"), nullptr);
}

TEST_F(KeyValues, NulReadFromTheFileEndsTheLineText) {
    const std::string text("ab\0=x\r\nc=d\0tail\r\n", 17);
    KeyValueList list = Load(text);
    EXPECT_EQ(Keys(list), (std::vector<std::string>{"C"}));
    EXPECT_STREQ(getValue(list, "c", false), "d");
}

TEST_F(KeyValues, ListIsDoublyLinkedInFileOrderWithTailInTheHead) {
    KeyValueList list = Load("a=1\r\nb=2\r\nc=3\r\n");
    ASSERT_EQ(Keys(list), (std::vector<std::string>{"A", "B", "C"}));
    const KeyValueNode* second = list->next;
    const KeyValueNode* third = second->next;
    EXPECT_EQ(list->prev, nullptr);
    EXPECT_EQ(list->tail, third);
    EXPECT_EQ(second->prev, list);
    EXPECT_EQ(second->tail, second);
    EXPECT_EQ(third->prev, second);
    EXPECT_EQ(third->tail, third);
    EXPECT_EQ(third->next, nullptr);

    KeyValueList single = Load("only=1");
    EXPECT_EQ(single->tail, single);
}

TEST_F(KeyValues, OverlongLinesKeep255CharactersAndTheNextLineStaysIntact) {
    const std::string value(400, 'v');
    KeyValueList list = Load("k=" + value + "\r\nnext=1\r\n");
    ASSERT_EQ(Keys(list), (std::vector<std::string>{"K", "NEXT"}));
    EXPECT_EQ(std::string(getValue(list, "k", false)), std::string(253, 'v'));  // 255 - "k="

    // A 255-character key before "=" leaves the "=" beyond the kept part: no entry.
    EXPECT_EQ(Keys(Load(std::string(255, 'k') + "=1\r\nnext=1\r\n")), (std::vector<std::string>{"NEXT"}));
}

TEST_F(KeyValues, LookupKeyLongerThan127CharactersMatchesNothing) {
    const std::string key127(127, 'k');
    const std::string key128(128, 'k');
    KeyValueList list = Load(key128 + "=long\r\n" + key127 + "=fits\r\n");
    EXPECT_STREQ(getValue(list, key127.c_str(), false), "fits");
    EXPECT_STREQ(getValue(list, key128.c_str(), false), "");  // not cut to 127 and matched
    EXPECT_STREQ(getValue(list, std::string(5000, 'k').c_str(), false), "");
}

// Regression: the 128-byte work buffer must bound the read of the caller's key too.
TEST_F(KeyValues, LookupKeyWithoutNulInFirst128BytesIsNotReadFurther) {
    KeyValueList list = Load("a=1\r\n");
    std::unique_ptr<char[]> exact(new char[kLookupKeySize]);
    std::memset(exact.get(), 'a', kLookupKeySize);  // no NUL anywhere: ASan flags any over-read
    EXPECT_STREQ(getValue(list, exact.get(), false), "");
}

TEST_F(KeyValues, IntValueFollowsAtoi) {
    KeyValueList list = Load("a=12abc\r\nb= -5\r\nc=x\r\nd=+7\r\ne=\t\v 42\r\nf=-\r\ng=0x10\r\n");
    EXPECT_EQ(getIntValue(list, "a"), 12);
    EXPECT_EQ(getIntValue(list, "b"), -5);
    EXPECT_EQ(getIntValue(list, "c"), 0);
    EXPECT_EQ(getIntValue(list, "d"), 7);
    EXPECT_EQ(getIntValue(list, "e"), 42);
    EXPECT_EQ(getIntValue(list, "f"), 0);
    EXPECT_EQ(getIntValue(list, "g"), 0);
}

// Regression: atoi has undefined behaviour past the int range; values must saturate.
TEST_F(KeyValues, IntValueOutOfRangeSaturatesWithoutOverflow) {
    KeyValueList list = Load("max=2147483647\r\nmin=-2147483648\r\nbig=2147483648\r\n"
                             "huge=99999999999999999999999\r\nlow=-2147483649\r\n");
    EXPECT_EQ(getIntValue(list, "max"), INT32_MAX);
    EXPECT_EQ(getIntValue(list, "min"), INT32_MIN);
    EXPECT_EQ(getIntValue(list, "big"), INT32_MAX);
    EXPECT_EQ(getIntValue(list, "huge"), INT32_MAX);
    EXPECT_EQ(getIntValue(list, "low"), INT32_MIN);
}

class FailingAllocator final : public KeyValueAllocator {
public:
    explicit FailingAllocator(int allowed) : allowed_(allowed) {}
    void* allocate(size_t size) override { return allowed_-- > 0 ? arena_.allocate(size) : nullptr; }

private:
    int allowed_;
    KeyValueArena arena_;
};

// Regression: running out of memory half way must not pass for a complete, shorter list.
TEST(KeyValuesAllocation, AllocationFailureGivesNullNotAPartialList) {
    const std::string text = "a=1\r\nb=2\r\nc=3\r\n";
    MemoryByteSource source(text.data(), text.size());
    FailingAllocator allocator(2);
    EXPECT_EQ(loadKeyValues(source, allocator), nullptr);
}

TEST(ReadLine, ReportsLineEndsAndEndOfInput) {
    const std::string text = "one\r\n\r\nlast";
    MemoryByteSource source(text.data(), text.size());
    char line[kKeyValueLineSize];
    EXPECT_TRUE(readLine(source, line));
    EXPECT_STREQ(line, "one");
    EXPECT_TRUE(readLine(source, line));
    EXPECT_STREQ(line, "");
    EXPECT_FALSE(readLine(source, line));
    EXPECT_STREQ(line, "last");
    EXPECT_FALSE(readLine(source, line));
    EXPECT_STREQ(line, "");
}

TEST(ReadLine, ByteAfterAnyLineEndIsDroppedEvenWhenMissingOrALineEnd) {
    const std::string text = "a\rXb\n\nc\r";
    MemoryByteSource source(text.data(), text.size());
    char line[kKeyValueLineSize];
    EXPECT_TRUE(readLine(source, line));
    EXPECT_STREQ(line, "a");
    EXPECT_TRUE(readLine(source, line));  // 'X' was dropped
    EXPECT_STREQ(line, "b");              // the second LF was dropped as well
    EXPECT_TRUE(readLine(source, line));  // CR as the last byte: the drop finds nothing
    EXPECT_STREQ(line, "c");
    EXPECT_FALSE(readLine(source, line));
    EXPECT_STREQ(line, "");
}

TEST(ReadLine, OverlongLineKeeps255BytesAndConsumesTheRest) {
    const std::string text = std::string(300, 'x') + "\r\nnext";
    MemoryByteSource source(text.data(), text.size());
    char line[kKeyValueLineSize];
    EXPECT_TRUE(readLine(source, line));
    EXPECT_EQ(std::string(line), std::string(255, 'x'));
    EXPECT_FALSE(readLine(source, line));
    EXPECT_STREQ(line, "next");
}

}  // namespace
}  // namespace engine
