// Tests of the installer archive: round trips through WriteArchive, ReadArchive and
// ExtractEntry, then every kind of damage, each refused with its reason and none crashing.
#include "engine/core/archive.h"

#include "engine/core/sha256.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace engine {
namespace {

using Bytes = std::vector<uint8_t>;

void Put(Bytes& b, size_t at, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) b[at + i] = static_cast<uint8_t>(value >> (8 * i));
}
void FixSize(Bytes& b) { Put(b, 12, b.size(), 8); }
Bytes Text(size_t size) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>("kelvane "[i % 8] + i / 4096 % 3);
    return bytes;
}
// Version 1 unless asked: the damage table below reaches every field through its offsets.
Bytes Archive(const std::vector<ArchiveInput>& files, uint16_t version = 1) {
    Bytes out;
    std::string failure;
    EXPECT_TRUE(WriteArchive(files, out, &failure, version)) << failure;
    return out;
}
std::string Failure(const Bytes& b, bool verify = true) { return ReadArchive(b.data(), b.size(), verify).failure; }
bool Collect(void* context, const uint8_t* bytes, size_t size) {
    static_cast<Bytes*>(context)->insert(static_cast<Bytes*>(context)->end(), bytes, bytes + size);
    return size <= (1u << 16);  // extraction comes in bounded chunks
}

// One entry "a.txt" of 100 bytes; its fields sit at fixed offsets.
constexpr size_t kSizeField = 31, kCompressedField = 39, kHashField = 47, kData = 79;
Bytes OneEntry() { return Archive({{"a.txt", Text(100)}}); }
Bytes Zlib(const Bytes& raw) {  // the writer's stream, whole
    const Bytes archive = Archive({{"a.txt", raw}});
    return Bytes(archive.begin() + kData, archive.end());
}
void Restream(Bytes& b, const Bytes& stream) {
    b.resize(kData);
    b.insert(b.end(), stream.begin(), stream.end());
    Put(b, kCompressedField, stream.size(), 8);
    FixSize(b);
}

TEST(Archive, RoundTripKeepsEveryFileAndGivesWindowsPaths) {
    const std::vector<ArchiveInput> files = {{"empty.txt", {}}, {"data/big.bin", Text(1 << 20)},
                                             {"a/b/c/deep.cfg", {'k', '=', 'v'}}, {"x.bin", Zlib(Text(5000))}};
    const Bytes archive = Archive(files);
    EXPECT_LT(archive.size(), 100000u);
    const ArchiveIndex index = ReadArchive(archive.data(), archive.size(), true);
    ASSERT_TRUE(index.ok) << index.failure;
    ASSERT_EQ(index.entries.size(), files.size());
    EXPECT_EQ(index.totalSize, (1u << 20) + 3 + files[3].bytes.size());
    const char* const windowsPaths[] = {"empty.txt", "data\\big.bin", "a\\b\\c\\deep.cfg", "x.bin"};
    for (size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(index.entries[i].path, windowsPaths[i]);
        EXPECT_EQ(index.entries[i].size, files[i].bytes.size());
        Bytes out;
        std::string failure = "unchanged";
        EXPECT_TRUE(ExtractEntry(archive.data(), archive.size(), index.entries[i], Collect, &out, &failure));
        EXPECT_EQ(failure, "");
        EXPECT_TRUE(out == files[i].bytes) << windowsPaths[i];
    }
    std::string failure;
    const auto stop = [](void*, const uint8_t*, size_t) { return false; };
    EXPECT_FALSE(ExtractEntry(archive.data(), archive.size(), index.entries[1], stop, nullptr, &failure));
    EXPECT_EQ(failure, "data\\big.bin: extraction was stopped");
}

