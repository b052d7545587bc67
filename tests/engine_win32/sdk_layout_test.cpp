// Checks, on the 32-bit target, that the install-module header and the engine agree on
// every record that crosses into the module. Compile-time only, apart from one smoke test.
#include <gtest/gtest.h>

#include <cstddef>

#include "engine/core/key_values.h"
#include "engine/win32/host_services.h"
#include "sdk/kelvane_install.h"

#if !defined(_WIN64)
static_assert(sizeof(void*) == 4, "the product's records are 32-bit layouts");
static_assert(sizeof(engine::KeyValueNode) == 16 && sizeof(engine::KeyValueEntry) == 768, "list records");
static_assert(offsetof(engine::KeyValueNode, tail) == 12, "tail offset");
static_assert(sizeof(InstallHostInterface) == 48, "host interface");
static_assert(offsetof(InstallHostInterface, printText) == 40, "printText offset");
#else
static_assert(sizeof(engine::KeyValueNode) == 32 && sizeof(engine::KeyValueEntry) == 768, "list records");
static_assert(offsetof(engine::KeyValueNode, tail) == 24, "tail offset");
#endif

extern "C" const char* kelvane_sdk_header_check(const InstallHostInterface* host, const KeyValueNode* list);

TEST(SdkLayout, HeaderCompilesAsC) {
    InstallHostInterface host = {};
    engine::win32::SetFileServices(host);
    EXPECT_STREQ(kelvane_sdk_header_check(&host, nullptr), "");
}
