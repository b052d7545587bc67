// A console window's state block from WM_CREATE to its release, and the notification
// thread that runs the window's callback. Must not run the callback on the window's
// thread, and must not free the block while its thread or a dispatch frame can use it.
#include "instance_block.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "access_state.h"
#include "console/core/mouse.h"
#include "registry.h"
#include "win32_host.h"

namespace console {
namespace win32 {

// Other code reads the block through the public view, so the two layouts must agree
// on the 32-bit target.
#define KV_SAME_OFFSET(field, at)                                                                     \
    static_assert(sizeof(void*) != 4 || (offsetof(ConsoleInstance, field) == (at) &&                  \
                                         offsetof(ConsoleInstanceView, field) == (at)),               \
                  "ConsoleInstance." #field " must lie at offset " #at)
KV_SAME_OFFSET(screens, 0);
KV_SAME_OFFSET(activeScreen, 1024);
KV_SAME_OFFSET(reserved1, 1028);
KV_SAME_OFFSET(contextMenu, 1032);
KV_SAME_OFFSET(closing, 1036);
KV_SAME_OFFSET(waitAbort, 1037);
KV_SAME_OFFSET(inputEvent, 1040);
KV_SAME_OFFSET(notifyThread, 1044);
KV_SAME_OFFSET(notifyEvent, 1048);
KV_SAME_OFFSET(notifyArgument, 1052);
KV_SAME_OFFSET(reserved2, 1056);
KV_SAME_OFFSET(timerId, 1060);
KV_SAME_OFFSET(valid, 1064);
KV_SAME_OFFSET(sharing, 1065);
KV_SAME_OFFSET(callback, 1068);
#undef KV_SAME_OFFSET
static_assert(sizeof(void*) != 4 || (sizeof(ConsoleInstance) == 1072 && sizeof(ConsoleInstanceView) == 1072),
              "the shared block is 1072 bytes");
static_assert(offsetof(InstanceBlock, instance) == 0, "the shared part must start the block");

namespace {

volatile LONG g_liveBlocks = 0;

// closing and callback are written by the window's thread while this thread may be
// between waits; volatile keeps each loop from reusing a stale read.
template <typename T>
T readShared(const T& field) {
    return *static_cast<const volatile T*>(&field);
}

DWORD WINAPI notificationThread(LPVOID parameter) {
    ConsoleInstance* instance = static_cast<ConsoleInstance*>(parameter);
    while (readShared(instance->closing) == 0) {
        WaitForSingleObject(instance->notifyEvent, INFINITE);
        uint32_t argument = readShared(instance->notifyArgument);
        ConsoleCallback callback = readShared(instance->callback);
        if (argument != 0 && callback != nullptr) callback(argument);
    }
    CloseHandle(instance->notifyEvent);
    return 0;
}

// Waits for the thread to end while still running the messages other threads send to
// this one: a callback blocked in SendMessage to its console would otherwise wait for
// us while we wait for it.
void waitServingSentMessages(HANDLE thread) {
    for (;;) {
        DWORD result = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE);
        if (result != WAIT_OBJECT_0 + 1) return;  // ended, or the handle is unusable
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

}  // namespace

bool createInstance(HWND window, WNDPROC consoleProcedure) {
    if (g_consoleRegistry.find(window) != nullptr) return true;  // a repeated WM_CREATE

    InstanceBlock* block = static_cast<InstanceBlock*>(std::calloc(1, sizeof(InstanceBlock)));
    if (block == nullptr) return false;
    ConsoleInstance& instance = block->instance;
    instance.valid = 1;
    if (!g_consoleRegistry.add(window, &instance)) {
        std::free(block);
        return g_consoleRegistry.find(window) != nullptr;
    }
    InterlockedIncrement(&g_liveBlocks);

    instance.timerId = static_cast<uint32_t>(std::rand() % 8000);
    SetTimer(window, instance.timerId, 100, nullptr);

    HMENU menu = CreatePopupMenu();
    if (menu != nullptr) {
        AppendMenuA(menu, MF_STRING, kMenuCancel, "&Cancel");
        AppendMenuA(menu, MF_STRING, kMenuCopy, "&Copy");
        AppendMenuA(menu, MF_STRING, kMenuSelect, "&Select");
    }
    instance.inputEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    instance.sharing = 0;
    if (reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC)) != consoleProcedure) {
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(consoleProcedure));
    }
    instance.contextMenu = menu;
    instance.notifyEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    // Without its event the thread could never be woken, only spin.
    if (instance.notifyEvent != nullptr) {
        instance.notifyThread = CreateThread(nullptr, 0, notificationThread, &instance, 0, nullptr);
    }
    return true;
}

void beginDestroy(HWND window, InstanceBlock& block) {
    if (block.destroyStarted) return;
    block.destroyStarted = true;
    ConsoleInstance& instance = block.instance;

    *static_cast<volatile uint8_t*>(&instance.closing) = 1;
    *static_cast<volatile uint32_t*>(&instance.notifyArgument) = 0;
    if (instance.notifyThread != nullptr) {
        SetEvent(instance.notifyEvent);
        waitServingSentMessages(instance.notifyThread);
    } else if (instance.notifyEvent != nullptr) {
        CloseHandle(instance.notifyEvent);  // no thread to close it
    }
    instance.notifyEvent = nullptr;  // closed either way; keep nobody signalling it

    if (instance.inputEvent != nullptr) SetEvent(instance.inputEvent);
    KillTimer(window, instance.timerId);
    if (block.menuOpen) {
        EndMenu();  // the menu loop returns no command, and releaseBlock destroys the menu
    } else if (instance.contextMenu != nullptr) {
        DestroyMenu(static_cast<HMENU>(instance.contextMenu));
        instance.contextMenu = nullptr;
    }
    g_consoleRegistry.remove(window);
    block.releasePending = true;
}

void releaseBlock(HWND window, InstanceBlock* block) {
    ConsoleInstance& instance = block->instance;
    Win32ConsoleHost host(window, instance);
    releaseAllScreens(instance, host);
    if (instance.notifyThread != nullptr) CloseHandle(instance.notifyThread);
    if (instance.inputEvent != nullptr) CloseHandle(instance.inputEvent);
    if (instance.contextMenu != nullptr) DestroyMenu(static_cast<HMENU>(instance.contextMenu));
    releaseAccessState(*block);
    instance.valid = 0;
    // Whoever kept the shared address sees a dead block rather than stale handles,
    // at least until the memory is reused.
    std::memset(block, 0, sizeof *block);
    std::free(block);
    InterlockedDecrement(&g_liveBlocks);
}

long liveBlockCount() { return InterlockedCompareExchange(&g_liveBlocks, 0, 0); }

}  // namespace win32
}  // namespace console
