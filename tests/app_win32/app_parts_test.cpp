// In-process tests of the front-end's parts that need no running dialog: the document
// stream callbacks, the caption texts with their bounds, the log viewer's refusals, the
// module's outcome and the exit codes it makes, the restart's seam, the unpacking account.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "app/captions.h"
#include "app/document_stream.h"
#include "app/log_viewer.h"
#include "engine/win32/payload_api.h"
#include "engine/win32/run_mode.h"
#include "engine/win32/setup_description.h"
#include "engine/win32/unpack_location.h"

using namespace app;

TEST(DocumentStream, ShortDocumentComesWholeThenNothing) {
    const char text[] = "{\\rtf1 short}";
    int32_t position = 0;
    BYTE buffer[4096];
    LONG delivered = -1;
    EXPECT_EQ(DeliverDocumentBytes(text, sizeof text - 1, &position, buffer, sizeof buffer, &delivered), 0u);
    EXPECT_EQ(delivered, static_cast<LONG>(sizeof text - 1));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), delivered), text);
    EXPECT_EQ(DeliverDocumentBytes(text, sizeof text - 1, &position, buffer, sizeof buffer, &delivered), 0u);
    EXPECT_EQ(delivered, 0);
}

TEST(DocumentStream, LongDocumentComesInRequestedPiecesAndNeverPastItsLength) {
    const std::string text(10, 'x');
    int32_t position = 0;
    BYTE buffer[16];
    LONG delivered = 0;
    DeliverDocumentBytes(text.data(), 10, &position, buffer, 4, &delivered);
    EXPECT_EQ(delivered, 4);
    DeliverDocumentBytes(text.data(), 10, &position, buffer, 4, &delivered);
    memset(buffer, '#', sizeof buffer);
    DeliverDocumentBytes(text.data(), 10, &position, buffer, 16, &delivered);
    EXPECT_EQ(delivered, 2);
    EXPECT_EQ(buffer[2], '#');
    EXPECT_EQ(position, 10);

    // Out-of-range positions, negative requests and a missing document deliver nothing.
    position = -3;
    DeliverDocumentBytes(text.data(), 10, &position, buffer, 4, &delivered);
    EXPECT_EQ(delivered, 0);
    position = 0;
    DeliverDocumentBytes(text.data(), 10, &position, buffer, -1, &delivered);
    EXPECT_EQ(delivered, 0);
    DeliverDocumentBytes(nullptr, 10, &position, buffer, 4, &delivered);
    EXPECT_EQ(delivered, 0);
}

TEST(DocumentStream, CallbacksReadTheEngineDocumentsFromTheirOwnPositions) {
    char licence[] = "LICENCE";
    engine::win32::g_licenceText = licence;
    engine::win32::g_licenceTextLength = 7;
    engine::win32::g_warningText = nullptr;
    engine::win32::g_warningTextLength = 0;
    g_licenceReadPos = 3;
    g_warningReadPos = 0;
    BYTE buffer[8];
    LONG delivered = 0;
    LicenceStreamCallback(0, buffer, sizeof buffer, &delivered);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), delivered), "ENCE");
    WarningStreamCallback(0, buffer, sizeof buffer, &delivered);
    EXPECT_EQ(delivered, 0) << "a document that failed to load streams nothing";
    engine::win32::g_licenceText = nullptr;
    engine::win32::g_licenceTextLength = 0;
}

TEST(Captions, PagesCaptionFitsA204CharacterNameAndCutsLongerOnes) {
    char caption[256];
    FormatPagesCaption("Demo", "Jan  5 2026", "09:03:07", caption);
    EXPECT_STREQ(caption, "Installation of program Demo Build Jan  5 2026 09:03:07");

    const std::string fits(204, 'a');
    FormatPagesCaption(fits.c_str(), "Jan  5 2026", "09:03:07", caption);
    EXPECT_EQ(strlen(caption), 255u);
    EXPECT_EQ(std::string(caption).substr(255 - 8), "09:03:07");

    const std::string longest(255, 'b');
    FormatPagesCaption(longest.c_str(), "Jan  5 2026", "09:03:07", caption);
    EXPECT_EQ(std::string(caption), ("Installation of program " + longest).substr(0, 255));
}

TEST(Captions, MainCaptionHoldsTheLongestName) {
    char caption[512];
    const std::string longest(255, 'c');
    FormatMainCaption(longest.c_str(), caption);
    EXPECT_EQ(std::string(caption), "Local installation scenario " + longest + " Pelbrix");
}

TEST(Captions, ApplicationNameIsTheProgramFileWithoutExtension) {
    ComputeApplicationName();
    EXPECT_STREQ(g_applicationName, "app_win32_test");
}

// No log was created (or none named): Yes to the log question opens nothing, not even
// the shell's idea of an empty path (the current folder).
TEST(LogViewer, NoLogPathOpensNothing) {
    SetLastError(0);
    EXPECT_FALSE(OpenLogViewer(nullptr, ""));
    EXPECT_FALSE(OpenLogViewer(nullptr, nullptr));
    EXPECT_EQ(GetLastError(), 0u) << "the shell was not asked";
}

TEST(ModuleOutcome, Version1EndsBeforeSetOutcomeAndTheLastOutcomeCounts) {
    using namespace engine::win32;
    const KelvanePayloadApi* one = PayloadApi(1);
    const KelvanePayloadApi* two = PayloadApi(2);
    ASSERT_TRUE(one != nullptr && two != nullptr && PayloadApi(3) == nullptr);
    EXPECT_EQ(one->size, offsetof(KelvanePayloadApi, setOutcome));
    EXPECT_EQ(one->version + two->version * 10, 21u);
    EXPECT_EQ(two->size, sizeof(KelvanePayloadApi));
    two->setOutcome(1638);
    two->setOutcome(3010);
    EXPECT_EQ(ModuleOutcome(), 3010u);
    two->setOutcome(0);
    // An outcome counts only with the result it goes with.
    EXPECT_EQ(UnattendedExitCode(true, 3010) + UnattendedExitCode(true, 1638), 3010u);
    EXPECT_EQ(UnattendedExitCode(false, 1638) + UnattendedExitCode(false, 3010) * 10000, 1638u + 16030000u);
}

// The real restart is never reached from a test: it would restart Wine.
TEST(RestartComputer, GoesThroughTheGivenCallAndARefusalLeavesTheRestartToTheUser) {
    static int calls = 0;
    EXPECT_TRUE(engine::win32::RestartComputer([](uint32_t*) { return ++calls > 0; }));
    EXPECT_FALSE(engine::win32::RestartComputer([](uint32_t* error) { *error = 1190; return ++calls < 0; }));
    EXPECT_EQ(calls, 2);
}

// Run elevated, a per-user stub loads nothing from the user's temp folder either.
TEST(UnpackLocation, APerUserStubRunElevatedUnpacksAsAnElevatedRunDoes) {
    engine::win32::g_userScopeStub = true;
    EXPECT_NE(engine::win32::CurrentRunAccount(), engine::win32::RunAccount::unelevated);  // the tests run elevated
    engine::win32::g_userScopeStub = false;
}