TEST(Archive, EveryPrefixIsRefusedAndNamesTheFieldItEndsIn) {
    const Bytes archive = Archive({{"a.txt", Text(5)}, {"d/b.bin", Text(300)}});
    std::string seen;
    for (size_t length = 0; length < archive.size(); ++length) {
        Bytes prefix(archive.begin(), archive.begin() + length);
        EXPECT_FALSE(ReadArchive(prefix.data(), prefix.size(), true).ok) << length;
        if (length < 24) continue;
        FixSize(prefix);  // a consistent header, so the entries' own bounds are reached
        seen += Failure(prefix) + "\n";
    }
    const std::string t = ": the archive is truncated in the ", a = "entry 1 (a.txt)";
    for (const std::string& expected :
         {"entry 1" + t + "path length", "entry 1" + t + "path\n", a + t + "size", a + t + "compressed size",
          a + t + "SHA-256", a + ": the compressed size", "entry 2" + t + "path length",
          std::string("entry 2 (d\\b.bin): the compressed size")})
        EXPECT_NE(seen.find(expected), std::string::npos) << expected;
    EXPECT_EQ(seen.find("\n\n"), std::string::npos);  // every refusal says why
    EXPECT_EQ(Failure(Bytes(archive.begin(), archive.begin() + 23)), "the archive is truncated in the header");
}

TEST(Archive, DamageIsRefusedWithItsReason) {
    using Damage = std::function<void(Bytes&)>;
    const auto set = [](size_t at, uint64_t value, int width) {
        return Damage([=](Bytes& b) { Put(b, at, value, width); });
    };
    const auto restream = [](Bytes stream, int grow) {
        stream.resize(stream.size() + grow, 7);
        return Damage([=](Bytes& b) { Restream(b, stream); });
    };
    const std::string header = "the archive's ", e1 = "entry 1 (a.txt): ";
    const struct { Damage damage; std::string failure; bool verify = true; } cases[] = {
        {set(0, 'X', 1), "the archive does not start with KVPA"},
        {set(4, 3, 2), header + "format version 3 is not supported"},
        {set(4, 2, 2), "entry 1: path length 7297 is outside"},  // read with the longer header
        {set(6, 1, 2), header + "flags 1 are not supported"},
        {set(8, 0, 4), header + "entry count 0 is outside 1 to 4096"},
        {set(8, 4097, 4), header + "entry count 4097 is outside 1 to 4096"},
        {set(8, 2, 4), "entry 2: the archive is truncated in the path length"},
        {set(12, 99, 8), header + "declared size does not match its real size"},
        {set(12, 97, 8), header + "declared size does not match its real size"},
        {set(12, ~0ull, 8), header + "declared size does not match its real size"},
        {set(20, 1, 4), header + "reserved field is not zero"},
        {[](Bytes& b) { b.push_back(0); FixSize(b); }, "the archive has 1 bytes after its last entry"},
        {set(24, 0, 2), "entry 1: path length 0 is outside 1 to 259"},
        {set(24, 260, 2), "entry 1: path length 260 is outside 1 to 259"},
        {set(26, 0x2F2E2E, 3), "entry 1: path \"..\\xt\" leaves the folder"},
        {set(27, 0x742E317E, 4), "entry 1 (a~1.t): the part \"a~1.t\" looks like a short (8.3) name"},
        {[](Bytes& b) { b[kHashField] ^= 1; }, e1 + "SHA-256 does not match"},
        {set(kSizeField, 101, 8), e1 + "the data inflates to 100 bytes, not its size of 101"},
        {set(kSizeField, 99, 8), e1 + "the data inflates to more than its size of 99 bytes"},
        {set(kSizeField, 1ull << 32, 8), e1 + "size 4294967296 is over the limit of 4294967295 bytes", false},
        {set(kSizeField, ~0ull, 8), e1 + "size 18446744073709551615 is over the limit", false},
        {set(kCompressedField, 1000, 8), e1 + "the compressed size 1000 goes past the archive's end", false},
        {set(kCompressedField, ~0ull, 8), e1 + "the compressed size 18446744073709551615 goes past", false},
        {restream(Zlib(Text(100)), -4), e1 + "the compressed data ends early"},
        {restream(Zlib(Text(100)), 3), e1 + "the compressed data has 3 bytes after its stream ends"},
        {restream(Bytes(20, 0x55), 0), e1 + "the compressed data is damaged"},
        {[](Bytes& b) { Put(b, kSizeField, 10, 8); Restream(b, Zlib(Bytes(1 << 20))); },
         e1 + "the data inflates to more than its size of 10 bytes"},
        {[](Bytes& b) {
             b = Archive({{"1", {1}}, {"2", {2}}, {"3", {3}}, {"4", {4}}, {"5", {5}}});
             const ArchiveIndex index = ReadArchive(b.data(), b.size(), false);
             for (const ArchiveEntry& entry : index.entries) Put(b, entry.dataOffset - 48, 0xFFFFFFFF, 8);
         }, "entry 5 (5): the files add up to more than 17179869184 bytes", false},
        {[](Bytes& b) {
             b = Archive({{"Dir/A.txt", {1}}, {"dir/b.TXT", {1}}});
             b[ReadArchive(b.data(), b.size(), false).entries[1].dataOffset - 53] = 'a';
         }, "entry 2 (dir\\a.TXT): the same path as entry 1"},
    };
    ASSERT_EQ(OneEntry().size(), 98u);  // the offsets above
    for (const auto& c : cases) {
        Bytes archive = OneEntry();
        c.damage(archive);
        const std::string failure = Failure(archive, c.verify);
        EXPECT_EQ(failure.find(c.failure), 0u) << failure << "\nwanted: " << c.failure;
    }
}

