// Install-module file services on Win32: thin adapters from handles and file names
// to the portable readers. Any thread; no locks, no state between calls.
#include "engine/win32/host_services.h"

#include <cstring>
#include <type_traits>

#include "engine/core/key_values.h"
#include "engine/win32/handle_source.h"

namespace engine::win32 {

namespace {

// The signatures above must be exactly what the call block declares.
static_assert(std::is_same<decltype(&readLine), InstallReadLine>::value, "readLine signature");
static_assert(std::is_same<decltype(&loadKeyValues), InstallLoadKeyValues>::value, "loadKeyValues signature");
static_assert(std::is_same<decltype(&getValue), InstallGetValue>::value, "getValue signature");
static_assert(std::is_same<decltype(&getIntValue), InstallGetIntValue>::value, "getIntValue signature");

// Lists go to the module for the rest of the process: taken from the process heap
// and deliberately never returned.
class PermanentAllocator final : public KeyValueAllocator {
public:
    void* allocate(size_t size) override { return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size); }
};

}  // namespace

KelvaneBool __cdecl readLine(HANDLE file, char* line) {
    if (line == nullptr) return 0;
    SingleByteHandleSource source(file);
    char work[kKeyValueLineSize];
    const bool endedByLineEnd = engine::readLine(source, work);
    memcpy(line, work, strlen(work) + 1);
    return endedByLineEnd ? 1 : 0;
}

KeyValueList __cdecl loadKeyValues(const char* fileName) {
    if (fileName == nullptr) return nullptr;
    HANDLE file = CreateFileA(fileName, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    BufferedHandleSource source(file);
    PermanentAllocator allocator;
    KeyValueList list = engine::loadKeyValues(source, allocator);
    CloseHandle(file);
    return list;
}

const char* __cdecl getValue(const KeyValueNode* list, const char* key, KelvaneBool upper) {
    return engine::getValue(list, key, (upper & 0xFFu) != 0);
}

int32_t __cdecl getIntValue(const KeyValueNode* list, const char* key) { return engine::getIntValue(list, key); }

void SetFileServices(InstallHostInterface& host) {
    host.readLine = readLine;
    host.loadKeyValues = loadKeyValues;
    host.getValue = getValue;
    host.getIntValue = getIntValue;
}

}  // namespace engine::win32
