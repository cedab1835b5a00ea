#include "tools/romimage/checksum_fit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "format/segment_checksum.h"

namespace romimage {
namespace {

// Every value of the form sumPart * 1000 + xorPart is tried against a fixed random-looking
// prefix: the reachable ones must be hit exactly, the others refused without a change.
TEST(FitChecksum, HitsEveryReachableTargetAndRefusesTheRest) {
    std::vector<uint8_t> block(37);
    for (size_t i = 0; i < block.size(); ++i) block[i] = uint8_t(i * 73 + 11);
    const std::vector<uint8_t> original = block;
    int reached = 0;
    for (uint32_t sumPart = 0; sumPart <= 255; ++sumPart) {
        for (uint32_t xorPart = 0; xorPart <= 256; ++xorPart) {
            uint32_t target = sumPart * 1000 + xorPart;
            block = original;
            bool fitted = FitChecksum(block.data(), uint32_t(block.size()), target);
            ASSERT_EQ(fitted, IsReachableChecksum(target)) << target;
            if (fitted) {
                ++reached;
                ASSERT_EQ(ChecksumBytes(block.data(), uint32_t(block.size())), target);
                ASSERT_EQ(std::memcmp(block.data(), original.data(), block.size() - kChecksumFitBytes), 0)
                    << "only the last bytes may change";
            } else {
                ASSERT_EQ(block, original) << target;
            }
        }
    }
    // Half of sumPart 1..254 pairs with each xorPart, and sumPart 0 with all 256.
    EXPECT_EQ(reached, 254 * 128 + 256);
}

TEST(FitChecksum, ReachabilityOfChosenValues) {
    struct Case {
        uint32_t target;
        bool reachable;
    };
    const Case cases[] = {
        {0, true},        // empty or erased
        {255, true},      // the single byte 0xFF: byte sum 255 reduces to 0
        {38096, true},    // "abc"
        {123019, true},   {182108, true},
        {123018, false},  // odd sum, even exclusive OR
        {255000, false},  // sumPart never exceeds 254
        {1256, false},    // xorPart never exceeds 255
    };
    for (const Case& c : cases) EXPECT_EQ(IsReachableChecksum(c.target), c.reachable) << c.target;
}

TEST(FitChecksum, EveryExpectedTableValueIsReachable) {
    for (const ExpectedChecksum& row : ExpectedChecksums) {
        EXPECT_TRUE(IsReachableChecksum(row.advanced)) << row.advanced;
        EXPECT_TRUE(IsReachableChecksum(row.basic)) << row.basic;
    }
}

TEST(FitChecksum, BlockShorterThanTheFitIsRefused) {
    uint8_t block[kChecksumFitBytes - 1] = {1, 2};
    EXPECT_FALSE(FitChecksum(block, sizeof block, 3003));
    EXPECT_EQ(block[0], 1);
    EXPECT_EQ(block[1], 2);
}

TEST(FitChecksum, BlockOfExactlyTheFitSize) {
    uint8_t block[kChecksumFitBytes] = {};
    ASSERT_TRUE(FitChecksum(block, sizeof block, 254002));
    EXPECT_EQ(ChecksumBytes(block, sizeof block), 254002u);
}

}  // namespace
}  // namespace romimage
