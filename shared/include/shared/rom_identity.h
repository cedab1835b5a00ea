// The ROM identity record that begins the kernel segment. The emulated handheld boots
// from it: it answers the ROM build, version text and default language from here, and a
// kernel without a valid record leaves the handheld dead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

inline constexpr char kRomIdentityMagic[8] = {'T', 'O', 'V', 'A', 'R', 'O', 'M', '1'};

struct RomIdentity {
    char magic[8];
    uint32_t build;           // the package's eight build digits read as hexadecimal
    uint32_t languageId;      // Windows language identifier, e.g. 1033
    uint32_t memoryConfig;    // the configuration this ROM was made for
    char16_t versionText[16]; // NUL-terminated unless all 16 units are used
    uint32_t check;           // RomIdentityCheck over the bytes before it
};
static_assert(sizeof(RomIdentity) == 56);
static_assert(offsetof(RomIdentity, check) == 52);

inline uint32_t RomIdentityCheck(const RomIdentity& r) {
    const auto* p = reinterpret_cast<const unsigned char*>(&r);
    uint32_t h = 2166136261u;  // FNV-1a: enough to tell a record from erased or random flash
    for (size_t i = 0; i < offsetof(RomIdentity, check); ++i) h = (h ^ p[i]) * 16777619u;
    return h;
}

inline bool IsValidRomIdentity(const RomIdentity& r) {
    return std::memcmp(r.magic, kRomIdentityMagic, sizeof r.magic) == 0 &&
           r.check == RomIdentityCheck(r);
}
