// An ARM ELF module as the loader needs it: a little-endian ELF32 shared object (ET_DYN,
// EM_ARM) with its loadable segments, dynamic symbols and dynamic relocations. Parsing
// trusts no size or offset in the file: every table is checked to lie inside the file (or
// inside a segment's file bytes) before it is read, so a damaged or hostile file is refused
// with a message and never read out of bounds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tova::arm {

// The dynamic relocation types a handheld module may hold.
inline constexpr uint32_t kRelocAbs32 = 2;      // R_ARM_ABS32: S + A
inline constexpr uint32_t kRelocGlobDat = 21;   // R_ARM_GLOB_DAT: S
inline constexpr uint32_t kRelocJumpSlot = 22;  // R_ARM_JUMP_SLOT: S
inline constexpr uint32_t kRelocRelative = 23;  // R_ARM_RELATIVE: B + A

struct ElfSegment {
    uint32_t address;      // offset from the module's base
    uint32_t fileOffset;
    uint32_t fileBytes;
    uint32_t memoryBytes;  // >= fileBytes; the rest is zeroed
};

struct ElfSymbol {
    std::string name;
    uint32_t value;
    bool defined;  // in the module (an export when global), else an import
};

struct ElfRelocation {
    uint32_t offset;  // where, from the module's base
    uint32_t type;
    uint32_t symbol;  // index into Symbols(), 0 for none
};

class ElfImage {
public:
    // Largest image the loader places (the larger model's RAM is 64 MiB).
    static constexpr uint32_t kLargestImage = 16u << 20;

    // Whether a file says it is an ELF image for ARM (its header alone; Parse validates).
    static bool SaysArm(const std::vector<uint8_t>& bytes);

    // The parsed image, or nullopt with *error saying what is wrong.
    static std::optional<ElfImage> Parse(const std::vector<uint8_t>& bytes, std::string* error);

    const std::vector<ElfSegment>& Segments() const { return segments_; }
    const std::vector<ElfSymbol>& Symbols() const { return symbols_; }
    const std::vector<ElfRelocation>& Relocations() const { return relocations_; }
    // Bytes from the base to the end of the highest segment.
    uint32_t ImageBytes() const { return imageBytes_; }

private:
    std::vector<ElfSegment> segments_;
    std::vector<ElfSymbol> symbols_;
    std::vector<ElfRelocation> relocations_;
    uint32_t imageBytes_ = 0;

    friend class ElfParser;
};

}  // namespace tova::arm
