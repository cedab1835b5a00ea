// The ROM package's layout: a scrambled 36-byte header, 476 unread bytes, then the 12
// segments back to back. The package from kPackageSegmentsOffset on is an image of one
// contiguous stretch of flash starting at kImageFlashAddress.
#pragma once

#include <cstdint>

inline constexpr uint32_t kPackageHeaderBytes = 36;
inline constexpr uint32_t kPackageSegmentsOffset = 512;
inline constexpr uint32_t kPackageSegmentsBytes = 0x19C0000;
inline constexpr uint32_t kPackageMinimumBytes = kPackageSegmentsOffset + kPackageSegmentsBytes;
inline constexpr uint32_t kSegmentCount = 12;

// Header field offsets, after descrambling.
inline constexpr uint32_t kHeaderSignatureOffset = 0;
inline constexpr uint32_t kHeaderBuildOffset = 24;
inline constexpr uint32_t kHeaderBuildEnd = 32;
inline constexpr uint32_t kHeaderLanguageOffset = 33;
inline constexpr char kHeaderSignature[4] = {'V', 'O', 'R', 'N'};
inline constexpr uint32_t kRomPackageKeyBytes = 8;

struct SegmentEntry {
    const char* name;
    const char16_t* devicePath;  // as the desktop writes it
    uint32_t size;
    uint32_t packageOffset;
    uint32_t overallPercent;     // overall progress once this segment is copied
};

inline constexpr SegmentEntry kSegmentTable[kSegmentCount] = {
    {"KERNEL", u"\\TEMP\\KERNEL.nb0", 0x280000, 0x0000200, 10},
    {"OS", u"\\TEMP\\OS.nb0", 0x2C0000, 0x0280200, 22},
    {"SHELL", u"\\TEMP\\SHELL.nb0", 0x200000, 0x0540200, 30},
    {"BROWSING", u"\\TEMP\\BROWSING.nb0", 0x2C0000, 0x0740200, 40},
    {"COREAPPS", u"\\TEMP\\COREAPPS.nb0", 0x380000, 0x0A00200, 54},
    {"SYNC", u"\\TEMP\\SYNC.nb0", 0x100000, 0x0D80200, 59},
    {"24MAPPS", u"\\TEMP\\24MAPPS.nb0", 0x1C0000, 0x0E80200, 66},
    {"24MCONSUMER", u"\\TEMP\\24MCONSUMER.nb0", 0x300000, 0x1040200, 75},
    {"MISC_1", u"\\TEMP\\MISC_1.nb0", 0x200000, 0x1340200, 83},
    {"MISC_2", u"\\TEMP\\MISC_2.nb0", 0x200000, 0x1540200, 90},
    {"MISC_3", u"\\TEMP\\MISC_3.nb0", 0x200000, 0x1740200, 97},
    {"MISC_4", u"\\TEMP\\MISC_4.nb0", 0x80000, 0x1940200, 100},
};

namespace segment_table_detail {
constexpr bool SegmentsAreContiguous() {
    uint32_t offset = kPackageSegmentsOffset;
    for (const SegmentEntry& s : kSegmentTable) {
        // Every segment fills whole 256 KiB flash blocks.
        if (s.packageOffset != offset || s.size % 0x40000 != 0) return false;
        offset += s.size;
    }
    return offset == kPackageMinimumBytes;
}
}  // namespace segment_table_detail
static_assert(segment_table_detail::SegmentsAreContiguous());
