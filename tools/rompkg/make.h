// rompkg make: writes one package file.
#pragma once

#include <iosfwd>
#include <string>

#include "tools/romimage/rom_image.h"

namespace rompkg {

// Writes the package for spec into outDir and prints its path; kExitBadPackage with a
// message when the folder is missing or the file cannot be written.
int Make(const romimage::RomSpec& spec, const std::string& outDir, std::ostream& out,
         std::ostream& err);

}  // namespace rompkg
