// Reads kelvane.exe's resources as any other program would (a data-file load) and checks
// what outside tools rely on: both dialog templates item by item, the icon group, the
// manifest, the version block, and the absence of the single-file installer's texts.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver.h"

namespace {

struct Item {
    uint32_t id;
    std::string className;
    std::wstring text;
    short x, y, cx, cy;
    uint32_t style;
    uint32_t exStyle;
};

struct Template {
    uint32_t style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::wstring caption, font;
    uint16_t pointSize = 0;
    std::vector<Item> items;
};

class Reader {
public:
    Reader(const BYTE* data, size_t size) : base_(data), p_(data), end_(data + size) {}
    bool ok() const { return p_ <= end_; }
    uint16_t word() { return take<uint16_t>(); }
    uint32_t dword() { return take<uint32_t>(); }
    short coordinate() { return static_cast<short>(take<uint16_t>()); }
    std::wstring string() {
        std::wstring s;
        for (uint16_t ch; (ch = word()) != 0 && ok();) s.push_back(static_cast<wchar_t>(ch));
        return s;
    }
    // sz_Or_Ord: empty, an ordinal (the predefined classes), or a string.
    std::wstring stringOrOrdinal() {
        const uint16_t first = peekWord();
        if (first == 0) return word(), std::wstring();
        if (first == 0xFFFF) {
            word();
            switch (word()) {
            case 0x80: return L"Button";
            case 0x81: return L"Edit";
            case 0x82: return L"Static";
            default: return L"#ordinal";
            }
        }
        return string();
    }
    void alignDword() { p_ = base_ + ((p_ - base_ + 3) & ~static_cast<ptrdiff_t>(3)); }
    void skip(size_t bytes) { p_ += bytes; }

private:
    uint16_t peekWord() const {
        uint16_t v = 0;
        if (p_ + 2 <= end_) memcpy(&v, p_, 2);
        return v;
    }
    template <typename T>
    T take() {
        T v{};
        if (p_ + sizeof(T) <= end_) memcpy(&v, p_, sizeof(T));
        p_ += sizeof(T);
        return v;
    }
    const BYTE* base_;
    const BYTE* p_;
    const BYTE* end_;
};

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

class KelvaneResources : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryExA((app_test::BinDirectory() + "kelvane.exe").c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module_, nullptr) << "kelvane.exe beside the test";
    }
    void TearDown() override {
        if (module_ != nullptr) FreeLibrary(module_);
    }

    std::string Data(LPCSTR type, int id, WORD language) {
        HRSRC found = FindResourceExA(module_, type, MAKEINTRESOURCEA(id), language);
        if (found == nullptr) return std::string();
        HGLOBAL loaded = LoadResource(module_, found);
        const void* bytes = LockResource(loaded);
        return std::string(static_cast<const char*>(bytes), SizeofResource(module_, found));
    }

    Template Dialog(int id) {
        const std::string data = Data(RT_DIALOG, id, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
        Template t;
        EXPECT_FALSE(data.empty()) << "dialog " << id << " in language 1033";
        Reader r(reinterpret_cast<const BYTE*>(data.data()), data.size());
        EXPECT_EQ(r.word(), 1u);        // dlgVer
        EXPECT_EQ(r.word(), 0xFFFFu);  // DIALOGEX
        r.dword();                     // help id
        t.exStyle = r.dword();
        t.style = r.dword();
        const uint16_t count = r.word();
        t.x = r.coordinate(), t.y = r.coordinate(), t.cx = r.coordinate(), t.cy = r.coordinate();
        EXPECT_EQ(r.stringOrOrdinal(), L"");  // no menu
        EXPECT_EQ(r.stringOrOrdinal(), L"");  // the dialog class
        t.caption = r.string();
        t.pointSize = r.word();
        r.word();  // weight
        r.skip(2);  // italic, charset
        t.font = r.string();
        for (uint16_t i = 0; i < count && r.ok(); ++i) {
            r.alignDword();
            Item item;
            r.dword();  // help id
            item.exStyle = r.dword();
            item.style = r.dword();
            item.x = r.coordinate(), item.y = r.coordinate(), item.cx = r.coordinate(), item.cy = r.coordinate();
            item.id = r.dword();
            item.className = Narrow(r.stringOrOrdinal());
            item.text = r.stringOrOrdinal();
            r.skip(r.word());  // creation data
            t.items.push_back(item);
        }
        EXPECT_TRUE(r.ok());
        return t;
    }

    HMODULE module_ = nullptr;
};

void ExpectItem(const Item& item, uint32_t id, const char* className, const wchar_t* text, short x, short y, short cx,
                short cy, uint32_t style) {
    SCOPED_TRACE(className);
    EXPECT_EQ(item.id, id);
    EXPECT_EQ(item.className, className);
    EXPECT_EQ(item.text, text);
    EXPECT_EQ(item.x, x);
    EXPECT_EQ(item.y, y);
    EXPECT_EQ(item.cx, cx);
    EXPECT_EQ(item.cy, cy);
    EXPECT_EQ(item.style, style | WS_CHILD | WS_VISIBLE);
    EXPECT_EQ(item.exStyle, 0u);
}

}  // namespace

