// The segment checksum: known values, the properties the verification relies on, and the
// agreement between the expected table and the segments the desktop writes.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "service/checksum.h"
#include "shared/segment_table.h"

namespace {

using Bytes = std::vector<uint8_t>;

SegmentChecksum Checksum(const Bytes& b) { return ChecksumBytes(b.data(), uint32_t(b.size())); }

struct KnownCase {
    const char* what;
    Bytes bytes;
    SegmentChecksum expected;
};

TEST(ChecksumBytes, KnownValues) {
    const KnownCase cases[] = {
        {"empty", {}, 0},
        {"abc", {'a', 'b', 'c'}, 38096},
        {"single 0xFF: its sum 255 reduces to 0", {0xFF}, 255},
        {"0x80 0x80: sum a multiple of 256, xor 0", {0x80, 0x80}, 0},
        {"largest value: 0xFE", {0xFE}, 254254},
        {"sum 256 wraps to 0, xor stays", {0x01, 0xFF}, 254},
        {"full-size erased MISC_3", Bytes(0x200000, 0xFF), 0},
        {"full-size zeroed MISC_4", Bytes(0x80000, 0x00), 0},
        {"255 ones: sum 255 reduces to 0", Bytes(255, 0x01), 1},
        {"254 ones", Bytes(254, 0x01), 254000},
    };
    for (const KnownCase& c : cases) {
        EXPECT_EQ(Checksum(c.bytes), c.expected) << c.what;
    }
}

TEST(ChecksumBytes, ReadsOnlyTheGivenLength) {
    const Bytes bytes = {'a', 'b', 'c', 0x55, 0x77};
    EXPECT_EQ(ChecksumBytes(bytes.data(), 3), 38096u);
    EXPECT_EQ(ChecksumBytes(bytes.data(), 0), 0u);
}

// Over many random buffers: the checksum ignores byte order, always sees a changed byte
// and stays within its range.
TEST(ChecksumBytes, PropertiesOverRandomBuffers) {
    std::mt19937 rng(20240526);
    std::uniform_int_distribution<int> byteDist(0, 255);
    std::uniform_int_distribution<size_t> lengthDist(2, 4096);
    for (int round = 0; round < 2000; ++round) {
        Bytes bytes(lengthDist(rng));
        for (uint8_t& b : bytes) b = uint8_t(byteDist(rng));
        const SegmentChecksum original = Checksum(bytes);
        ASSERT_LE(original, 254255u);
        ASSERT_LE(original % 1000, 255u);

        std::uniform_int_distribution<size_t> at(0, bytes.size() - 1);
        Bytes swapped = bytes;
        std::swap(swapped[at(rng)], swapped[at(rng)]);
        ASSERT_EQ(Checksum(swapped), original) << "round " << round;

        Bytes changed = bytes;
        const size_t i = at(rng);
        changed[i] = uint8_t(changed[i] + 1 + std::uniform_int_distribution<int>(0, 254)(rng));
        ASSERT_NE(changed[i], bytes[i]);
        ASSERT_NE(Checksum(changed), original) << "round " << round << " byte " << i;
    }
}

std::u16string Upper(std::u16string s) {
    for (char16_t& c : s) {
        if (c >= u'a' && c <= u'z') c = char16_t(c - u'a' + u'A');
    }
    return s;
}

// The library verifies the files the desktop writes: same order, same names once letter
// case is ignored, as the handheld's file system does.
TEST(ExpectedChecksums, NameTheSegmentsTheDesktopWrites) {
    ASSERT_EQ(kExpectedChecksumCount, kSegmentCount);
    for (uint32_t i = 0; i < kSegmentCount; ++i) {
        EXPECT_EQ(Upper(ExpectedChecksums[i].path), Upper(kSegmentTable[i].devicePath))
            << "row " << i;
    }
}

// Every expected value must be a checksum some file can have, or no copy could pass.
TEST(ExpectedChecksums, AreReachableValues) {
    for (const ExpectedChecksum& row : ExpectedChecksums) {
        for (SegmentChecksum v : {row.advanced, row.basic}) {
            EXPECT_LE(v / 1000, 254u);
            EXPECT_LE(v % 1000, 255u);
        }
    }
}

}  // namespace
