// The package tool: makes test ROM packages and inspects package files.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace rompkg {

inline constexpr int kExitOk = 0;
inline constexpr int kExitBadPackage = 1;  // also: the package could not be written
inline constexpr int kExitUsage = 2;

// Runs the tool on its arguments (without the program name); returns the exit status.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// rompkg inspect on the bytes of a file called name: prints the header, the ROM identity
// record and every segment's checksum against both columns of the table. kExitBadPackage,
// with the reasons on err, when any of it does not fit the format.
int Inspect(const std::string& name, const std::vector<uint8_t>& bytes, std::ostream& out,
            std::ostream& err);

// The help text for both commands.
const char* HelpText();

}  // namespace rompkg
