// The Win32 side of the console seam: what the portable core asks of a window (messages
// to itself, client size, DIB sections, repaint, events, the nested pump, the log, the
// listener, the context menu, the clipboard, the prepared answers) and the paint surface. Thin wrappers only: no console logic and no state beyond one message or paint.
#pragma once

#include <windows.h>

#include "console/core/host.h"
#include "console/core/instance.h"

namespace console {
namespace win32 {

// Built on the stack for one message, on the console window's thread; every call
// comes back synchronously on that thread. The pump, the listener send and the menu
// run other messages (this window's included) before they return.

// Listener windows travel as 32-bit values (ConsoleListener). Window handles keep their
// meaning in 32 bits on 64-bit Windows too; the value is widened with sign extension,
// as the system widens handles that come from 32-bit code.
inline HWND listenerWindowHandle(uint32_t window) {
    return reinterpret_cast<HWND>(static_cast<intptr_t>(static_cast<int32_t>(window)));
}

// The window's DPI: its own under per-monitor awareness, else the system's; never 0.
int32_t windowDpi(HWND window);

class Win32ConsoleHost : public ConsoleHost {
public:
    Win32ConsoleHost(HWND window, ConsoleInstance& instance) : window_(window), instance_(instance) {}

    int32_t sendToSelf(uint32_t message, uint32_t wparam, intptr_t lparam) override;
    ClientSize clientSize() override;
    int32_t displayDpi() override;
    HostBitmap createBitmap(int32_t width, int32_t height) override;
    void deleteBitmap(BitmapHandle bitmap) override;
    void redrawNow() override;
    const uint8_t* ansiToOemTable() override;
    void signalNotify() override;
    void signalInput() override;
    bool pumpMessage() override;
    void setFocus() override;
    void log(const char* text) override;
    void sendToListener(uint32_t window, uint32_t kind, const ConsoleListener& record) override;
    uint32_t trackContextMenu() override;
    bool setClipboardText(const ClipboardText& text) override;
    bool unattendedInput() override;
    bool nextAnswer(char* line, size_t size) override;
    Announcer* announcer() override;
    void announce(const Announcement& announcement) override;

private:
    HWND window_;
    ConsoleInstance& instance_;
};

// Draws on the device context of one paint; the pen of the latest colour is kept for
// the next line, since a cursor is several lines of the same colour.
class DcPainter : public ConsolePainter {
public:
    DcPainter(HDC dc, int width, int height) : dc_(dc), width_(width), height_(height) {}
    ~DcPainter() override;
    DcPainter(const DcPainter&) = delete;
    DcPainter& operator=(const DcPainter&) = delete;

    void copyBitmap(BitmapHandle bitmap, const uint8_t* bits, int32_t width, int32_t height) override;
    void horizontalLine(int32_t x0, int32_t x1, int32_t y, uint8_t red, uint8_t green, uint8_t blue) override;

private:
    HDC dc_;
    int width_;
    int height_;
    HPEN pen_ = nullptr;
    HGDIOBJ previousPen_ = nullptr;
    COLORREF penColor_ = 0;
};

}  // namespace win32
}  // namespace console
