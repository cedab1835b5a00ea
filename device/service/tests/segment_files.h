// Small segment files with a chosen checksum, written into the handheld's \Temp.
#pragma once

#include <cstdint>
#include <vector>

#include "format/segment_checksum.h"
#include "emulator/machine.h"
#include "emulator/object_store.h"

namespace harlix_test {

// Three bytes {x, c, c}: exclusive OR x, sum x + 2c. A checksum's two parts always share
// their lowest bit (or the sum part is 0 from a sum of 255), which every table value does.
inline std::vector<uint8_t> BytesWithChecksum(SegmentChecksum target) {
    const uint32_t sumPart = target / 1000;
    const uint32_t xorPart = target % 1000;
    const uint32_t sum = (sumPart == 0 && (xorPart & 1)) ? 255 : sumPart;
    const uint8_t c = uint8_t(((sum - xorPart) & 0xFF) / 2);
    return {uint8_t(xorPart), c, c};
}

// Writes all twelve files with the checksums of one column of ExpectedChecksums, read from
// the rows themselves: the column choice is what the verification is tested for.
inline bool WriteSegmentFiles(tova::Machine& machine, bool advancedColumn) {
    for (const ExpectedChecksum& row : ExpectedChecksums) {
        const SegmentChecksum value = advancedColumn ? row.advanced : row.basic;
        if (!machine.Store().WriteFile(row.path, BytesWithChecksum(value))) return false;
    }
    return true;
}

}  // namespace harlix_test
