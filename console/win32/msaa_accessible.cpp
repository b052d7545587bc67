// The console's IAccessible: role, state, name, value and location of the client area.
// Must not reach the window's block: the value comes from a snapshot taken on the
// window's thread; after the window is gone every call answers CO_E_OBJNOTCONNECTED.
#include "msaa_accessible.h"

#include <new>

#include "com_ref_count.h"
#include "oleacc_api.h"

namespace console {
namespace win32 {

namespace {

bool isSelf(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }

class ConsoleAccessible final : public IAccessible, private ComRefCount<ConsoleAccessible> {
    friend class ComRefCount<ConsoleAccessible>;

public:
    explicit ConsoleAccessible(AccessContext* context) : context_(context) { context_->addRef(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) || iid == __uuidof(IAccessible)) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addReference(); }
    ULONG STDMETHODCALLTYPE Release() override { return releaseReference(); }

    // IDispatch: readers call the IAccessible methods directly.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (!context_->alive()) return CO_E_OBJNOTCONNECTED;
        // The window object the system makes for the console's frame (none without oleacc).
        const auto fromWindow = oleacc::api().accessibleObjectFromWindow;
        if (fromWindow == nullptr) return S_FALSE;
        const HRESULT got = fromWindow(context_->window(), static_cast<DWORD>(OBJID_WINDOW), __uuidof(IDispatch),
                                       reinterpret_cast<void**>(out));
        return SUCCEEDED(got) && *out != nullptr ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 0;
        return context_->alive() ? S_OK : CO_E_OBJNOTCONNECTED;
    }
    // The console has no children; asked for itself, it is its own.
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (!context_->alive()) return CO_E_OBJNOTCONNECTED;
        if (!isSelf(child)) return E_INVALIDARG;
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* out) override {
        const HRESULT ready = check(child, out);
        if (ready != S_OK) return ready;
        *out = consoleName(context_->window());
        return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* out) override {
        const HRESULT ready = check(child, out);
        if (ready != S_OK) return ready;
        Snapshot snapshot;
        if (FAILED(takeSnapshot(*context_, snapshot))) return CO_E_OBJNOTCONNECTED;
        const std::vector<uint16_t>& text = snapshot.text.text();
        *out = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
        return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* out) override { return none(child, out); }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* out) override {
        if (out == nullptr) return E_POINTER;
        VariantInit(out);
        if (!context_->alive()) return CO_E_OBJNOTCONNECTED;
        if (!isSelf(child)) return E_INVALIDARG;
        out->vt = VT_I4;
        out->lVal = ROLE_SYSTEM_TEXT;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* out) override {
        if (out == nullptr) return E_POINTER;
        VariantInit(out);
        if (!context_->alive()) return CO_E_OBJNOTCONNECTED;
        if (!isSelf(child)) return E_INVALIDARG;
        GUITHREADINFO info;
        info.cbSize = sizeof info;
        HWND window = context_->window();
        const bool focused = GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) && info.hwndFocus == window;
        // Editable only while an input field runs.
        Snapshot snapshot;
        const bool editing = SUCCEEDED(takeSnapshot(*context_, snapshot)) && snapshot.editing;
        out->vt = VT_I4;
        out->lVal = STATE_SYSTEM_FOCUSABLE | (editing ? 0 : STATE_SYSTEM_READONLY);
        if (focused) out->lVal |= STATE_SYSTEM_FOCUSED;
        if (!IsWindowVisible(window)) out->lVal |= STATE_SYSTEM_INVISIBLE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* out) override { return none(child, out); }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, long* topic) override {
        if (file != nullptr) *file = nullptr;
        if (topic != nullptr) *topic = 0;
        return context_->alive() ? S_FALSE : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* out) override { return none(child, out); }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* out) override {
        if (out == nullptr) return E_POINTER;
        VariantInit(out);
        if (!context_->alive()) return CO_E_OBJNOTCONNECTED;
        VARIANT self;
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        VARIANT state;
        if (SUCCEEDED(get_accState(self, &state)) && (state.lVal & STATE_SYSTEM_FOCUSED) != 0) *out = self;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* out) override {
        if (out == nullptr) return E_POINTER;
        VariantInit(out);
        return context_->alive() ? S_OK : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* out) override { return none(child, out); }
    HRESULT STDMETHODCALLTYPE accSelect(long, VARIANT) override {
        return context_->alive() ? DISP_E_MEMBERNOTFOUND : CO_E_OBJNOTCONNECTED;
    }
    // The client area, in screen coordinates.
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height, VARIANT child) override {
        if (left == nullptr || top == nullptr || width == nullptr || height == nullptr) return E_POINTER;
        *left = *top = *width = *height = 0;
        if (!context_->alive()) return CO_E_OBJNOTCONNECTED;
        if (!isSelf(child)) return E_INVALIDARG;
        RECT client = {0, 0, 0, 0};
        POINT origin = {0, 0};
        if (!GetClientRect(context_->window(), &client) || !ClientToScreen(context_->window(), &origin)) {
            return CO_E_OBJNOTCONNECTED;
        }
        *left = origin.x;
        *top = origin.y;
        *width = client.right;
        *height = client.bottom;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long, VARIANT, VARIANT* out) override {
        if (out == nullptr) return E_POINTER;
        VariantInit(out);
        return context_->alive() ? S_FALSE : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* out) override {
        if (out == nullptr) return E_POINTER;
        VariantInit(out);
        if (!context_->alive()) return CO_E_OBJNOTCONNECTED;
        POINT at = {x, y};
        RECT client = {0, 0, 0, 0};
        if (!ScreenToClient(context_->window(), &at) || !GetClientRect(context_->window(), &client) ||
            !PtInRect(&client, at)) {
            return S_FALSE;
        }
        out->vt = VT_I4;
        out->lVal = CHILDID_SELF;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT) override {
        return context_->alive() ? DISP_E_MEMBERNOTFOUND : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

private:
    ~ConsoleAccessible() { context_->release(); }

    // S_OK when a string for CHILDID_SELF may be given.
    HRESULT check(const VARIANT& child, BSTR* out) const {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (!context_->alive()) return CO_E_OBJNOTCONNECTED;
        return isSelf(child) ? S_OK : E_INVALIDARG;
    }
    // A string property the console does not have.
    HRESULT none(const VARIANT& child, BSTR* out) const {
        const HRESULT ready = check(child, out);
        return ready == S_OK ? S_FALSE : ready;
    }

    AccessContext* context_;
};

}  // namespace

IAccessible* createConsoleAccessible(AccessContext* context) { return new (std::nothrow) ConsoleAccessible(context); }

}  // namespace win32
}  // namespace console
