// The segment checksum: known values, the properties the verification relies on, and the
// agreement between the expected table and the segments the desktop writes.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "format/segment_checksum.h"
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

// The values of the one ROM release per configuration, as its release notes give them.
TEST(ExpectedChecksums, HoldTheReleaseValuesOfBothConfigurations) {
    struct Row {
        std::u16string path;
        SegmentChecksum advanced, basic;
    };
    const Row release[kExpectedChecksumCount] = {
        {u"\\Temp\\Kernel.nb0", 123019, 182108},     {u"\\Temp\\OS.nb0", 200244, 188248},
        {u"\\Temp\\SHELL.nb0", 49151, 49151},        {u"\\Temp\\BROWSING.nb0", 15141, 15141},
        {u"\\Temp\\COREAPPS.nb0", 85037, 85037},     {u"\\Temp\\SYNC.nb0", 169165, 169165},
        {u"\\Temp\\24MAPPS.nb0", 254002, 254002},    {u"\\Temp\\24MCONSUMER.nb0", 206168, 206168},
        {u"\\Temp\\MISC_1.nb0", 37003, 231197},      {u"\\Temp\\MISC_2.nb0", 202230, 229003},
        {u"\\Temp\\MISC_3.nb0", 0, 0},               {u"\\Temp\\MISC_4.nb0", 0, 0},
    };
    for (uint32_t i = 0; i < kExpectedChecksumCount; ++i) {
        const ExpectedChecksum& row = ExpectedChecksums[i];
        EXPECT_EQ(std::u16string(row.path), release[i].path) << "row " << i;
        EXPECT_EQ(row.advanced, release[i].advanced) << "row " << i;
        EXPECT_EQ(row.basic, release[i].basic) << "row " << i;
        EXPECT_EQ(ExpectedChecksumFor(row, true), release[i].advanced) << "row " << i;
        EXPECT_EQ(ExpectedChecksumFor(row, false), release[i].basic) << "row " << i;
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
