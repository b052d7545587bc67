// Tests of the setup description and documents in a program without resources: the
// warning boxes, the fall-back files in the current directory and their share modes.
#include "engine/win32/setup_description.h"

#include <gtest/gtest.h>
#include <winioctl.h>

#include <cstdio>
#include <memory>
#include <string>

#include "engine/win32/message_box.h"
#include "test_support.h"

namespace engine::win32 {
namespace {

using engine_test::BoxRecorder;
using engine_test::CurrentDirectoryOverride;
using engine_test::ScratchDirectory;
using engine_test::WriteBytes;

class SetupFiles : public ::testing::Test {
protected:
    SetupFiles() : current_(scratch_.path()) {}
    ScratchDirectory scratch_;
    CurrentDirectoryOverride current_;
    BoxRecorder boxes_;
};

TEST_F(SetupFiles, WithoutResourcesEachTextWarnsThenComesFromTheCurrentDirectory) {
    ASSERT_TRUE(WriteBytes("setup.rtf", "{\\rtf1 licence}"));
    ASSERT_TRUE(WriteBytes("epileptic.rtf", "{\\rtf1 warning}"));
    const std::string ini = "[setup]\r\nMy Program\r\n\r\n\r\n install.dll\r\nignored\r\n";
    ASSERT_TRUE(WriteBytes("setup.ini", ini));

    uint32_t licenceLength = 99, warningLength = 99;
    char* licence = LoadLicenceDocument(&licenceLength);
    char* warning = LoadWarningDocument(&warningLength);
    ASSERT_TRUE(LoadSetupDescription());

    ASSERT_NE(licence, nullptr);
    EXPECT_STREQ(licence, "{\\rtf1 licence}");
    EXPECT_EQ(licenceLength, 15u);
    ASSERT_NE(warning, nullptr);
    EXPECT_STREQ(warning, "{\\rtf1 warning}");
    EXPECT_EQ(warningLength, 15u);
    EXPECT_STREQ(g_programName, "My Program");
    EXPECT_STREQ(g_moduleFileName, " install.dll");
    ASSERT_NE(g_setupText, nullptr);
    EXPECT_EQ(g_setupTextLength, ini.size());
    EXPECT_EQ(std::string(g_setupText), ini);

    const std::vector<engine_test::RecordedBox> boxes = boxes_.boxes();
    ASSERT_EQ(boxes.size(), size_t{3});
    const char* expected[] = {"rtf taked", "rtf epilec taked", "Ini taked"};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(boxes[i].text, expected[i]);
        EXPECT_EQ(boxes[i].owner, nullptr);
        EXPECT_FALSE(boxes[i].hasCaption);
        EXPECT_EQ(boxes[i].style, UINT{0x1030});
    }
}

TEST_F(SetupFiles, FileTextEndsAtItsFirstNul) {
    ASSERT_TRUE(WriteBytes("setup.rtf", std::string("{\\rtf1 a}\0hidden", 16)));
    uint32_t length = 0;
    char* text = LoadLicenceDocument(&length);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(length, 9u);
    EXPECT_STREQ(text, "{\\rtf1 a}");

    ASSERT_TRUE(WriteBytes("epileptic.rtf", ""));
    text = LoadWarningDocument(&length);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(length, 0u);
}

TEST_F(SetupFiles, MissingFileGivesNoTextAfterTheWarning) {
    uint32_t length = 7;
    EXPECT_EQ(LoadLicenceDocument(&length), nullptr);
    EXPECT_EQ(length, 0u);
    ASSERT_EQ(boxes_.boxes().size(), size_t{1});
}

TEST_F(SetupFiles, SetupIniIsSharedForReadingWhileTheDocumentsAreExclusive) {
    ASSERT_TRUE(WriteBytes("setup.ini", "1\r\n2\r\n"));
    ASSERT_TRUE(WriteBytes("setup.rtf", "{\\rtf1}"));
    HANDLE iniReader = CreateFileA("setup.ini", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE rtfReader = CreateFileA("setup.rtf", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(iniReader, INVALID_HANDLE_VALUE);
    ASSERT_NE(rtfReader, INVALID_HANDLE_VALUE);
    EXPECT_NE(LoadSetupIniText(nullptr), nullptr);
    EXPECT_EQ(LoadLicenceDocument(nullptr), nullptr);
    CloseHandle(iniReader);
    CloseHandle(rtfReader);

    // A writer elsewhere keeps even setup.ini from us: we do not share writing.
    HANDLE iniWriter = CreateFileA("setup.ini", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(iniWriter, INVALID_HANDLE_VALUE);
    EXPECT_EQ(LoadSetupIniText(nullptr), nullptr);
    CloseHandle(iniWriter);
}

// Regression: a size taken from the low 32 bits alone would read 10 bytes of a
// 4 GiB + 10 file and pass them off as the whole text.
TEST_F(SetupFiles, FileBeyondTheTextLimitIsRefusedNotReadByItsLowSizeBits) {
    HANDLE file = CreateFileA("setup.rtf", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size;
    size.QuadPart = (1LL << 32) + 10;
    DWORD ignored = 0;
    DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    const bool grown = SetFilePointerEx(file, size, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    if (!grown) {
        ASSERT_FALSE(engine_test::IsWine()) << "the Unix file systems under Wine make sparse files: this test must run here";
        GTEST_SKIP() << "cannot make a sparse 4 GiB file here";
    }
    uint32_t length = 5;
    EXPECT_EQ(LoadLicenceDocument(&length), nullptr);
    EXPECT_EQ(length, 0u);
}

TEST_F(SetupFiles, MissingSetupLinesLeaveTheNamesEmpty) {
    ASSERT_TRUE(WriteBytes("setup.ini", "one\ntwo\nthree\nfour\nfive\n"));  // bare LF: one line
    ASSERT_TRUE(LoadSetupDescription());
    EXPECT_STREQ(g_programName, "");
    EXPECT_STREQ(g_moduleFileName, "");
}

int WINAPI PrintBoxToStderr(HWND, LPCSTR text, LPCSTR caption, UINT style) {
    fprintf(stderr, "box[%s|%s|%#x]\n", text, caption == nullptr ? "(default)" : caption, style);
    fflush(stderr);
    return IDOK;
}

TEST(SetupDescriptionDeathTest, MissingSetupDescriptionShowsTheErrorAndExitsWithMinusOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The child re-runs this body and exits mid-way, so it must not make (and leave
    // behind) a directory of its own: it inherits the parent's through the environment.
    const char kVariable[] = "KV_ENGINE_DEATH_TEST_DIR";
    char inherited[MAX_PATH + 1];
    const DWORD inheritedLength = GetEnvironmentVariableA(kVariable, inherited, sizeof inherited);
    std::unique_ptr<ScratchDirectory> own;
    std::string directory;
    if (inheritedLength > 0 && inheritedLength < sizeof inherited) {
        directory = inherited;
    } else {
        own = std::make_unique<ScratchDirectory>();
        directory = own->path();
        SetEnvironmentVariableA(kVariable, directory.c_str());
    }
    CurrentDirectoryOverride current(directory);
    // Set in the child too: the threadsafe style re-runs this test body there.
    g_messageBox = PrintBoxToStderr;
    EXPECT_EXIT(LoadSetupDescription(), ::testing::ExitedWithCode(-1),
                "box\\[Ini taked\\|\\(default\\)\\|0x1030\\]\n"
                "box\\[Failure loading header\\|\\(default\\)\\|0x1010\\]");
    g_messageBox = MessageBoxA;
    SetEnvironmentVariableA(kVariable, nullptr);
}

}  // namespace
}  // namespace engine::win32
