// The console's UI Automation element with its text and value patterns (one object).
// Must not touch the window's block or screens: everything it reads comes from a
// snapshot taken on the window's thread (takeSnapshot).
#include "uia_provider.h"

#include <new>

#include "com_ref_count.h"
#include "uia_text_range.h"

namespace console {
namespace win32 {

namespace {

VARIANT boolVariant(bool value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

VARIANT intVariant(LONG value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

bool hasFocus(HWND window) {
    GUITHREADINFO info;
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) && info.hwndFocus == window;
}

class ConsoleProvider final : public IRawElementProviderSimple,
                              public uia::ITextProvider,
                              public uia::IValueProvider,
                              private ComRefCount<ConsoleProvider> {
    friend class ComRefCount<ConsoleProvider>;

public:
    explicit ConsoleProvider(AccessContext* context) : context_(context) { context_->addRef(); }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IRawElementProviderSimple)) {
            *out = static_cast<IRawElementProviderSimple*>(this);
        } else if (iid == uia::IID_TextProvider) {
            *out = static_cast<uia::ITextProvider*>(this);
        } else if (iid == uia::IID_ValueProvider) {
            *out = static_cast<uia::IValueProvider*>(this);
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addReference(); }
    ULONG STDMETHODCALLTYPE Release() override { return releaseReference(); }

