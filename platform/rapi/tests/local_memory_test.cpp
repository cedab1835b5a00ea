#include "platform/rapi/local_memory.h"

#include <gtest/gtest.h>

#include <cstring>

namespace win32 {
namespace {

TEST(LocalMemory, ZeroInitialisedFixedBlocksLockToThemselves) {
    size_t before = LocalBlocksOutstanding();
    HLOCAL block = LocalAlloc(LPTR, 16);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(LocalLock(block), block);
    const uint8_t zeros[16] = {};
    EXPECT_EQ(std::memcmp(block, zeros, 16), 0);
    EXPECT_EQ(LocalBlocksOutstanding(), before + 1);
    EXPECT_EQ(LocalFree(block), nullptr);
    EXPECT_EQ(LocalBlocksOutstanding(), before);
}

TEST(LocalMemory, ForeignAndReleasedBlocksAreRefusedUntouched) {
    uint8_t onStack[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(LocalFree(onStack), onStack);
    EXPECT_EQ(LocalLock(onStack), nullptr);
    EXPECT_EQ(onStack[0], 1);

    HLOCAL block = LocalAlloc(LMEM_FIXED, 4);
    ASSERT_EQ(LocalFree(block), nullptr);
    EXPECT_EQ(LocalFree(block), block) << "a second release must be refused, not freed twice";
    EXPECT_EQ(LocalFree(nullptr), nullptr);
}

TEST(LocalMemory, InjectedFailuresAffectOnlyTheNextRequests) {
    FailNextLocalAllocs(2);
    EXPECT_EQ(LocalAlloc(LPTR, 8), nullptr);
    EXPECT_EQ(LocalAlloc(LPTR, 8), nullptr);
    HLOCAL block = LocalAlloc(LPTR, 8);
    EXPECT_NE(block, nullptr);
    LocalFree(block);
}

}  // namespace
}  // namespace win32
