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

// The bytes of a package being inspected, read piece by piece so that a file of any size
// is inspected in constant memory.
class PackageSource {
public:
    virtual ~PackageSource() = default;
    virtual uint64_t Size() const = 0;
    // Reads `length` bytes at `offset`, which lie within Size(); false when reading fails.
    virtual bool ReadAt(uint64_t offset, uint8_t* buffer, size_t length) = 0;
};

// rompkg inspect on a file called name: prints the header, the ROM identity record and
// every segment's checksum against both columns of the table. kExitBadPackage, with the
// reasons on err, when any of it does not fit the format or cannot be read.
int Inspect(const std::string& name, PackageSource& source, std::ostream& out, std::ostream& err);
// The same on bytes held in memory.
int Inspect(const std::string& name, const std::vector<uint8_t>& bytes, std::ostream& out,
            std::ostream& err);
// The same on the file at `path`; anything but a regular file (a folder, a FIFO, a device)
// is refused without being read, and opening it never blocks.
int InspectFile(const std::string& path, std::ostream& out, std::ostream& err);

// The help text for both commands.
const char* HelpText();

}  // namespace rompkg
