#include "tools/romimage/checksum_fit.h"

namespace romimage {
namespace {

struct Residue {
    uint8_t sum;  // byte sum mod 256
    uint8_t parity;  // exclusive OR of the bytes
};

Residue ResidueOf(const uint8_t* bytes, uint32_t length) {
    uint32_t sum = 0;
    uint32_t parity = 0;
    for (uint32_t i = 0; i < length; ++i) {
        sum += bytes[i];
        parity ^= bytes[i];
    }
    return {uint8_t(sum), uint8_t(parity)};
}

}  // namespace

bool IsReachableChecksum(uint32_t target) {
    uint32_t sumPart = target / 1000;
    uint32_t xorPart = target % 1000;
    if (sumPart > 254 || xorPart > 255) return false;
    return sumPart == 0 || (sumPart & 1) == (xorPart & 1);
}

bool FitChecksum(uint8_t* block, uint32_t size, uint32_t target) {
    if (!IsReachableChecksum(target) || size < kChecksumFitBytes) return false;
    uint32_t sumPart = target / 1000;
    uint8_t wantXor = uint8_t(target % 1000);
    // A byte sum of 255 also reduces to sumPart 0, and is the one that fits an odd xorPart.
    uint8_t wantSum = (sumPart == 0 && (wantXor & 1)) ? 255 : uint8_t(sumPart);

    uint32_t prefix = size - kChecksumFitBytes;
    Residue r = ResidueOf(block, prefix);
    uint8_t restSum = uint8_t(wantSum - r.sum);
    uint8_t restXor = uint8_t(wantXor ^ r.parity);
    // The first byte takes the whole exclusive OR; the other two are equal, so they cancel
    // in it and carry the rest of the sum (even, since sum and xor agree in their low bit).
    uint8_t half = uint8_t(uint8_t(restSum - restXor) >> 1);
    block[prefix] = restXor;
    block[prefix + 1] = half;
    block[prefix + 2] = half;
    return true;
}

}  // namespace romimage
