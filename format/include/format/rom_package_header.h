// Reading a ROM package's header: its signature, build and language, and the comparison
// of the package build with the handheld's ROM build.
#pragma once

#include <cstdint>

#include "format/rom_package_key.h"

// Reads and descrambles the first 36 bytes of the file into header. Returns the file's
// length when 36 bytes were read and the signature is "VORN"; 0 when the file cannot be
// opened, holds fewer than 36 bytes, or the signature differs (header then holds whatever
// was read and descrambled).
uint64_t ReadRomPackageHeader(const char* path, const RomPackageKey& key,
                              uint8_t header[kRomPackageHeaderBytes]);

// The package build from a descrambled header: the text at offsets 24..31 read as a decimal
// number (leading white space, an optional sign, digits up to the first non-digit); offset
// 32 always ends it.
int32_t PackageBuild(const uint8_t header[kRomPackageHeaderBytes]);

// The two language letters at offsets 33..34, NUL-terminated.
void PackageLanguage(const uint8_t header[kRomPackageHeaderBytes], char language[3]);

// 1 when the package build is newer than the handheld's ROM build, else 0. Both are
// written out (device as 8 hexadecimal digits, package as 8 decimal digits), rearranged to
// characters 5 6 1 2 3 4 7 8, and compared as the decimal numbers their leading digits make.
int IsPackageNewer(uint32_t deviceBuild, int32_t packageBuild);

// A build written out as the comparison writes it: a device build as 8 hexadecimal
// digits, a package build as 8 decimal digits (longer for an out-of-range number).
struct BuildText {
    char digits[16];
};
BuildText DeviceBuildText(uint32_t deviceBuild);
BuildText PackageBuildText(int32_t packageBuild);

// True when a handheld's ROM build is the package build: both written out alike.
bool RunsPackageBuild(uint32_t deviceBuild, int32_t packageBuild);
