// libFuzzer target for the installer archive. Inputs with the top bit of their first byte
// set are recipes for well-formed archives of both versions, then damaged in one field;
// the others go in as raw bytes, and as a list of names for the Windows name checks.
// Every archive the reader accepts must extract to exactly its sizes. kv_engine_core only.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/core/archive.h"
#include "engine/core/archive_names.h"
#include "engine/core/sha256.h"

namespace {

struct Extracted {
    uint64_t bytes = 0;
    uint64_t limit = 0;
};

bool Count(void* context, const uint8_t*, size_t size) {
    Extracted* extracted = static_cast<Extracted*>(context);
    extracted->bytes += size;
    if (extracted->bytes > extracted->limit) std::abort();  // never more than declared
    return true;
}

// The bytes as paths, one a line, under a folder as long as the first byte says. A set the
// checker accepts stays accepted under a shorter folder and with any one path left out.
void CheckNames(const uint8_t* data, size_t size) {
    if (size == 0) return;
    const size_t root = data[0] + 3u;
    std::vector<std::string> paths;
    std::string line;
    for (size_t i = 1; i < size; ++i) {
        if (data[i] != '\n') line.push_back(static_cast<char>(data[i]));
        if (data[i] == '\n' || i + 1 == size) paths.push_back(line), line.clear();
    }
    std::string why;
    if (!engine::CheckArchiveNames(paths, root, &why)) {
        if (why.compare(0, 6, "entry ") != 0) std::abort();  // always names the entry
        return;
    }
    if (!why.empty() || !engine::CheckArchiveNames(paths, root - 3, nullptr)) std::abort();
    if (!paths.empty()) {
        paths.erase(paths.begin() + static_cast<std::ptrdiff_t>(paths.size() / 2));
        if (!engine::CheckArchiveNames(paths, root, nullptr)) std::abort();
    }
}

// Checks an archive that ReadArchive accepted: every entry extracts to exactly its size,
// never more, or fails with a reason. wanted: the contents it must give, when known.
void ExtractAll(const uint8_t* data, size_t size, const engine::ArchiveIndex& index,
                const std::vector<engine::ArchiveInput>* wanted) {
    uint64_t total = 0;
    for (size_t i = 0; i < index.entries.size(); ++i) {
        const engine::ArchiveEntry& entry = index.entries[i];
        std::string failure;
        Extracted extracted;
        extracted.limit = entry.size;
        const bool ok = engine::ExtractEntry(data, size, entry, Count, &extracted, &failure);
        if (wanted != nullptr && (!ok || extracted.bytes != (*wanted)[i].bytes.size())) std::abort();
        if (ok && extracted.bytes != entry.size) std::abort();
        if (!ok && failure.empty()) std::abort();
        total += entry.size;
    }
    if (total != index.totalSize) std::abort();
}

uint64_t Take(const uint8_t*& data, size_t& size, size_t bytes) {
    uint64_t value = 0;
    for (size_t i = 0; i < bytes && size > 0; ++i, ++data, --size) value |= uint64_t{*data} << (8 * i);
    return value;
}

// The input as a recipe: files (path, contents) made into a well-formed archive with true
// sizes and hashes, then one field damaged and, in version 2, the stored hash made to match
// again, so that the checks behind it are what gets explored.
void FuzzStructured(const uint8_t* data, size_t size) {
    const uint8_t mode = static_cast<uint8_t>(Take(data, size, 1));
    const size_t damageAt = static_cast<size_t>(Take(data, size, 2));
    const uint8_t damage = static_cast<uint8_t>(Take(data, size, 1));
    std::vector<engine::ArchiveInput> files;
    while (size > 0 && files.size() < 16) {
        const size_t pathLength = std::min<size_t>(static_cast<size_t>(Take(data, size, 1)) % 40 + 1, size);
        engine::ArchiveInput file;
        file.path.assign(reinterpret_cast<const char*>(data), pathLength);
        data += pathLength, size -= pathLength;
        const size_t length = std::min<size_t>(static_cast<size_t>(Take(data, size, 2)) % 600, size);
        file.bytes.assign(data, data + length);
        data += length, size -= length;
        files.push_back(std::move(file));
    }
    std::vector<uint8_t> archive;
    const uint16_t version = (mode & 1) != 0 ? 2 : 1;
    if (!engine::WriteArchive(files, archive, nullptr, version)) return;  // the path rules refused it
    engine::ArchiveIndex index = engine::ReadArchive(archive.data(), archive.size(), true);
    if (!index.ok) std::abort();  // what the writer makes, the reader takes
    ExtractAll(archive.data(), archive.size(), index, &files);
    if ((mode & 2) == 0 || damage == 0) return;
    archive[damageAt % archive.size()] ^= damage;
    if (version == 2 && (mode & 4) != 0 && archive.size() >= 56) {
        uint8_t digest[32];
        engine::Sha256Of(archive.data() + 56, archive.size() - 56, digest);
        std::copy(digest, digest + 32, archive.begin() + 24);
    }
    index = engine::ReadArchive(archive.data(), archive.size(), true);
    if (!index.ok) {
        if (index.failure.empty() || !index.entries.empty()) std::abort();
        return;
    }
    ExtractAll(archive.data(), archive.size(), index, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Half the inputs are recipes for well-formed archives; the rest raw bytes.
    if (size > 0 && (data[0] & 0x80) != 0) {
        FuzzStructured(data + 1, size - 1);
        return 0;
    }
    CheckNames(data, size);
    const engine::ArchiveIndex index = engine::ReadArchive(data, size, true);
    if (!index.ok) {
        if (index.failure.empty() || !index.entries.empty()) std::abort();
        return 0;
    }
    ExtractAll(data, size, index, nullptr);
    return 0;
}
