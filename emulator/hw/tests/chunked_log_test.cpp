// The chunked log keeps every entry in order across chunk boundaries, and starts over
// cleanly after a clear.
#include <gtest/gtest.h>

#include <vector>

#include "emulator/hw/chunked_log.h"

namespace tova::hw {
namespace {

std::vector<int> Entries(const ChunkedLog<int, 4>& log) {
    std::vector<int> seen;
    log.ForEach([&](int entry) { seen.push_back(entry); });
    return seen;
}

TEST(ChunkedLog, KeepsEveryEntryInOrderAcrossChunks) {
    for (int count : {0, 1, 3, 4, 5, 8, 9}) {
        ChunkedLog<int, 4> log;
        std::vector<int> expected;
        for (int i = 0; i < count; ++i) {
            log.push_back(i * 7);
            expected.push_back(i * 7);
        }
        EXPECT_EQ(log.size(), size_t(count)) << count << " entries";
        EXPECT_EQ(Entries(log), expected) << count << " entries";
    }
}

TEST(ChunkedLog, StartsOverAfterAClear) {
    ChunkedLog<int, 4> log;
    for (int i = 0; i < 6; ++i) log.push_back(i);
    log.clear();
    EXPECT_EQ(log.size(), 0u);
    EXPECT_TRUE(Entries(log).empty());
    log.push_back(42);
    EXPECT_EQ(Entries(log), std::vector<int>{42});
}

}  // namespace
}  // namespace tova::hw
