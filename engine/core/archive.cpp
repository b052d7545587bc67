// Reader, extractor and writer of the embedded archive (format in archive.h). Every size and
// offset is checked against the bytes actually given before it is used, and inflation runs
// in bounded chunks that never hand out more than an entry declares. No windows.h, no files.
#include "engine/core/archive.h"

#include "engine/core/archive_names.h"
#include "engine/core/setup_lines.h"
#include "engine/core/sha256.h"

#include <zlib.h>

#include <cstring>
#include <map>
#include <utility>

namespace engine {

namespace {

constexpr size_t kHeaderSizeV1 = 24;
constexpr size_t kHeaderSizeV2 = 56;
constexpr size_t kStoredHashAt = 24;
// Hashed between two progress calls: a few milliseconds of work.
constexpr size_t kCheckChunk = 8u << 20;
constexpr uint32_t kMaxEntries = 4096;
constexpr size_t kMaxPathLength = 259;
constexpr uint64_t kMaxEntrySize = 0xFFFFFFFFull;
constexpr uint64_t kMaxTotalSize = 1ull << 34;
// zlib counts in uInt; these keep every chunk well inside it on any platform.
constexpr size_t kInputChunk = 1u << 20;
constexpr size_t kOutputChunk = 1u << 16;

uint16_t Load16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Load32(const uint8_t* p) { return uint32_t(Load16(p)) | (uint32_t(Load16(p + 2)) << 16); }
uint64_t Load64(const uint8_t* p) { return uint64_t(Load32(p)) | (uint64_t(Load32(p + 4)) << 32); }

void Append16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void Append32(std::vector<uint8_t>& out, uint32_t v) {
    Append16(out, uint16_t(v));
    Append16(out, uint16_t(v >> 16));
}
void Append64(std::vector<uint8_t>& out, uint64_t v) {
    Append32(out, uint32_t(v));
    Append32(out, uint32_t(v >> 32));
}
void Store64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

std::string LowerAsciiCopy(const std::string& s) {
    std::string lower(s);
    for (char& c : lower) c = LowerAscii(c);
    return lower;
}

// The path as a message shows it: Windows separators, control bytes as '?' so a message
// stays one printable line.
std::string DisplayPath(const std::string& path) {
    std::string shown(path);
    for (char& c : shown) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '/') c = '\\';
        else if (u < 0x20 || u == 0x7F) c = '?';
    }
    return shown;
}

bool Fail(std::string* failure, const std::string& text) {
    if (failure != nullptr) *failure = text;
    return false;
}

// Closes the stream on every way out.
struct Inflater {
    z_stream stream{};
    bool ready = false;
    Inflater() { ready = inflateInit(&stream) == Z_OK; }
    ~Inflater() {
        if (ready) inflateEnd(&stream);
    }
};

