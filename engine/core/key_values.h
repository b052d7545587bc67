// Key=value files for the install module: the line reader, the list builder and the
// case-insensitive lookups. Portable: reads through ByteSource, allocates through
// KeyValueAllocator; never opens files or frees a list it has returned.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/core/byte_source.h"
#include "sdk/kelvane_install.h"

namespace engine {

// The records are the ones install modules see, so there is one definition of them.
using KeyValueEntry = ::KeyValueEntry;
using KeyValueNode = ::KeyValueNode;
using KeyValueList = ::KeyValueList;

constexpr size_t kKeyValueLineSize = 256;  // 255 characters and the NUL
constexpr size_t kLookupKeySize = 128;     // 127 characters and the NUL

class KeyValueAllocator {
public:
    virtual ~KeyValueAllocator() = default;
    // size zeroed bytes aligned for any record, or null when memory ran out. Called on
    // the loading thread; whoever owns the allocator decides when (if ever) to free.
    virtual void* allocate(size_t size) = 0;
};

// Owns everything it handed out and frees it when destroyed: for tests and fuzzing,
// where lists must not outlive their data. Not thread-safe.
class KeyValueArena final : public KeyValueAllocator {
public:
    KeyValueArena() = default;
    KeyValueArena(const KeyValueArena&) = delete;
    KeyValueArena& operator=(const KeyValueArena&) = delete;
    ~KeyValueArena() override;
    void* allocate(size_t size) override;

private:
    struct Block;
    Block* blocks_ = nullptr;
};

// Reads one line: bytes up to the first CR or LF, after which one more byte is read
// and dropped whatever it is. Returns true when a line-end byte ended the line, false
// when the end of input (or a failed read) did. The line keeps its first 255 bytes;
// the rest of a longer line is read and dropped up to its line end.
bool readLine(ByteSource& source, char (&line)[kKeyValueLineSize]);

// Builds the list of every line holding an "=", split at the first "=", in file
// order. Lines without "=" (blank lines, the empty last line) are skipped, so input
// with no such line gives null, as an unopened file does. Returns null as well when
// the allocator fails part way: a partial list would hide keys without a trace.
KeyValueList loadKeyValues(ByteSource& source, KeyValueAllocator& allocator);

// The first entry whose key equals key, ASCII case ignored: its upperValue when upper
// is set, its value otherwise. A constant empty string when nothing matches, the list
// is null, key is null or key is longer than 127 characters; never null.
// Any thread, as long as the list is complete.
const char* getValue(const KeyValueNode* list, const char* key, bool upper);

// The matching upperValue converted as atoi does (0 when nothing matches); values
// beyond the 32-bit range saturate instead of overflowing.
int32_t getIntValue(const KeyValueNode* list, const char* key);

// atoi semantics without undefined behaviour: leading white space, an optional sign,
// decimal digits up to the first other byte; out-of-range results saturate.
int32_t ParseDecimal(const char* text);

// Turns a to z into A to Z in place; every other byte, accented letters included, stays.
void UpperCaseAscii(char* text);

}  // namespace engine
