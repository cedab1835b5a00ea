// Makes a block of bytes checksum to a chosen segment checksum by rewriting its last few
// bytes, so that generated ROM content can match a fixed table of expected values.
#pragma once

#include <cstdint>

namespace romimage {

inline constexpr uint32_t kChecksumFitBytes = 3;

// True when some content has this checksum: sumPart 0..254, xorPart 0..255, and the low bit
// of the byte sum equal to the low bit of the exclusive OR (one pass over the same bytes
// always gives them equal). A sumPart of 0 may come from a byte sum of 0 or of 255.
bool IsReachableChecksum(uint32_t target);

// Rewrites the last kChecksumFitBytes bytes of block so that ChecksumBytes(block, size)
// equals target. Returns false, leaving the block untouched, when the target is not
// reachable or the block is shorter than kChecksumFitBytes.
bool FitChecksum(uint8_t* block, uint32_t size, uint32_t target);

}  // namespace romimage
