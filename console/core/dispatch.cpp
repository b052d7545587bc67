// The console message table: wparam/lparam unpacking, slot lookup and results.
// Effects live in screen, render, keys, line_editor and mouse; this file only routes.
// Runs on the window's thread; self-sent messages re-enter it through the host.
#include "dispatch.h"

#include <cstring>

#include "announcer.h"
#include "keys.h"
#include "line_editor.h"
#include "mouse.h"
#include "render.h"

namespace console {
namespace {

constexpr DispatchResult result(intptr_t value) { return {value, false}; }
constexpr DispatchResult byDefault() { return {0, true}; }
constexpr DispatchResult kFail{-1, false};

uint8_t* paletteInUse(ConsoleScreen& s) {
    // Before a font is chosen there is no palette reference: the screen's own
    // palette serves, as it does for CONM_RESETPALETTE.
    return s.paletteRef != nullptr ? s.paletteRef : s.palette;
}

struct PaletteRange {
    uint32_t first;
    uint32_t last;
    size_t bytes() const { return 3u * (last - first + 1u); }
};

PaletteRange paletteRange(uint32_t wparam) { return {(wparam >> 8) & 15u, (wparam >> 16) & 15u}; }

// The announcer, when a reader listens and the message is for the screen on show.
Announcer* listeningAnnouncer(ConsoleInstance& instance, ConsoleHost& host, const ConsoleScreen& s) {
    return instance.activeScreen == &s ? host.announcer() : nullptr;
}

// Output for the reader: text printed outside an input field. The field's own redraws
// are edits in place.
void announcePrint(ConsoleInstance& instance, ConsoleHost& host, const ConsoleScreen& s, const char* text) {
    Announcer* a = listeningAnnouncer(instance, host, s);
    if (a == nullptr) {
        if ((a = host.announcer()) != nullptr) a->dropMark();  // a result nobody hears here
        return;
    }
    if (a->editing()) {
        a->dropMark();
        a->changedInPlace();
    } else {
        a->printed(text, host.ansiToOemTable(), s.attribute);
    }
}

void announceInPlace(ConsoleInstance& instance, ConsoleHost& host, const ConsoleScreen& s) {
    if (Announcer* a = listeningAnnouncer(instance, host, s)) a->changedInPlace();
}

// Brackets a print so that the scrolls it sends itself count as output.
class PrintScope {
public:
    explicit PrintScope(ConsoleHost& host) : host_(host) {
        if (Announcer* a = host_.announcer()) a->enterPrint();
    }
    ~PrintScope() {
        if (Announcer* a = host_.announcer()) a->leavePrint();
    }
    PrintScope(const PrintScope&) = delete;
    PrintScope& operator=(const PrintScope&) = delete;

private:
    ConsoleHost& host_;
};

DispatchResult screenMessage(ConsoleInstance& instance, ConsoleHost& host, ConsoleScreen& s, uint32_t message,
                             uint32_t wparam, intptr_t lparam) {
    const auto lp = static_cast<uint32_t>(lparam);
    const intptr_t n = s.screenIndex;
    switch (message) {
    case CONM_SETFONT: {
        announceInPlace(instance, host, s);
        const int32_t r = setFont(s, host, wparam >> 8, wparam);
        if (r != 2) ++s.layoutSerial;  // tells whoever holds the screen that its grid changed
        return result(r);
    }
    case CONM_CREATEBITMAPS: makeScreenBitmaps(s, host); return result(n);
    case CONM_SELECTSCREEN:
        instance.activeScreen = &s;
        announceInPlace(instance, host, s);
        host.redrawNow();
        return result(n);
    case CONM_REFRESH: markForRedraw(s); return result(n);
    case CONM_GETCELLS: return result(reinterpret_cast<intptr_t>(s.liveCells));
    case CONM_SETCURSORPOS:
        s.cursorColumn = static_cast<int32_t>(lp & 0xFFu);
        s.cursorRow = static_cast<int32_t>(lp) >> 8;
        return result(n);
    case CONM_SETCURSORSHAPE:
        if (s.fontTable == nullptr || s.cellHeight <= 0) return result(-2);
        if (s.flags != 0) return kFail;
        s.cursorStartLine = static_cast<uint8_t>(((lp >> 8) & 0xFFu) % static_cast<uint32_t>(s.cellHeight));
        s.cursorEndLine = static_cast<uint8_t>((lp & 0xFFu) % static_cast<uint32_t>(s.cellHeight));
        return result(n);
    case CONM_PUTCELL:
        announceInPlace(instance, host, s);
        return result(putCell(s, lp & 0xFFu, (lp >> 8) & 0xFFu, static_cast<ConsoleCell>(lp >> 16)));
    case CONM_PUTCHAR: {
        const char text[2] = {static_cast<char>(lp & 0xFFu), 0};
        announcePrint(instance, host, s, text);
        const PrintScope scope(host);
        putChar(s, host, static_cast<uint8_t>(lp));
        return result(0);
    }
    case CONM_PUTSTRING: {
        if (lparam == 0) return kFail;
        announcePrint(instance, host, s, reinterpret_cast<const char*>(lparam));
        const PrintScope scope(host);
        putString(s, host, reinterpret_cast<const char*>(lparam));
        return result(n);
    }
    case CONM_SCROLL:
        announceInPlace(instance, host, s);
        scrollUp(s, (lp >> 16) & 0xFFu, lp & 0xFFu, (lp >> 8) & 0xFFu, lp >> 24);
        return result(0);
    case CONM_CLEAR:
        announceInPlace(instance, host, s);
        clearScreen(s);
        return result(n);
    case CONM_POINTTOCELL: return result(pointToCell(s, lp & 0xFFFFu, lp >> 16));
    case CONM_SETFREEZE: return result(setFreeze(s, host, (wparam & 0x100u) != 0));
    case CONM_GETFREEZE: return result(s.flags & kFlagFrozen);
    case CONM_SETBACKCOLOR:
        s.attribute = static_cast<uint8_t>((s.attribute & 0x0Fu) | ((lp & 15u) << 4));
        return byDefault();
    case CONM_SETTEXTCOLOR:
        s.attribute = static_cast<uint8_t>((s.attribute & 0xF0u) | (lp & 15u));
        return byDefault();
    case CONM_SETATTR: s.attribute = static_cast<uint8_t>(lp); return byDefault();
    case CONM_GETATTR: return result(s.attribute);
    case CONM_GETSIZE: return result(static_cast<int32_t>((static_cast<uint32_t>(s.rows) << 16) + static_cast<uint32_t>(s.columns)));
    case CONM_CELLINDEX:
        return result(cellIndex(s, static_cast<int32_t>(lp & 0xFFFFu), static_cast<int32_t>(lp >> 16)));
    case CONM_SETMOUSELISTENER: {
        if (lparam == 0) return kFail;
        const auto* l = reinterpret_cast<const ConsoleListener*>(lparam);
        s.listenerWindow = l->window;
        s.listenerValue = l->value;
        s.listenerCell = l->cell;
        return result(n);
    }
    case CONM_SETCOLORMODE:
        if (s.flags != 0) return kFail;
        s.colorMode = lp;
        host.sendToSelf(CONM_REFRESH, s.screenIndex, 0);
        return result(n);
    case CONM_GETCOLORMODE: return result(static_cast<int32_t>(s.colorMode));
    case CONM_GETPALETTE: {
        const PaletteRange r = paletteRange(wparam);
        if (r.last < r.first || lparam == 0) return kFail;
        std::memcpy(reinterpret_cast<uint8_t*>(lparam), paletteInUse(s) + 3 * r.first, r.bytes());
        return result(static_cast<intptr_t>(r.bytes()));
    }
    case CONM_SETPALETTE: {
        const PaletteRange r = paletteRange(wparam);
        if (s.flags != 0 || r.last < r.first || lparam == 0) return kFail;
        std::memcpy(paletteInUse(s) + 3 * r.first, reinterpret_cast<const uint8_t*>(lparam), r.bytes());
        host.sendToSelf(CONM_REFRESH, s.screenIndex, 0);
        return result(static_cast<intptr_t>(r.bytes()));
    }
    case CONM_RESETPALETTE:
        if (s.flags != 0) return kFail;
        std::memcpy(s.palette, defaultPalette, kPaletteBytes);
        host.sendToSelf(CONM_REFRESH, s.screenIndex, 0);
        return result(n);
    case CONM_GETFONT: return result(static_cast<int32_t>(s.fontId));
    default: return byDefault();
    }
}

// Messages that name a screen by the low byte of wparam.
bool addressesScreen(uint32_t message) {
    switch (message) {
    case CONM_DELETESCREEN: case CONM_SETFONT: case CONM_CREATEBITMAPS: case CONM_SELECTSCREEN:
    case CONM_REFRESH: case CONM_GETCELLS: case CONM_SETCURSORPOS: case CONM_SETCURSORSHAPE:
    case CONM_PUTCELL: case CONM_PUTCHAR: case CONM_PUTSTRING: case CONM_SCROLL: case CONM_CLEAR:
    case CONM_POINTTOCELL: case CONM_SETFREEZE: case CONM_GETFREEZE: case CONM_SETBACKCOLOR:
    case CONM_SETTEXTCOLOR: case CONM_GETSIZE: case CONM_CELLINDEX: case CONM_SETMOUSELISTENER:
    case CONM_SETATTR: case CONM_GETATTR: case CONM_SETCOLORMODE: case CONM_GETCOLORMODE:
    case CONM_GETPALETTE: case CONM_SETPALETTE: case CONM_RESETPALETTE: case CONM_GETFONT:
        return true;
    default:
        return false;
    }
}

DispatchResult missingScreen(uint32_t message) {
    switch (message) {
    case CONM_GETCELLS: return result(0);
    case CONM_SETBACKCOLOR: case CONM_SETTEXTCOLOR: case CONM_SETATTR: return byDefault();
    default: return kFail;
    }
}

DispatchResult windowMessage(ConsoleInstance& instance, ConsoleHost& host, uint32_t message, uint32_t wparam,
                             intptr_t lparam) {
    ConsoleScreen* active = instance.activeScreen;
    switch (message) {
    case CONM_CREATESCREEN: {
        const uint8_t n = static_cast<uint8_t>(wparam);
        if (instance.screens[n] != nullptr) return kFail;
        ConsoleScreen* s = newScreen(n);
        if (s == nullptr) return kFail;
        instance.screens[n] = s;
        host.sendToSelf(CONM_CREATEBITMAPS, wparam, lparam);
        return result(n);
    }
    case CONM_WAITKEY: return active == nullptr ? kFail : result(waitForKey(instance, host).key);
    case CONM_GETKEY: return result(takeKey(instance));
    case CONM_INPUTLINE: return result(editLine(instance, host, wparam, reinterpret_cast<char*>(lparam)));
    case CONM_SETCALLBACK:
        instance.callback = reinterpret_cast<ConsoleCallback>(lparam);
        return byDefault();
    case CONM_POSTCALLBACK:
        if (instance.callback == nullptr) return result(0);
        instance.notifyArgument = static_cast<uint32_t>(lparam);
        host.signalNotify();
        return result(static_cast<int32_t>(lparam));
    case CONM_GETACTIVESCREEN: return result(active == nullptr ? -1 : active->screenIndex);
    case CONM_SETSHARING: instance.sharing = lparam == 1 ? 1 : 0; return byDefault();
    case CONM_GETSHARING: return result(instance.sharing ? 1 : -1);
    case CONM_GETINSTANCE: return result(instance.sharing ? reinterpret_cast<intptr_t>(&instance) : 0);
    case kWmTimer:
        if (active != nullptr && wparam == instance.timerId) renderTick(*active, host);
        return byDefault();
    case kWmKeyDown:
        if (active != nullptr && keyDown(*active, host, wparam)) return result(0);
        return byDefault();
    case kWmMouseMove: mouseMove(instance, host, static_cast<uint32_t>(lparam)); return byDefault();
    case kWmLButtonDown: leftButtonDown(instance, host, static_cast<uint32_t>(lparam)); return byDefault();
    case kWmLButtonUp: leftButtonUp(instance, host, static_cast<uint32_t>(lparam)); return byDefault();
    case kWmRButtonDown: rightButtonDown(instance, host); return byDefault();
    case kWmChar:
        if (active != nullptr) {
            host.signalInput();
            queueChar(*active, static_cast<uint8_t>(wparam));
        }
        return byDefault();
    default: return byDefault();
    }
}

}  // namespace

bool isConsoleMessage(uint32_t message) {
    return (message >= CONM_CREATESCREEN && message <= CONM_GETFONT) ||
           (message >= CONM_SETSHARING && message <= CONM_GETINSTANCE);
}

DispatchResult dispatchMessage(ConsoleInstance& instance, ConsoleHost& host, uint32_t message, uint32_t wparam,
                               intptr_t lparam) {
    // A result's mark is for the print that follows it at once, never a later one.
    if (message != CONM_PUTSTRING && message != CONM_PUTCHAR && isConsoleMessage(message)) {
        if (Announcer* a = host.announcer()) a->dropMark();
    }
    if (!addressesScreen(message)) return windowMessage(instance, host, message, wparam, lparam);
    const uint8_t n = static_cast<uint8_t>(wparam);
    ConsoleScreen* s = instance.screens[n];
    if (s == nullptr) return missingScreen(message);
    if (message == CONM_DELETESCREEN) {
        deleteScreen(s, host);
        instance.screens[n] = nullptr;
        if (instance.activeScreen == s) instance.activeScreen = nullptr;
        return result(n);
    }
    return screenMessage(instance, host, *s, message, wparam, lparam);
}

void releaseAllScreens(ConsoleInstance& instance, ConsoleHost& host) {
    for (ConsoleScreen*& s : instance.screens) {
        deleteScreen(s, host);
        s = nullptr;
    }
    instance.activeScreen = nullptr;
}

}  // namespace console
