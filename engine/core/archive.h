// The embedded archive of a one-file installer: reading with every check made before any
// byte is trusted, extracting one entry in bounded chunks, and writing. Portable (zlib only);
// never touches files or windows.h, never allocates by a size the archive declares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Format, versions 1 and 2 (the writer makes 2). All integers little-endian.
//
// Header, 24 bytes in version 1, 56 in version 2:
// | offset | type     | field                                                    |
// |--------|----------|----------------------------------------------------------|
// | 0      | 4 bytes  | magic "KVPA"                                             |
// | 4      | uint16   | format version, 1 or 2                                   |
// | 6      | uint16   | flags, 0 (any other value: refused)                      |
// | 8      | uint32   | entry count, 1 to 4096                                   |
// | 12     | uint64   | archive size in bytes, header included; equals the bytes |
// | 20     | uint32   | reserved, 0                                              |
// | 24     | 32 bytes | version 2: SHA-256 of every byte after the header        |
//
// Version 2 lets a reader check the whole archive by hashing its stored bytes once,
// without inflating anything; each file's own SHA-256 is checked as it is extracted.
//
// Then each entry, in order:
// | type     | field                                                               |
// |----------|---------------------------------------------------------------------|
// | uint16   | path length in bytes, 1 to 259                                      |
// | bytes    | relative path, '/' between parts (the reader gives '\')             |
// | uint64   | size, uncompressed (at most 2^32 - 1; all entries together 2^34)    |
// | uint64   | compressed size (must fit in what remains)                          |
// | 32 bytes | SHA-256 of the uncompressed bytes                                   |
// | bytes    | one zlib stream (RFC 1950) of exactly the compressed size,          |
// |          | inflating to exactly the size                                       |
// The last entry ends exactly at the archive size.
//
// Path rules: parts separated by '/'; no empty part; no part "." or ".."; no '\', no ':',
// no control characters (below 0x20, 0x7F), none of <>"|?*; no part ending in a dot or a
// blank; no device name as a part, with or without extension, ASCII case ignored (CON,
// PRN, AUX, NUL, COM0-COM9, LPT0-LPT9, COM and LPT with a superscript 1-3, CONIN$,
// CONOUT$): the part rules of ClassifyNamePart (setup_lines.h). No leading '/'; no two
// entries naming the same path (ASCII case ignored). And the names as a whole, as
// CheckArchiveNames (archive_names.h) judges them for a folder of length 0: valid UTF-8,
// no NTFS case twins, no file where another entry needs a folder, no 8.3-looking part.

namespace engine {

constexpr int kArchiveResourceId = 458;
constexpr uint16_t kArchiveFormatVersion = 2;  // what WriteArchive makes

struct ArchiveEntry {
    std::string path;          // as Windows wants it: '\' between parts
    uint64_t size = 0;         // uncompressed
    uint64_t compressedSize = 0;
    uint64_t dataOffset = 0;   // of the zlib stream, from the archive's start
    uint8_t sha256[32] = {};
};

struct ArchiveIndex {
    bool ok = false;
    std::string failure;       // when !ok: what failed, in plain words, naming the entry: "entry 3 (install.cfg): SHA-256 does not match"
    std::vector<ArchiveEntry> entries;
    uint64_t totalSize = 0;    // sum of the entries' sizes
    uint16_t version = 0;
};

// Called now and then while a whole archive is checked: bytes checked so far of total.
// False stops the check (it then fails with "the check was stopped").
using ArchiveProgress = bool (*)(void* context, uint64_t done, uint64_t total);

using ArchiveSink = bool (*)(void* context, const uint8_t* bytes, size_t size);  // false stops

// Reads and checks the whole archive: header, every entry's fields, path and name rules, and with
// verifyContents also the contents: in version 2 the SHA-256 of the stored bytes (nothing is
// inflated), in version 1 every entry inflated (never past its declared size) against its
// SHA-256. progress, when given, is called between chunks of that work. Any thread.
ArchiveIndex ReadArchive(const uint8_t* data, size_t size, bool verifyContents, ArchiveProgress progress = nullptr,
                         void* progressContext = nullptr);

// What ExtractEntry checks of what it inflates.
enum class ExtractCheck {
    kSizeAndHash,  // the size and the SHA-256
    kSizeOnly,     // the size: for callers that hash the bytes where they land, once
};

// Inflates one entry of an archive ReadArchive accepted, in chunks to sink; checks at the end.
// The sink is called synchronously on the caller's thread; bytes it was given before a
// failure found at the end are not taken back, so callers write to a temporary place.
// Entries of one archive may be extracted on several threads at once.
bool ExtractEntry(const uint8_t* data, size_t size, const ArchiveEntry& entry, ArchiveSink sink, void* context,
                  std::string* failure, ExtractCheck check = ExtractCheck::kSizeAndHash);

bool IsSafeArchivePath(const std::string& path, std::string* why);   // path with '/' separators

struct ArchiveInput { std::string path; std::vector<uint8_t> bytes; };  // path with '/' separators

// Builds an archive (zlib level 9) of the given format version (1 or 2); false with the reason for a
// bad path, a duplicate, too many entries or sizes.
bool WriteArchive(const std::vector<ArchiveInput>& files, std::vector<uint8_t>& out, std::string* failure,
                  uint16_t version = kArchiveFormatVersion);

}  // namespace engine
