// End-to-end test of a single-file installer built by kelvane_add_installer (the sample
// installer), clicked through under Wine: its texts come from its own resources even
// with other files in the current directory, the payload is installed byte for byte,
// the process ends with 512 and the log holds the whole run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/engine_win32/test_support.h"
#include "tests/modtest_win32/run_support.h"
#include "tools/demo_driver/installer_walk.h"

namespace {

using modtest_test::BinDirectory;

const char kSetupIni[] = "[setup]\r\nKelvane Sample\r\n1.0\r\nsample\r\nsample_install_module.dll\r\n";
const char* const kPayload[] = {"readme.txt", "licence.txt", "greeting.txt", "colours.dat", "changes.txt"};

// The bytes of RCDATA id in program, or "(none)" when it carries no such resource.
std::string ResourceOf(const std::string& program, int id) {
    HMODULE image = LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (image == nullptr) return "(cannot open " + program + ")";
    std::string bytes = "(none)";
    if (HRSRC found = FindResourceA(image, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10))) {
        HGLOBAL loaded = LoadResource(image, found);
        const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
        if (data != nullptr) bytes.assign(static_cast<const char*>(data), SizeofResource(image, found));
    }
    FreeLibrary(image);
    return bytes;
}

TEST(SingleFileInstaller, CarriesTheThreeTextsThatThePlainProgramLacks) {
    const std::string installer = BinDirectory() + "kelvane-sample\\kelvane-sample.exe";
    EXPECT_EQ(ResourceOf(installer, 455), kSetupIni);
    EXPECT_EQ(ResourceOf(installer, 456).rfind("{\\rtf1", 0), 0u);
    EXPECT_NE(ResourceOf(installer, 456).find("licence agreement"), std::string::npos);
    EXPECT_NE(ResourceOf(installer, 457).find("Health warning"), std::string::npos);
    for (int id : {455, 456, 457}) EXPECT_EQ(ResourceOf(BinDirectory() + "kelvane.exe", id), "(none)") << id;
}

class SingleFileInstallerRun : public ::testing::Test {
protected:
    SingleFileInstallerRun()
        : folder_(scratch_.folder("installer")),
          decoys_(scratch_.folder("current")),
          temp_(scratch_.folder("temp")),
          tempOverride_(temp_),
          target_(scratch_.file("target")) {}

    // The installer's folder as it ships: the program, the module, install.cfg (aimed
    // at the scratch target) and the payload; no setup.ini and no documents.
    void Ship() {
        const std::string built = BinDirectory() + "kelvane-sample\\";
        for (const char* name : {"kelvane-sample.exe", "sample_install_module.dll"}) {
            ASSERT_TRUE(CopyFileA((built + name).c_str(), (folder_ + "\\" + name).c_str(), FALSE)) << name;
        }
        std::string config = "TARGET=" + target_ + "\r\nREQUIRED_MB=1\r\n";
        for (size_t i = 0; i < sizeof kPayload / sizeof kPayload[0]; ++i) {
            ASSERT_TRUE(CopyFileA((built + kPayload[i]).c_str(), (folder_ + "\\" + kPayload[i]).c_str(), FALSE));
            config += "FILE" + std::to_string(i + 1) + "=" + kPayload[i] + "\r\n";
        }
        ASSERT_TRUE(engine_test::WriteBytes(folder_ + "\\install.cfg", config));
        // Files that a program without resources would read from its current directory.
        ASSERT_TRUE(engine_test::WriteBytes(decoys_ + "\\setup.ini", "[x]\r\nDecoy\r\n3\r\n4\r\ndecoy.dll\r\n"));
        ASSERT_TRUE(engine_test::WriteBytes(decoys_ + "\\setup.rtf", "{\\rtf1 decoy licence}"));
        ASSERT_TRUE(engine_test::WriteBytes(decoys_ + "\\epileptic.rtf", "{\\rtf1 decoy warning}"));
    }

    std::vector<std::string> LogTexts() const {
        std::vector<std::string> texts;
        const std::string log = engine_test::ReadBytes(temp_ + "\\setup-internet-gui.log");
        for (size_t start = 0; start < log.size();) {
            size_t end = log.find("\r\n", start);
            if (end == std::string::npos) end = log.size();
            const std::string record = log.substr(start, end - start);
            EXPECT_TRUE(engine_test::IsRecordOf(record, record.size() >= 22 ? record.substr(22) : "")) << record;
            texts.push_back(record.size() >= 22 ? record.substr(22) : record);
            start = end + 2;
        }
        return texts;
    }

    engine_test::ScratchDirectory scratch_;
    std::string folder_;
    std::string decoys_;
    std::string temp_;
    engine_test::TempDirectoryOverride tempOverride_;
    std::string target_;
};

TEST_F(SingleFileInstallerRun, InstallsFromItsOwnTextsAndEndsWith512) {
    Ship();
    demo::WalkOptions options;
    options.installer = folder_ + "\\kelvane-sample.exe";
    options.workingDirectory = decoys_;
    const demo::WalkResult walk = demo::WalkInstaller(options);
    ASSERT_TRUE(walk.completed) << walk.failure;
    EXPECT_EQ(walk.exitCode, 512u);

    // No "Ini taked" or "rtf taked": the only boxes are the two at the end.
    ASSERT_EQ(walk.boxes.size(), 2u);
    EXPECT_EQ(walk.boxes[0].caption, "kelvane-sample");
    EXPECT_EQ(walk.boxes[0].text, "Installation finished.");
    EXPECT_EQ(walk.boxes[1].caption, "Log");
    EXPECT_EQ(walk.boxes[1].text, "View Log install");
    EXPECT_EQ(walk.pagesCaption.rfind("Installation of program Kelvane Sample Build ", 0), 0u) << walk.pagesCaption;
    EXPECT_EQ(walk.mainCaption, "Local installation scenario Kelvane Sample Pelbrix");
    EXPECT_NE(walk.warningPage.find("Health warning"), std::string::npos) << walk.warningPage;
    EXPECT_NE(walk.licencePage.find("Kelvane Sample - licence agreement"), std::string::npos) << walk.licencePage;

    size_t payloadBytes = 0;
    for (const char* name : kPayload) {
        const std::string shipped = engine_test::ReadBytes(folder_ + "\\" + name);
        EXPECT_EQ(engine_test::ReadBytes(target_ + "\\" + name), shipped) << name;
        payloadBytes += shipped.size();
    }
    EXPECT_TRUE(modtest_test::Exists(target_ + "\\uninstall.lst"));

    const std::vector<std::string> texts = LogTexts();
    ASSERT_GE(texts.size(), 4u);
    EXPECT_EQ(texts[0], "Running setup installation");
    EXPECT_EQ(texts[1], "Welcome in installation program\nClick Start button for starting install ...");
    EXPECT_EQ(texts[2], "\n");  // the sample module begins on a line of its own
    EXPECT_EQ(texts[3], "Sample install module for Kelvane Sample");
    const std::string installed =
        "Installed 5 file(s), " + std::to_string(payloadBytes) + " bytes, into " + target_;
    bool sawInstalled = false;
    for (const std::string& text : texts) sawInstalled = sawInstalled || text == installed;
    EXPECT_TRUE(sawInstalled) << installed;
    EXPECT_EQ(texts.back(), "Installation finished.");
}

}  // namespace