// Inflates one zlib stream of exactly compressedSize bytes that must give exactly size bytes
// with the given SHA-256. The sink never receives more than size bytes: past it, a single
// probe byte decides that the stream is too long. reason: what failed, without the entry's name.
// expected null: the size alone is checked.
bool InflateChecked(const uint8_t* compressed, uint64_t compressedSize, uint64_t size,
                    const uint8_t* expected, ArchiveSink sink, void* context, std::string* reason) {
    Inflater inflater;
    if (!inflater.ready) return Fail(reason, "zlib could not start (out of memory)");
    z_stream& zs = inflater.stream;
    std::vector<uint8_t> buffer(kOutputChunk);
    Sha256 hash;
    uint64_t inputLeft = compressedSize;
    uint64_t produced = 0;
    for (;;) {
        if (zs.avail_in == 0 && inputLeft != 0) {
            const size_t take = inputLeft < kInputChunk ? static_cast<size_t>(inputLeft) : kInputChunk;
            zs.next_in = const_cast<Bytef*>(compressed);  // zlib's API is not const; it only reads
            zs.avail_in = static_cast<uInt>(take);
            compressed += take;
            inputLeft -= take;
        }
        const uint64_t room = size - produced;
        const size_t capacity = room == 0 ? 1 : (room < kOutputChunk ? static_cast<size_t>(room) : kOutputChunk);
        zs.next_out = buffer.data();
        zs.avail_out = static_cast<uInt>(capacity);
        const int rc = inflate(&zs, Z_NO_FLUSH);
        const size_t got = capacity - zs.avail_out;
        if (got > room)
            return Fail(reason, "the data inflates to more than its size of " + std::to_string(size) + " bytes");
        if (got != 0) {
            if (expected != nullptr) hash.update(buffer.data(), got);
            produced += got;
            if (sink != nullptr && !sink(context, buffer.data(), got)) return Fail(reason, "extraction was stopped");
        }
        if (rc == Z_STREAM_END) break;
        if (rc == Z_OK) continue;
        if (rc == Z_BUF_ERROR && zs.avail_in == 0 && inputLeft == 0)
            return Fail(reason, "the compressed data ends early");
        if (rc == Z_NEED_DICT) return Fail(reason, "the compressed data asks for a preset dictionary");
        if (rc == Z_MEM_ERROR) return Fail(reason, "zlib ran out of memory");
        return Fail(reason, std::string("the compressed data is damaged (") +
                                (zs.msg != nullptr ? zs.msg : "zlib error " + std::to_string(rc)) + ")");
    }
    const uint64_t trailing = zs.avail_in + inputLeft;
    if (trailing != 0)
        return Fail(reason, "the compressed data has " + std::to_string(trailing) + " bytes after its stream ends");
    if (produced != size)
        return Fail(reason, "the data inflates to " + std::to_string(produced) + " bytes, not its size of " +
                                std::to_string(size));
    if (expected == nullptr) return true;
    uint8_t digest[32];
    hash.finish(digest);
    if (std::memcmp(digest, expected, sizeof digest) != 0) return Fail(reason, "SHA-256 does not match");
    return true;
}

// Walks the entry fields with every read bounded by the bytes given.
class Cursor {
public:
    Cursor(const uint8_t* data, size_t size, size_t position) : data_(data), size_(size), position_(position) {}
    size_t left() const { return size_ - position_; }
    size_t position() const { return position_; }
    bool take(size_t count, const uint8_t** bytes) {
        if (count > left()) return false;
        *bytes = data_ + position_;
        position_ += count;
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t position_;
};

ArchiveIndex Refuse(ArchiveIndex index, const std::string& failure) {
    index.ok = false;
    index.failure = failure;
    index.entries.clear();
    index.totalSize = 0;
    return index;
}

size_t HeaderSize(uint16_t version) { return version == 1 ? kHeaderSizeV1 : kHeaderSizeV2; }

std::string CheckHeader(const uint8_t* data, size_t size, uint32_t* count, uint16_t* version) {
    if (data == nullptr || size < kHeaderSizeV1) return "the archive is truncated in the header";
    if (std::memcmp(data, "KVPA", 4) != 0) return "the archive does not start with KVPA";
    *version = Load16(data + 4);
    if (*version != 1 && *version != 2)
        return "the archive's format version " + std::to_string(*version) + " is not supported";
    if (size < HeaderSize(*version)) return "the archive is truncated in the header";
    const uint16_t flags = Load16(data + 6);
    if (flags != 0) return "the archive's flags " + std::to_string(flags) + " are not supported";
    *count = Load32(data + 8);
    if (*count < 1 || *count > kMaxEntries)
        return "the archive's entry count " + std::to_string(*count) + " is outside 1 to 4096";
    if (Load64(data + 12) != static_cast<uint64_t>(size))
        return "the archive's declared size does not match its real size";
    if (Load32(data + 20) != 0) return "the archive's reserved field is not zero";
    return std::string();
}

// Version 2: the stored bytes after the header against the header's SHA-256.
std::string CheckStoredBytes(const uint8_t* data, size_t size, ArchiveProgress progress, void* context) {
    Sha256 hash;
    const uint64_t total = size - kHeaderSizeV2;
    for (size_t at = kHeaderSizeV2; at < size;) {
        const size_t take = size - at < kCheckChunk ? size - at : kCheckChunk;
        hash.update(data + at, take);
        at += take;
        if (progress != nullptr && !progress(context, at - kHeaderSizeV2, total)) return "the check was stopped";
    }
    uint8_t digest[32];
    hash.finish(digest);
    if (std::memcmp(digest, data + kStoredHashAt, sizeof digest) != 0)
        return "the archive's SHA-256 does not match its contents";
    return std::string();
}

}  // namespace

