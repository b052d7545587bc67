// The payload extension's extraction: a tree byte for byte, a damaged file deleted and the
// call failing with nothing it made left behind, a destination that exists refused; and
// its bounded failure text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/win32/payload_api.h"
#include "tests/engine_win32/test_support.h"

namespace {

using namespace engine::win32;
using Bytes = std::vector<uint8_t>;

Bytes Pattern(size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7 + i / 1000);
    return bytes;
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }  // ASCII paths

void KELVANE_CDECL Collect(void* context, const char* path, uint64_t size) {
    *static_cast<std::string*>(context) += std::string(path) + ":" + std::to_string(size) + " ";
}

TEST(PayloadApi, ExtractsATreeOrAFileAndLeavesNothingOfAFailure) {
    const std::vector<engine::ArchiveInput> files = {{"module.dll", Pattern(10, 1)},
                                                     {"payload/bin/app.exe", Pattern(3 << 20, 2)},
                                                     {"payload/a b/c/notes.txt", Pattern(5000, 3)},
                                                     {"payload/empty.txt", {}}};
    Bytes archive;
    ASSERT_TRUE(engine::WriteArchive(files, archive, nullptr));
    const engine::ArchiveIndex index = engine::ReadArchive(archive.data(), archive.size(), true);
    ASSERT_TRUE(index.ok) << index.failure;
    std::string listed;
    EXPECT_EQ(ListArchiveEntries(index, "payload/", Collect, &listed), 3);
    EXPECT_EQ(listed, "bin\\app.exe:3145728 a b\\c\\notes.txt:5000 empty.txt:0 ");
    EXPECT_EQ(ListArchiveEntries(index, "PAYLOAD\\bin", nullptr, nullptr), 1);
    EXPECT_EQ(ListArchiveEntries(index, "pay", nullptr, nullptr), -1);

    engine_test::ScratchDirectory scratch;
    const std::string tree = scratch.file("app");
    uint64_t lastDone = 0;
    const auto progress = [](void* context, uint64_t done, uint64_t total) -> KelvaneBool {
        EXPECT_LE(done, total);
        *static_cast<uint64_t*>(context) = done;
        return 1;
    };
    std::string failure;
    ASSERT_TRUE(ExtractFromArchive(archive.data(), archive.size(), index, "payload", Wide(tree).c_str(), progress,
                                   &lastDone, &failure))
        << failure;
    EXPECT_EQ(lastDone, (3u << 20) + 5000);
    for (size_t i = 1; i < files.size(); ++i) {
        const std::string name = files[i].path.substr(8);
        std::string path = tree + "\\" + name;
        for (char& c : path) c = c == '/' ? '\\' : c;
        EXPECT_EQ(engine_test::ReadBytes(path), std::string(files[i].bytes.begin(), files[i].bytes.end())) << name;
    }
    EXPECT_FALSE(ExtractFromArchive(archive.data(), archive.size(), index, "payload", Wide(tree).c_str(), nullptr,
                                    nullptr, &failure));
    EXPECT_EQ(failure, "the destination exists already");
    const std::string one = scratch.file("notes.txt");
    EXPECT_TRUE(ExtractFromArchive(archive.data(), archive.size(), index, "payload/a b/c/notes.txt",
                                   Wide(one).c_str(), nullptr, nullptr, &failure));
    EXPECT_EQ(engine_test::ReadBytes(one).size(), 5000u);
    EXPECT_FALSE(ExtractFromArchive(archive.data(), archive.size(), index, "payload/nothing", Wide(one).c_str(),
                                    nullptr, nullptr, &failure));
    EXPECT_EQ(failure, "payload\\nothing: the payload holds no such file or folder");

    // A stored byte of one file changed: its check fails at its end, the file is deleted
    // and so is everything else this call made.
    archive[index.entries[2].dataOffset + index.entries[2].compressedSize / 2] ^= 0x40;
    const std::string damaged = scratch.file("damaged");
    EXPECT_FALSE(ExtractFromArchive(archive.data(), archive.size(), index, "payload", Wide(damaged).c_str(), nullptr,
                                    nullptr, &failure));
    EXPECT_EQ(failure.find("payload\\a b\\c\\notes.txt: "), 0u) << failure;
    EXPECT_EQ(GetFileAttributesA(damaged.c_str()), INVALID_FILE_ATTRIBUTES);
    const auto stop = [](void*, uint64_t, uint64_t) -> KelvaneBool { return 0; };
    EXPECT_FALSE(ExtractFromArchive(archive.data(), archive.size(), index, "payload/bin", Wide(damaged).c_str(), stop,
                                    nullptr, &failure));
    EXPECT_EQ(failure, "the extraction was stopped");
    EXPECT_EQ(GetFileAttributesA(damaged.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(PayloadApi, FailureTextIsCutAtACharacterWithDots) {
    char out[8];
    CopyFailureText("short", out, sizeof out);
    EXPECT_STREQ(out, "short");
    CopyFailureText("abc\xC3\xA9xyz", out, sizeof out);  // "é" would straddle the cut
    EXPECT_STREQ(out, "abc...");
    CopyFailureText("anything", out, 3);
    EXPECT_STREQ(out, "");
}

}  // namespace
