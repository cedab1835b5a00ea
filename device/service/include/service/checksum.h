// Segment checksums: one pass over the bytes gives ((sum mod 256) mod 255) * 1000 + xor.
#pragma once

#include <cstdint>

#include "wince/types.h"

typedef uint32_t SegmentChecksum;

SegmentChecksum ChecksumBytes(const uint8_t* bytes, uint32_t length);

struct ExpectedChecksum {
    const WCHAR* path;  // in order of verification
    SegmentChecksum advanced;
    SegmentChecksum basic;
};

inline constexpr uint32_t kExpectedChecksumCount = 12;
extern const ExpectedChecksum ExpectedChecksums[kExpectedChecksumCount];

inline SegmentChecksum ExpectedChecksumFor(const ExpectedChecksum& row, bool advanced) {
    return advanced ? row.advanced : row.basic;
}
