// Checks that the public headers, the engine and the console agree on every record that
// crosses into a module or another part of the process: the 32-bit layouts on the
// 32-bit target, the natural ones on 64-bit. Compile-time only, apart from one smoke test.
#include <gtest/gtest.h>

#include <cstddef>

#include "console/core/instance.h"
#include "engine/core/key_values.h"
#include "engine/win32/host_services.h"
#include "sdk/kelvane_install.h"

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(void*) == 4, "the product's records are 32-bit layouts");
static_assert(sizeof(engine::KeyValueNode) == 16 && sizeof(engine::KeyValueEntry) == 768, "list records");
static_assert(offsetof(engine::KeyValueNode, tail) == 12, "tail offset");
static_assert(sizeof(InstallHostInterface) == 48, "host interface");
static_assert(offsetof(InstallHostInterface, printText) == 40, "printText offset");
static_assert(sizeof(console::ConsoleInstance) == 1072 && sizeof(ConsoleInstanceView) == 1072, "console block");
#elif defined(_WIN64)
static_assert(sizeof(void*) == 8, "the 64-bit build's records are natural layouts");
static_assert(sizeof(engine::KeyValueNode) == 32 && sizeof(engine::KeyValueEntry) == 768, "list records");
static_assert(offsetof(engine::KeyValueNode, tail) == 24, "tail offset");
static_assert(sizeof(InstallHostInterface) == 96, "host interface");
static_assert(offsetof(InstallHostInterface, mainWindow) == 64, "mainWindow offset");
static_assert(offsetof(InstallHostInterface, printText) == 80, "printText offset");
static_assert(sizeof(console::ConsoleInstance) == 2128 && sizeof(ConsoleInstanceView) == 2128, "console block");
#endif

// The console's own block and the view other code reads through agree on either target.
#define KV_SAME_OFFSET(field)                                                                      \
    static_assert(offsetof(console::ConsoleInstance, field) == offsetof(ConsoleInstanceView, field), \
                  "ConsoleInstance." #field)
KV_SAME_OFFSET(screens);
KV_SAME_OFFSET(activeScreen);
KV_SAME_OFFSET(reserved1);
KV_SAME_OFFSET(contextMenu);
KV_SAME_OFFSET(closing);
KV_SAME_OFFSET(waitAbort);
KV_SAME_OFFSET(inputEvent);
KV_SAME_OFFSET(notifyThread);
KV_SAME_OFFSET(notifyEvent);
KV_SAME_OFFSET(notifyArgument);
KV_SAME_OFFSET(reserved2);
KV_SAME_OFFSET(timerId);
KV_SAME_OFFSET(valid);
KV_SAME_OFFSET(sharing);
KV_SAME_OFFSET(callback);
#undef KV_SAME_OFFSET

extern "C" const char* kelvane_sdk_header_check(const InstallHostInterface* host, const KeyValueNode* list);

TEST(SdkLayout, HeaderCompilesAsC) {
    InstallHostInterface host = {};
    engine::win32::SetFileServices(host);
    EXPECT_STREQ(kelvane_sdk_header_check(&host, nullptr), "");
}