    // IRawElementProviderSimple. Not UseComThreading: the window's thread need not
    // have COM, and takeSnapshot serves calls from any thread.
    HRESULT STDMETHODCALLTYPE get_ProviderOptions(ProviderOptions* options) override {
        if (options == nullptr) return E_POINTER;
        *options = ProviderOptions_ServerSideProvider;
        return context_->alive() ? S_OK : uia::kElementNotAvailable;
    }
    HRESULT STDMETHODCALLTYPE GetPatternProvider(PATTERNID pattern, IUnknown** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (!context_->alive()) return uia::kElementNotAvailable;
        if (pattern == uia::kTextPatternId) {
            *out = static_cast<uia::ITextProvider*>(this);
            AddRef();
        } else if (pattern == uia::kValuePatternId) {
            *out = static_cast<uia::IValueProvider*>(this);
            AddRef();
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPropertyValue(PROPERTYID property, VARIANT* out) override {
        if (out == nullptr) return E_POINTER;
        VariantInit(out);
        if (!context_->alive()) return uia::kElementNotAvailable;
        HWND window = context_->window();
        switch (property) {
        case uia::kControlTypePropertyId: *out = intVariant(uia::kDocumentControlTypeId); break;
        case uia::kNamePropertyId:
            out->vt = VT_BSTR;
            out->bstrVal = consoleName(window);
            if (out->bstrVal == nullptr) out->vt = VT_EMPTY;
            break;
        case uia::kAutomationIdPropertyId:
            out->vt = VT_BSTR;
            out->bstrVal = SysAllocString(L"console");
            if (out->bstrVal == nullptr) out->vt = VT_EMPTY;
            break;
        case uia::kHasKeyboardFocusPropertyId: *out = boolVariant(hasFocus(window)); break;
        case uia::kIsKeyboardFocusablePropertyId:
        case uia::kIsControlElementPropertyId:
        case uia::kIsContentElementPropertyId:
        case uia::kIsTextPatternAvailablePropertyId:
        case uia::kIsValuePatternAvailablePropertyId: *out = boolVariant(true); break;
        default: break;  // VT_EMPTY: the host provider's value, or none
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_HostRawElementProvider(IRawElementProviderSimple** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (!context_->alive()) return uia::kElementNotAvailable;
        const uia::Api& api = uia::api();
        return api.hostProviderFromHwnd != nullptr ? api.hostProviderFromHwnd(context_->window(), out) : S_OK;
    }

    // ITextProvider
    HRESULT STDMETHODCALLTYPE GetSelection(SAFEARRAY** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        Snapshot snapshot;
        const HRESULT taken = takeSnapshot(*context_, snapshot);
        if (FAILED(taken)) return taken;
        const std::vector<TextRange>& selection = snapshot.text.selection();
        const TextRange caret = snapshot.text.caret();
        *out = selection.empty() ? rangeArray(context_, this, &caret, 1)
                                 : rangeArray(context_, this, selection.data(), selection.size());
        return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE GetVisibleRanges(SAFEARRAY** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        Snapshot snapshot;
        const HRESULT taken = takeSnapshot(*context_, snapshot);
        if (FAILED(taken)) return taken;
        const TextRange whole = {0, snapshot.text.length()};  // the screen shows all of it
        *out = rangeArray(context_, this, &whole, 1);
        return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE RangeFromChild(IRawElementProviderSimple*, uia::ITextRangeProvider** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        return context_->alive() ? E_INVALIDARG : uia::kElementNotAvailable;  // the console has no children
    }
    HRESULT STDMETHODCALLTYPE RangeFromPoint(uia::UiaPoint point, uia::ITextRangeProvider** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        Snapshot snapshot;
        const HRESULT taken = takeSnapshot(*context_, snapshot);
        if (FAILED(taken)) return taken;
        const ScreenText& text = snapshot.text;
        int32_t offset = 0;
        if (text.rows() > 0 && snapshot.cellWidth > 0 && snapshot.cellHeight > 0) {
            // The nearest cell: a point outside the grid takes its edge.
            const double x = (point.x - snapshot.origin.x) / snapshot.cellWidth;
            const double y = (point.y - snapshot.origin.y) / snapshot.cellHeight;
            const int32_t column = x < 0 ? 0 : x >= text.columns() ? text.columns() - 1 : static_cast<int32_t>(x);
            const int32_t row = y < 0 ? 0 : y >= text.rows() ? text.rows() - 1 : static_cast<int32_t>(y);
            offset = text.offsetOf(column < 0 ? 0 : column, row);
        }
        *out = createTextRange(context_, this, offset, offset);
        return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_DocumentRange(uia::ITextRangeProvider** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        Snapshot snapshot;
        const HRESULT taken = takeSnapshot(*context_, snapshot);
        if (FAILED(taken)) return taken;
        *out = createTextRange(context_, this, 0, snapshot.text.length());
        return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    // A mouse selection is a rectangle: one range per row, hence several at once. A
    // range's Select makes one where a rectangle reads back as it (uia_text_range.cpp).
    HRESULT STDMETHODCALLTYPE get_SupportedTextSelection(uia::SupportedTextSelection* out) override {
        if (out == nullptr) return E_POINTER;
        *out = uia::SupportedTextSelection_Multiple;
        return context_->alive() ? S_OK : uia::kElementNotAvailable;
    }

    // IValueProvider: tells readers whether the text is editable (an input field runs);
    // the value is the whole text, as Active Accessibility's.
    HRESULT STDMETHODCALLTYPE SetValue(LPCWSTR) override {
        // Only typed keys reach the field: a reader cannot write the screen.
        return context_->alive() ? uia::kInvalidOperation : uia::kElementNotAvailable;
    }
    HRESULT STDMETHODCALLTYPE get_Value(BSTR* out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        Snapshot snapshot;
        const HRESULT taken = takeSnapshot(*context_, snapshot);
        if (FAILED(taken)) return taken;
        const std::vector<uint16_t>& text = snapshot.text.text();
        *out = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
        return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_IsReadOnly(BOOL* out) override {
        if (out == nullptr) return E_POINTER;
        *out = TRUE;
        Snapshot snapshot;
        const HRESULT taken = takeSnapshot(*context_, snapshot);
        if (FAILED(taken)) return taken;
        *out = snapshot.editing ? FALSE : TRUE;
        return S_OK;
    }

private:
    ~ConsoleProvider() { context_->release(); }

    AccessContext* context_;
};

}  // namespace

IRawElementProviderSimple* createConsoleProvider(AccessContext* context) {
    return new (std::nothrow) ConsoleProvider(context);
}

}  // namespace win32
}  // namespace console
