// Screen-reader access to the console under Wine: the UI Automation element from another
// process, the text pattern and its ranges in process, the Active Accessibility object,
// and the announcements of output raised at most once a tick. Each test owns its windows.
#include <gtest/gtest.h>

#include <ole2.h>
#include <oleacc.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "console/core/announcer.h"
#include "console/win32/access_state.h"
#include "console/win32/uia_api.h"
#include "console_test_support.h"

using namespace console_test;
namespace uia = console::win32::uia;

namespace {

class Accessibility : public ::testing::Test {
protected:
    void SetUp() override { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    void TearDown() override { CoUninitialize(); }
};

// A console at (40, 30) of 32 x 8 cells in colour: "Hello" and a box corner on row 0,
// "ab" in red on row 1.
HWND sampleConsole() {
    HWND window = createConsole(256, 128);
    send(window, CONM_CREATESCREEN, 0);
    send(window, CONM_SELECTSCREEN, 0);
    send(window, CONM_SETFONT, CONSOLE_SETFONT_WPARAM(0, CONSOLE_FONT_8X16));
    send(window, CONM_SETCOLORMODE, 0, 1);
    SetWindowPos(window, nullptr, 40, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    const char* row0 = "Hello\xC9";
    for (int i = 0; row0[i] != 0; ++i) send(window, CONM_PUTCELL, 0, CONSOLE_PUTCELL_LPARAM(i, 0, CONSOLE_CELL(row0[i], 7)));
    send(window, CONM_PUTCELL, 0, CONSOLE_PUTCELL_LPARAM(0, 1, CONSOLE_CELL('a', CONSOLE_ATTR(4, 0))));
    send(window, CONM_PUTCELL, 0, CONSOLE_PUTCELL_LPARAM(1, 1, CONSOLE_CELL('b', CONSOLE_ATTR(4, 0))));
    return window;
}

// What a reader does first: asks the window for its object (the state is made then).
IAccessible* connectReader(HWND window) {
    IAccessible* accessible = nullptr;
    AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                               reinterpret_cast<void**>(&accessible));
    return accessible;
}

uia::ITextProvider* textProvider(HWND window) {
    IRawElementProviderSimple* root = console::win32::accessProviderForTests(window);
    if (root == nullptr) return nullptr;
    IUnknown* pattern = nullptr;
    root->GetPatternProvider(uia::kTextPatternId, &pattern);
    root->Release();
    uia::ITextProvider* text = nullptr;
    if (pattern != nullptr) pattern->QueryInterface(uia::IID_TextProvider, reinterpret_cast<void**>(&text));
    if (pattern != nullptr) pattern->Release();
    return text;
}

std::wstring textOf(uia::ITextRangeProvider* range) {
    BSTR text = nullptr;
    if (FAILED(range->GetText(-1, &text))) return L"<failed>";
    std::wstring result(text, SysStringLen(text));
    SysFreeString(text);
    return result;
}

std::vector<double> rectanglesOf(uia::ITextRangeProvider* range) {
    SAFEARRAY* array = nullptr;
    std::vector<double> values;
    if (FAILED(range->GetBoundingRectangles(&array)) || array == nullptr) return values;
    const double* data = static_cast<const double*>(array->pvData);
    values.assign(data, data + array->rgsabound[0].cElements);
    SafeArrayDestroy(array);
    return values;
}

std::vector<uia::ITextRangeProvider*> rangesOf(SAFEARRAY* array) {
    std::vector<uia::ITextRangeProvider*> ranges;
    for (ULONG i = 0; array != nullptr && i < array->rgsabound[0].cElements; ++i) {
        IUnknown* unknown = static_cast<IUnknown**>(array->pvData)[i];
        uia::ITextRangeProvider* range = nullptr;
        unknown->QueryInterface(uia::IID_TextRangeProvider, reinterpret_cast<void**>(&range));
        ranges.push_back(range);
    }
    if (array != nullptr) SafeArrayDestroy(array);
    return ranges;
}

void releaseAll(std::vector<uia::ITextRangeProvider*>& ranges) {
    for (auto* r : ranges) if (r != nullptr) r->Release();
}

void pumpPending() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

std::string besideThisProgram(const char* name) {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    return dir.substr(0, dir.find_last_of("\\/") + 1) + name;
}

// Runs uia_reader on the window while this thread serves its messages; the lines it wrote.
std::vector<std::string> runReader(HWND window) {
    char temp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, temp);
    const std::string output = std::string(temp) + "kelvane_uia_reader.txt";
    std::string command = "\"" + besideThisProgram("uia_reader.exe") + "\" " +
                          std::to_string(reinterpret_cast<uintptr_t>(window)) + " \"" + output + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::vector<std::string> lines;
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return lines;
    const DWORD start = GetTickCount();
    while (MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, 100, QS_ALLINPUT) != WAIT_OBJECT_0 &&
           GetTickCount() - start < 30000) {
        pumpPending();
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    FILE* f = std::fopen(output.c_str(), "r");
    char line[512];
    while (f != nullptr && std::fgets(line, sizeof line, f) != nullptr) lines.emplace_back(line, std::strcspn(line, "\r\n"));
    if (f != nullptr) std::fclose(f);
    DeleteFileA(output.c_str());
    return lines;
}

std::string valueOf(const std::vector<std::string>& lines, const std::string& key) {
    for (const std::string& line : lines) {
        if (line.compare(0, key.size() + 1, key + "=") == 0) return line.substr(key.size() + 1);
    }
    return "!missing";
}

}  // namespace