bool IsSafeArchivePath(const std::string& path, std::string* why) {
    if (path.empty()) return Fail(why, "is empty");
    if (path.size() > kMaxPathLength) return Fail(why, "is longer than 259 bytes");
    if (path[0] == '/') return Fail(why, "is absolute");
    for (const char c : path) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '\\') return Fail(why, "contains a backslash");
        if (c == ':') return Fail(why, "contains a colon (a drive or a stream)");
        if (u < 0x20 || u == 0x7F) return Fail(why, "contains a control character");
        if (std::strchr("<>\"|?*", c) != nullptr) return Fail(why, std::string("contains the character ") + c);
    }
    size_t start = 0;
    for (;;) {
        const size_t slash = path.find('/', start);
        const size_t length = (slash == std::string::npos ? path.size() : slash) - start;
        // The same part rules as the module name on line 5 (ClassifyNamePart); the
        // characters were judged above, for the whole path.
        switch (ClassifyNamePart(path.data() + start, length)) {
            case NamePart::kPlain: break;
            case NamePart::kEmpty: return Fail(why, "has an empty part");
            case NamePart::kDotDot: return Fail(why, "leaves the folder");
            case NamePart::kDot: return Fail(why, "has a part \".\"");
            case NamePart::kTrailing: return Fail(why, "has a part ending in a dot or a blank");
            case NamePart::kDevice: return Fail(why, "names a device (" + path.substr(start, length) + ")");
            default: return Fail(why, "has a part Windows cannot name");
        }
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    if (why != nullptr) why->clear();
    return true;
}

