// The process-wide map from a console window to its state block, guarded by registryLock.
// Holds only encoded pointers and window handles; it never owns or frees a block and
// never calls out while the lock is held.
#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

#include "console/core/instance.h"

namespace console {
namespace win32 {

struct RegistryEntry {
    void* encodedInstance;  // EncodePointer of the block; 0 marks a free entry
    HWND window;
};

class ConsoleRegistry {
public:
    ConsoleRegistry() = default;
    ~ConsoleRegistry();
    ConsoleRegistry(const ConsoleRegistry&) = delete;
    ConsoleRegistry& operator=(const ConsoleRegistry&) = delete;

    // Creates registryLock once; later calls (from any thread) do nothing.
    void initialise();

    // Any thread. False when the window already has a live block (it keeps its first
    // one) or when the list cannot grow.
    bool add(HWND window, ConsoleInstance* instance);

    // Any thread. The window's block, or null; a block whose valid byte is 0 is
    // returned too, so that its window can still be torn down.
    ConsoleInstance* find(HWND window);

    // Any thread. Frees the entry that holds this window's block, for reuse.
    void remove(HWND window);

    // Diagnostics for tests: the number of entries ever made, and the index of the
    // window's live entry or -1.
    size_t entryCount();
    int indexOf(HWND window);

private:
    int liveIndex(HWND window) const;  // caller holds registryLock

    CRITICAL_SECTION registryLock;
    INIT_ONCE once_ = INIT_ONCE_STATIC_INIT;
    std::vector<RegistryEntry> entries_;
};

extern ConsoleRegistry& g_consoleRegistry;

}  // namespace win32
}  // namespace console
