#include "format/rom_package_key.h"

#include "shared/segment_table.h"

static_assert(kRomPackageHeaderBytes == kPackageHeaderBytes);
static_assert(sizeof(RomPackageKey::bytes) == kRomPackageKeyBytes);

namespace {
// Kept as separate byte constants rather than one array literal so the key never appears
// as one contiguous run in the program's data.
constexpr uint8_t kKeyByte0 = 0x5A;
constexpr uint8_t kKeyByte1 = 0xC3;
constexpr uint8_t kKeyByte2 = 0x17;
constexpr uint8_t kKeyByte3 = 0x8E;
constexpr uint8_t kKeyByte4 = 0x42;
constexpr uint8_t kKeyByte5 = 0xB9;
constexpr uint8_t kKeyByte6 = 0x6D;
constexpr uint8_t kKeyByte7 = 0xF0;
}  // namespace

RomPackageKey MakeRomPackageKey() {
    RomPackageKey key;
    key.bytes[0] = kKeyByte0;
    key.bytes[1] = kKeyByte1;
    key.bytes[2] = kKeyByte2;
    key.bytes[3] = kKeyByte3;
    key.bytes[4] = kKeyByte4;
    key.bytes[5] = kKeyByte5;
    key.bytes[6] = kKeyByte6;
    key.bytes[7] = kKeyByte7;
    return key;
}

void DescrambleHeader(uint8_t header[kRomPackageHeaderBytes], const RomPackageKey& key) {
    for (uint32_t i = 0; i < kRomPackageHeaderBytes; ++i) header[i] ^= key.bytes[i % 8];
}
