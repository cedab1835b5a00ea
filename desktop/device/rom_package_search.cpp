#include "desktop/rom_package.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include "desktop/model_flag.h"
#include "desktop/program_folder.h"

namespace {

bool IsFolder(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// First entry that matches, in the order the directory lists them; letter case is ignored
// as the desktop's own file system does. Folders that happen to match are passed over.
bool FirstMatch(const std::string& folder, const char* pattern, std::string& path) {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return false;
    bool found = false;
    while (dirent* entry = ::readdir(dir)) {
        if (::fnmatch(pattern, entry->d_name, FNM_CASEFOLD) != 0) continue;
        std::string candidate = folder + entry->d_name;
        if (IsFolder(candidate)) continue;
        path = candidate;
        found = true;
        break;
    }
    ::closedir(dir);
    return found;
}

}  // namespace

const char* RomPackagePattern(bool advanced) {
    return advanced ? "R47_NK_H*.img" : "R47_NK_L*.img";
}

bool LocateRomPackage(std::string& path) {
    std::string folder;
    if (!ProgramFolder(folder)) return false;
    return FirstMatch(folder, RomPackagePattern(g_bAdvancedModel.load() == 1), path);
}

int FindRomPackage(const RomPackageKey& key, uint8_t header[kRomPackageHeaderBytes]) {
    std::string path;
    if (!LocateRomPackage(path)) return 0;
    return ReadRomPackageHeader(path.c_str(), key, header) != 0 ? 1 : 0;
}