// Version 2: the whole archive is checked by its stored bytes alone, nothing inflated;
// a stored hash that lies about damaged contents is still caught file by file.
TEST(Archive, VersionTwoIsCheckedByItsStoredBytes) {
    const std::vector<ArchiveInput> files = {{"module.dll", Text(3000)}, {"payload/a b/caf\xC3\xA9.txt", Text(70000)}};
    Bytes archive = Archive(files, 2);
    const auto count = [](void* context, uint64_t done, uint64_t total) {
        auto* seen = static_cast<uint64_t*>(context);
        EXPECT_GT(done, seen[0]);
        EXPECT_LE(done, total);
        seen[0] = done, ++seen[1];
        return true;
    };
    uint64_t seen[2] = {0, 0};  // the last done, the calls
    const ArchiveIndex index = ReadArchive(archive.data(), archive.size(), true, count, seen);
    ASSERT_TRUE(index.ok) << index.failure;
    EXPECT_EQ(index.version, 2);
    EXPECT_EQ(seen[0], archive.size() - 56);
    for (size_t i = 0; i < files.size(); ++i) {
        Bytes out;
        EXPECT_TRUE(ExtractEntry(archive.data(), archive.size(), index.entries[i], Collect, &out, nullptr));
        EXPECT_TRUE(out == files[i].bytes);
    }
    const auto stop = [](void*, uint64_t, uint64_t) { return false; };
    EXPECT_EQ(ReadArchive(archive.data(), archive.size(), true, stop, nullptr).failure, "the check was stopped");

    archive.back() ^= 1;  // one stored byte changed: refused before anything is inflated
    EXPECT_EQ(Failure(archive), "the archive's SHA-256 does not match its contents");
    EXPECT_TRUE(ReadArchive(archive.data(), archive.size(), false).ok);  // only the structure read
    Sha256Of(archive.data() + 56, archive.size() - 56, *reinterpret_cast<uint8_t(*)[32]>(archive.data() + 24));
    const ArchiveIndex lying = ReadArchive(archive.data(), archive.size(), true);  // the hash made to match
    ASSERT_TRUE(lying.ok);
    std::string failure;
    Bytes out;
    EXPECT_FALSE(ExtractEntry(archive.data(), archive.size(), lying.entries[1], Collect, &out, &failure));
    EXPECT_EQ(failure.find("payload\\a b\\caf\xC3\xA9.txt: "), 0u) << failure;
    Bytes shortHeader(archive.begin(), archive.begin() + 40);
    Put(shortHeader, 12, shortHeader.size(), 8);
    EXPECT_EQ(Failure(shortHeader), "the archive is truncated in the header");
}

