// Tests of answers-file line splitting: every kind of line end, empty answers, the mark.
#include "engine/core/answer_lines.h"

#include <gtest/gtest.h>

namespace engine {
namespace {

std::vector<std::string> Split(const std::string& bytes) { return SplitAnswerLines(bytes.data(), bytes.size()); }

TEST(AnswerLines, EveryLineEndCountsOnceAndEmptyLinesAreAnswers) {
    using Lines = std::vector<std::string>;
    EXPECT_EQ(Split(""), Lines{});
    EXPECT_EQ(Split("one"), Lines{"one"});
    EXPECT_EQ(Split("one\r\ntwo\nthree\rfour\r\n"), (Lines{"one", "two", "three", "four"}));
    EXPECT_EQ(Split("\r\n\r\nx"), (Lines{"", "", "x"}));  // an empty answer is an answer
    EXPECT_EQ(Split("\xEF\xBB\xBFwith mark\n"), Lines{"with mark"});
    EXPECT_EQ(Split(std::string("a\0b\n", 4)), Lines{std::string("a\0b", 3)});
    EXPECT_EQ(SplitAnswerLines(nullptr, 5), Lines{});
}

}  // namespace
}  // namespace engine