TEST_F(Accessibility, AnotherProcessReadsTheElement) {
    ScopedWindow console(sampleConsole());
    SetWindowTextA(console, "Install log");  // the console keeps no creation title
    const std::vector<std::string> lines = runReader(console);
    ASSERT_EQ("1", valueOf(lines, "answer")) << "WM_GETOBJECT for the UI Automation root answered 0";
    if (valueOf(lines, "node")[0] == '!') GTEST_SKIP() << "this Wine gives no node for the window: " << valueOf(lines, "node");
    const struct {
        const char* key;
        const char* expected;
    } properties[] = {{"name", "Install log"}, {"controltype", "50030"}, {"rect", "40,30,256,128"}};
    for (const auto& p : properties) {
        const std::string value = valueOf(lines, p.key);
        if (value[0] == '!') {
            std::printf("[  NOTE    ] %s not readable through this Wine: %s\n", p.key, value.c_str() + 1);
        } else {
            EXPECT_EQ(p.expected, value) << p.key;
        }
    }
}

TEST_F(Accessibility, TextPatternReadsCellsRowsColoursAndPlaces) {
    ScopedWindow console(sampleConsole());
    EXPECT_EQ(nullptr, console::win32::accessProviderForTests(console)) << "state before any reader asked";
    IAccessible* accessible = connectReader(console);
    ASSERT_NE(nullptr, accessible);
    accessible->Release();
    uia::ITextProvider* text = textProvider(console);
    ASSERT_NE(nullptr, text);

    uia::ITextRangeProvider* document = nullptr;
    ASSERT_EQ(S_OK, text->get_DocumentRange(&document));
    // Trailing blanks cut, rows joined by CR LF down to the text and the cursor, the box corner as Unicode.
    EXPECT_EQ(L"Hello\u2554\r\nab\r\n", textOf(document));

    // A line, then the next one; a cell's rectangle in screen pixels.
    uia::ITextRangeProvider* line = nullptr;
    ASSERT_EQ(S_OK, document->Clone(&line));
    int moved = 0;
    line->MoveEndpointByUnit(uia::TextPatternRangeEndpoint_End, 0, -1000, &moved);  // degenerate at 0
    line->ExpandToEnclosingUnit(3);
    EXPECT_EQ(0u, textOf(line).find(L"Hello\u2554"));
    EXPECT_EQ(S_OK, line->Move(3, 1, &moved));
    EXPECT_EQ(1, moved);
    EXPECT_EQ(0u, textOf(line).find(L"ab"));
    VARIANT color;
    EXPECT_EQ(S_OK, line->GetAttributeValue(uia::kForegroundColorAttributeId, &color));
    EXPECT_EQ(VT_I4, color.vt);
    EXPECT_EQ(static_cast<LONG>(RGB(0x80, 0, 0)), color.lVal) << "the red line's foreground";
    EXPECT_EQ(S_OK, document->GetAttributeValue(uia::kForegroundColorAttributeId, &color));
    EXPECT_NE(VT_I4, color.vt) << "a document of two colours is mixed";
    VariantClear(&color);

    uia::ITextRangeProvider* cell = nullptr;
    ASSERT_EQ(S_OK, document->Clone(&cell));
    cell->MoveEndpointByUnit(uia::TextPatternRangeEndpoint_Start, 0, 1, &moved);
    cell->MoveEndpointByRange(uia::TextPatternRangeEndpoint_End, cell, uia::TextPatternRangeEndpoint_Start);
    cell->MoveEndpointByUnit(uia::TextPatternRangeEndpoint_End, 0, 1, &moved);
    EXPECT_EQ(L"e", textOf(cell));
    EXPECT_EQ((std::vector<double>{48, 30, 8, 16}), rectanglesOf(cell));

    // No selection: the caret, degenerate; then the selection, one range per row.
    send(console, CONM_SETCURSORPOS, 0, CONSOLE_CURSORPOS_LPARAM(1, 1));
    SAFEARRAY* array = nullptr;
    ASSERT_EQ(S_OK, text->GetSelection(&array));
    std::vector<uia::ITextRangeProvider*> selection = rangesOf(array);
    ASSERT_EQ(1u, selection.size());
    EXPECT_EQ(L"", textOf(selection[0]));
    EXPECT_EQ((std::vector<double>{48, 46, 0, 16}), rectanglesOf(selection[0]));
    releaseAll(selection);
    console::ConsoleScreen* screen = shareInstance(console)->activeScreen;
    screen->selectEnabled = 1;  // as the menu's Select does
    screen->selectionAnchor = console::cellIndex(*screen, 1, 0);
    screen->selectionEnd = console::cellIndex(*screen, 3, 1);
    ASSERT_EQ(S_OK, text->GetSelection(&array));
    selection = rangesOf(array);
    ASSERT_EQ(2u, selection.size());
    EXPECT_EQ(L"ell", textOf(selection[0]));
    EXPECT_EQ(L"b", textOf(selection[1]));
    releaseAll(selection);
    EXPECT_EQ(S_OK, line->Select());  // a reader's Select: a row's text becomes the mouse's rectangle
    selection = (text->GetSelection(&array), rangesOf(array));
    EXPECT_EQ(L"ab", selection.size() == 1 ? textOf(selection[0]) : L"not one range");
    releaseAll(selection);
    line->MoveEndpointByRange(uia::TextPatternRangeEndpoint_End, line, uia::TextPatternRangeEndpoint_Start);
    EXPECT_EQ((std::vector<HRESULT>{uia::kInvalidOperation, uia::kInvalidOperation}),
              (std::vector<HRESULT>{line->Select(), line->AddToSelection()}));  // the caret is the program's

    // Held objects outlive the window without reaching it.
    DestroyWindow(console);
    BSTR gone = nullptr;
    EXPECT_EQ(uia::kElementNotAvailable, line->GetText(-1, &gone));
    uia::ITextRangeProvider* late = nullptr;
    EXPECT_EQ(uia::kElementNotAvailable, text->get_DocumentRange(&late));
    EXPECT_EQ(uia::kElementNotAvailable, cell->Move(3, 1, &moved));
    line->Release();
    cell->Release();
    document->Release();
    text->Release();
}

