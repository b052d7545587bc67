// Tests of the journal's record lines and the walk over a file (modules/standard/core/journal_format.c).
// Native only; the walks run over heap copies of exact size so that ASan sees any read past the end.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "journal_format.h"

namespace {

using namespace std::string_literals;

KvJournalRecord Make(KvJournalKind kind, std::vector<std::string> fields) {
    KvJournalRecord record{kind, static_cast<unsigned>(fields.size()), {}};
    for (size_t i = 0; i < fields.size(); ++i) std::strcpy(record.fields[i], fields[i].c_str());
    return record;
}

std::string Line(const KvJournalRecord& record) {
    char out[8192];
    return std::string(out, KvFormatJournalLine(&record, out, sizeof out));
}

bool Parses(const std::string& line) {
    KvJournalRecord record;
    return KvParseJournalLine(line.data(), line.size(), &record) == 1;
}

TEST(JournalLine, EscapesRoundTrip) {
    const KvJournalRecord record = Make(KV_J_REGVALUE, {"HKLM", "S\\a\tb", "x\r\ny\\\\t", "1:00ff"});
    const std::string line = Line(record);
    KvJournalRecord back;
    EXPECT_EQ(line, "regvalue\tHKLM\tS\\\\a\\tb\tx\\r\\ny\\\\\\\\t\t1:00ff\r\n");
    ASSERT_EQ(KvParseJournalLine(line.data(), line.size() - 2, &back), 1);
    ASSERT_TRUE(back.kind == KV_J_REGVALUE && back.fieldCount == 4u);
    for (int i = 0; i < 4; ++i) EXPECT_STREQ(back.fields[i], record.fields[i]);
    EXPECT_STREQ(KvJournalKindName(KV_J_HEADER), "kelvane-journal");
    EXPECT_EQ(KvJournalKindName(static_cast<KvJournalKind>(13)), nullptr);
}

// A staged file names the file it replaces at the restart and the copy waiting beside it:
// a line without either would leave undo nothing, or the wrong file, to delete.
TEST(JournalLine, StagedNeedsBothPaths) {
    EXPECT_EQ(Line(Make(KV_J_STAGED, {"C:\\a\\x.dll", "C:\\a\\x.dll.kvnew"})),
              "staged\tC:\\\\a\\\\x.dll\tC:\\\\a\\\\x.dll.kvnew\r\n");
    EXPECT_STREQ(KvJournalKindName(KV_J_STAGED), "staged");
    EXPECT_TRUE(Parses("staged\tC:\\\\x\tC:\\\\x.kvnew"));
    for (const char* bad : {"staged\tC:\\\\x", "staged\t\tC:\\\\x.kvnew", "staged\tC:\\\\x\t", "staged\ta\tb\tc"})
        EXPECT_FALSE(Parses(bad)) << bad;
    EXPECT_EQ(Line(Make(KV_J_STAGED, {"C:\\x", ""})), "");
}

TEST(JournalLine, FormatNeverCutsAndRefusesWhatItCouldNotRead) {
    const KvJournalRecord record = Make(KV_J_FOLDER, {"C:\\a"});  // "folder\tC:\\\\a\r\n": 14 bytes
    char out[15];
    EXPECT_EQ(KvFormatJournalLine(&record, out, 15), 14u);
    EXPECT_EQ(KvFormatJournalLine(&record, out, 14), 0u);
    EXPECT_STREQ(out, "");  // not the 13 bytes that fitted
    EXPECT_EQ(Line(Make(KV_J_FOLDER, {"a", "b"})) + Line(Make(KV_J_FOLDER, {""})) +
                  Line(Make(KV_J_HASH, {"a", "123"})) + Line(Make(KV_J_FILE, {"a", "-1"})) +
                  Line(Make(KV_J_PRODUCT, {"id", "1", "C:\\a", "both"})) + Line(Make(KV_J_FOLDER, {"\xC3"})),
              "");
    KvJournalRecord full = Make(KV_J_FOLDER, {""});
    std::memset(full.fields[0], 'a', KV_JOURNAL_FIELD);  // no NUL in the field
    EXPECT_EQ(Line(full), "");
    full.fields[0][KV_JOURNAL_FIELD - 1] = '\0';
    EXPECT_EQ(Line(full).size(), 7 + 1023 + 2u);
}

TEST(JournalLine, DamagedLinesAreNoRecords) {
    EXPECT_TRUE(Parses("hash\tC:\\\\a\t" + std::string(64, 'a')));
    EXPECT_TRUE(Parses("regvalue\tHKCU\tk\t\t-"));
    EXPECT_TRUE(Parses("folder\t" + std::string(1023, 'a')));
    for (const std::string& bad :
         {"folder\t" + std::string(1024, 'a'), "folder\ta\\x"s, "folder\ta\\"s, "folder"s, "Folder\ta"s,
          "folder\ta\tb"s, "folder\ta\rb"s, "folder\ta\0b"s, "hash\ta\t" + std::string(63, 'a') + "g",
          "kelvane-journal\t2"s, "end\t2026120"s,
          "regvalue\tHKLM\tk\tn\t4:0"s, "regvalue\tHKLM\tk\tn\t4294967296:"s, "apps\tHKLM\tk\t\t\t\t\t"s})
        EXPECT_FALSE(Parses(bad)) << bad;
}

struct Seen {
    std::vector<KvJournalKind> kinds;
    size_t stopAfter = 100;
    static int Each(void* seen, const KvJournalRecord* record) {
        static_cast<Seen*>(seen)->kinds.push_back(record->kind);
        return static_cast<Seen*>(seen)->kinds.size() < static_cast<Seen*>(seen)->stopAfter;
    }
};

long Walk(const std::string& text, Seen* seen, int* cut) {
    std::vector<char> bytes(text.begin(), text.end());  // exactly its size
    return KvWalkJournal(bytes.empty() ? "" : bytes.data(), bytes.size(), Seen::Each, seen, cut);
}

const std::string kGood = "kelvane-journal\t1\r\nproduct\tid\t1.0\tC:\\\\A\tmachine\r\nfolder\tC:\\\\A\r\n";

TEST(JournalWalk, CompleteAndCutJournals) {
    Seen seen;
    int cut = 7;
    EXPECT_TRUE(Walk(kGood, &seen, &cut) == 3 && cut == 0);
    EXPECT_EQ(seen.kinds, (std::vector<KvJournalKind>{KV_J_HEADER, KV_J_PRODUCT, KV_J_FOLDER}));
    for (const char* tail : {"f", "file\tC:\\\\A\\\\x\t12", "file\tC:\\\\A\\\\x\t12\r", "\r"}) {
        Seen cutSeen;
        EXPECT_EQ(Walk(kGood + tail, &cutSeen, &cut), 3) << tail;
        EXPECT_TRUE(cut == 1 && cutSeen.kinds.size() == 3u) << tail;
    }
    Seen early{{}, 2};
    EXPECT_EQ(Walk(kGood, &early, &cut), 2);
}

TEST(JournalWalk, DamageAnywhereMeansNothingIsTrusted) {
    for (const std::string& bad : {""s, "kelvane-journal\t1"s, "folder\tC:\\\\A\r\n" + kGood,
                                   kGood + "kelvane-journal\t1\r\n", kGood + "folder\tC:\\\\B\n", kGood + "\r\n",
                                   kGood + "folder\tC:\\\\B\\q\r\nfolder\tC:\\\\C\r\n", "kelvane-journal\t1\n"s}) {
        Seen seen;
        EXPECT_EQ(Walk(bad, &seen, nullptr), -1) << bad;
        EXPECT_TRUE(seen.kinds.empty()) << bad;  // checked whole before the first record is given out
    }
}

TEST(JournalOldValue, RoundTripAndBounds) {
    const uint8_t data[] = {0x00, 0xAB, 0x7F};
    char text[16];
    EXPECT_EQ(KvFormatOldValue(1, 4294967295u, data, 3, text, sizeof text), 0u);  // needs 18
    EXPECT_EQ(KvFormatOldValue(1, 3, data, 3, text, 8), 0u);
    ASSERT_EQ(KvFormatOldValue(1, 3, data, 3, text, 9), 8u);
    EXPECT_STREQ(text, "3:00ab7f");
    int exists = -1;
    uint32_t type = 0;
    uint8_t back[3];
    size_t size = 0;
    ASSERT_EQ(KvParseOldValue("3:00AB7f", &exists, &type, back, 3, &size), 1);
    EXPECT_TRUE(exists == 1 && type == 3 && size == 3 && std::memcmp(back, data, 3) == 0);
    EXPECT_EQ(KvParseOldValue("3:00AB7f", &exists, &type, back, 2, &size), 0);
    EXPECT_EQ(KvParseOldValue("1:", &exists, &type, nullptr, 0, &size), 1);
    EXPECT_EQ(KvFormatOldValue(0, 3, data, 3, text, 2), 1u);
    EXPECT_TRUE(KvParseOldValue(text, &exists, &type, back, 3, &size) == 1 && exists == 0);
    for (const char* bad : {"", ":00", "x:00", "4:0", "4:zz", "4", "-1:00", "4294967296:00", " 4:00"})
        EXPECT_EQ(KvParseOldValue(bad, &exists, &type, back, 3, &size), 0) << bad;
}

}  // namespace
