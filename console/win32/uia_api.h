// The UI Automation pieces the console's providers use: the text interfaces and
// identifiers (declared here because not every SDK's headers carry them), and the
// uiautomationcore.dll entry points, looked up at run time. Nothing here may link
// against uiautomationcore: systems without it must still load the console.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <uiautomationcore.h>  // IRawElementProviderSimple, ProviderOptions

namespace console {
namespace win32 {
namespace uia {

// Identifiers, as UI Automation numbers them.
constexpr LONG kRootObjectId = -25;
constexpr int kValuePatternId = 10002;
constexpr int kTextPatternId = 10014;
constexpr int kBoundingRectanglePropertyId = 30001;
constexpr int kControlTypePropertyId = 30003;
constexpr int kNamePropertyId = 30005;
constexpr int kHasKeyboardFocusPropertyId = 30008;
constexpr int kIsKeyboardFocusablePropertyId = 30009;
constexpr int kAutomationIdPropertyId = 30011;
constexpr int kIsControlElementPropertyId = 30016;
constexpr int kIsContentElementPropertyId = 30017;
constexpr int kIsTextPatternAvailablePropertyId = 30040;
constexpr int kIsValuePatternAvailablePropertyId = 30043;
constexpr int kDocumentControlTypeId = 50030;
constexpr int kTextSelectionChangedEventId = 20014;
constexpr int kTextChangedEventId = 20015;
constexpr int kBackgroundColorAttributeId = 40001;
constexpr int kForegroundColorAttributeId = 40008;
constexpr int kIsReadOnlyAttributeId = 40015;

constexpr HRESULT kElementNotAvailable = static_cast<HRESULT>(0x80040201L);
constexpr HRESULT kInvalidOperation = static_cast<HRESULT>(0x80131509L);

enum TextPatternRangeEndpoint { TextPatternRangeEndpoint_Start = 0, TextPatternRangeEndpoint_End = 1 };
enum SupportedTextSelection {
    SupportedTextSelection_None = 0,
    SupportedTextSelection_Single = 1,
    SupportedTextSelection_Multiple = 2
};
enum NotificationKind { NotificationKind_Other = 4 };
enum NotificationProcessing {
    NotificationProcessing_ImportantAll = 0,
    NotificationProcessing_All = 2,
    NotificationProcessing_CurrentThenMostRecent = 4,
};

struct UiaPoint {
    double x;
    double y;
};

// {5347ad7b-c355-46f8-aff5-909033582f63}
extern const IID IID_TextRangeProvider;
// {3589c92c-63f3-4367-99bb-ada653b77cf2}
extern const IID IID_TextProvider;
// {c7935180-6fb3-4201-b174-7df73adbf64a}
extern const IID IID_ValueProvider;

struct ITextRangeProvider : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Clone(ITextRangeProvider** result) = 0;
    virtual HRESULT STDMETHODCALLTYPE Compare(ITextRangeProvider* range, BOOL* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE CompareEndpoints(TextPatternRangeEndpoint endpoint, ITextRangeProvider* target,
                                                       TextPatternRangeEndpoint targetEndpoint, int* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE ExpandToEnclosingUnit(int unit) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindAttribute(int attribute, VARIANT value, BOOL backward,
                                                    ITextRangeProvider** result) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindText(BSTR text, BOOL backward, BOOL ignoreCase,
                                               ITextRangeProvider** result) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAttributeValue(int attribute, VARIANT* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBoundingRectangles(SAFEARRAY** result) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetEnclosingElement(IRawElementProviderSimple** result) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetText(int maxLength, BSTR* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE Move(int unit, int count, int* moved) = 0;
    virtual HRESULT STDMETHODCALLTYPE MoveEndpointByUnit(TextPatternRangeEndpoint endpoint, int unit, int count,
                                                         int* moved) = 0;
    virtual HRESULT STDMETHODCALLTYPE MoveEndpointByRange(TextPatternRangeEndpoint endpoint, ITextRangeProvider* target,
                                                          TextPatternRangeEndpoint targetEndpoint) = 0;
    virtual HRESULT STDMETHODCALLTYPE Select() = 0;
    virtual HRESULT STDMETHODCALLTYPE AddToSelection() = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveFromSelection() = 0;
    virtual HRESULT STDMETHODCALLTYPE ScrollIntoView(BOOL alignToTop) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetChildren(SAFEARRAY** result) = 0;
};

struct ITextProvider : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetSelection(SAFEARRAY** result) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVisibleRanges(SAFEARRAY** result) = 0;
    virtual HRESULT STDMETHODCALLTYPE RangeFromChild(IRawElementProviderSimple* child, ITextRangeProvider** result) = 0;
    virtual HRESULT STDMETHODCALLTYPE RangeFromPoint(UiaPoint point, ITextRangeProvider** result) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_DocumentRange(ITextRangeProvider** result) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SupportedTextSelection(SupportedTextSelection* result) = 0;
};

struct IValueProvider : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetValue(LPCWSTR value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Value(BSTR* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsReadOnly(BOOL* result) = 0;
};

// uiautomationcore.dll's entry points; each is null where the system lacks it (all of
// them when the DLL itself is missing).
struct Api {
    LRESULT(WINAPI* returnRawElementProvider)(HWND, WPARAM, LPARAM, IRawElementProviderSimple*);
    HRESULT(WINAPI* hostProviderFromHwnd)(HWND, IRawElementProviderSimple**);
    HRESULT(WINAPI* raiseAutomationEvent)(IRawElementProviderSimple*, int);
    HRESULT(WINAPI* raiseNotificationEvent)(IRawElementProviderSimple*, int, int, BSTR, BSTR);
    BOOL(WINAPI* clientsAreListening)();
    HRESULT(WINAPI* disconnectProvider)(IRawElementProviderSimple*);
    HRESULT(WINAPI* getReservedMixedAttributeValue)(IUnknown**);
    HRESULT(WINAPI* getReservedNotSupportedValue)(IUnknown**);
};

// Any thread. Loads the DLL on first use and keeps it for the process's life.
const Api& api();

}  // namespace uia
}  // namespace win32
}  // namespace console