TEST_F(Accessibility, ActiveAccessibilityGivesRoleValueAndDisconnects) {
    ScopedWindow console(sampleConsole());
    IAccessible* accessible = connectReader(console);
    ASSERT_NE(nullptr, accessible);
    VARIANT self;
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    VARIANT role;
    ASSERT_EQ(S_OK, accessible->get_accRole(self, &role));
    EXPECT_EQ(ROLE_SYSTEM_TEXT, role.lVal);
    BSTR value = nullptr;
    ASSERT_EQ(S_OK, accessible->get_accValue(self, &value));
    EXPECT_EQ(0u, std::wstring(value).find(L"Hello\u2554\r\nab\r\n"));
    SysFreeString(value);
    long box[4] = {};
    EXPECT_EQ(S_OK, accessible->accLocation(&box[0], &box[1], &box[2], &box[3], self));
    EXPECT_EQ(40, box[0]);
    EXPECT_EQ(128, box[3]);
    IDispatch* child = nullptr;
    EXPECT_EQ(S_OK, accessible->get_accChild(self, &child));
    EXPECT_EQ(static_cast<IDispatch*>(accessible), child);  // the same object, as its own child
    if (child != nullptr) child->Release();
    DestroyWindow(console);
    EXPECT_EQ(CO_E_OBJNOTCONNECTED, accessible->get_accRole(self, &role));
    accessible->Release();
}

