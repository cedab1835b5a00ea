// The built HARLIX.DLL as a host tool sees it: its version information and the names it
// exports.
#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "device/service/version_info.h"

namespace {

// The host build's folder of the program folder the test runner names, else where this
// build put the module.
std::string ModulePath() {
    const char* dir = std::getenv("TOVA_BIN_DIR");
    return dir ? std::string(dir) + "/host/HARLIX.DLL" : std::string(HARLIX_MODULE_FILE);
}

std::vector<char> ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The bytes of one named section of a 64-bit ELF file; empty when it has none.
std::string SectionBytes(const std::vector<char>& file, const char* name) {
    if (file.size() < sizeof(Elf64_Ehdr)) return {};
    Elf64_Ehdr eh;
    std::memcpy(&eh, file.data(), sizeof eh);
    if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64)
        return {};
    auto header = [&](size_t i) {
        Elf64_Shdr sh{};
        const size_t at = eh.e_shoff + i * eh.e_shentsize;
        if (at + sizeof sh <= file.size()) std::memcpy(&sh, file.data() + at, sizeof sh);
        return sh;
    };
    const Elf64_Shdr names = header(eh.e_shstrndx);
    for (size_t i = 0; i < eh.e_shnum; ++i) {
        const Elf64_Shdr sh = header(i);
        if (names.sh_offset + sh.sh_name >= file.size()) continue;
        if (std::strcmp(file.data() + names.sh_offset + sh.sh_name, name) != 0) continue;
        if (sh.sh_offset + sh.sh_size > file.size()) return {};
        return std::string(file.data() + sh.sh_offset, sh.sh_size);
    }
    return {};
}

// Alternating NUL-terminated key and value strings.
std::map<std::string, std::string> KeyValues(const std::string& section) {
    std::vector<std::string> strings;
    size_t at = 0;
    while (at < section.size()) {
        const size_t end = section.find('\0', at);
        strings.push_back(section.substr(at, end == std::string::npos ? end : end - at));
        if (end == std::string::npos) break;
        at = end + 1;
    }
    std::map<std::string, std::string> pairs;
    for (size_t i = 0; i + 1 < strings.size(); i += 2) pairs[strings[i]] = strings[i + 1];
    return pairs;
}

TEST(HarlixModule, CarriesItsVersionInformation) {
    const std::vector<char> file = ReadWhole(ModulePath());
    ASSERT_FALSE(file.empty()) << ModulePath();
    const std::map<std::string, std::string> expected = {
        {"FileVersion", "1, 0, 7, 5"},      {"ProductVersion", "1, 0, 7, 5"},
        {"Comments", "Support A04 image"},  {"SpecialBuild", "05260300EN"},
        {"FileDescription", "Harlix"},      {"InternalName", "Harlix"},
        {"OriginalFilename", "Harlix.dll"},
    };
    EXPECT_EQ(KeyValues(SectionBytes(file, kVersionSectionName)), expected);
}

TEST(HarlixModule, ExportsTheFourEntriesByTheirCNames) {
    // Lazy binding: the platform API is only resolved when the device code runs.
    void* module = dlopen(ModulePath().c_str(), RTLD_LAZY | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    for (const char* name : {"FnTOVAInfo", "ColdReset", "WarmReset", "IsCheckSumOk"}) {
        EXPECT_NE(dlsym(module, name), nullptr) << name;
    }
    // Inner operations stay inside the module.
    for (const char* name : {"IsSupportedDevice", "RemoveBuiltInDrivers", "FileChecksum",
                             "_Z17IsSupportedDevicev", "_Z20RemoveBuiltInDriversv"}) {
        EXPECT_EQ(dlsym(module, name), nullptr) << name;
    }
    dlclose(module);
}

}  // namespace
