// Finding and reading a ROM package in the program folder, then everything the wizard takes
// from its header: build, language, the build comparison and its texts.
//
// Input: one byte of choices, then the package file's bytes.
//   bit 0  the handheld is the advanced model (else basic)
//   bit 1  the package's name is in lower case (the search ignores case)
//   bit 2  a folder named like a package lies beside it
//   bit 3  the package is named for the other model (so the search finds nothing)
//   bits 4-7 with the file's first bytes: the handheld's ROM build
#include <cstring>
#include <filesystem>
#include <string>

#include "desktop/device/model_flag.h"
#include "desktop/device/program_folder.h"
#include "desktop/device/rom_package.h"
#include "format/rom_package_key.h"
#include "scratch_folder.h"
#include "shared/segment_table.h"

namespace {

const std::filesystem::path& ProgramFolderPath() {
    static const std::filesystem::path folder = [] {
        auto path = fuzz::Scratch().Path() / "program";
        std::filesystem::create_directories(path);
        return path;
    }();
    return folder;
}

size_t FuzzProgramPath(char* buffer, size_t capacity) {
    std::string path = (ProgramFolderPath() / "setup").string();
    if (path.size() + 1 > capacity) return capacity - 1;
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return path.size();
}

void ClearProgramFolder() {
    for (const auto& entry : std::filesystem::directory_iterator(ProgramFolderPath()))
        std::filesystem::remove_all(entry.path());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t choices = data[0];
    const uint8_t* content = data + 1;
    const size_t length = size - 1;
    const bool advanced = choices & 1;
    const bool ownModel = !(choices & 8);

    SetProgramPathReader(FuzzProgramPath);
    ClearProgramFolder();
    std::string name = RomPackagePattern(ownModel ? advanced : !advanced);
    name.replace(name.find('*'), 1, "0526");
    if (choices & 2)
        for (char& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (choices & 4) {
        std::string folder = RomPackagePattern(advanced);
        folder.replace(folder.find('*'), 1, "");
        std::filesystem::create_directory(ProgramFolderPath() / folder);
    }
    std::FILE* out = std::fopen((ProgramFolderPath() / name).c_str(), "wb");
    if (out == nullptr) std::abort();
    if (length > 0 && std::fwrite(content, 1, length, out) != length) std::abort();
    std::fclose(out);

    g_bAdvancedModel.store(advanced ? 1 : 0);
    const RomPackageKey key = MakeRomPackageKey();
    uint8_t header[kRomPackageHeaderBytes] = {};
    const int found = FindRomPackage(key, header);

    // What the search must have decided, from the bytes themselves.
    bool signed_ = false;
    if (length >= kRomPackageHeaderBytes) {
        uint8_t expected[kRomPackageHeaderBytes];
        std::memcpy(expected, content, sizeof expected);
        DescrambleHeader(expected, key);
        signed_ = std::memcmp(expected + kHeaderSignatureOffset, kHeaderSignature, sizeof kHeaderSignature) == 0;
        if (found && std::memcmp(expected, header, sizeof header) != 0) std::abort();
    }
    if (found != ((ownModel && signed_) ? 1 : 0)) std::abort();
    if (!found) return 0;

    const int32_t build = PackageBuild(header);
    char language[3];
    PackageLanguage(header, language);
    if (language[2] != '\0') std::abort();
    uint32_t deviceBuild = uint32_t(choices >> 4) << 28;
    for (size_t i = 0; i < 4 && i < length; ++i) deviceBuild ^= uint32_t(content[i]) << (8 * i);
    const int newer = IsPackageNewer(deviceBuild, build);
    if (newer != 0 && newer != 1) std::abort();
    if (RunsPackageBuild(deviceBuild, build) && newer) std::abort();
    BuildText text = PackageBuildText(build);
    if (strnlen(text.digits, sizeof text.digits) == sizeof text.digits) std::abort();
    return 0;
}