TEST_F(KelvaneResources, MainDialogTemplate102) {
    const Template t = Dialog(102);
    EXPECT_EQ(t.style, static_cast<uint32_t>(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                                             DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS));
    EXPECT_EQ(t.exStyle, static_cast<uint32_t>(WS_EX_APPWINDOW));
    EXPECT_EQ(t.x, 0);
    EXPECT_EQ(t.y, 0);
    EXPECT_EQ(t.cx, 648);
    EXPECT_EQ(t.cy, 298);
    EXPECT_EQ(t.caption, L"Scenario Installation");
    EXPECT_EQ(t.pointSize, 8u);
    EXPECT_EQ(t.font, L"MS Shell Dlg");
    ASSERT_EQ(t.items.size(), 3u);
    ExpectItem(t.items[0], 1, "Button", L"Exit ...", 588, 282, 50, 12, BS_DEFPUSHBUTTON | WS_TABSTOP);
    ExpectItem(t.items[1], 1000, "quorvend.console", L"Custom1", 7, 7, 634, 263, WS_TABSTOP);
    ExpectItem(t.items[2], 1001, "Button", L"Install ...", 534, 282, 48, 12, BS_PUSHBUTTON | WS_TABSTOP);
}

TEST_F(KelvaneResources, PagesDialogTemplate130) {
    const Template t = Dialog(130);
    EXPECT_EQ(t.style, static_cast<uint32_t>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT | DS_FIXEDSYS));
    EXPECT_EQ(t.exStyle, 0u);
    EXPECT_EQ(t.x, 0);
    EXPECT_EQ(t.y, 0);
    EXPECT_EQ(t.cx, 799);
    EXPECT_EQ(t.cy, 410);
    EXPECT_EQ(t.caption, L"Installation");
    EXPECT_EQ(t.pointSize, 8u);
    EXPECT_EQ(t.font, L"MS Shell Dlg");
    ASSERT_EQ(t.items.size(), 7u);
    ExpectItem(t.items[0], 1, "Button", L"Next >>", 742, 390, 50, 13, BS_DEFPUSHBUTTON | WS_TABSTOP);
    ExpectItem(t.items[1], 2, "Button", L"Exit", 6, 390, 50, 14, BS_PUSHBUTTON | WS_TABSTOP);
    ExpectItem(t.items[2], 0xFFFFFFFFu, "Static",
               L"Welcome in installation utility\nBienvenue \u00e0 l'utilitaire d'installation", 7, 14, 785, 21,
               SS_CENTER | WS_GROUP);
    ExpectItem(t.items[3], 1005, "RichEdit20A", L"", 6, 38, 786, 343,
               ES_MULTILINE | ES_AUTOHSCROLL | ES_READONLY | WS_BORDER | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP);
    ExpectItem(t.items[4], 1001, "Button", L"Prec <<", 684, 390, 51, 13, BS_PUSHBUTTON | WS_TABSTOP);
    ExpectItem(t.items[5], 1010, "Button", L"J'ai lut la convention de licence", 273, 390, 117, 13,
               BS_AUTOCHECKBOX | WS_TABSTOP);
    ExpectItem(t.items[6], 1011, "Button", L"Je ne suis pas d'accord", 95, 391, 95, 12, BS_PUSHBUTTON | WS_TABSTOP);
}

TEST_F(KelvaneResources, IconGroup129IsOne32x32SixteenColourImageInFrench) {
    const WORD french = MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH);
    const std::string group = Data(RT_GROUP_ICON, 129, french);
    ASSERT_EQ(group.size(), 6u + 14u);
    const BYTE* g = reinterpret_cast<const BYTE*>(group.data());
    EXPECT_EQ(g[2], 1);  // icons
    EXPECT_EQ(g[4], 1);  // one image
    EXPECT_EQ(g[6], 32);
    EXPECT_EQ(g[7], 32);
    EXPECT_EQ(g[8], 16);
    uint16_t bits = 0, iconId = 0;
    memcpy(&bits, g + 12, 2);
    memcpy(&iconId, g + 18, 2);
    EXPECT_EQ(bits, 4u);
    const std::string image = Data(RT_ICON, iconId, french);
    ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER header;
    memcpy(&header, image.data(), sizeof header);
    EXPECT_EQ(header.biWidth, 32);
    EXPECT_EQ(header.biHeight, 64);
    EXPECT_EQ(header.biBitCount, 4);
}

TEST_F(KelvaneResources, ManifestAsksForAdministratorAndCommonControls6) {
    const std::string manifest = Data(MAKEINTRESOURCEA(24), 1, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
    EXPECT_NE(manifest.find("uiAccess=\"false\""), std::string::npos);
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(manifest.find("PerMonitorV2"), std::string::npos) << "the console draws its cells for the window's own DPI";
}

TEST_F(KelvaneResources, VersionBlockAndNoEmbeddedTexts) {
    const std::string path = app_test::BinDirectory() + "kelvane.exe";
    DWORD handle = 0;
    std::vector<char> info(GetFileVersionInfoSizeA(path.c_str(), &handle));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
    for (const char* key : {"InternalName", "OriginalFilename"}) {
        char* value = nullptr;
        const std::string query = std::string("\\StringFileInfo\\040904b0\\") + key;
        ASSERT_TRUE(VerQueryValueA(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &length)) << key;
        EXPECT_STREQ(value, "kelvane.exe");
    }
    for (int id : {455, 456, 457}) {
        EXPECT_EQ(FindResourceA(module_, MAKEINTRESOURCEA(id), RT_RCDATA), nullptr) << id;
    }
}

TEST_F(KelvaneResources, IconLoadsWithoutNamingItsLanguage) {
    EXPECT_NE(FindResourceA(module_, MAKEINTRESOURCEA(129), RT_GROUP_ICON), nullptr);
    EXPECT_NE(LoadIconA(module_, MAKEINTRESOURCEA(129)), nullptr);
}
