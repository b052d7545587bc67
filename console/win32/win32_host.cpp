// Win32 implementations of the console host and paint surface.
// Must not decide anything about cells or pixels: every choice of what to draw or
// send is the core's; this file only performs it with the platform's calls.
#include "win32_host.h"

#include <cstring>

#include "access_state.h"
#include "answer_source.h"
#include "clipboard.h"
#include "instance_block.h"
#include "log_sink.h"

namespace console {
namespace win32 {

namespace {

struct OemTable {
    uint8_t bytes[256];
    OemTable() {
        for (int i = 0; i < 256; ++i) {
            char in = static_cast<char>(i);
            char out = in;
            CharToOemBuffA(&in, &out, 1);
            bytes[i] = static_cast<uint8_t>(out);
        }
    }
};

// The dialog the console sits in: its top-level ancestor, when that is a dialog box (of
// the system's dialog class) and not the console itself. Null for a top-level console
// and for one in any other kind of window, such as the modal console.
HWND dialogOf(HWND console) {
    const HWND root = GetAncestor(console, GA_ROOT);
    if (root == nullptr || root == console) return nullptr;
    constexpr ULONG_PTR kDialogClassAtom = 32770;  // WC_DIALOG
    return GetClassLongPtrA(root, GCW_ATOM) == kDialogClassAtom ? root : nullptr;
}

// While the console waits, the rest of its dialog keeps its keyboard handling, so Tab
// and Shift+Tab still move the focus. The console's own messages never go that way: a
// typed key, Enter and Escape are the wait's. Nor do those of windows outside the
// dialog (a message box, another top-level window): they are not its to handle.
bool passedToDialog(HWND console, MSG& msg) {
    if (msg.hwnd == nullptr || msg.hwnd == console || IsChild(console, msg.hwnd)) return false;
    const HWND dialog = dialogOf(console);
    if (dialog == nullptr || (msg.hwnd != dialog && !IsChild(dialog, msg.hwnd))) return false;
    return IsDialogMessageA(dialog, &msg) != FALSE;
}

}  // namespace

int32_t Win32ConsoleHost::sendToSelf(uint32_t message, uint32_t wparam, intptr_t lparam) {
    return static_cast<int32_t>(SendMessageA(window_, message, static_cast<WPARAM>(wparam), static_cast<LPARAM>(lparam)));
}

ClientSize Win32ConsoleHost::clientSize() {
    RECT rect = {0, 0, 0, 0};
    GetClientRect(window_, &rect);
    ClientSize size;
    size.width = rect.right;
    size.height = rect.bottom;
    return size;
}

// GetDpiForWindow (Windows 10 1607 on) gives the window's own DPI under per-monitor
// awareness; older systems lack it and have one DPI for every window, the DC's.
int32_t windowDpi(HWND window) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow != nullptr) {
        const UINT dpi = getDpiForWindow(window);
        if (dpi != 0) return static_cast<int32_t>(dpi);
    }
    HDC dc = GetDC(window);
    if (dc == nullptr) return 96;
    const int dpi = GetDeviceCaps(dc, LOGPIXELSX);
    ReleaseDC(window, dc);
    return dpi > 0 ? dpi : 96;
}

int32_t Win32ConsoleHost::displayDpi() { return windowDpi(window_); }

HostBitmap Win32ConsoleHost::createBitmap(int32_t width, int32_t height) {
    HostBitmap result;
    if (width <= 0 || height <= 0) return result;
    BITMAPINFO info;
    std::memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // positive: bottom-up, as the core addresses rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC dc = GetDC(window_);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (dc != nullptr) ReleaseDC(window_, dc);
    if (bitmap == nullptr || bits == nullptr) {
        if (bitmap != nullptr) DeleteObject(bitmap);
        return result;
    }
    std::memset(bits, 0, static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    result.handle = bitmap;
    result.bits = static_cast<uint8_t*>(bits);
    return result;
}

void Win32ConsoleHost::deleteBitmap(BitmapHandle bitmap) {
    if (bitmap != nullptr) DeleteObject(static_cast<HBITMAP>(bitmap));
}

void Win32ConsoleHost::redrawNow() { RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW); }

const uint8_t* Win32ConsoleHost::ansiToOemTable() {
    static const OemTable table;  // built once, thread-safely, on first use
    return table.bytes;
}

