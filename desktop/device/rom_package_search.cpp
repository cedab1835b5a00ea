#include "desktop/device/rom_package.h"

#include "desktop/device/model_flag.h"
#include "desktop/device/program_folder.h"
#include "platform/system/system_services.h"

const char* RomPackagePattern(bool advanced) {
    return advanced ? "R47_NK_H*.img" : "R47_NK_L*.img";
}

bool LocateRomPackage(std::string& path) {
    std::string folder;
    if (!ProgramFolder(folder)) return false;
    return tova::sys::FindFirstMatch(folder, RomPackagePattern(g_bAdvancedModel.load() == 1), path);
}

int FindRomPackage(const RomPackageKey& key, uint8_t header[kRomPackageHeaderBytes]) {
    std::string path;
    if (!LocateRomPackage(path)) return 0;
    return ReadRomPackageHeader(path.c_str(), key, header) != 0 ? 1 : 0;
}