ArchiveIndex ReadArchive(const uint8_t* data, size_t size, bool verifyContents, ArchiveProgress progress,
                         void* progressContext) {
    ArchiveIndex index;
    uint32_t count = 0;
    uint16_t version = 0;
    const std::string headerFailure = CheckHeader(data, size, &count, &version);
    if (!headerFailure.empty()) return Refuse(std::move(index), headerFailure);
    index.version = version;
    // Version 1 has no hash of its own: each entry is inflated and checked.
    const bool inflateEach = verifyContents && version == 1;

    std::map<std::string, uint32_t> seen;  // lower-cased path -> entry number
    Cursor cursor(data, size, HeaderSize(version));
    const uint8_t* field = nullptr;
    for (uint32_t number = 1; number <= count; ++number) {
        const std::string entryName = "entry " + std::to_string(number);
        if (!cursor.take(2, &field))
            return Refuse(std::move(index), entryName + ": the archive is truncated in the path length");
        const uint16_t pathLength = Load16(field);
        if (pathLength < 1 || pathLength > kMaxPathLength)
            return Refuse(std::move(index),
                          entryName + ": path length " + std::to_string(pathLength) + " is outside 1 to 259");
        if (!cursor.take(pathLength, &field))
            return Refuse(std::move(index), entryName + ": the archive is truncated in the path");
        const std::string path(reinterpret_cast<const char*>(field), pathLength);
        std::string why;
        if (!IsSafeArchivePath(path, &why))
            return Refuse(std::move(index), entryName + ": path \"" + DisplayPath(path) + "\" " + why);

        ArchiveEntry entry;
        entry.path = DisplayPath(path);  // safe paths hold no control bytes: only '/' changes
        const std::string named = entryName + " (" + entry.path + ")";
        const auto inserted = seen.emplace(LowerAsciiCopy(path), number);
        if (!inserted.second)
            return Refuse(std::move(index), named + ": the same path as entry " +
                                                std::to_string(inserted.first->second));
        if (!cursor.take(8, &field)) return Refuse(std::move(index), named + ": the archive is truncated in the size");
        entry.size = Load64(field);
        if (!cursor.take(8, &field))
            return Refuse(std::move(index), named + ": the archive is truncated in the compressed size");
        entry.compressedSize = Load64(field);
        if (!cursor.take(32, &field))
            return Refuse(std::move(index), named + ": the archive is truncated in the SHA-256");
        std::memcpy(entry.sha256, field, sizeof entry.sha256);

        if (entry.size > kMaxEntrySize)
            return Refuse(std::move(index), named + ": size " + std::to_string(entry.size) +
                                                " is over the limit of 4294967295 bytes");
        index.totalSize += entry.size;  // at most 4096 * (2^32 - 1): cannot wrap
        if (index.totalSize > kMaxTotalSize)
            return Refuse(std::move(index), named + ": the files add up to more than 17179869184 bytes");
        if (entry.compressedSize > cursor.left())
            return Refuse(std::move(index), named + ": the compressed size " + std::to_string(entry.compressedSize) +
                                                " goes past the archive's end");
        entry.dataOffset = cursor.position();
        cursor.take(static_cast<size_t>(entry.compressedSize), &field);
        if (inflateEach) {
            std::string reason;
            if (!InflateChecked(field, entry.compressedSize, entry.size, entry.sha256, nullptr, nullptr, &reason))
                return Refuse(std::move(index), named + ": " + reason);
            if (progress != nullptr && !progress(progressContext, cursor.position(), size))
                return Refuse(std::move(index), "the check was stopped");
        }
        index.entries.push_back(std::move(entry));
    }
    if (cursor.left() != 0)
        return Refuse(std::move(index),
                      "the archive has " + std::to_string(cursor.left()) + " bytes after its last entry");
    // The names as a whole, as Windows will create them; the installer checks them again
    // with its own folder's length.
    std::vector<std::string> paths;
    for (const ArchiveEntry& entry : index.entries) paths.push_back(entry.path);
    std::string why;
    if (!CheckArchiveNames(paths, 0, &why)) return Refuse(std::move(index), why);
    // Last, so that a damaged field is named as such; the fields are read safely anyway.
    if (verifyContents && version == 2) {
        const std::string stored = CheckStoredBytes(data, size, progress, progressContext);
        if (!stored.empty()) return Refuse(std::move(index), stored);
    }
    index.ok = true;
    return index;
}

bool ExtractEntry(const uint8_t* data, size_t size, const ArchiveEntry& entry, ArchiveSink sink, void* context,
                  std::string* failure, ExtractCheck check) {
    const std::string named = entry.path + ": ";
    // The entry may come from anywhere: its placement is checked again before any read.
    if (data == nullptr || entry.dataOffset > size || entry.compressedSize > size - entry.dataOffset)
        return Fail(failure, named + "the compressed data lies outside the archive");
    if (entry.size > kMaxEntrySize) return Fail(failure, named + "the size is over the limit of 4294967295 bytes");
    std::string reason;
    const uint8_t* expected = check == ExtractCheck::kSizeAndHash ? entry.sha256 : nullptr;
    if (!InflateChecked(data + entry.dataOffset, entry.compressedSize, entry.size, expected, sink, context, &reason))
        return Fail(failure, named + reason);
    if (failure != nullptr) failure->clear();
    return true;
}

