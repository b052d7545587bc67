// The "quorvend.console" window procedure and the registration of both classes.
// Must stay a list of dispatches: state lives in the block, console behaviour in the
// portable core; only creation, destruction and painting are handled here.
#include "console_window.h"

#include "access_state.h"
#include "console/core/dispatch.h"
#include "console/core/render.h"
#include "focus_band.h"
#include "instance_block.h"
#include "registry.h"
#include "sdk/quorvend_console.h"
#include "win32_host.h"

namespace console {
namespace win32 {

namespace {

// Counts the procedure frames running for a block, and releases a destroyed block when
// the outermost one returns: a WM_DESTROY that arrives inside a key wait must not free
// what the waiting frame still reads.
class DispatchFrame {
public:
    DispatchFrame(HWND window, InstanceBlock& block) : window_(window), block_(block) { ++block_.dispatchDepth; }
    ~DispatchFrame() {
        if (--block_.dispatchDepth == 0 && block_.releasePending) releaseBlock(window_, &block_);
    }
    DispatchFrame(const DispatchFrame&) = delete;
    DispatchFrame& operator=(const DispatchFrame&) = delete;

private:
    HWND window_;
    InstanceBlock& block_;
};

void restoreProcedure(HWND window) {
    if (reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC)) != consoleWindowProc) {
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(consoleWindowProc));
    }
}

bool OnCreate(HWND window) { return createInstance(window, consoleWindowProc); }

LRESULT OnDestroy(HWND window, InstanceBlock& block, WPARAM wparam, LPARAM lparam) {
    onAccessDestroy(window, block);
    beginDestroy(window, block);
    return DefWindowProcA(window, WM_DESTROY, wparam, lparam);
}

LRESULT OnPaint(HWND window, ConsoleInstance& instance, WPARAM wparam, LPARAM lparam) {
    ConsoleScreen* screen = instance.activeScreen;
    if (screen == nullptr) return DefWindowProcA(window, WM_PAINT, wparam, lparam);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (dc != nullptr) {
        RECT client = {0, 0, 0, 0};
        GetClientRect(window, &client);
        DcPainter painter(dc, client.right, client.bottom);
        paintConsole(*screen, painter);
    }
    EndPaint(window, &paint);
    return 0;
}

constexpr UINT kWmDpiChangedAfterParent = 0x02E3;  // winuser.h shows it only from WINVER 0x0605

