// The seam between the portable console and the window that shows it.
// The core asks this interface for everything only the platform can do; it never
// includes a platform header. All calls come on the console window's thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sdk/quorvend_console.h"

namespace console {

using BitmapHandle = void*;  // the platform's bitmap (an HBITMAP on Windows)

class Announcer;
struct Announcement;

struct ClientSize {
    int32_t width = 0;
    int32_t height = 0;
};

// Text for the clipboard: the same text twice, each buffer zero-filled to its capacity
// (the size of the block the clipboard receives, terminating zero included).
struct ClipboardText {
    const char* bytes = nullptr;  // CF_TEXT: the cells' character codes, unchanged
    size_t byteCapacity = 0;
    const uint16_t* wide = nullptr;  // CF_UNICODETEXT: the same codes read as code page 437
    size_t wideCapacity = 0;         // in UTF-16 units
};

// A bitmap the host created; bits points at width * height * 3 bytes, bottom-up.
struct HostBitmap {
    BitmapHandle handle = nullptr;
    uint8_t* bits = nullptr;
};

class ConsoleHost {
public:
    virtual ~ConsoleHost() = default;

    // Sends a message to the console's own window and returns its result. Synchronous:
    // the call re-enters the console's dispatch before it returns.
    virtual int32_t sendToSelf(uint32_t message, uint32_t wparam, intptr_t lparam) = 0;

    // The window's client area, in pixels.
    virtual ClientSize clientSize() = 0;

    // The window's DPI now (96 at 100%). A host that cannot tell keeps 96: every pixel
    // is then drawn as at 96 DPI.
    virtual int32_t displayDpi() { return 96; }

    // A zero-initialised 24-bit bottom-up bitmap; width is already a multiple of 4.
    // A failure gives a null handle and null bits.
    virtual HostBitmap createBitmap(int32_t width, int32_t height) = 0;
    virtual void deleteBitmap(BitmapHandle bitmap) = 0;

    // Invalidates the whole client area and repaints it before returning.
    virtual void redrawNow() = 0;

    // 256 entries: the platform's ANSI-to-OEM conversion of every single byte.
    virtual const uint8_t* ansiToOemTable() = 0;

    // Wakes the window's notification thread (the callback runs there, not here).
    virtual void signalNotify() = 0;

    // Signals the window's input event (character input, destruction).
    virtual void signalInput() = 0;

    // Waits for the next message of the calling thread and dispatches it (a nested
    // message loop step of a key wait). A message for another window of the dialog the
    // console sits in goes through that dialog's keyboard handling, so Tab still moves
    // the focus there; the console's own are dispatched directly. False when no message
    // could be taken or when the console window was destroyed meanwhile: the caller
    // then returns at once, without touching the instance or its screens again.
    virtual bool pumpMessage() = 0;

    // Gives the console window the keyboard focus (in a dialog, through the dialog
    // manager, so that its default button follows).
    virtual void setFocus() = 0;

    // What follows only the platform can do for mouse, menu and log. A host without
    // them (benchmarks) keeps these defaults, which do nothing.

    // Writes one line (no line end) to the installation log, when one is open.
    virtual void log(const char* text) { (void)text; }

    // Sends CONM_MOUSEEVENT with this kind and a pointer to this record to the listener
    // window named by its 32-bit value, and waits for it; the result is ignored. The
    // listener may send messages to this console before it returns.
    virtual void sendToListener(uint32_t window, uint32_t kind, const ConsoleListener& record) {
        (void)window, (void)kind, (void)record;
    }

    // Shows the window's context menu centred on the pointer and waits for a choice,
    // serving messages meanwhile (a nested loop). The chosen command, or 0.
    virtual uint32_t trackContextMenu() { return 0; }

    // Places both forms of the text on the clipboard, replacing its contents. False when
    // the clipboard could not be opened or the memory not had; nothing is placed then.
    virtual bool setClipboardText(const ClipboardText& text) {
        (void)text;
        return false;
    }

    // Unattended runs (/quiet, /passive): nobody is at the keyboard. A host for a person
    // keeps these defaults. Neither may send to the console or run messages: the core
    // asks them in the middle of a message, expecting no re-entry.

    // True when nobody is at the keyboard: key waits end at once as if Enter were
    // pressed, and input fields take prepared answers instead of keys.
    virtual bool unattendedInput() { return false; }

    // The next prepared answer for an input field, written to line and NUL-terminated
    // within size bytes; false when none is left (line is then not read). How an answer
    // longer than size - 1 is cut is the host's choice: the field takes at most its own
    // length of it anyway.
    virtual bool nextAnswer(char* line, size_t size) {
        (void)line, (void)size;
        return false;
    }

    // Screen readers. Null until a reader has asked for the console: until then no
    // output is gathered and nothing is raised.
    virtual Announcer* announcer() { return nullptr; }
    // Raises what one tick gathered (a notification, a text change). Called only when
    // announcer() is not null.
    virtual void announce(const Announcement& announcement) { (void)announcement; }
};

// What a paint step draws on the window's surface.
class ConsolePainter {
public:
    virtual ~ConsolePainter() = default;
    // Copies the bitmap unscaled to the client area at (0, 0).
    virtual void copyBitmap(BitmapHandle bitmap, const uint8_t* bits, int32_t width, int32_t height) = 0;
    // One horizontal line of a solid pen, from x0 to x1 inclusive.
    virtual void horizontalLine(int32_t x0, int32_t x1, int32_t y, uint8_t red, uint8_t green, uint8_t blue) = 0;
};

}  // namespace console