bool WriteArchive(const std::vector<ArchiveInput>& files, std::vector<uint8_t>& out, std::string* failure,
                  uint16_t version) {
    out.clear();
    if (version != 1 && version != 2) return Fail(failure, "format version " + std::to_string(version) + " is unknown");
    if (files.empty()) return Fail(failure, "an archive needs at least one file");
    if (files.size() > kMaxEntries)
        return Fail(failure, std::to_string(files.size()) + " files are more than an archive holds (4096)");
    std::map<std::string, size_t> seen;
    uint64_t total = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string named = "file " + std::to_string(i + 1) + " (" + DisplayPath(files[i].path) + ")";
        std::string why;
        if (!IsSafeArchivePath(files[i].path, &why)) return Fail(failure, named + ": the path " + why);
        const auto inserted = seen.emplace(LowerAsciiCopy(files[i].path), i + 1);
        if (!inserted.second)
            return Fail(failure, named + ": the same path as file " + std::to_string(inserted.first->second));
        const uint64_t fileSize = files[i].bytes.size();
        if (fileSize > kMaxEntrySize) return Fail(failure, named + ": larger than 4294967295 bytes");
        total += fileSize;
        if (total > kMaxTotalSize) return Fail(failure, named + ": the files add up to more than 17179869184 bytes");
    }
    // What a reader would refuse is never written: the names as Windows sees them (the
    // files become entries in their order, so the entry numbers are the file numbers).
    std::vector<std::string> paths;
    for (const ArchiveInput& file : files) paths.push_back(file.path);
    std::string why;
    if (!CheckArchiveNames(paths, 0, &why)) return Fail(failure, why);

    out.insert(out.end(), {'K', 'V', 'P', 'A'});
    Append16(out, version);
    Append16(out, 0);
    Append32(out, static_cast<uint32_t>(files.size()));
    Append64(out, 0);  // the archive size, known at the end
    Append32(out, 0);
    if (version == 2) out.resize(kHeaderSizeV2);  // the stored bytes' hash, known at the end
    for (size_t i = 0; i < files.size(); ++i) {
        const ArchiveInput& file = files[i];
        Append16(out, static_cast<uint16_t>(file.path.size()));
        out.insert(out.end(), file.path.begin(), file.path.end());
        Append64(out, file.bytes.size());
        const size_t compressedSizeAt = out.size();
        Append64(out, 0);  // known once deflated
        uint8_t digest[32];
        Sha256Of(file.bytes.data(), file.bytes.size(), digest);
        out.insert(out.end(), digest, digest + sizeof digest);

        z_stream zs{};
        if (deflateInit(&zs, 9) != Z_OK) {
            out.clear();
            return Fail(failure, "zlib could not start (out of memory)");
        }
        const size_t streamStart = out.size();
        const uint8_t* input = file.bytes.data();
        size_t inputLeft = file.bytes.size();
        int rc = Z_OK;
        while (rc != Z_STREAM_END) {
            if (zs.avail_in == 0 && inputLeft != 0) {
                const size_t take = inputLeft < kInputChunk ? inputLeft : kInputChunk;
                zs.next_in = const_cast<Bytef*>(input);  // deflate only reads it
                zs.avail_in = static_cast<uInt>(take);
                input += take;
                inputLeft -= take;
            }
            const size_t before = out.size();
            out.resize(before + kOutputChunk);
            zs.next_out = out.data() + before;
            zs.avail_out = static_cast<uInt>(kOutputChunk);
            rc = deflate(&zs, inputLeft == 0 ? Z_FINISH : Z_NO_FLUSH);
            out.resize(before + (kOutputChunk - zs.avail_out));
            if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
                deflateEnd(&zs);
                out.clear();
                return Fail(failure, "file " + std::to_string(i + 1) + ": zlib failed to compress it");
            }
        }
        deflateEnd(&zs);
        Store64(out.data() + compressedSizeAt, out.size() - streamStart);
    }
    Store64(out.data() + 12, out.size());
    if (version == 2) {
        uint8_t digest[32];
        Sha256Of(out.data() + kHeaderSizeV2, out.size() - kHeaderSizeV2, digest);
        std::memcpy(out.data() + kStoredHashAt, digest, sizeof digest);
    }
    if (failure != nullptr) failure->clear();
    return true;
}

}  // namespace engine