// Once the window is closing the notification thread is ending and closes its event
// itself; a signal then could hit a closed (or reused) handle.
void Win32ConsoleHost::signalNotify() {
    if (instance_.closing == 0 && instance_.notifyEvent != nullptr) SetEvent(instance_.notifyEvent);
}

void Win32ConsoleHost::signalInput() {
    if (instance_.inputEvent != nullptr) SetEvent(instance_.inputEvent);
}

bool Win32ConsoleHost::pumpMessage() {
    MSG msg;
    BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) {
        // Put the quit back so the loop that owns it still ends after the key wait.
        PostQuitMessage(static_cast<int>(msg.wParam));
        return false;
    }
    if (got == -1) return false;
    if (!passedToDialog(window_, msg)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    // A WM_DESTROY inside the dispatch sets closing; the block itself stays allocated
    // until the outermost window procedure frame returns, so reading it here is safe.
    return instance_.closing == 0;
}

// In a dialog the dialog manager moves the focus, so that its default button follows.
void Win32ConsoleHost::setFocus() {
    const HWND dialog = dialogOf(window_);
    if (dialog != nullptr) {
        SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(window_), TRUE);
    } else {
        SetFocus(window_);
    }
}

void Win32ConsoleHost::log(const char* text) { writeConsoleLog(text); }

// A listener that no longer exists makes the send fail; that is ignored, as is the result.
void Win32ConsoleHost::sendToListener(uint32_t window, uint32_t kind, const ConsoleListener& record) {
    ConsoleListener copy = record;  // the listener may write into what it is given
    SendMessageA(listenerWindowHandle(window), CONM_MOUSEEVENT, static_cast<WPARAM>(kind),
                 reinterpret_cast<LPARAM>(&copy));
}

uint32_t Win32ConsoleHost::trackContextMenu() {
    HMENU menu = static_cast<HMENU>(instance_.contextMenu);
    if (menu == nullptr) return 0;
    POINT at = {0, 0};
    GetCursorPos(&at);
    // While the menu is open, a destruction of the window must leave the menu alone.
    // (A second menu asked for inside the first one's loop fails at once; the first one
    // is still open when it returns.)
    InstanceBlock& block = blockOf(instance_);
    const bool alreadyOpen = block.menuOpen;
    block.menuOpen = true;
    const BOOL command = TrackPopupMenuEx(menu, TPM_RETURNCMD | TPM_CENTERALIGN, at.x, at.y, window_, nullptr);
    block.menuOpen = alreadyOpen;
    return command > 0 ? static_cast<uint32_t>(command) : 0;
}

bool Win32ConsoleHost::setClipboardText(const ClipboardText& text) { return placeClipboardText(text); }

// A registered source is what says nobody is at the keyboard.
bool Win32ConsoleHost::unattendedInput() { return hasConsoleAnswerSource(); }

bool Win32ConsoleHost::nextAnswer(char* line, size_t size) { return takeConsoleAnswer(line, size); }

Announcer* Win32ConsoleHost::announcer() { return accessAnnouncer(blockOf(instance_)); }

void Win32ConsoleHost::announce(const Announcement& announcement) { raiseAnnouncement(blockOf(instance_), announcement); }

DcPainter::~DcPainter() {
    if (pen_ != nullptr) {
        SelectObject(dc_, previousPen_);
        DeleteObject(pen_);
    }
}

void DcPainter::copyBitmap(BitmapHandle bitmap, const uint8_t*, int32_t, int32_t) {
    if (bitmap == nullptr) return;
    HDC memory = CreateCompatibleDC(dc_);
    if (memory == nullptr) return;
    HGDIOBJ previous = SelectObject(memory, static_cast<HBITMAP>(bitmap));
    BitBlt(dc_, 0, 0, width_, height_, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
}

void DcPainter::horizontalLine(int32_t x0, int32_t x1, int32_t y, uint8_t red, uint8_t green, uint8_t blue) {
    COLORREF color = RGB(red, green, blue);
    if (pen_ == nullptr || color != penColor_) {
        HPEN pen = CreatePen(PS_SOLID, 1, color);
        if (pen == nullptr) return;
        HGDIOBJ previous = SelectObject(dc_, pen);
        if (pen_ != nullptr) {
            DeleteObject(pen_);
        } else {
            previousPen_ = previous;
        }
        pen_ = pen;
        penColor_ = color;
    }
    MoveToEx(dc_, x0, y, nullptr);
    LineTo(dc_, x1 + 1, y);  // LineTo leaves out its end point
}

}  // namespace win32
}  // namespace console
