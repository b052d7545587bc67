// Key=value reader, list builder and lookups. Portable; no global state, so every
// function may run on any thread. Never writes past the fixed record strings.
#include "engine/core/key_values.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace engine {

namespace {

constexpr uint8_t kCarriageReturn = 13;
constexpr uint8_t kLineFeed = 10;
const char kEmpty[] = "";

// Node and entry in one allocation: one call per line instead of two.
struct KeyValueRecord {
    KeyValueNode node;
    KeyValueEntry entry;
};

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c; }

void CopyBounded(char* destination, size_t destinationSize, const char* source) {
    size_t i = 0;
    for (; i + 1 < destinationSize && source[i] != '\0'; ++i) destination[i] = source[i];
    destination[i] = '\0';
}

bool IsCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

struct KeyValueArena::Block {
    Block* next;
};

KeyValueArena::~KeyValueArena() {
    while (blocks_ != nullptr) {
        Block* next = blocks_->next;
        std::free(blocks_);
        blocks_ = next;
    }
}

void* KeyValueArena::allocate(size_t size) {
    // Handed-out storage starts this far into a block, keeping any record aligned.
    constexpr size_t kAlign = alignof(std::max_align_t);
    constexpr size_t kBlockHeader = (sizeof(Block) + kAlign - 1) / kAlign * kAlign;
    if (size > SIZE_MAX - kBlockHeader) return nullptr;
    void* raw = std::calloc(1, kBlockHeader + size);
    if (raw == nullptr) return nullptr;
    auto* block = static_cast<Block*>(raw);
    block->next = blocks_;
    blocks_ = block;
    return static_cast<unsigned char*>(raw) + kBlockHeader;
}

void UpperCaseAscii(char* text) {
    for (; *text != '\0'; ++text) *text = UpperAscii(*text);
}

bool readLine(ByteSource& source, char (&line)[kKeyValueLineSize]) {
    size_t length = 0;
    bool endedByLineEnd = false;
    uint8_t byte = 0;
    while (source.readByte(byte)) {
        if (byte == kCarriageReturn || byte == kLineFeed) {
            uint8_t dropped = 0;
            source.readByte(dropped);  // consumed whatever it is, even a line end
            endedByLineEnd = true;
            break;
        }
        if (length + 1 < kKeyValueLineSize) line[length++] = static_cast<char>(byte);
    }
    line[length] = '\0';
    return endedByLineEnd;
}

KeyValueList loadKeyValues(ByteSource& source, KeyValueAllocator& allocator) {
    KeyValueNode* head = nullptr;
    bool more = true;
    while (more) {
        char line[kKeyValueLineSize];
        more = readLine(source, line);
        // A NUL read from the file ends the line's text, like any C string.
        char* equals = std::strchr(line, '=');
        if (equals == nullptr) continue;

        void* storage = allocator.allocate(sizeof(KeyValueRecord));
        if (storage == nullptr) return nullptr;
        auto* record = new (storage) KeyValueRecord();
        *equals = '\0';
        CopyBounded(record->entry.key, sizeof record->entry.key, line);
        CopyBounded(record->entry.value, sizeof record->entry.value, equals + 1);
        CopyBounded(record->entry.upperValue, sizeof record->entry.upperValue, equals + 1);
        UpperCaseAscii(record->entry.key);
        UpperCaseAscii(record->entry.upperValue);

        KeyValueNode* node = &record->node;
        node->entry = &record->entry;
        node->next = nullptr;
        node->prev = nullptr;
        node->tail = node;
        if (head == nullptr) {
            head = node;
        } else {
            head->tail->next = node;
            node->prev = head->tail;
            head->tail = node;
        }
    }
    return head;
}

const char* getValue(const KeyValueNode* list, const char* key, bool upper) {
    if (key == nullptr) return kEmpty;
    char wanted[kLookupKeySize];
    size_t i = 0;
    // Read at most 128 bytes of key: a longer key has no NUL in range and matches nothing.
    for (; i < kLookupKeySize && key[i] != '\0'; ++i) wanted[i] = UpperAscii(key[i]);
    if (i == kLookupKeySize) return kEmpty;
    wanted[i] = '\0';
    for (const KeyValueNode* node = list; node != nullptr; node = node->next) {
        if (std::strcmp(node->entry->key, wanted) == 0) return upper ? node->entry->upperValue : node->entry->value;
    }
    return kEmpty;
}

int32_t getIntValue(const KeyValueNode* list, const char* key) { return ParseDecimal(getValue(list, key, true)); }

int32_t ParseDecimal(const char* text) {
    while (IsCSpace(*text)) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    // Accumulate in 64 bits and clamp as soon as the magnitude leaves the 32-bit range.
    const int64_t limit = negative ? 2147483648LL : 2147483647LL;
    int64_t magnitude = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        magnitude = magnitude * 10 + (*text - '0');
        if (magnitude > limit) {
            magnitude = limit;
            break;
        }
    }
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

}  // namespace engine
