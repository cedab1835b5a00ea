// Where each segment lives in flash and the order in which the flasher writes them:
// OS and the kernel, the lowest addresses, come last.
#pragma once

#include <cstdint>

#include "shared/segment_table.h"

// The flash's geometry and its two windows: the one definition the flasher, the emulated
// flash and their tests share.
inline constexpr uint32_t kFlashStart = 0xA0000000;       // uncached window
inline constexpr uint32_t kFlashCachedStart = 0x80000000;
inline constexpr uint32_t kFlashBytes = 0x02000000;       // 32 MiB
inline constexpr uint32_t kFlashBlockBytes = 0x40000;     // 256 KiB: 128 KiB in each chip
// The uncached window is the cached one with this bit set.
inline constexpr uint32_t kFlashUncachedBit = kFlashStart - kFlashCachedStart;
static_assert(kFlashUncachedBit == 0x20000000 && (kFlashCachedStart & kFlashUncachedBit) == 0);
inline constexpr uint32_t kImageFlashAddress = 0xA0040000;  // the first block is never touched

struct FlashSegment {
    const char* progressLine;
    const char16_t* file;  // as the handheld spells it
    uint32_t flashAddress;
    bool isKernel;
    bool deleteAfterWriting;
};

inline constexpr uint32_t kFlashSegmentCount = 12;
inline constexpr FlashSegment kFlashSegmentMap[kFlashSegmentCount] = {
    {"... 1/12 ...\n", u"\\Temp\\SYNC.nb0", 0xA0DC0000, false, true},
    {"... 2/12 ...\n", u"\\Temp\\24MAPPS.nb0", 0xA0EC0000, false, true},
    {"... 3/12 ...\n", u"\\Temp\\SHELL.nb0", 0xA0580000, false, true},
    {"... 4/12 ...\n", u"\\Temp\\24MCONSUMER.nb0", 0xA1080000, false, true},
    {"... 5/12 ...\n", u"\\Temp\\BROWSING.nb0", 0xA0780000, false, true},
    {"... 6/12 ...\n", u"\\Temp\\COREAPPS.nb0", 0xA0A40000, false, true},
    {"... 7/12 ...\n", u"\\Temp\\MISC_1.nb0", 0xA1380000, false, true},
    {"... 8/12 ...\n", u"\\Temp\\MISC_2.nb0", 0xA1580000, false, true},
    {"... 9/12 ...\n", u"\\Temp\\MISC_3.nb0", 0xA1780000, false, false},
    {"... 10/12 ...\n", u"\\Temp\\MISC_4.nb0", 0xA1980000, false, false},
    {"... 11/12 ...\n", u"\\Temp\\OS.nb0", 0xA02C0000, false, false},
    {"... 12/12 ...\n", u"\\Temp\\KERNEL.nb0", 0xA0040000, true, false},
};

// Flash address of a package segment: the segments lie back to back from kImageFlashAddress.
constexpr uint32_t FlashAddressOfPackageOffset(uint32_t packageOffset) {
    return kImageFlashAddress + (packageOffset - kPackageSegmentsOffset);
}

namespace flash_map_detail {
constexpr bool SameCaseInsensitive(const char16_t* a, const char16_t* b) {
    auto lower = [](char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; };
    for (; *a && *b; ++a, ++b)
        if (lower(*a) != lower(*b)) return false;
    return *a == *b;
}
constexpr bool MapMatchesSegmentTable() {
    for (const FlashSegment& f : kFlashSegmentMap) {
        bool found = false;
        for (const SegmentEntry& s : kSegmentTable)
            if (SameCaseInsensitive(f.file, s.devicePath))
                found = found || f.flashAddress == FlashAddressOfPackageOffset(s.packageOffset);
        if (!found) return false;
    }
    return true;
}
}  // namespace flash_map_detail
static_assert(flash_map_detail::MapMatchesSegmentTable());
