// The console registry: window handle to encoded state block, under registryLock.
// Must not call into a window or free a block; every operation is a short search
// or store under the lock, so the lock never nests with another.
#include "registry.h"

#include <new>

namespace console {
namespace win32 {

// Never destroyed: console windows may still get messages while static objects are
// torn down at process exit.
ConsoleRegistry& g_consoleRegistry = *new ConsoleRegistry;

namespace {

BOOL CALLBACK initialiseLock(PINIT_ONCE, PVOID lock, PVOID*) {
    InitializeCriticalSection(static_cast<CRITICAL_SECTION*>(lock));
    return TRUE;
}

class LockGuard {
public:
    explicit LockGuard(CRITICAL_SECTION& lock) : lock_(lock) { EnterCriticalSection(&lock_); }
    ~LockGuard() { LeaveCriticalSection(&lock_); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    CRITICAL_SECTION& lock_;
};

}  // namespace

// Every operation makes sure of the lock itself, so a registry reached before class
// registration (or registered twice) never uses an uninitialised or re-initialised lock.
void ConsoleRegistry::initialise() { InitOnceExecuteOnce(&once_, initialiseLock, &registryLock, nullptr); }

// Only private registries (tests) are ever destroyed; the process-wide one lives on.
ConsoleRegistry::~ConsoleRegistry() {
    BOOL pending = FALSE;
    if (InitOnceBeginInitialize(&once_, INIT_ONCE_CHECK_ONLY, &pending, nullptr) && !pending) {
        DeleteCriticalSection(&registryLock);
    }
}

int ConsoleRegistry::liveIndex(HWND window) const {
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].window == window && entries_[i].encodedInstance != nullptr) return static_cast<int>(i);
    }
    return -1;
}

bool ConsoleRegistry::add(HWND window, ConsoleInstance* instance) {
    initialise();
    void* encoded = EncodePointer(instance);
    LockGuard guard(registryLock);
    if (liveIndex(window) >= 0) return false;
    for (RegistryEntry& entry : entries_) {
        if (entry.encodedInstance == nullptr) {
            entry.window = window;
            entry.encodedInstance = encoded;
            return true;
        }
    }
    try {
        entries_.push_back(RegistryEntry{encoded, window});
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

ConsoleInstance* ConsoleRegistry::find(HWND window) {
    initialise();
    void* encoded = nullptr;
    {
        LockGuard guard(registryLock);
        int index = liveIndex(window);
        if (index < 0) return nullptr;
        encoded = entries_[static_cast<size_t>(index)].encodedInstance;
    }
    return static_cast<ConsoleInstance*>(DecodePointer(encoded));
}

// Cleared under the lock: a concurrent append may move the list, so an unlocked
// store could land in memory the list no longer owns.
void ConsoleRegistry::remove(HWND window) {
    initialise();
    LockGuard guard(registryLock);
    int index = liveIndex(window);
    if (index >= 0) entries_[static_cast<size_t>(index)].encodedInstance = nullptr;
}

size_t ConsoleRegistry::entryCount() {
    initialise();
    LockGuard guard(registryLock);
    return entries_.size();
}

int ConsoleRegistry::indexOf(HWND window) {
    initialise();
    LockGuard guard(registryLock);
    return liveIndex(window);
}

}  // namespace win32
}  // namespace console
