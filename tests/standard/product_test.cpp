// Tests of the product file's reader, placeholders and versions (modules/standard/core/product.c).
// Native only: the fake lookup ignores ASCII case as the host's does; no file is read.
#include <gtest/gtest.h>
#include <strings.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "product.h"

namespace {

using Lines = std::vector<std::pair<std::string, std::string>>;

const char* Lookup(void* context, const char* key) {
    for (const auto& line : *static_cast<Lines*>(context))
        if (strcasecmp(line.first.c_str(), key) == 0) return line.second.c_str();
    return nullptr;
}

Lines Base() { return {{"product_id", "{A1-b2}"}, {"Name", "Tool"}, {"VERSION", "1.2"}, {"PUBLISHER", "Acme"}}; }

// The problem sentence, or "" when the product was read.
std::string Read(Lines lines, KvProduct* product = nullptr, size_t problemSize = 512) {
    static KvProduct scratch;
    char problem[512];
    int ok = KvReadProduct(Lookup, &lines, product ? product : &scratch, problem, problemSize);
    EXPECT_EQ(ok == 1, problem[0] == '\0') << problem;
    return problem;
}

// Base() with key set to value, read.
std::string With(const std::string& key, const std::string& value) {
    Lines lines = Base();
    lines.emplace(lines.begin(), key, value);  // the first line of a key wins, as with the host
    return Read(lines);
}

// Whether the product is refused with a sentence that names key.
bool Refused(const std::string& key, const std::string& value) { return With(key, value).rfind(key + ": ", 0) == 0; }

TEST(Product, DefaultsAndCaseOfKeys) {
    KvProduct product;
    ASSERT_EQ(Read(Base(), &product), "");
    EXPECT_STREQ(product.productId, "{A1-b2}");
    EXPECT_STREQ(product.target, "{ProgramFiles}\\{PUBLISHER}\\{NAME}");
    EXPECT_STREQ(product.payload, "app");
    EXPECT_TRUE(product.askTarget == 1 && product.versionParts[1] == 2 && product.versionParts[2] == 0);
}

TEST(Product, RequiredKeysAndTheValueBound) {
    // The host cannot tell an empty value from a missing one.
    EXPECT_EQ(With("PUBLISHER", ""), "PUBLISHER: missing (every product file needs it)");
    EXPECT_EQ(With("URL", "https://x.example/" + std::string(254 - 18, 'a')), "");
    EXPECT_EQ(With("URL", "https://x.example/" + std::string(255 - 18, 'a')),
              "URL: the value is 255 bytes or longer (at most 254)");
    for (const char* bad : {"https://x\x01", "https://\xC3(", "file://c/x.exe"})
        EXPECT_TRUE(Refused("URL", bad)) << bad;
}

TEST(Product, VersionsIdsAndTheirOrder) {
    for (const char* good : {"0", "65535", "1.2.3.4", "01.2"}) EXPECT_EQ(With("VERSION", good), "") << good;
    for (const std::string bad : {"1.x", "65536", "1.2.3.4.5", "+1", " 1", "1.", ".1", "1..2", "-1", "1 "})
        EXPECT_EQ(With("VERSION", bad),
                  "VERSION: \"" + bad + "\" is not a version (1 to 4 dotted numbers, each 0-65535)");
    for (const char* bad : {"a b", "..", "x/y", "\xC3\xA9"}) EXPECT_TRUE(Refused("PRODUCT_ID", bad)) << bad;
    EXPECT_TRUE(With("PRODUCT_ID", std::string(64, 'a')).empty() && Refused("PRODUCT_ID", std::string(65, 'a')));
    EXPECT_TRUE(Refused("NAME", "A: B"));  // NAME becomes a folder of the default TARGET
    EXPECT_GT(KvCompareVersions("1.10", "1.9"), 0);
    EXPECT_EQ(KvCompareVersions("1.0", "1"), 0);
    EXPECT_EQ(KvCompareVersions("1.0.0.0", "1"), 0);
    EXPECT_LT(KvCompareVersions("2.0.0.1", "2.0.1"), 0);
    EXPECT_LT(KvCompareVersions("1.x", "0"), 0);
    EXPECT_GT(KvCompareVersions("0", nullptr), 0);
    EXPECT_EQ(KvCompareVersions("bad", ""), 0);
}

TEST(Product, FoldersStayWhereTheyBelong) {
    EXPECT_EQ(With("TARGET", "{Foo}\\x"), "TARGET: unknown placeholder {Foo}");
    EXPECT_EQ(With("TARGET", "C:\\Apps\\{NAME} {version}"), "");
    for (const char* bad : {"{app}\\x", "{ProgramFiles}", "{ProgramFiles}\\", "x\\y", "\\\\server\\s\\x",
                            "{ProgramFiles}\\..\\x", "{ProgramFiles}\\a\\{Windows}", "{windows}x\\y",
                            "{ProgramFiles}\\a{"})
        EXPECT_TRUE(Refused("TARGET", bad)) << bad;
    EXPECT_EQ(With("PAYLOAD", "files\\main"), "");
    for (const char* bad : {"..\\x", "C:\\x", "\\x", "a\\", "a\\\\b", "a/b", "{NAME}", "a\\nul.txt", "Com7"})
        EXPECT_TRUE(Refused("PAYLOAD", bad)) << bad;
    EXPECT_EQ(With("PATH", "{APP}") + With("PATH", "{app}\\bin\\{VERSION}"), "");
    for (const char* bad : {"{ProgramFiles}\\x", "{app}x", "{app}\\..", "{app}\\a\\..\\..\\b", "{app}\\{app}",
                            "{app}\\c:x", "{app}\\a;C:\\x"})
        EXPECT_TRUE(Refused("PATH", bad)) << bad;
    EXPECT_EQ(With("ASK_TARGET", "0") + With("ICON", "{app}\\tool.exe,-101"), "");
    EXPECT_TRUE(Refused("ASK_TARGET", "yes"));
    EXPECT_TRUE(Refused("ICON", "C:\\evil.dll,0"));
}

TEST(Product, ShortcutsReadUntilTheFirstMissingNumber) {
    Lines lines = Base();
    lines.emplace_back("SHORTCUT1", "StartMenu|{NAME}\\Tool|{app}\\tool.exe|--x {app}|{app}\\tool.ico,1");
    lines.emplace_back("shortcut2", "desktop|Tool|{app}\\bin\\tool.exe");
    lines.emplace_back("SHORTCUT4", "nonsense");
    KvProduct product;
    ASSERT_EQ(Read(lines, &product), "");
    ASSERT_EQ(product.shortcutCount, 2u);
    EXPECT_TRUE(product.shortcuts[0].place == KV_SHORTCUT_START_MENU && product.shortcuts[1].icon[0] == '\0');
    EXPECT_STREQ(product.shortcuts[0].name, "{NAME}\\Tool");
    EXPECT_STREQ(KvProductAppRelative(product.shortcuts[1].target), "bin\\tool.exe");
    EXPECT_EQ(KvProductAppRelative("{app}"), nullptr);
    lines[5].second = "taskbar|Tool|{app}\\t.exe";
    EXPECT_EQ(Read(lines), "SHORTCUT2: unknown place \"taskbar\" (startmenu or desktop)");
    for (const char* bad : {"desktop|Tool", "desktop|a\\b|{app}\\t.exe", "desktop|x|{app}", "desktop|x|C:\\t.exe",
                            "desktop|x|{app}\\..\\t.exe", "desktop|x|{app}\\t.exe||C:\\i.ico", "desktop|..|{app}\\t",
                            "desktop|x|{app}\\t|||", "desktop|{app}|{app}\\t", "startmenu|tool\\TOOL|{app}\\t"}) {
        lines[5].second = bad;  // the last one is SHORTCUT1's link again, once expanded
        EXPECT_EQ(Read(lines).rfind("SHORTCUT2: ", 0), 0u) << bad;
    }
    lines = Base();
    for (int i = 1; i <= KV_PRODUCT_MAX_SHORTCUTS + 1; ++i)
        lines.emplace_back("SHORTCUT" + std::to_string(i), "desktop|T" + std::to_string(i) + "|{app}\\t.exe");
    EXPECT_EQ(Read(lines), "SHORTCUT33: at most 32 shortcuts");
}

TEST(Product, RegistryValues) {
    Lines lines = Base();
    lines.emplace_back("REG1", "hkcu|Software\\{PUBLISHER}\\{NAME}||dword|0xFFFFffff");
    lines.emplace_back("REG2", "HKLM|Software\\Acme|Home|expand|{app}\\%x%");
    KvProduct product;
    ASSERT_EQ(Read(lines, &product), "");
    EXPECT_TRUE(product.regCount == 2 && product.regs[0].root == KV_REG_HKCU &&
                product.regs[1].type == KV_REG_EXPAND_STRING);
    for (const char* bad : {"HKCR|S|n|string|v", "HKLM|\\S|n|string|v", "HKLM|S\\|n|string|v", "HKLM||n|string|v",
                            "HKLM|S|n|string", "HKLM|S|n|string|v|w", "HKLM|S|n|qword|1", "HKLM|S|n|dword|4294967296",
                            "HKLM|S|n|dword|0x", "HKLM|S|n|dword|{VERSION}", "HKLM|S|n|string|{Foo}",
                            "HKLM|{app}|n|string|v"})
        EXPECT_TRUE(Refused("REG1", bad)) << bad;
}

TEST(Product, ProblemIsCutAtACharacterWithDots) {
    Lines lines = Base();
    lines[1].second = "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9:";  // six two-byte letters
    EXPECT_EQ(Read(lines, nullptr, 16), "NAME: \"\xC3\xA9\xC3\xA9...");
    EXPECT_EQ(Read(lines, nullptr, 17), "NAME: \"\xC3\xA9\xC3\xA9\xC3\xA9...");
    EXPECT_EQ(Read(lines, nullptr, 3), "..");
}

const char* Folder(void*, const char* name) { return std::strcmp(name, "System") == 0 ? nullptr : "C:\\PF"; }

std::string Expand(const char* text, size_t size = 64, const char* app = "D:\\A") {
    static KvProduct product;
    Read(Base(), &product);
    char out[256], problem[128];
    std::memset(out, 'z', sizeof out);
    if (KvExpand(text, &product, app, Folder, nullptr, out, size, problem, sizeof problem)) return out;
    EXPECT_STREQ(out, "");  // nothing half-expanded
    return std::string("!") + problem;
}

TEST(Expand, PlaceholdersAndFaults) {
    EXPECT_EQ(Expand("{programfiles}\\{Publisher}\\{NAME} {version} {PRODUCT_ID}"), "C:\\PF\\Acme\\Tool 1.2 {A1-b2}");
    EXPECT_EQ(Expand("{APP}\\x} {{y}"), "D:\\A\\x} {y}");
    EXPECT_EQ(Expand("{Foo}"), "!unknown placeholder {Foo}");
    EXPECT_EQ(Expand("a{NAME"), "!unclosed \"{\" in \"{NAME\"");
    EXPECT_EQ(Expand("{System}"), "!the system gave no folder for {System}");
    EXPECT_EQ(Expand("{app}", 64, nullptr), "!{app} is not chosen yet");
    EXPECT_EQ(Expand("{app}\\12", 8), "D:\\A\\12");  // 7 bytes and the NUL
    EXPECT_EQ(Expand("{app}\\123", 8), "!the expanded text is too long");
    char unknown[6];
    EXPECT_EQ(KvPlaceholdersKnown("{app}{{x}", unknown, sizeof unknown), 1);
    EXPECT_EQ(KvPlaceholdersKnown("a {Program Files}", unknown, sizeof unknown), 0);
    EXPECT_STREQ(unknown, "{P...");
}

TEST(Product, ScopeKeepsEachProductToItsOwnFoldersAndRoots) {
    const auto user = [](const std::string& key, const std::string& value) {
        Lines lines = Base();
        lines.emplace(lines.begin(), key, value);
        lines.emplace_back("scope", "User");
        return Read(lines);
    };
    KvProduct product;
    Lines lines = Base();
    lines.emplace_back("SCOPE", "user");
    ASSERT_EQ(Read(lines, &product), "");
    EXPECT_TRUE(product.userScope == 1 && std::strcmp(product.target, "{LocalAppData}\\Programs\\{NAME}") == 0);
    EXPECT_TRUE(Refused("SCOPE", "everyone"));
    EXPECT_EQ(With("TARGET", "{LocalAppData}\\x"),
              "TARGET: {LocalAppData} is a folder of the user's own: only a SCOPE=user product may use it");
    EXPECT_EQ(With("REG1", "HKLM|S|n|string|{userdesktop}"), "REG1: {userdesktop} is a folder of the user's own: "
                                                             "only a SCOPE=user product may use it");
    EXPECT_EQ(user("TARGET", "{UserDesktop}\\x") + user("REG1", "HKCU|S|n|string|{UserStartMenu}\\{CommonAppData}"),
              "");
    EXPECT_EQ(user("TARGET", "{ProgramFiles}\\x"), "TARGET: {ProgramFiles} is for all users: a SCOPE=user product "
                                                    "cannot use it");
    EXPECT_EQ(user("REG1", "HKLM|S|n|dword|1"), "REG1: HKLM is for all users: a SCOPE=user product writes HKCU only");
    EXPECT_EQ(user("SHORTCUT1", "desktop|T|{app}\\t.exe|{CommonDesktop}").rfind("SHORTCUT1: {CommonDesktop}", 0), 0u);
    // The module's own texts are held to the same rule when they are expanded.
    char out[64], problem[128];
    EXPECT_EQ(KvExpand("{CommonStartMenu}\\x", &product, nullptr, Folder, nullptr, out, sizeof out, problem,
                       sizeof problem), 0);
    EXPECT_STREQ(problem, "{CommonStartMenu} is for all users: a SCOPE=user product cannot use it");
    EXPECT_EQ(KvExpand("{USERSTARTMENU}\\x", &product, nullptr, Folder, nullptr, out, sizeof out, problem,
                       sizeof problem), 1);
    EXPECT_EQ(Expand("{LocalAppData}").rfind("!{LocalAppData} is a folder of the user's own", 0), 0u);
}

}  // namespace