namespace {

struct Heard {
    int announcements = 0;
    long linesCovered = 0;  // "N more lines" counts N
    std::u16string last;
};

void hear(const console::Announcement& a, void* context) {
    Heard& heard = *static_cast<Heard*>(context);
    if (!a.speak) return;
    ++heard.announcements;
    heard.last = a.text;
    size_t at = 0;
    while (at <= a.text.size()) {
        size_t end = a.text.find(u"\r\n", at);
        if (end == std::u16string::npos) end = a.text.size();
        const std::u16string line = a.text.substr(at, end - at);
        long more = 0;
        size_t digits = 0;
        while (digits < line.size() && line[digits] >= u'0' && line[digits] <= u'9') more = more * 10 + (line[digits++] - u'0');
        const bool isMore = at == 0 && digits > 0 && line.find(u" more line") == digits;
        heard.linesCovered += isMore ? more : 1;
        at = end + 2;
    }
}

DWORD WINAPI printThousand(LPVOID parameter) {
    HWND console = static_cast<HWND>(parameter);
    for (int i = 0; i < 1000; ++i) {
        char line[32];
        std::snprintf(line, sizeof line, "line %d\n", i);
        SendMessageA(console, CONM_PUTSTRING, 0, reinterpret_cast<LPARAM>(line));
    }
    return 0;
}

}  // namespace

