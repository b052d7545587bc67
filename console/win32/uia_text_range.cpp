// A UI Automation text range over the console's text: offsets, navigation, text,
// colours and the cells' rectangles on the screen. Must not keep a snapshot between
// calls (the screen changes under it), reach the window's block, nor write another range.
#include "uia_text_range.h"

#include <algorithm>
#include <new>
#include <vector>

#include "com_ref_count.h"

namespace console {
namespace win32 {

namespace {

// Our own ranges answer this with themselves (no reference), so that offsets of a range
// given back to us can be read; a foreign range does not.
// {9b5f4c31-6d2e-4a7f-8e31-2c6a1d0b7e54}
const IID kIidConsoleTextRange = {0x9b5f4c31, 0x6d2e, 0x4a7f, {0x8e, 0x31, 0x2c, 0x6a, 0x1d, 0x0b, 0x7e, 0x54}};

bool validUnit(int unit) { return unit >= static_cast<int>(TextUnit::Character) && unit <= static_cast<int>(TextUnit::Document); }

bool validEndpoint(uia::TextPatternRangeEndpoint endpoint) {
    return endpoint == uia::TextPatternRangeEndpoint_Start || endpoint == uia::TextPatternRangeEndpoint_End;
}

uint32_t colorOf(const ScreenText& text, int attribute, int32_t offset) {
    const CellColors colors = text.colorsAt(offset);
    return attribute == uia::kForegroundColorAttributeId ? colors.foreground : colors.background;
}

bool isColorAttribute(int attribute) {
    return attribute == uia::kForegroundColorAttributeId || attribute == uia::kBackgroundColorAttributeId;
}

// A reserved value (mixed, not supported) as VT_UNKNOWN; VT_EMPTY where the system has none.
void reservedValue(HRESULT(WINAPI* get)(IUnknown**), VARIANT* out) {
    IUnknown* value = nullptr;
    if (get != nullptr && SUCCEEDED(get(&value)) && value != nullptr) {
        out->vt = VT_UNKNOWN;
        out->punkVal = value;
    }
}

// Upper-cases a copy for a comparison that ignores case.
std::vector<wchar_t> folded(const wchar_t* text, size_t length, bool fold) {
    std::vector<wchar_t> copy(text, text + length);
    if (fold && length > 0) CharUpperBuffW(copy.data(), static_cast<DWORD>(length));
    return copy;
}

// The two offsets of a range, as last set; clamped to a snapshot's length before use.
struct Offsets {
    int32_t start = 0;
    int32_t end = 0;
};

Offsets clamped(Offsets o, int32_t length) {
    o.start = std::min(std::max(o.start, 0), length);
    o.end = std::min(std::max(o.end, o.start), length);
    return o;
}

// A range may be used from several client threads at once. Its lock guards only the
// reading and writing of the pair, never a snapshot: taking one sends to the window's
// thread, which may itself be waiting for this lock. No two ranges' locks are ever held
// together (a range may be given itself as the other one).
class OffsetsLock {
public:
    explicit OffsetsLock(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~OffsetsLock() { ReleaseSRWLockExclusive(&lock_); }
    OffsetsLock(const OffsetsLock&) = delete;
    OffsetsLock& operator=(const OffsetsLock&) = delete;

private:
    SRWLOCK& lock_;
};

class ConsoleTextRange final : public uia::ITextRangeProvider, private ComRefCount<ConsoleTextRange> {
    friend class ComRefCount<ConsoleTextRange>;

public:
    ConsoleTextRange(AccessContext* context, IRawElementProviderSimple* root, int32_t start, int32_t end)
        : context_(context), root_(root), offsets_{start, end} {
        context_->addRef();
        root_->AddRef();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (iid == kIidConsoleTextRange) {
            *out = this;  // internal: no reference taken
            return S_OK;
        }
        if (iid == __uuidof(IUnknown) || iid == uia::IID_TextRangeProvider) {
            *out = static_cast<uia::ITextRangeProvider*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return addReference(); }
    ULONG STDMETHODCALLTYPE Release() override { return releaseReference(); }

    HRESULT STDMETHODCALLTYPE Clone(ITextRangeProvider** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (!context_->alive()) return uia::kElementNotAvailable;
        const Offsets o = offsets();
        *out = createTextRange(context_, root_, o.start, o.end);
        return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE Compare(ITextRangeProvider* range, BOOL* out) override {
        if (out == nullptr) return E_POINTER;
        *out = FALSE;
        Snapshot snapshot;
        Offsets theirs;
        const HRESULT ready = prepare(snapshot, range, &theirs);
        if (FAILED(ready)) return ready;
        const Offsets mine = clamped(offsets(), snapshot.text.length());
        *out = mine.start == theirs.start && mine.end == theirs.end;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CompareEndpoints(uia::TextPatternRangeEndpoint endpoint, ITextRangeProvider* target,
                                               uia::TextPatternRangeEndpoint targetEndpoint, int* out) override {
        if (out == nullptr) return E_POINTER;
        *out = 0;
        if (!validEndpoint(endpoint) || !validEndpoint(targetEndpoint)) return E_INVALIDARG;
        Snapshot snapshot;
        Offsets theirs;
        const HRESULT ready = prepare(snapshot, target, &theirs);
        if (FAILED(ready)) return ready;
        *out = endpointOf(clamped(offsets(), snapshot.text.length()), endpoint) - endpointOf(theirs, targetEndpoint);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ExpandToEnclosingUnit(int unit) override {
        if (!validUnit(unit)) return E_INVALIDARG;
        Snapshot snapshot;
        const HRESULT ready = prepare(snapshot);
        if (FAILED(ready)) return ready;
        OffsetsLock lock(lock_);
        const Offsets o = clamped(offsets_, snapshot.text.length());
        const TextRange enclosing = snapshot.text.enclosing(static_cast<TextUnit>(unit), o.start);
        offsets_ = {enclosing.start, enclosing.end};
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FindAttribute(int attribute, VARIANT value, BOOL backward, ITextRangeProvider** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        Snapshot snapshot;
        const HRESULT ready = prepare(snapshot);
        if (FAILED(ready)) return ready;
        const Offsets o = clamped(offsets(), snapshot.text.length());
        if (attribute == uia::kIsReadOnlyAttributeId) {  // all of it is one or the other
            const bool readOnly = !snapshot.editing;
            if (value.vt == VT_BOOL && (value.boolVal != VARIANT_FALSE) == readOnly) {
                *out = createTextRange(context_, root_, o.start, o.end);
            }
            return S_OK;
        }
        if (!isColorAttribute(attribute) || value.vt != VT_I4) return S_OK;  // nothing has it
        const uint32_t wanted = static_cast<uint32_t>(value.lVal);
        const ScreenText& text = snapshot.text;
        const auto matches = [&](int32_t offset) { return colorOf(text, attribute, offset) == wanted; };
        int32_t first = -1;
        int32_t last = -1;  // exclusive
        if (!backward) {
            for (int32_t i = o.start; i < o.end && first < 0; ++i) if (matches(i)) first = i;
            if (first < 0) return S_OK;
            last = first;
            while (last < o.end && matches(last)) ++last;
        } else {
            for (int32_t i = o.end - 1; i >= o.start && last < 0; --i) if (matches(i)) last = i + 1;
            if (last < 0) return S_OK;
            first = last;
            while (first > o.start && matches(first - 1)) --first;
        }
        *out = createTextRange(context_, root_, first, last);
        return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE FindText(BSTR wanted, BOOL backward, BOOL ignoreCase, ITextRangeProvider** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        const size_t length = SysStringLen(wanted);
        if (length == 0) return E_INVALIDARG;
        Snapshot snapshot;
        const HRESULT ready = prepare(snapshot);
        if (FAILED(ready)) return ready;
        const Offsets o = clamped(offsets(), snapshot.text.length());
        const std::vector<uint16_t>& all = snapshot.text.text();
        const std::vector<wchar_t> hay = folded(reinterpret_cast<const wchar_t*>(all.data()) + o.start,
                                                static_cast<size_t>(o.end - o.start), ignoreCase != FALSE);
        const std::vector<wchar_t> needle = folded(wanted, length, ignoreCase != FALSE);
        auto found = backward ? std::find_end(hay.begin(), hay.end(), needle.begin(), needle.end())
                              : std::search(hay.begin(), hay.end(), needle.begin(), needle.end());
        if (found == hay.end()) return S_OK;
        const int32_t at = o.start + static_cast<int32_t>(found - hay.begin());
        *out = createTextRange(context_, root_, at, at + static_cast<int32_t>(length));
        return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE GetAttributeValue(int attribute, VARIANT* out) override {
        if (out == nullptr) return E_POINTER;
        VariantInit(out);
        Snapshot snapshot;
        const HRESULT ready = prepare(snapshot);
        if (FAILED(ready)) return ready;
        const Offsets o = clamped(offsets(), snapshot.text.length());
        if (attribute == uia::kIsReadOnlyAttributeId) {
            // Editable while the input field runs: typed keys then change this text.
            out->vt = VT_BOOL;
            out->boolVal = snapshot.editing ? VARIANT_FALSE : VARIANT_TRUE;
        } else if (isColorAttribute(attribute)) {
            // A degenerate range has the colour of the cell it stands before.
            const uint32_t first = colorOf(snapshot.text, attribute, o.start);
            bool mixed = false;
            for (int32_t i = o.start + 1; i < o.end && !mixed; ++i) mixed = colorOf(snapshot.text, attribute, i) != first;
            if (mixed) {
                reservedValue(uia::api().getReservedMixedAttributeValue, out);
            } else {
                out->vt = VT_I4;
                out->lVal = static_cast<LONG>(first);
            }
        } else {
            reservedValue(uia::api().getReservedNotSupportedValue, out);
        }
        return S_OK;
    }
    // One rectangle per row the range covers (left, top, width, height in screen pixels);
    // a degenerate range gives a rectangle of no width where it stands.
    HRESULT STDMETHODCALLTYPE GetBoundingRectangles(SAFEARRAY** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        Snapshot snapshot;
        const HRESULT ready = prepare(snapshot);
        if (FAILED(ready)) return ready;
        const Offsets o = clamped(offsets(), snapshot.text.length());
        std::vector<double> values;
        for (const CellSpan& span : snapshot.text.spans({o.start, o.end})) {
            if (span.count == 0 && o.start != o.end) continue;
            values.push_back(snapshot.origin.x + static_cast<double>(span.first) * snapshot.cellWidth);
            values.push_back(snapshot.origin.y + static_cast<double>(span.row) * snapshot.cellHeight);
            values.push_back(static_cast<double>(span.count) * snapshot.cellWidth);
            values.push_back(snapshot.cellHeight);
        }
        *out = SafeArrayCreateVector(VT_R8, 0, static_cast<ULONG>(values.size()));
        if (*out == nullptr) return E_OUTOFMEMORY;
        for (LONG i = 0; i < static_cast<LONG>(values.size()); ++i) SafeArrayPutElement(*out, &i, &values[i]);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetEnclosingElement(IRawElementProviderSimple** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (!context_->alive()) return uia::kElementNotAvailable;
        *out = root_;
        root_->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetText(int maxLength, BSTR* out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (maxLength < -1) return E_INVALIDARG;
        Snapshot snapshot;
        const HRESULT ready = prepare(snapshot);
        if (FAILED(ready)) return ready;
        const Offsets o = clamped(offsets(), snapshot.text.length());
        int32_t count = o.end - o.start;
        if (maxLength >= 0 && maxLength < count) count = maxLength;  // the caller's limit, as asked
        const uint16_t* from = snapshot.text.text().data() + o.start;
        *out = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(from), static_cast<UINT>(count));
        return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE Move(int unit, int count, int* moved) override {
        if (moved == nullptr) return E_POINTER;
        *moved = 0;
        if (!validUnit(unit)) return E_INVALIDARG;
        Snapshot snapshot;
        const HRESULT ready = prepare(snapshot);
        if (FAILED(ready)) return ready;
        OffsetsLock lock(lock_);
        const Offsets o = clamped(offsets_, snapshot.text.length());
        TextRange range = {o.start, o.end};
        *moved = snapshot.text.move(range, static_cast<TextUnit>(unit), count);
        offsets_ = {range.start, range.end};
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE MoveEndpointByUnit(uia::TextPatternRangeEndpoint endpoint, int unit, int count,
                                                 int* moved) override {
        if (moved == nullptr) return E_POINTER;
        *moved = 0;
        if (!validUnit(unit) || !validEndpoint(endpoint)) return E_INVALIDARG;
        Snapshot snapshot;
        const HRESULT ready = prepare(snapshot);
        if (FAILED(ready)) return ready;
        OffsetsLock lock(lock_);
        const Offsets o = clamped(offsets_, snapshot.text.length());
        TextRange range = {o.start, o.end};
        *moved = snapshot.text.moveEndpoint(range, endpoint == uia::TextPatternRangeEndpoint_Start,
                                            static_cast<TextUnit>(unit), count);
        offsets_ = {range.start, range.end};
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE MoveEndpointByRange(uia::TextPatternRangeEndpoint endpoint, ITextRangeProvider* target,
                                                  uia::TextPatternRangeEndpoint targetEndpoint) override {
        if (!validEndpoint(endpoint) || !validEndpoint(targetEndpoint)) return E_INVALIDARG;
        Snapshot snapshot;
        Offsets theirs;
        const HRESULT ready = prepare(snapshot, target, &theirs);
        if (FAILED(ready)) return ready;
        const int32_t to = endpointOf(theirs, targetEndpoint);
        OffsetsLock lock(lock_);
        Offsets o = clamped(offsets_, snapshot.text.length());
        if (endpoint == uia::TextPatternRangeEndpoint_Start) {
            o.start = to;
            if (o.end < to) o.end = to;  // the other endpoint follows when crossed
        } else {
            o.end = to;
            if (o.start > to) o.start = to;
        }
        offsets_ = o;
        return S_OK;
    }
    // The mouse's rectangle takes a range that a rectangle reads back exactly; the caret
    // is the program's cursor and never moves for a reader.
    HRESULT STDMETHODCALLTYPE Select() override {
        if (!context_->alive()) return uia::kElementNotAvailable;
        const Offsets o = offsets();
        return selectText(*context_, {o.start, o.end});
    }
    // A rectangle can neither take a second piece nor lose one.
    HRESULT STDMETHODCALLTYPE AddToSelection() override { return unsupported(); }
    HRESULT STDMETHODCALLTYPE RemoveFromSelection() override { return unsupported(); }
    HRESULT STDMETHODCALLTYPE ScrollIntoView(BOOL) override {
        return context_->alive() ? S_OK : uia::kElementNotAvailable;  // always all on show
    }
    HRESULT STDMETHODCALLTYPE GetChildren(SAFEARRAY** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (!context_->alive()) return uia::kElementNotAvailable;
        *out = SafeArrayCreateVector(VT_UNKNOWN, 0, 0);
        return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    }

private:
    ~ConsoleTextRange() {
        root_->Release();
        context_->release();
    }

    HRESULT unsupported() const { return context_->alive() ? uia::kInvalidOperation : uia::kElementNotAvailable; }

    static int32_t endpointOf(const Offsets& o, uia::TextPatternRangeEndpoint endpoint) {
        return endpoint == uia::TextPatternRangeEndpoint_Start ? o.start : o.end;
    }

    // The pair as one consistent reading, unclamped.
    Offsets offsets() const {
        OffsetsLock lock(lock_);
        return offsets_;
    }

    // Takes the snapshot; with another range, reads that one's pair (clamped to the
    // snapshot, the other range itself left as it is).
    HRESULT prepare(Snapshot& snapshot, ITextRangeProvider* range = nullptr, Offsets* theirs = nullptr) {
        const ConsoleTextRange* other = nullptr;
        if (theirs != nullptr) {
            if (range == nullptr) return E_INVALIDARG;
            void* ours = nullptr;
            if (FAILED(range->QueryInterface(kIidConsoleTextRange, &ours)) || ours == nullptr) return E_INVALIDARG;
            other = static_cast<const ConsoleTextRange*>(ours);
            if (other->context_ != context_) return E_INVALIDARG;  // another window's text
        }
        const HRESULT taken = takeSnapshot(*context_, snapshot);
        if (FAILED(taken)) return taken;
        if (other != nullptr) *theirs = clamped(other->offsets(), snapshot.text.length());
        return S_OK;
    }

    AccessContext* context_;
    IRawElementProviderSimple* root_;
    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    Offsets offsets_;
};

}  // namespace

uia::ITextRangeProvider* createTextRange(AccessContext* context, IRawElementProviderSimple* root, int32_t start,
                                         int32_t end) {
    return new (std::nothrow) ConsoleTextRange(context, root, start, end);
}

SAFEARRAY* rangeArray(AccessContext* context, IRawElementProviderSimple* root, const TextRange* ranges, size_t count) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_UNKNOWN, 0, static_cast<ULONG>(count));
    if (array == nullptr) return nullptr;
    for (LONG i = 0; i < static_cast<LONG>(count); ++i) {
        uia::ITextRangeProvider* range = createTextRange(context, root, ranges[i].start, ranges[i].end);
        if (range == nullptr) {
            SafeArrayDestroy(array);
            return nullptr;
        }
        SafeArrayPutElement(array, &i, static_cast<IUnknown*>(range));  // takes its own reference
        range->Release();
    }
    return array;
}

}  // namespace win32
}  // namespace console
