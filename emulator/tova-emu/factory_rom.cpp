#include "factory_rom.h"

#include <cstring>
#include <fstream>

#include "arguments.h"
#include "tools/romimage/rom_image.h"
#include "shared/rom_identity.h"
#include "shared/segment_table.h"

namespace tova::emu {

namespace {

const char* LanguageCode(uint16_t languageId) {
    switch (languageId) {
    case 1031: return "GE";
    case 1033: return "EN";
    case 1034: return "SP";
    case 1036: return "FR";
    case 1040: return "IT";
    default: return nullptr;
    }
}

// "05260300" reads as version 5.26.03.
std::u16string VersionText(const std::string& digits) {
    std::string text = std::to_string(std::stoi(digits.substr(0, 2))) + "." + digits.substr(2, 2) +
                       "." + digits.substr(4, 2);
    return std::u16string(text.begin(), text.end());
}

}  // namespace

std::vector<uint8_t> FactoryFlashImage(Model model, const std::string& buildDigits,
                                       uint16_t languageId) {
    if (buildDigits.size() != 8 ||
        buildDigits.find_first_not_of("0123456789") != std::string::npos)
        throw UsageError("the factory build must be eight digits, not \"" + buildDigits + "\"");
    romimage::RomSpec spec;
    spec.advanced = model == Model::kAdvanced;
    std::memcpy(spec.buildDigits, buildDigits.c_str(), 9);
    const char* code = LanguageCode(languageId);
    std::memcpy(spec.language, code ? code : "EN", 3);
    spec.versionText = VersionText(buildDigits);
    std::vector<uint8_t> image;
    try {
        image = romimage::BuildSegments(spec);
    } catch (const std::invalid_argument& e) {
        throw CommandError(std::string("cannot build the factory ROM: ") + e.what());
    }
    if (!code) {
        // A language no package code names: the identity record still tells it.
        RomIdentity record;
        std::memcpy(&record, image.data(), sizeof record);
        record.languageId = languageId;
        record.check = RomIdentityCheck(record);
        std::memcpy(image.data(), &record, sizeof record);
    }
    return image;
}

std::vector<uint8_t> PackageFlashImage(const std::filesystem::path& package) {
    std::ifstream in(package, std::ios::binary);
    if (!in) throw CommandError("cannot open the ROM package " + package.string());
    in.seekg(0, std::ios::end);
    auto size = static_cast<uint64_t>(in.tellg());
    if (size < kPackageMinimumBytes)
        throw CommandError("the ROM package " + package.string() + " is " + std::to_string(size) +
                           " bytes, shorter than a whole package (" +
                           std::to_string(kPackageMinimumBytes) + ")");
    std::vector<uint8_t> image(kPackageSegmentsBytes);
    in.seekg(kPackageSegmentsOffset);
    in.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size()));
    if (!in) throw CommandError("cannot read the ROM package " + package.string());
    return image;
}

std::string DescribeImageProblem(const std::vector<uint8_t>& image, Model model) {
    RomIdentity record{};
    if (image.size() < sizeof record) return "the image holds no ROM identity record";
    std::memcpy(&record, image.data(), sizeof record);
    if (!IsValidRomIdentity(record)) return "the image's ROM identity record is not valid";
    uint32_t wanted = model == Model::kAdvanced ? kMemoryConfigAdvanced : kMemoryConfigBasic;
    if (record.memoryConfig != wanted) return "the ROM was made for the other configuration";
    return {};
}

}  // namespace tova::emu
