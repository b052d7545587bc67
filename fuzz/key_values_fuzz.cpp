// libFuzzer target: arbitrary bytes as a key=value file through the loader, then
// lookups of keys taken from the input. Uses kv_engine_core only.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/core/key_values.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The input up to the first 0xFF byte is the file; the pieces after it, separated
    // by 0xFF, are lookup keys (NULs inside them end the key as in C).
    const uint8_t* split = static_cast<const uint8_t*>(std::memchr(data, 0xFF, size));
    const size_t fileSize = split == nullptr ? size : static_cast<size_t>(split - data);

    engine::KeyValueArena arena;
    engine::MemoryByteSource source(data, fileSize);
    engine::KeyValueList list = engine::loadKeyValues(source, arena);

    // Structural invariants a module walking the list relies on.
    const engine::KeyValueNode* last = nullptr;
    for (const engine::KeyValueNode* node = list; node != nullptr; node = node->next) {
        if (node->prev != last) std::abort();
        if (node != list && node->tail != node) std::abort();
        const engine::KeyValueEntry* entry = node->entry;
        if (std::memchr(entry->key, '\0', sizeof entry->key) == nullptr) std::abort();
        if (std::memchr(entry->value, '\0', sizeof entry->value) == nullptr) std::abort();
        if (std::strlen(entry->value) != std::strlen(entry->upperValue)) std::abort();
        if (std::strlen(entry->key) < engine::kLookupKeySize) {
            // A short key finds the first entry that carries it, which may be this one.
            const engine::KeyValueNode* first = list;
            while (std::strcmp(first->entry->key, entry->key) != 0) first = first->next;
            if (engine::getValue(list, entry->key, false) != first->entry->value) std::abort();
            if (engine::getValue(list, entry->key, true) != first->entry->upperValue) std::abort();
        }
        last = node;
    }
    if (list != nullptr && list->tail != last) std::abort();

    for (size_t start = fileSize; start < size;) {
        const uint8_t* end = static_cast<const uint8_t*>(std::memchr(data + start + 1, 0xFF, size - start - 1));
        const size_t stop = end == nullptr ? size : static_cast<size_t>(end - data);
        const std::string key(reinterpret_cast<const char*>(data + start + 1), stop - start - 1);
        if (engine::getValue(list, key.c_str(), true) == nullptr) std::abort();
        if (engine::getValue(list, key.c_str(), false) == nullptr) std::abort();
        engine::getIntValue(list, key.c_str());
        engine::ParseDecimal(key.c_str());
        start = stop;
    }
    return 0;
}
