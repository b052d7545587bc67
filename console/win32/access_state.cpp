// The accessibility state of a console window and its part of the window procedure:
// WM_GETOBJECT, the registered messages, raising what the core's announcer decides.
// Must not decide what is announced (the core does) nor let a provider reach the block.
#include "access_state.h"

#include <new>

#include "console/core/announcer.h"
#include "instance_block.h"
#include "msaa_accessible.h"
#include "oleacc_api.h"
#include "registry.h"
#include "sdk/quorvend_console.h"
#include "uia_provider.h"

namespace console {
namespace win32 {

class AccessState {
public:
    explicit AccessState(HWND window) : context_(new (std::nothrow) AccessContext(window)) {
        if (context_ == nullptr) return;
        provider_ = createConsoleProvider(context_);
        accessible_ = createConsoleAccessible(context_);
    }
    ~AccessState() {
        if (accessible_ != nullptr) accessible_->Release();
        if (provider_ != nullptr) provider_->Release();
        if (context_ != nullptr) context_->release();
    }
    AccessState(const AccessState&) = delete;
    AccessState& operator=(const AccessState&) = delete;

    bool complete() const { return context_ != nullptr && provider_ != nullptr && accessible_ != nullptr; }

    AccessContext* context_ = nullptr;
    IRawElementProviderSimple* provider_ = nullptr;
    IAccessible* accessible_ = nullptr;
    Announcer announcer_;
    RaiseRecord record_;
};

namespace {

RaiseObserver g_observer = nullptr;
void* g_observerContext = nullptr;

UINT snapshotMessage() {
    static const UINT message = RegisterWindowMessageA("kelvane.console.access.snapshot");
    return message;
}

UINT selectMessage() {
    static const UINT message = RegisterWindowMessageA("kelvane.console.access.select");
    return message;
}

UINT importantMessage() {
    static const UINT message = RegisterWindowMessageA(QUORVEND_CONSOLE_IMPORTANT_MESSAGE);
    return message;
}

// The snapshot message carries a pointer, so it must come from this process: the
// cookie is an address of this process (ASLR makes it hard for another one to guess).
WPARAM snapshotCookie() { return reinterpret_cast<WPARAM>(&g_observer) ^ static_cast<WPARAM>(0x5EC0DE); }

// Window thread.
bool buildSnapshot(HWND window, Snapshot& snapshot) {
    ConsoleInstance* instance = g_consoleRegistry.find(window);
    if (instance == nullptr || instance->valid == 0) return false;
    if (instance->activeScreen == nullptr) {
        snapshot = Snapshot();  // no screen on show: the empty text
        return true;
    }
    const ConsoleScreen& screen = *instance->activeScreen;
    snapshot.text.build(screen);
    // Only counted once a reader has asked: a field opened before then reads as read-only.
    const AccessState* state = blockOf(*instance).access;
    snapshot.editing = state != nullptr && state->announcer_.editing();
    snapshot.cellWidth = cellPixelWidth(screen);
    snapshot.cellHeight = cellPixelHeight(screen);
    snapshot.origin = {0, 0};
    ClientToScreen(window, &snapshot.origin);
    return true;
}

// What a reader's Select asks for (window thread).
struct SelectRequest {
    TextRange range;
    HRESULT result = uia::kElementNotAvailable;
};

// Window thread. The text is built again here, so that the range meets the cells it
// will select, not those of the reader's last snapshot.
HRESULT applySelection(HWND window, TextRange range) {
    ConsoleInstance* instance = g_consoleRegistry.find(window);
    if (instance == nullptr || instance->valid == 0) return uia::kElementNotAvailable;
    ConsoleScreen* screen = instance->activeScreen;
    if (screen == nullptr || screen->selecting != 0) return uia::kInvalidOperation;
    ScreenText text;
    text.build(*screen);
    SelectionRect rect;
    if (!text.rectangleOf(range, rect)) return uia::kInvalidOperation;
    // As the menu's Select and a drag would leave it: Copy and Cancel work on it.
    screen->selectEnabled = 1;
    screen->selectionAnchor = cellIndex(*screen, rect.left, rect.top);
    screen->selectionEnd = cellIndex(*screen, rect.right, rect.bottom);
    SendMessageW(window, CONM_REFRESH, screen->screenIndex, 0);
    return S_OK;
}

AccessState* ensureState(HWND window, InstanceBlock& block) {
    if (block.access != nullptr) return block.access;
    if (block.destroyStarted) return nullptr;
    AccessState* state = new (std::nothrow) AccessState(window);
    if (state == nullptr || !state->complete()) {
        delete state;  // asked again at the next WM_GETOBJECT
        return nullptr;
    }
    block.access = state;
    return state;
}

// A BSTR of the text, or null when empty or without memory (the raise then goes without it).
BSTR toBstr(const std::u16string& text) {
    if (text.empty()) return nullptr;
    return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
}

bool listening(const uia::Api& api) { return api.clientsAreListening == nullptr || api.clientsAreListening() != FALSE; }

// Counted before the system is asked, so that tests see each raise also where the
// system lacks the notification event. Ordinary output supersedes itself (a reader
// finishes what it says, then skips to the latest), so it never lags behind the
// installation; important lines go apart, each one said.
void raiseNotification(AccessState& state, const std::u16string& text, bool important) {
    ++state.record_.notifications;
    if (important) ++state.record_.important;
    state.record_.lastText = text;
    state.record_.lastImportant = important;
    const uia::Api& api = uia::api();
    if (api.raiseNotificationEvent == nullptr || !listening(api)) return;
    BSTR display = toBstr(text);
    BSTR activity = SysAllocString(important ? L"kelvane.console.important" : L"kelvane.console.output");
    api.raiseNotificationEvent(state.provider_, uia::NotificationKind_Other,
                               important ? uia::NotificationProcessing_ImportantAll
                                         : uia::NotificationProcessing_CurrentThenMostRecent,
                               display, activity);
    SysFreeString(activity);
    SysFreeString(display);
}

// Once a tick at most, however often the caret and the selection moved in it.
void raiseSelectionChanged(AccessState& state) {
    ++state.record_.selectionChanged;
    const uia::Api& api = uia::api();
    if (api.raiseAutomationEvent != nullptr && listening(api)) {
        api.raiseAutomationEvent(state.provider_, uia::kTextSelectionChangedEventId);
    }
}

// Active Accessibility readers learn of new output only through the value.
void raiseValueChanged(AccessState& state) {
    ++state.record_.valueChanged;
    NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, state.context_->window(), OBJID_CLIENT, CHILDID_SELF);
}

void raiseTextChanged(AccessState& state) {
    ++state.record_.textChanged;
    const uia::Api& api = uia::api();
    if (api.raiseAutomationEvent != nullptr && listening(api)) {
        api.raiseAutomationEvent(state.provider_, uia::kTextChangedEventId);
    }
}

AccessState* stateOf(HWND window) {
    ConsoleInstance* instance = g_consoleRegistry.find(window);
    return instance != nullptr ? blockOf(*instance).access : nullptr;
}

}  // namespace

HRESULT takeSnapshot(const AccessContext& context, Snapshot& snapshot) {
    if (!context.alive()) return uia::kElementNotAvailable;
    HWND window = context.window();
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
        return buildSnapshot(window, snapshot) ? S_OK : uia::kElementNotAvailable;
    }
    // Not SendMessageTimeout: a message left behind by a timeout could still be served
    // later and write into a snapshot that no longer exists.
    const LRESULT built = SendMessageW(window, snapshotMessage(), snapshotCookie(), reinterpret_cast<LPARAM>(&snapshot));
    return built == 1 && context.alive() ? S_OK : uia::kElementNotAvailable;
}

