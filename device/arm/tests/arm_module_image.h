// A read-only view of an ARM ELF module for the tests: its header, dynamic symbols and
// dynamic section, each bounds-checked against the file; and any ELF file's sections.
#pragma once

#include <elf.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace arm_test {

struct DynamicSymbol {
    std::string name;
    bool defined;
    uint8_t type;
};

// The bytes of a named section of any ELF file (32 or 64 bits), empty when there is none.
std::vector<uint8_t> ElfSectionBytes(const std::filesystem::path& file, const std::string& name);

class ArmModuleImage {
public:
    static std::optional<ArmModuleImage> Read(const std::filesystem::path& file,
                                              std::string* error);

    const Elf32_Ehdr& Header() const { return header_; }
    const std::vector<DynamicSymbol>& Symbols() const { return symbols_; }
    // Every tag of the dynamic section (DT_NEEDED once per library).
    const std::multimap<int32_t, uint32_t>& Dynamic() const { return dynamic_; }
    std::vector<std::string> Needed() const;
    std::vector<std::string> Defined() const;
    std::vector<std::string> Imported() const;
    // The relocation types of the dynamic relocations (DT_REL and DT_JMPREL).
    std::vector<uint32_t> RelocationTypes() const;

private:
    std::vector<uint8_t> bytes_;
    Elf32_Ehdr header_{};
    std::vector<DynamicSymbol> symbols_;
    std::multimap<int32_t, uint32_t> dynamic_;
    std::string dynamicStrings_;

    std::optional<uint32_t> FileOffset(uint32_t address, uint32_t length) const;
};

}  // namespace arm_test
