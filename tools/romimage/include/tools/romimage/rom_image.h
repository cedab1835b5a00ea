// Test ROM images and the packages that carry them. An image is the 0x19C0000 bytes of flash
// from kImageFlashAddress on: the 12 segments back to back in package order. Its content is
// deterministic for a given spec, begins with the ROM identity record the handheld boots
// from, and every segment checksums to the service library's table for the configuration.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace romimage {

struct RomSpec {
    bool advanced = true;
    char buildDigits[9] = "00000000";  // eight decimal digits and a NUL
    char language[3] = "EN";           // GE, EN, SP, FR or IT
    std::u16string versionText;        // at most 16 UTF-16 units are kept
};

// Both builders throw std::invalid_argument, with ValidateSpec's reason, for a spec that
// cannot be built.

// The flash image from kImageFlashAddress: kPackageSegmentsBytes (0x19C0000) bytes.
std::vector<uint8_t> BuildSegments(const RomSpec& spec);

// A whole package: the scrambled 36-byte header, 476 filler bytes, then BuildSegments.
std::vector<uint8_t> BuildPackage(const RomSpec& spec);

// "R47_NK_H<digits>.img" for the advanced configuration, "R47_NK_L<digits>.img" otherwise.
std::string PackageFileName(const RomSpec& spec);

// Windows language identifier for a package language code: GE 1031, EN 1033, SP 1034,
// FR 1036, IT 1040; 0 for any other code.
uint32_t LanguageIdForCode(const char* code);

// The device's ROM build for a RomSpec: the eight build digits read as hexadecimal.
uint32_t RomBuildFor(const RomSpec& spec);

// The 36-byte header before scrambling.
void MakePlainHeader(const RomSpec& spec, uint8_t header[36]);

// Empty when the RomSpec can be built; otherwise what is wrong with it, for the user.
std::string ValidateSpec(const RomSpec& spec);

}  // namespace romimage
