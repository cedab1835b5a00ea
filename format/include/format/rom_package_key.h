// The key that scrambles a ROM package's 36-byte header. The desktop reader and the package
// tool share this one definition, so a package the tool makes is one the reader accepts.
#pragma once

#include <cstdint>

inline constexpr uint32_t kRomPackageHeaderBytes = 36;

struct RomPackageKey {
    uint8_t bytes[8];
};

// Assembled at run time from the eight single-byte constants of the package format.
RomPackageKey MakeRomPackageKey();

// XORs header byte i with key byte (i mod 8); scrambling is the same operation.
void DescrambleHeader(uint8_t header[kRomPackageHeaderBytes], const RomPackageKey& key);
