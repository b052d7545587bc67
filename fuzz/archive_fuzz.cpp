// libFuzzer target: arbitrary bytes as an installer archive through the verifying reader,
// then extraction of every entry it accepted. Uses kv_engine_core only.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/core/archive.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
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
