// Tests of the texts carried as RT_RCDATA 455-457 by this test program: resources win
// over files, no warning appears, and a text ends at its size or its first NUL.
#include "engine/win32/setup_description.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace engine::win32 {
namespace {

class ResourceTexts : public ::testing::Test {
protected:
    ResourceTexts() : current_(scratch_.path()) {
        // Files that must lose against the resources.
        engine_test::WriteBytes("setup.ini", "file\r\nFile Program\r\n3\r\n4\r\nfile.dll\r\n");
        engine_test::WriteBytes("setup.rtf", "file licence");
        engine_test::WriteBytes("epileptic.rtf", "file warning");
    }
    engine_test::ScratchDirectory scratch_;
    engine_test::CurrentDirectoryOverride current_;
    engine_test::BoxRecorder boxes_;
};

TEST_F(ResourceTexts, ResourcesComeFirstWithoutAnyWarning) {
    ASSERT_TRUE(LoadSetupDescription());
    EXPECT_STREQ(g_programName, "Resource Program");
    EXPECT_STREQ(g_moduleFileName, "resource.dll");
    EXPECT_NE(LoadLicenceDocument(nullptr), nullptr);
    EXPECT_NE(LoadWarningDocument(nullptr), nullptr);
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(ResourceTexts, ResourceWithoutNulYieldsExactlyItsBytes) {
    uint32_t length = 0;
    const char* text = LoadWarningDocument(&length);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(length, 15u);
    EXPECT_EQ(std::string(text, length + 1), std::string("{\\rtf1 warning}\0", 16));
}

TEST_F(ResourceTexts, ResourceWithNulEndsAtIt) {
    uint32_t length = 0;
    const char* text = LoadLicenceDocument(&length);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(length, 15u);
    EXPECT_STREQ(text, "{\\rtf1 licence}");
}

TEST_F(ResourceTexts, EachLoadGivesItsOwnKeptCopy) {
    char* first = LoadLicenceDocument(nullptr);
    char* second = LoadLicenceDocument(nullptr);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    first[0] = '!';  // resource memory is read-only; the copy must be writable and apart
    EXPECT_EQ(second[0], '{');
}

}  // namespace
}  // namespace engine::win32