// A new DPI (WM_DPICHANGED when top-level, WM_DPICHANGED_AFTERPARENT as a child) or a
// new size: the core remakes the bitmaps it needs. Only dialogs move to the suggested
// rectangle by themselves, so a top-level console does it here.
LRESULT OnScaleChange(HWND window, ConsoleInstance& instance, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_DPICHANGED && lparam != 0 && (GetWindowLongA(window, GWL_STYLE) & WS_CHILD) == 0) {
        const RECT* r = reinterpret_cast<const RECT*>(lparam);
        SetWindowPos(window, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    Win32ConsoleHost host(window, instance);
    if (message == WM_SIZE) {
        followResize(instance, host);
    } else {
        followDpiChange(instance, host);
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

LRESULT OnConsoleMessage(HWND window, ConsoleInstance& instance, UINT message, WPARAM wparam, LPARAM lparam) {
    Win32ConsoleHost host(window, instance);
    DispatchResult result = dispatchMessage(instance, host, message, static_cast<uint32_t>(wparam),
                                            static_cast<intptr_t>(lparam));
    if (result.useDefault) return DefWindowProcA(window, message, wparam, lparam);
    return static_cast<LRESULT>(result.value);
}

// How far an idle Enter the console claimed has been dropped (InstanceBlock::enterDrop).
enum : uint8_t { kEnterNone, kEnterClaimed, kEnterKeyDropped };

// A dialog asks before it handles a key itself. The arrows are the console's. So is
// Enter, which would otherwise press the dialog's default button: a waiting console
// takes it (its nested loop dispatches it directly anyway), an idle one drops it.
LRESULT OnGetDlgCode(InstanceBlock& block, LPARAM lparam) {
    const MSG* asked = reinterpret_cast<const MSG*>(lparam);
    if (asked == nullptr || asked->message != WM_KEYDOWN || asked->wParam != VK_RETURN) return DLGC_WANTARROWS;
    if (block.keyWaits == 0) block.enterDrop = kEnterClaimed;
    return DLGC_WANTARROWS | DLGC_WANTMESSAGE;
}

// The Enter claimed while idle: neither its key press nor the character TranslateMessage
// made of it (CR, or LF with Ctrl) may wait in the key ring for a later key wait. Any
// other key press or character ends the drop, so it can never swallow a later Enter.
bool DropsClaimedEnter(InstanceBlock& block, UINT message, WPARAM wparam) {
    const uint8_t state = block.enterDrop;
    block.enterDrop = kEnterNone;
    if (message == WM_KEYDOWN && state == kEnterClaimed && wparam == VK_RETURN) {
        block.enterDrop = kEnterKeyDropped;
        return true;
    }
    return message == WM_CHAR && state == kEnterKeyDropped && (wparam == '\r' || wparam == '\n');
}

// Counts the key waits and input fields running, for the dialog's Enter question.
class KeyWaitScope {
public:
    explicit KeyWaitScope(InstanceBlock& block) : block_(block) { ++block_.keyWaits; }
    ~KeyWaitScope() { --block_.keyWaits; }
    KeyWaitScope(const KeyWaitScope&) = delete;
    KeyWaitScope& operator=(const KeyWaitScope&) = delete;

private:
    InstanceBlock& block_;
};

void registerClass(HINSTANCE module, const char* name, WNDPROC procedure) {
    WNDCLASSEXA wc;
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = procedure;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = module;
    wc.hIcon = nullptr;
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = name;
    wc.hIconSm = nullptr;
    RegisterClassExA(&wc);  // a second registration fails harmlessly
}

}  // namespace

void registerConsoleClasses(HINSTANCE module) {
    registerClass(module, QUORVEND_CONSOLE_CLASS, consoleWindowProc);
    registerClass(module, QUORVEND_MODAL_CONSOLE_CLASS, modalConsoleWindowProc);
    g_consoleRegistry.initialise();
}

// Every message, even those before WM_CREATE and after WM_DESTROY, needs a registered
// block; without one the message gets -1 and no default processing.
LRESULT CALLBACK consoleWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_CREATE && !OnCreate(window)) return -1;

    ConsoleInstance* instance = g_consoleRegistry.find(window);
    if (instance == nullptr) return -1;
    InstanceBlock& block = blockOf(*instance);
    DispatchFrame frame(window, block);

    // Torn down even when other code has cleared valid, so that its thread, timer and
    // registry entry never outlive the window (whose handle may be reused).
    if (message == WM_DESTROY) return OnDestroy(window, block, wparam, lparam);
    if (instance->valid == 0) return -1;

    // Undo any subclassing. The mouse handlers run behind this same check, so
    // WM_MOUSEMOVE needs no second one.
    restoreProcedure(window);

    if (isAccessMessage(message)) return onAccessMessage(window, block, message, wparam, lparam);
    switch (message) {
    case WM_PAINT:
        return OnPaint(window, *instance, wparam, lparam);
    case WM_GETOBJECT:
        return onGetObject(window, block, wparam, lparam);
    case WM_SIZE:
    case WM_DPICHANGED:
    case kWmDpiChangedAfterParent:
        return OnScaleChange(window, *instance, message, wparam, lparam);
    case WM_GETDLGCODE:
        return OnGetDlgCode(block, lparam);
    case WM_KEYDOWN:
    case WM_CHAR:
        if (DropsClaimedEnter(block, message, wparam)) return 0;
        return OnConsoleMessage(window, *instance, message, wparam, lparam);
    case CONM_WAITKEY:
    case CONM_INPUTLINE: {
        const KeyWaitScope wait(block);
        return OnConsoleMessage(window, *instance, message, wparam, lparam);
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        invalidateFocusBand(window);
        return OnConsoleMessage(window, *instance, message, wparam, lparam);
    default:
        return OnConsoleMessage(window, *instance, message, wparam, lparam);
    }
}

}  // namespace win32
}  // namespace console
