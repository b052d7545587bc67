// libFuzzer target: arbitrary bytes as an installer archive through the verifying reader,
// then extraction of every entry it accepted; and the same bytes as a list of names for
// the Windows name checks. Uses kv_engine_core only.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/core/archive.h"
#include "engine/core/archive_names.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckNames(data, size);
    const engine::ArchiveIndex index = engine::ReadArchive(data, size, true);
    if (!index.ok) {
        if (index.failure.empty() || !index.entries.empty()) std::abort();
        return 0;
    }
    uint64_t total = 0;
    for (const engine::ArchiveEntry& entry : index.entries) {
        std::string failure;
        Extracted extracted;
        extracted.limit = entry.size;
        // A verified archive extracts whole, to exactly its declared sizes.
        if (!engine::ExtractEntry(data, size, entry, Count, &extracted, &failure)) std::abort();
        if (extracted.bytes != entry.size) std::abort();
        total += entry.size;
    }
    if (total != index.totalSize) std::abort();
    return 0;
}
