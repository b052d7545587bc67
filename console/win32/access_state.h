// A console window's accessibility state: made at the first WM_GETOBJECT (nothing is
// gathered or raised before), owned by the window's block, disconnected at WM_DESTROY.
// Provider objects never point into the block: they hold an AccessContext only.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <string>

#include "console/core/screen.h"
#include "console/core/screen_text.h"

struct IRawElementProviderSimple;

namespace console {

class Announcer;
struct Announcement;

namespace win32 {

struct InstanceBlock;

// Shared by every provider object of one window (refcounted, any thread): the window
// and whether it still lives. Once disconnected, every provider method fails.
class AccessContext {
public:
    explicit AccessContext(HWND window) : window_(window) {}
    void addRef() { InterlockedIncrement(&refs_); }
    void release() {
        if (InterlockedDecrement(&refs_) == 0) delete this;
    }
    HWND window() const { return window_; }
    bool alive() const { return InterlockedCompareExchange(const_cast<volatile LONG*>(&alive_), 1, 1) != 0; }
    void disconnect() { InterlockedExchange(&alive_, 0); }

private:
    ~AccessContext() = default;
    HWND window_;
    volatile LONG alive_ = 1;
    volatile LONG refs_ = 1;
};

// Pixels one cell covers on the screen: cells are drawn at the screen's DPI, uniform.
inline int32_t cellPixelWidth(const ConsoleScreen& s) { return cellWidthInPixels(s); }
inline int32_t cellPixelHeight(const ConsoleScreen& s) { return cellHeightInPixels(s); }

// What the providers read: the text on show and where its cells lie on the screen.
struct Snapshot {
    ScreenText text;
    int32_t cellWidth = 0;  // screen pixels
    int32_t cellHeight = 0;
    POINT origin = {0, 0};  // the client area's top left, screen coordinates
    bool editing = false;   // an input field runs: typed keys change the text
};

// Any thread. The screen's state belongs to the window's thread, so a snapshot is built
// there: directly when called on it, else through a message sent to the window (the
// caller waits; the window's thread must be serving sent messages). S_OK, or
// UIA_E_ELEMENTNOTAVAILABLE once the window is gone.
HRESULT takeSnapshot(const AccessContext& context, Snapshot& snapshot);

// Any thread, as takeSnapshot. Makes the mouse's selection the rectangle that reads back
// as the range in the text on show. UIA_E_INVALIDOPERATION when no rectangle does (a
// degenerate range among them: the caret is the program's) or the user is dragging one.
HRESULT selectText(const AccessContext& context, TextRange range);

// Any thread. The window's title, whole, or "Console" when it has none; null without memory.
BSTR consoleName(HWND window);

// The window procedure's dispatches (window thread). The Active Accessibility object is
// marshalled to its reader: it is given only where the window's thread has initialised COM.
LRESULT onGetObject(HWND window, InstanceBlock& block, WPARAM wparam, LPARAM lparam);
bool isAccessMessage(UINT message);  // the registered messages below
LRESULT onAccessMessage(HWND window, InstanceBlock& block, UINT message, WPARAM wparam, LPARAM lparam);
void onAccessDestroy(HWND window, InstanceBlock& block);
void releaseAccessState(InstanceBlock& block);  // at the block's release

// The host seam (window thread): null before the first WM_GETOBJECT.
Announcer* accessAnnouncer(InstanceBlock& block);
void raiseAnnouncement(InstanceBlock& block, const Announcement& announcement);

// Diagnostics for tests (window thread).
struct RaiseRecord {
    int32_t ticks = 0;          // announcements handed to the raise function
    int32_t notifications = 0;  // counted whether or not the system can raise them
    int32_t important = 0;      // of those, the important ones
    int32_t textChanged = 0;
    int32_t selectionChanged = 0;  // text selection events: the caret or the selection moved
    int32_t valueChanged = 0;      // Active Accessibility value changes: output arrived
    std::u16string lastText;
    bool lastImportant = false;
};
// All zero when the window has no state (no reader has asked yet).
RaiseRecord accessRaiseRecord(HWND window);
// The window's provider, with a reference for the caller; null without state.
IRawElementProviderSimple* accessProviderForTests(HWND window);
// Called with every announcement after it is raised, any window; null to stop.
using RaiseObserver = void (*)(const Announcement& announcement, void* context);
void setRaiseObserverForTests(RaiseObserver observer, void* context);

}  // namespace win32
}  // namespace console
