// Key ring, editing codes, Scroll Lock, and the key wait with its nested message loop.
#include <gtest/gtest.h>

#include "recording_host.h"

namespace console {
namespace {

TEST(KeyRing, HoldsAtMost255CharactersAndDropsTheRest) {
    RecordingHost host;
    makeScreen(host);
    for (int i = 1; i <= 256; ++i) host.send(kWmChar, static_cast<uint32_t>(i));
    EXPECT_EQ(host.inputs, 256) << "a dropped character still signals input";
    EXPECT_EQ(host.send(CONM_GETKEY), 1);
    host.send(kWmChar, 'z');
    for (int i = 2; i <= 255; ++i) ASSERT_EQ(host.send(CONM_GETKEY), i);
    EXPECT_EQ(host.send(CONM_GETKEY), 'z') << "reading one made room for one";
    EXPECT_EQ(host.send(CONM_GETKEY), 0);
}

TEST(KeyRing, FullAndEmptyBoundariesHoldAfterTheIndicesWrap) {
    RecordingHost host;
    ConsoleScreen& s = makeScreen(host);
    // Walk both indices round the ring and stop them at an odd place.
    for (int i = 0; i < 300; ++i) {
        host.send(kWmChar, static_cast<uint32_t>('a' + i % 26));
        ASSERT_EQ(host.send(CONM_GETKEY), 'a' + i % 26);
    }
    EXPECT_EQ(s.keyRead, s.keyWrite);
    EXPECT_EQ(s.keyRead, 300 % 256);
    EXPECT_EQ(host.send(CONM_GETKEY), 0) << "empty after the wrap";
    for (int i = 0; i < 256; ++i) host.send(kWmChar, static_cast<uint32_t>(i % 250 + 1));
    EXPECT_EQ(static_cast<uint8_t>(s.keyWrite + 1), s.keyRead) << "full: one slot stays free";
    for (int i = 0; i < 255; ++i) ASSERT_EQ(host.send(CONM_GETKEY), i % 250 + 1) << i;
    EXPECT_EQ(host.send(CONM_GETKEY), 0) << "the 256th was dropped";
    host.send(kWmChar, 0);
    EXPECT_EQ(host.send(CONM_GETKEY), 0) << "a character of code 0 reads like an empty ring";
}

TEST(KeyRing, ScrollLockTogglesOnlyThePauseBit) {
    RecordingHost host;
    ConsoleScreen& s = makeScreen(host);
    host.send(CONM_SETFREEZE, 0x100);
    host.send(kWmKeyDown, 145);
    EXPECT_EQ(s.flags, uint32_t{kFlagFrozen | kFlagPaused});
    host.send(kWmKeyDown, 145);
    EXPECT_EQ(s.flags, uint32_t{kFlagFrozen});
    EXPECT_EQ(host.send(CONM_GETFREEZE), 1);
}

TEST(KeyRing, ClosingWindowReadsAsEscape) {
    RecordingHost host;
    makeScreen(host);
    host.send(kWmChar, 'a');
    host.instance.closing = 1;
    EXPECT_EQ(host.send(CONM_GETKEY), 27);
}

TEST(KeyRing, EditingKeysBecomeCodesAndScrollLockPauses) {
    RecordingHost host;
    ConsoleScreen& s = makeScreen(host);
    host.sent.clear();
    EXPECT_TRUE(host.raw(kWmKeyDown, 0x24).useDefault);  // Home
    EXPECT_EQ(s.lastKey, 0x24u);
    EXPECT_EQ(host.send(CONM_GETKEY), CONK_HOME);
    host.send(kWmKeyDown, 0x26);  // Up arrow: no code
    EXPECT_EQ(host.send(CONM_GETKEY), 0);

    const DispatchResult r = host.raw(kWmKeyDown, 145);
    EXPECT_FALSE(r.useDefault);
    EXPECT_EQ(s.flags, uint32_t{kFlagPaused});
    EXPECT_EQ(s.lastKey, 0x26u);
    host.send(kWmKeyDown, 145);
    EXPECT_EQ(s.flags, 0u);
    EXPECT_EQ(host.send(CONM_GETKEY), 0) << "Scroll Lock never reaches the ring";
    EXPECT_EQ(host.count(CONM_REFRESH), 0u) << "a pause asks for no redraw";
    EXPECT_EQ(host.count(kWmChar), 1u) << "Home went to the window as a character";
}

TEST(KeyWait, NestedLoopDeliversTheTypedCharacter) {
    RecordingHost host;
    makeScreen(host);
    int pumped = 0;
    host.pump = [&] {
        // Other messages keep running during the wait, console ones included.
        ++pumped;
        host.send(CONM_PUTCHAR, 0, '.');
        if (pumped == 3) host.send(kWmChar, 'k');
        return true;
    };
    EXPECT_EQ(host.send(CONM_WAITKEY), 'k');
    EXPECT_EQ(pumped, 3);
    EXPECT_EQ(host.focuses, 1) << "the wait takes the focus, as an input field does";
    EXPECT_EQ(host.instance.screens[0]->cursorColumn, 3);
}

TEST(KeyWait, EndsWithoutACharacterWhenAbortedClosedOrGone) {
    RecordingHost host;
    makeScreen(host);
    host.instance.waitAbort = 1;
    host.pump = [&] { host.instance.waitAbort = 1; return true; };
    EXPECT_EQ(host.send(CONM_WAITKEY), 0) << "an abort set before the wait is cleared, one during it counts";
    host.pump = [&] { host.instance.closing = 1; return true; };
    EXPECT_EQ(host.send(CONM_WAITKEY), 0);
    host.instance.closing = 0;
    host.pump = [] { return false; };
    EXPECT_EQ(host.send(CONM_WAITKEY), 0) << "window destroyed under the wait";
    host.pump = [&] { host.send(CONM_DELETESCREEN, 0); return true; };
    EXPECT_EQ(host.send(CONM_WAITKEY), 255) << "active screen deleted during the wait: a key check gives 255";
}

TEST(KeyWait, UnattendedWaitGivesEnterWithoutPumpingOrTakingAKey) {
    RecordingHost host;
    makeScreen(host);
    host.unattended = true;
    EXPECT_EQ(host.send(CONM_WAITKEY), 13) << "a pump would have ended the wait with 0";
    host.send(kWmChar, 'k');
    EXPECT_EQ(host.send(CONM_WAITKEY), 13);
    EXPECT_EQ(host.send(CONM_GETKEY), 'k') << "the ring is left alone";
    EXPECT_EQ(host.focuses, 0) << "nobody at the keyboard: the focus stays";
    host.send(CONM_DELETESCREEN, 0);
    EXPECT_EQ(host.send(CONM_WAITKEY), -1);
}

}  // namespace
}  // namespace console
