// Segment checksums: one pass over the bytes gives ((sum mod 256) mod 255) * 1000 + xor,
// and the values the service library expects for each segment of the one release of each
// configuration. The package tool makes packages that match this table.
#pragma once

#include <cstdint>

typedef uint32_t SegmentChecksum;

SegmentChecksum ChecksumBytes(const uint8_t* bytes, uint32_t length);

// The same checksum over bytes that arrive in pieces, for readers that stream a segment.
struct ChecksumStream {
    uint32_t sum = 0;
    uint32_t parity = 0;
    void Add(const uint8_t* bytes, uint32_t length);
    SegmentChecksum Value() const;
};

struct ExpectedChecksum {
    const char16_t* path;  // in order of verification
    SegmentChecksum advanced;
    SegmentChecksum basic;
};

inline constexpr uint32_t kExpectedChecksumCount = 12;
extern const ExpectedChecksum ExpectedChecksums[kExpectedChecksumCount];

inline SegmentChecksum ExpectedChecksumFor(const ExpectedChecksum& row, bool advanced) {
    return advanced ? row.advanced : row.basic;
}