TEST(Archive, ExtractionNeverHandsOutMoreThanTheDeclaredSize) {
    Bytes archive = OneEntry();
    Put(archive, kSizeField, 10, 8);
    Restream(archive, Zlib(Bytes(1 << 20)));
    ArchiveEntry bomb{"bomb", 10, archive.size() - kData, kData, {}};
    Sha256Of(Bytes(10).data(), 10, bomb.sha256);
    Bytes out;
    std::string failure;
    EXPECT_FALSE(ExtractEntry(archive.data(), archive.size(), bomb, Collect, &out, &failure));
    EXPECT_EQ(failure, "bomb: the data inflates to more than its size of 10 bytes");
    EXPECT_EQ(out.size(), 10u);
    bomb.dataOffset = archive.size() - 1;  // placement is checked again: entries may be forged
    EXPECT_FALSE(ExtractEntry(archive.data(), archive.size(), bomb, Collect, &out, &failure));
    EXPECT_EQ(failure, "bomb: the compressed data lies outside the archive");

    archive = OneEntry();
    archive[kHashField] ^= 1;  // only a verifying read sees it; extraction checks again at the end
    const ArchiveIndex index = ReadArchive(archive.data(), archive.size(), false);
    ASSERT_TRUE(index.ok);
    EXPECT_FALSE(ExtractEntry(archive.data(), archive.size(), index.entries[0], Collect, &out, &failure));
    EXPECT_EQ(failure, "a.txt: SHA-256 does not match");
}

TEST(Archive, PathRules) {
    const std::string longest(259, 'x');
    const struct { std::string path; const char* why; } cases[] = {
        {"a", ""}, {"dir/sub/file.txt", ""}, {"console.txt", ""}, {"com10/lpt10/x.con", ""},
        {"..a/b c/caf\xC3\xA9", ""}, {longest, ""}, {"", "is empty"}, {longest + "x", "is longer than 259 bytes"},
        {"/a", "is absolute"}, {"a\\b", "contains a backslash"}, {"c:x", "contains a colon"},
        {"a:stream", "contains a colon"}, {"a\tb", "contains a control character"},
        {"a\x7f", "contains a control character"}, {"a<", "contains the character <"},
        {"a>", "contains the character >"}, {"a\"", "contains the character \""}, {"a|", "contains the character |"},
        {"a?", "contains the character ?"}, {"a*", "contains the character *"}, {"a//b", "has an empty part"},
        {"a/", "has an empty part"}, {"../x", "leaves the folder"}, {"a/../b", "leaves the folder"},
        {"./a", "has a part \".\""}, {"a./b", "has a part ending in a dot or a blank"},
        {"a /b", "has a part ending in a dot or a blank"}, {"CON", "names a device (CON)"},
        {"x/con.txt", "names a device (con.txt)"}, {"Con .txt", "names a device"}, {"aux", "names a device"},
        {"NUL.tar.gz", "names a device"}, {"com1", "names a device"}, {"LPT9.log", "names a device"},
        {"prn", "names a device"}, {"conin$", "names a device"}, {"CONOUT$.x", "names a device"},
        {"com\xC2\xB9", "names a device"}, {"lpt0.txt", "names a device"},
    };
    for (const auto& c : cases) {
        std::string why = "unchanged";
        EXPECT_EQ(IsSafeArchivePath(c.path, &why), *c.why == '\0') << c.path;
        EXPECT_EQ(why.find(c.why), 0u) << c.path << ": " << why;
    }
}

TEST(Archive, WriteRefusesWhatNoReaderWouldAccept) {
    const struct { std::vector<ArchiveInput> files; const char* failure; } cases[] = {
        {{}, "an archive needs at least one file"},
        {std::vector<ArchiveInput>(4097, ArchiveInput{"a", {}}), "4097 files are more than an archive holds (4096)"},
        {{{"ok", {}}, {"a/../b", {}}}, "file 2 (a\\..\\b): the path leaves the folder"},
        {{{"Same.txt", {}}, {"x", {}}, {"sAME.TXT", {}}}, "file 3 (sAME.TXT): the same path as file 1"},
        {{{"a", {}}, {"A/b", {}}}, "entry 2 (A/b): needs a folder \"A\" where entry 1 (a) is a file"},
    };
    for (const auto& c : cases) {
        Bytes out = {1};
        std::string failure;
        EXPECT_FALSE(WriteArchive(c.files, out, &failure));
        EXPECT_EQ(failure, c.failure);
        EXPECT_TRUE(out.empty());
    }
}

}  // namespace
}  // namespace engine
