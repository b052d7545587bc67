// Mouse handling on the active screen. A listener's handler runs inside our send and
// may delete the screen, lay it out again or switch screens, so every handler holds
// its screen across the send and re-checks it before touching the selection.
#include "mouse.h"

#include "screen_hold.h"
#include "selection.h"

namespace console {
namespace {

// The cell position under the pointer, or -1 when the screen has no font.
int32_t cellUnder(ConsoleScreen& s, ConsoleHost& host, uint32_t position) {
    return host.sendToSelf(CONM_POINTTOCELL, s.screenIndex, static_cast<intptr_t>(position));
}

uint16_t indexOf(const ConsoleScreen& s, int32_t cell) {
    const auto c = static_cast<uint32_t>(cell);
    return cellIndex(s, static_cast<int32_t>(c & 0xFFFFu), static_cast<int32_t>(c >> 16));
}

void refresh(ConsoleScreen& s, ConsoleHost& host) { host.sendToSelf(CONM_REFRESH, s.screenIndex, 0); }

// Tells the listener, if there is one. Afterwards the active screen is looked up again:
// the result is the screen to go on with (the same one, still active) or null, and
// *cell is recomputed when the grid was laid out anew meanwhile.
ConsoleScreen* notifyListener(ConsoleInstance& instance, ConsoleHost& host, ConsoleScreen& s, uint32_t kind,
                              uint32_t position, int32_t* cell) {
    if (s.listenerWindow == 0) return &s;
    s.listenerCell = static_cast<uint32_t>(*cell);
    const ConsoleListener record{s.listenerWindow, s.listenerValue, s.listenerCell};
    ScreenHold hold(s);
    host.sendToListener(record.window, kind, record);
    if (hold.gone() || instance.closing || instance.activeScreen != &s) return nullptr;
    if (hold.relaidOut()) *cell = cellUnder(s, host, position);
    return &s;
}

void cancelSelection(ConsoleScreen& s, ConsoleHost& host) {
    s.selecting = 0;
    s.selectEnabled = 0;
    s.selectionAnchor = -1;
    s.selectionEnd = -1;
    refresh(s, host);
}

}  // namespace

void mouseMove(ConsoleInstance& instance, ConsoleHost& host, uint32_t position) {
    ConsoleScreen* s = instance.activeScreen;
    if (s == nullptr) return;
    int32_t cell = cellUnder(*s, host, position);
    if (cell == -1) return;
    s = notifyListener(instance, host, *s, CONE_MOVE, position, &cell);
    if (s == nullptr || cell == -1) return;
    if (s->selecting && s->selectEnabled) {
        s->selectionEnd = indexOf(*s, cell);
        refresh(*s, host);
    }
}

void leftButtonDown(ConsoleInstance& instance, ConsoleHost& host, uint32_t position) {
    if (ConsoleScreen* s = instance.activeScreen) {
        int32_t cell = cellUnder(*s, host, position);
        s = notifyListener(instance, host, *s, CONE_BUTTONDOWN, position, &cell);
        // Without a font there is no cell to anchor a selection to.
        if (s != nullptr && s->selectEnabled && cell != -1) {
            s->selectionAnchor = s->selectionEnd = indexOf(*s, cell);
            s->selecting = 1;
            refresh(*s, host);
        }
    }
    if (!instance.closing) host.setFocus();
}

void leftButtonUp(ConsoleInstance& instance, ConsoleHost& host, uint32_t position) {
    ConsoleScreen* s = instance.activeScreen;
    if (s == nullptr) return;
    int32_t cell = cellUnder(*s, host, position);
    s = notifyListener(instance, host, *s, CONE_BUTTONUP, position, &cell);
    // The inverted cells keep their look until next painted: no redraw here.
    if (s != nullptr && s->selecting && s->selectEnabled) s->selecting = 0;
}

void rightButtonDown(ConsoleInstance& instance, ConsoleHost& host) {
    const uint32_t command = host.trackContextMenu();
    if (instance.closing) return;  // destroyed while the menu was open
    runMenuCommand(instance, host, command);
}

void runMenuCommand(ConsoleInstance& instance, ConsoleHost& host, uint32_t command) {
    ConsoleScreen* s = instance.activeScreen;
    if (s == nullptr) return;
    switch (command) {
    case kMenuSelect:
        s->selectEnabled = 1;
        s->selecting = 0;
        break;
    case kMenuCopy:
        copySelection(*s, host);
        cancelSelection(*s, host);
        break;
    case kMenuCancel: cancelSelection(*s, host); break;
    default: break;
    }
}

}  // namespace console