HRESULT selectText(const AccessContext& context, TextRange range) {
    if (!context.alive()) return uia::kElementNotAvailable;
    HWND window = context.window();
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) return applySelection(window, range);
    SelectRequest request;
    request.range = range;
    // Not SendMessageTimeout, for the reason takeSnapshot gives.
    SendMessageW(window, selectMessage(), snapshotCookie(), reinterpret_cast<LPARAM>(&request));
    return context.alive() ? request.result : uia::kElementNotAvailable;
}

BSTR consoleName(HWND window) {
    // A title that changes between the two calls is taken as far as the first length
    // reaches (a longer one is cut there, a shorter one kept whole).
    const int length = GetWindowTextLengthW(window);
    if (length <= 0) return SysAllocString(L"Console");
    BSTR name = SysAllocStringLen(nullptr, static_cast<UINT>(length));
    if (name == nullptr) return nullptr;
    const int copied = GetWindowTextW(window, name, length + 1);
    if (copied <= 0) {
        SysFreeString(name);
        return SysAllocString(L"Console");
    }
    if (copied == length) return name;
    BSTR shorter = SysAllocStringLen(name, static_cast<UINT>(copied));
    SysFreeString(name);
    return shorter;
}

LRESULT onGetObject(HWND window, InstanceBlock& block, WPARAM wparam, LPARAM lparam) {
    // The object id travels in the low 32 bits; 64-bit callers may not sign-extend it.
    const LONG id = static_cast<LONG>(lparam);
    if (id == uia::kRootObjectId) {
        const uia::Api& api = uia::api();
        AccessState* state = api.returnRawElementProvider != nullptr ? ensureState(window, block) : nullptr;
        if (state != nullptr) return api.returnRawElementProvider(window, wparam, lparam, state->provider_);
    } else if (id == OBJID_CLIENT) {
        // Without oleacc.dll the system's own object answers.
        const auto lresultFromObject = oleacc::api().lresultFromObject;
        AccessState* state = lresultFromObject != nullptr ? ensureState(window, block) : nullptr;
        if (state != nullptr) {
            // The object is marshalled, so the window's thread must have initialised COM;
            // its apartment is the program's to choose, never made here behind its back.
            // Without one (CO_E_NOTINITIALIZED), the system's own object answers.
            const LRESULT result = lresultFromObject(__uuidof(IAccessible), wparam, state->accessible_);
            if (result >= 0) return result;
        }
    }
    return DefWindowProcA(window, WM_GETOBJECT, wparam, lparam);
}

