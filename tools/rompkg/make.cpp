#include "make.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <system_error>

#include "rompkg.h"
#include "tools/romimage/rom_image.h"

namespace rompkg {

namespace fs = std::filesystem;

// Written beside the target and renamed over it, so a failed write never leaves a
// truncated package under a name the desktop would pick up.
int Make(const romimage::RomSpec& spec, const std::string& outDir, std::ostream& out,
         std::ostream& err) {
    std::error_code ec;
    if (!fs::is_directory(outDir, ec)) {
        err << "rompkg: output folder " << outDir << " does not exist\n";
        return kExitBadPackage;
    }
    std::vector<uint8_t> package = romimage::BuildPackage(spec);
    fs::path target = fs::path(outDir) / romimage::PackageFileName(spec);
    fs::path partial = target;
    partial += ".partial";
    {
        std::ofstream file(partial, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(package.data()), std::streamsize(package.size()));
        file.close();
        if (!file) {
            fs::remove(partial, ec);
            err << "rompkg: cannot write " << partial.string() << "\n";
            return kExitBadPackage;
        }
    }
    fs::rename(partial, target, ec);
    if (ec) {
        fs::remove(partial, ec);
        err << "rompkg: cannot create " << target.string() << "\n";
        return kExitBadPackage;
    }
    out << target.string() << "\n";
    return kExitOk;
}

}  // namespace rompkg
