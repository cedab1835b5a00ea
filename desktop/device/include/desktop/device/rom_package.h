// Finding the ROM package of the handheld's configuration in the program folder.
#pragma once

#include <cstdint>
#include <string>

#include "format/rom_package_header.h"

// "R47_NK_H*.img" for the advanced configuration, "R47_NK_L*.img" for the basic one.
const char* RomPackagePattern(bool advanced);

// The path of the first file in the program folder that the pattern for g_bAdvancedModel's
// current value matches, in directory order; false when there is none. Later matches are
// never looked at.
bool LocateRomPackage(std::string& path);

// 1 when the package for g_bAdvancedModel was found and its header accepted (the
// descrambled header is left in header), else 0. Only the first match is tried.
int FindRomPackage(const RomPackageKey& key, uint8_t header[kRomPackageHeaderBytes]);
