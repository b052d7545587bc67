// Tests of the console registry on its own: first block kept, free entries reused in
// list order, lookups of freed windows. Uses a private registry and made-up handles,
// never the process-wide one that the window tests rely on.
#include <gtest/gtest.h>

#include "console/win32/registry.h"

using console::ConsoleInstance;
using console::win32::ConsoleRegistry;

namespace {

HWND fakeWindow(uintptr_t n) { return reinterpret_cast<HWND>(n * 4); }

}  // namespace

TEST(ConsoleRegistry, KeepsTheFirstBlockOfAWindow) {
    ConsoleRegistry registry;
    ConsoleInstance first{};
    ConsoleInstance second{};
    EXPECT_TRUE(registry.add(fakeWindow(1), &first));
    EXPECT_FALSE(registry.add(fakeWindow(1), &second));
    EXPECT_EQ(registry.find(fakeWindow(1)), &first);
    EXPECT_EQ(registry.find(fakeWindow(2)), nullptr);
    EXPECT_EQ(registry.entryCount(), 1u);
}

TEST(ConsoleRegistry, FreedEntriesAreReusedFirstInListOrder) {
    ConsoleRegistry registry;
    ConsoleInstance blocks[5] = {};
    for (uintptr_t i = 0; i < 4; ++i) ASSERT_TRUE(registry.add(fakeWindow(i + 1), &blocks[i]));
    registry.remove(fakeWindow(3));
    registry.remove(fakeWindow(2));
    EXPECT_EQ(registry.find(fakeWindow(2)), nullptr);
    EXPECT_EQ(registry.indexOf(fakeWindow(3)), -1);

    ASSERT_TRUE(registry.add(fakeWindow(9), &blocks[4]));
    EXPECT_EQ(registry.indexOf(fakeWindow(9)), 1);
    ASSERT_TRUE(registry.add(fakeWindow(2), &blocks[1]));  // a freed window may register again
    EXPECT_EQ(registry.indexOf(fakeWindow(2)), 2);
    EXPECT_EQ(registry.find(fakeWindow(2)), &blocks[1]);
    EXPECT_EQ(registry.entryCount(), 4u);

    ASSERT_TRUE(registry.add(fakeWindow(10), &blocks[2]));
    EXPECT_EQ(registry.indexOf(fakeWindow(10)), 4);
}