TEST_F(Accessibility, OutputIsAnnouncedOncePerTickAndOnlyAfterAReaderAsked) {
    ScopedWindow console(sampleConsole());
    Heard heard;
    console::win32::setRaiseObserverForTests(hear, &heard);
    send(console, CONM_PUTSTRING, 0, reinterpret_cast<LPARAM>("before any reader\n"));
    pumpFor(300);
    EXPECT_EQ(0, console::win32::accessRaiseRecord(console).ticks);
    EXPECT_EQ(0, heard.announcements);

    IAccessible* accessible = connectReader(console);
    ASSERT_NE(nullptr, accessible);
    accessible->Release();
    HANDLE worker = CreateThread(nullptr, 0, printThousand, static_cast<HWND>(console), 0, nullptr);
    ASSERT_NE(nullptr, worker);
    while (MsgWaitForMultipleObjects(1, &worker, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) pumpPending();
    CloseHandle(worker);
    pumpFor(400);  // the ticks after the last line
    console::win32::setRaiseObserverForTests(nullptr, nullptr);

    const console::win32::RaiseRecord record = console::win32::accessRaiseRecord(console);
    EXPECT_EQ(0, record.important);
    EXPECT_EQ(1000, heard.linesCovered);
    EXPECT_EQ(u"line 999", heard.last.substr(heard.last.size() - 8));
    EXPECT_FALSE(record.lastImportant);

    // A result: important whatever its colour.
    send(console, RegisterWindowMessageA(QUORVEND_CONSOLE_IMPORTANT_MESSAGE));
    send(console, CONM_PUTSTRING, 0, reinterpret_cast<LPARAM>("Done.\n"));
    send(console, WM_TIMER, shareInstance(console)->timerId);
    EXPECT_EQ(u"Done.", console::win32::accessRaiseRecord(console).lastText);
    EXPECT_TRUE(console::win32::accessRaiseRecord(console).lastImportant);
}

namespace {

// Two reader threads share two ranges and the provider while the window changes and dies;
// the first to find the text editable ends the input field with Enter (so does a deadline).
struct Readers {
    HWND window;
    uia::ITextProvider* text;
    uia::IValueProvider* value;
    uia::ITextRangeProvider* ranges[2];
    DWORD began;
    volatile LONG stop, entered, sawEditable, answered, gone, unexpected, slowest;  // slowest: ms for a round
};

DWORD WINAPI readAlong(LPVOID parameter) {
    Readers& r = *static_cast<Readers*>(parameter);
    uia::ITextRangeProvider *a = r.ranges[0], *b = r.ranges[1], *copy = nullptr;
    const auto start = uia::TextPatternRangeEndpoint_Start, end = uia::TextPatternRangeEndpoint_End;
    for (int n = 0; r.stop == 0; copy = (copy != nullptr ? copy->Release() : 0, nullptr)) {
        const DWORD began = GetTickCount();
        BOOL readOnly = TRUE;
        BSTR got = nullptr;
        SAFEARRAY *rectangles = nullptr, *selection = nullptr;
        const HRESULT results[] = {r.value->get_IsReadOnly(&readOnly), a->Clone(&copy), a->Move(3, 1, &n),
                                   b->MoveEndpointByRange(end, a, start), a->CompareEndpoints(start, b, end, &n),
                                   b->GetText(-1, &got), b->GetBoundingRectangles(&rectangles),
                                   r.text->GetSelection(&selection), a->ExpandToEnclosingUnit(6)};
        for (const HRESULT result : results)
            InterlockedIncrement(result == S_OK ? &r.answered : result == uia::kElementNotAvailable ? &r.gone : &r.unexpected);
        if (static_cast<LONG>(GetTickCount() - began) > r.slowest) InterlockedExchange(&r.slowest, GetTickCount() - began);
        if (!readOnly) InterlockedExchange(&r.sawEditable, 1);
        if ((!readOnly || GetTickCount() - r.began > 2000) && InterlockedExchange(&r.entered, 1) == 0)
            PostMessageA(r.window, WM_KEYDOWN, VK_RETURN, 1 | (MapVirtualKeyA(VK_RETURN, MAPVK_VK_TO_VSC) << 16));
        std::vector<uia::ITextRangeProvider*> selected = rangesOf(selection);
        releaseAll(selected);
        if (rectangles != nullptr) SafeArrayDestroy(rectangles);
        SysFreeString(got);
    }
    return 0;
}

}  // namespace

TEST_F(Accessibility, ReaderThreadsMeetALiveAndDyingWindow) {
    ScopedWindow console(sampleConsole());
    send(console, CONM_CREATESCREEN, 1), send(console, CONM_SETFONT, CONSOLE_SETFONT_WPARAM(1, CONSOLE_FONT_8X8));
    IAccessible* accessible = connectReader(console);
    ASSERT_NE(nullptr, accessible);
    accessible->Release();
    Readers r = {console, textProvider(console), nullptr, {nullptr, nullptr}, GetTickCount(), 0, 0, 0, 0, 0, 0, 0};
    ASSERT_NE(nullptr, r.text);
    r.text->QueryInterface(uia::IID_ValueProvider, reinterpret_cast<void**>(&r.value));
    ASSERT_NE(nullptr, r.value);
    for (auto*& range : r.ranges) ASSERT_EQ(S_OK, r.text->get_DocumentRange(&range));
    HANDLE threads[2];
    for (HANDLE& thread : threads) thread = CreateThread(nullptr, 0, readAlong, &r, 0, nullptr);

    // Editable while an input field runs (the readers end it), read-only after.
    char typed[8] = "";
    send(console, CONM_INPUTLINE, 4 | (CONI_TEXT << 12), reinterpret_cast<LPARAM>(typed));
    BOOL readOnly = FALSE;
    EXPECT_EQ(S_OK, r.value->get_IsReadOnly(&readOnly));
    EXPECT_EQ((std::vector<LONG>{1, TRUE}), (std::vector<LONG>{r.sawEditable, readOnly}));

    // Each step moves the caret (a line printed below it, a new place, the other screen),
    // then a tick: one caret event each.
    console::ConsoleInstance* instance = shareInstance(console);
    send(console, WM_TIMER, instance->timerId);
    const int32_t before = console::win32::accessRaiseRecord(console).selectionChanged;
    for (int i = 0; i < 60; ++i) {
        const WPARAM shown = instance->activeScreen->screenIndex;
        if (i % 3 == 0) send(console, CONM_PUTSTRING, shown, reinterpret_cast<LPARAM>("more\n"));
        if (i % 3 == 1) send(console, CONM_SETCURSORPOS, shown, CONSOLE_CURSORPOS_LPARAM(i % 7 + 1, i % 5));
        if (i % 3 == 2) send(console, CONM_SELECTSCREEN, (i / 3 + 1) % 2);
        send(console, WM_TIMER, instance->timerId);
        pumpFor(5);
    }
    const console::win32::RaiseRecord record = console::win32::accessRaiseRecord(console);
    EXPECT_EQ(60, record.selectionChanged - before);
    EXPECT_TRUE(record.valueChanged > 0 && record.valueChanged <= record.ticks) << "output, a value change a tick at most";
    DestroyWindow(console);
    pumpFor(50), InterlockedExchange(&r.stop, 1);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, threads, TRUE, 3000));
    for (HANDLE thread : threads) CloseHandle(thread);
    // Every call answered or found the window gone, each round well within a second.
    EXPECT_EQ((std::vector<bool>{true, true, true, true}),
              (std::vector<bool>{r.unexpected == 0, r.answered > 0, r.gone > 0, r.slowest < 1000}));
    EXPECT_LT(GetTickCount() - r.began, 5000u);
    r.value->Release(), r.ranges[0]->Release(), r.ranges[1]->Release(), r.text->Release();
}