bool isAccessMessage(UINT message) {
    return message == snapshotMessage() || message == selectMessage() || message == importantMessage();
}

LRESULT onAccessMessage(HWND window, InstanceBlock& block, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == importantMessage()) {
        if (block.access != nullptr) {
            block.access->announcer_.markNext(wparam == QUORVEND_CONSOLE_NOT_ANNOUNCED ? PrintMark::Silent
                                                                                      : PrintMark::Important);
        }
        return 0;
    }
    if (wparam != snapshotCookie() || lparam == 0 || InSendMessageEx(nullptr) == ISMEX_NOSEND) return 0;
    if (message == selectMessage()) {
        auto& request = *reinterpret_cast<SelectRequest*>(lparam);
        request.result = applySelection(window, request.range);
        return 1;
    }
    return buildSnapshot(window, *reinterpret_cast<Snapshot*>(lparam)) ? 1 : 0;
}

void onAccessDestroy(HWND window, InstanceBlock& block) {
    AccessState* state = block.access;
    if (state == nullptr || !state->context_->alive()) return;
    state->context_->disconnect();
    const uia::Api& api = uia::api();
    if (api.returnRawElementProvider != nullptr) api.returnRawElementProvider(window, 0, 0, nullptr);
    if (api.disconnectProvider != nullptr) api.disconnectProvider(state->provider_);
    // Drops the references remote clients' stubs hold; a thread without COM has none.
    CoDisconnectObject(state->accessible_, 0);
}

void releaseAccessState(InstanceBlock& block) {
    delete block.access;
    block.access = nullptr;
}

Announcer* accessAnnouncer(InstanceBlock& block) {
    return block.access != nullptr ? &block.access->announcer_ : nullptr;
}

void raiseAnnouncement(InstanceBlock& block, const Announcement& announcement) {
    AccessState* state = block.access;
    if (state == nullptr) return;
    ++state->record_.ticks;
    if (announcement.speak) raiseNotification(*state, announcement.text, false);
    if (announcement.speakImportant) raiseNotification(*state, announcement.importantText, true);
    if (announcement.textChanged) raiseTextChanged(*state);
    if (announcement.caretMoved || announcement.selectionChanged) raiseSelectionChanged(*state);
    if (announcement.speak || announcement.speakImportant || announcement.textChanged) raiseValueChanged(*state);
    if (g_observer != nullptr) g_observer(announcement, g_observerContext);
}

RaiseRecord accessRaiseRecord(HWND window) {
    AccessState* state = stateOf(window);
    return state != nullptr ? state->record_ : RaiseRecord();
}

IRawElementProviderSimple* accessProviderForTests(HWND window) {
    AccessState* state = stateOf(window);
    if (state == nullptr) return nullptr;
    state->provider_->AddRef();
    return state->provider_;
}

void setRaiseObserverForTests(RaiseObserver observer, void* context) {
    g_observer = observer;
    g_observerContext = context;
}

}  // namespace win32
}  // namespace console
