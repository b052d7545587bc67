// Tests of the archive's names as Windows sees them: UTF-8, devices, NTFS case twins, file
// and folder clashes, short-name look-alikes and lengths; and the one part rule shared by
// the archive's paths and the module name on setup.ini's line 5.
#include "engine/core/archive_names.h"

#include "engine/core/archive.h"
#include "engine/core/setup_lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace engine {
namespace {

TEST(ArchiveNames, Utf8IsDecodedStrictly) {
    const struct { std::string in; std::u16string out; } good[] = {
        {"", u""}, {"a\\b", u"a\\b"}, {"caf\xC3\xA9", u"caf\u00E9"}, {"\xE2\x82\xAC", u"\u20AC"},
        {"\xEF\xBF\xBF", u"\uFFFF"}, {"\xF0\x9F\x98\x80", u"\U0001F600"}, {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
    };
    for (const auto& c : good) {
        std::u16string out = u"old";
        EXPECT_TRUE(Utf8ToUtf16(c.in, &out)) << c.in;
        EXPECT_EQ(out, c.out) << c.in;
    }
    for (const char* bad : {"\x80", "a\xC3", "\xC0\xAF", "\xC1\xBF", "\xE0\x9F\xBF", "\xF0\x8F\xBF\xBF",
                            "\xED\xA0\x80", "\xED\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xE2\x82",
                            "\xE2\x28\xA1", "\xFF"}) {
        EXPECT_FALSE(Utf8ToUtf16(bad, nullptr)) << bad;
    }
}

// One table: the paths of an archive, the folder's length, and how the refusal starts ("" accepted).
TEST(ArchiveNames, WholeArchivesAsWindowsCreatesThem) {
    const std::string p255(255, 'p');
    const struct { std::vector<std::string> paths; size_t root; std::string why; } cases[] = {
        // Accepted: different names, shared folders, short names that are not generated ones.
        {{"a\\b\\c.txt", "a\\b\\d.txt", "a\\e", "caf\xC3\xA9", "cafe", "PROGRAM~.TXT", "AB~C1.TXT", "ABCDEFG~1",
          "READ~1.TEXT", "~1", "\xC3\x9F", "SS", "x\\con10", "lpt\xC2\xB9x"}, 0, ""},
        {{p255.substr(0, 227) + "\\" + std::string(11, 'f')}, 20, ""},
        {{"x"}, 258, ""},
        // Encoding and the part rules, '\' or '/' between parts.
        {{"ok", "caf\xE9"}, 0, "entry 2 (caf\xE9): the path is not valid UTF-8"},
        {{"\\a"}, 0, "entry 1 (\\a): the path is absolute"},
        {{"a\\\\b"}, 0, "entry 1 (a\\\\b): has an empty part"},
        {{"a/../b"}, 0, "entry 1 (a/../b): leaves the folder"},
        {{"a\\b\tc"}, 0, "entry 1 (a\\b?c): contains a control character"},
        {{"dir\\Com\xC2\xB3.log"}, 0, "entry 1 (dir\\Com\xC2\xB3.log): names a device (Com\xC2\xB3.log)"},
        {{"CONIN$ .txt"}, 0, "entry 1 (CONIN$ .txt): names a device"},
        {{"lpt0"}, 0, "entry 1 (lpt0): names a device"},
        // Case twins as NTFS folds them, beyond ASCII, and never by full (multi-character) mappings.
        {{"Caf\xC3\xA9", "x", "CAF\xC3\x89"}, 0, "entry 3 (CAF\xC3\x89): the same file as entry 1 (Caf\xC3\xA9) once"},
        {{"\xE1\xBE\x80", "\xE1\xBE\x88"}, 0, "entry 2 (\xE1\xBE\x88): the same file as entry 1"},
        {{"d\\\xCE\xA3.txt", "D\\\xCF\x83.TXT"}, 0, "entry 2 (D\\\xCF\x83.TXT): the same file as entry 1"},
        {{"a\\b", "a/b"}, 0, "entry 2 (a/b): the same file as entry 1 (a\\b)"},
        {{"same", "same"}, 0, "entry 2 (same): the same path as entry 1 (same)"},
        // A file and a folder of one name, in both orders and across case.
        {{"a\\b", "a\\b\\c"}, 0, "entry 2 (a\\b\\c): needs a folder \"a\\b\" where entry 1 (a\\b) is a file"},
        {{"\xC3\xA9\\b\\c", "\xC3\x89\\B"}, 0, "entry 2 (\xC3\x89\\B): is a file where entry 1 (\xC3\xA9\\b\\c) needs"},
        // Generated short names, in any part.
        {{"PROGRA~1\\x"}, 0, "entry 1 (PROGRA~1\\x): the part \"PROGRA~1\" looks like a short (8.3) name"},
        {{"docs\\read~12.txt"}, 0, "entry 1 (docs\\read~12.txt): the part \"read~12.txt\" looks like"},
        // Lengths in UTF-16 units: the root with its backslash, then the path; folders stop at 247.
        {{"x"}, 259, "entry 1 (x): the full path would be 260 characters long (the folder takes 259)"},
        {{std::string(2, 'x') + "\xF0\x9F\x98\x80"}, 256, "entry 1 (xx\xF0\x9F\x98\x80): the full path would be 260"},
        {{p255.substr(0, 238) + "\\a"}, 10, "entry 1 (" + p255.substr(0, 238) + "\\a): the folder"},
        {{"a"}, 300, "entry 1 (a): the full path would be 301"},
    };
    for (const auto& c : cases) {
        std::string why = "unchanged";
        const bool ok = CheckArchiveNames(c.paths, c.root, &why);
        EXPECT_EQ(ok, c.why.empty()) << c.paths[0] << ": " << why;
        EXPECT_EQ(why.find(c.why), 0u) << c.paths[0] << ": " << why;
    }
}

// A one-part name the archive accepts is a safe module name too; line 5 alone keeps what
// stays in the folder although Windows reads it otherwise.
TEST(ArchiveNames, ModuleNameAndArchivePathShareTheirWaysOutAndDevices) {
    const struct { const char* name; bool module; bool archive; } cases[] = {
        {"install.dll", true, true}, {"x..dll", true, true}, {".hidden.dll", true, true}, {"console.dll", true, true},
        {"com10.dll", true, true}, {"comx.dll", true, true}, {"nul_free.dll", true, true},
        {"caf\xC3\xA9.dll", true, true}, {"com\xC2\xB9x", true, true},
        {"CON", false, false}, {"nul.dll", false, false}, {"Lpt9", false, false}, {"lpt0.dll", false, false},
        {"COM0", false, false}, {"aux .txt", false, false}, {"CONOUT$", false, false}, {"conin$.x", false, false},
        {"prn. .x", false, false}, {"com\xB9.dll", false, false}, {"LPT\xB2", false, false},
        {"com\xC2\xB9.dll", false, false}, {"Lpt\xC2\xB3", false, false}, {"..", false, false},
        {"...", false, false}, {". .", false, false}, {"x.dll:stream", false, false}, {"c:x", false, false},
        {".", true, false}, {"x.dll.", true, false}, {"x.dll ", true, false}, {"a\tb", true, false},
        {"a\x7f", true, false}, {"a<b", true, false}, {"a>b", true, false}, {"a\"b", true, false},
        {"a|b", true, false}, {"a?b", true, false}, {"a*b", true, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsSafeModuleName(c.name), c.module) << c.name;
        EXPECT_EQ(IsSafeArchivePath(c.name, nullptr), c.archive) << c.name;
    }
}

}  // namespace
}  // namespace engine
