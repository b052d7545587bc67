// Key ring, editing codes and the two ways of stopping the picture (freeze and the
// Scroll Lock pause). Runs on the console window's thread; never blocks.
#include "keys.h"

#include "dispatch.h"

namespace console {
namespace {

constexpr uint32_t kVkScrollLock = 145;
constexpr int32_t kEnter = 13;

// Keys without a character that the line editor understands, as ring codes.
uint8_t editingCode(uint32_t virtualKey) {
    switch (virtualKey) {
    case 0x25: return CONK_LEFT;
    case 0x27: return CONK_RIGHT;
    case 0x2E: return CONK_DELETE;
    case 0x24: return CONK_HOME;
    case 0x23: return CONK_END;
    case 0x2D: return CONK_INSERT;
    default: return 0;
    }
}

}  // namespace

void queueChar(ConsoleScreen& s, uint8_t c) {
    const auto next = static_cast<uint8_t>(s.keyWrite + 1);
    if (next == s.keyRead) return;  // full: 255 characters wait already
    s.keyRing[s.keyWrite] = c;
    s.keyWrite = next;
}

int32_t takeKey(ConsoleInstance& instance) {
    ConsoleScreen* s = instance.activeScreen;
    if (s == nullptr) return 255;
    if (instance.closing) return 27;
    if (s->keyRead == s->keyWrite) return 0;
    const uint8_t c = s->keyRing[s->keyRead];
    s->keyRead = static_cast<uint8_t>(s->keyRead + 1);
    return c;
}

KeyWait pumpUntilKey(ConsoleInstance& instance, ConsoleHost& host) {
    instance.waitAbort = 0;
    for (;;) {
        if (instance.activeScreen == nullptr) return {255, true, false};  // deleted during the wait
        // Nobody would ever press a key: go on as a person would to get past the wait.
        // Asked every time round, so a wait begun before the run turned unattended ends too.
        if (host.unattendedInput()) return {kEnter, false, false};
        const int32_t key = takeKey(instance);
        if (key != 0) return {key, false, false};
        if (!host.pumpMessage()) return {0, true, false};  // the window is gone: touch nothing more
        if (instance.closing) return {0, true, false};
        if (instance.waitAbort) return {0, true, true};
    }
}

KeyWait waitForKey(ConsoleInstance& instance, ConsoleHost& host) {
    if (!host.unattendedInput()) {
        host.setFocus();  // the focus change reaches other windows, which may call back
        if (instance.closing) return {0, true, false};
    }
    return pumpUntilKey(instance, host);
}

bool keyDown(ConsoleScreen& s, ConsoleHost& host, uint32_t virtualKey) {
    if (virtualKey == kVkScrollLock) {
        s.flags = (s.flags ^ kFlagPaused) & 0xFFu;
        return true;
    }
    s.lastKey = virtualKey;
    if (const uint8_t code = editingCode(virtualKey)) host.sendToSelf(kWmChar, code, 0);
    return false;
}

int32_t setFreeze(ConsoleScreen& s, ConsoleHost& host, bool freeze) {
    const uint32_t before = s.flags;
    s.flags = ((s.flags & ~uint32_t{kFlagFrozen}) | (freeze ? kFlagFrozen : 0u)) & 0xFFu;
    if ((before ^ s.flags) & kFlagFrozen) host.sendToSelf(CONM_REFRESH, s.screenIndex, 0);
    return s.screenIndex;
}

}  // namespace console
