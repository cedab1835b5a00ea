#include "emulator/arm/elf_image.h"

#include <cstring>

namespace tova::arm {

namespace {

// ELF32 as the ARM EABI lays it out; field offsets of the headers read below.
constexpr uint32_t kElfHeaderBytes = 52;
constexpr uint32_t kProgramHeaderBytes = 32;
constexpr uint32_t kDynamicEntryBytes = 8;
constexpr uint32_t kSymbolBytes = 16;
constexpr uint32_t kRelocationBytes = 8;
constexpr uint16_t kTypeSharedObject = 3;  // ET_DYN
constexpr uint16_t kMachineArm = 40;       // EM_ARM
constexpr uint32_t kSegmentLoad = 1;       // PT_LOAD
constexpr uint32_t kSegmentDynamic = 2;    // PT_DYNAMIC
constexpr uint32_t kMaxProgramHeaders = 64;
constexpr uint32_t kMaxSymbols = 65536;
constexpr uint32_t kMaxNameBytes = 256;

enum DynamicTag : uint32_t {
    kDtNull = 0,
    kDtPltRelSize = 2,
    kDtHash = 4,
    kDtStrTab = 5,
    kDtSymTab = 6,
    kDtRela = 7,
    kDtStrSize = 10,
    kDtSymEnt = 11,
    kDtRel = 17,
    kDtRelSize = 18,
    kDtRelEnt = 19,
    kDtPltRel = 20,
    kDtJmpRel = 23,
};

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

}  // namespace

// Reads little-endian fields with every range checked against the file.
class ElfParser {
public:
    ElfParser(const std::vector<uint8_t>& bytes, std::string* error) : bytes_(bytes), error_(error) {}

    std::optional<ElfImage> Parse() {
        if (!Header() || !ProgramHeaders() || !Dynamic() || !DynamicSymbols() || !Relocations())
            return std::nullopt;
        return std::move(image_);
    }

private:
    const std::vector<uint8_t>& bytes_;
    std::string* error_;
    ElfImage image_;
    uint32_t phOffset_ = 0, phCount_ = 0;
    uint32_t dynamicOffset_ = 0, dynamicBytes_ = 0;
    bool haveDynamic_ = false;
    struct Tags {
        uint32_t hash = 0, strTab = 0, strSize = 0, symTab = 0, symEnt = kSymbolBytes;
        uint32_t rel = 0, relSize = 0, relEnt = kRelocationBytes;
        uint32_t jmpRel = 0, pltRelSize = 0, pltRel = kDtRel;
        bool haveHash = false, haveStrTab = false, haveSymTab = false, haveRela = false;
    } tags_;
    uint32_t stringsOffset_ = 0;

    bool Fail(std::string why) {
        if (error_) *error_ = std::move(why);
        return false;
    }
    bool InFile(uint64_t offset, uint64_t length) const {
        return offset <= bytes_.size() && length <= bytes_.size() - offset;
    }
    uint16_t U16(uint32_t at) const { return uint16_t(bytes_[at] | bytes_[at + 1] << 8); }
    uint32_t U32(uint32_t at) const {
        return uint32_t(bytes_[at]) | uint32_t(bytes_[at + 1]) << 8 | uint32_t(bytes_[at + 2]) << 16 |
               uint32_t(bytes_[at + 3]) << 24;
    }

    bool Header() {
        static const uint8_t kIdent[7] = {0x7F, 'E', 'L', 'F', 1 /*32-bit*/, 1 /*LSB*/, 1};
        if (bytes_.size() < kElfHeaderBytes) return Fail("truncated ELF header");
        if (std::memcmp(bytes_.data(), kIdent, 4) != 0) return Fail("not an ELF image");
        if (std::memcmp(bytes_.data(), kIdent, sizeof kIdent) != 0)
            return Fail("not a 32-bit little-endian ELF image");
        if (U16(16) != kTypeSharedObject) return Fail("not a shared object (ELF type " + std::to_string(U16(16)) + ")");
        if (U16(18) != kMachineArm) return Fail("not an ARM image (machine " + std::to_string(U16(18)) + ")");
        phOffset_ = U32(28);
        phCount_ = U16(44);
        if (U16(42) != kProgramHeaderBytes) return Fail("unexpected program header size");
        if (phCount_ == 0 || phCount_ > kMaxProgramHeaders) return Fail("bad program header count");
        if (!InFile(phOffset_, uint64_t(phCount_) * kProgramHeaderBytes))
            return Fail("program headers outside the file");
        return true;
    }

    bool ProgramHeaders() {
        uint64_t end = 0;
        for (uint32_t i = 0; i < phCount_; ++i) {
            const uint32_t at = phOffset_ + i * kProgramHeaderBytes;
            const uint32_t type = U32(at), offset = U32(at + 4), address = U32(at + 8);
            const uint32_t fileBytes = U32(at + 16), memoryBytes = U32(at + 20);
            if (type == kSegmentDynamic) {
                if (!InFile(offset, fileBytes)) return Fail("dynamic section outside the file");
                dynamicOffset_ = offset;
                dynamicBytes_ = fileBytes;
                haveDynamic_ = true;
            }
            if (type != kSegmentLoad) continue;
            if (!InFile(offset, fileBytes)) return Fail("segment " + std::to_string(i) + " outside the file");
            if (fileBytes > memoryBytes) return Fail("segment " + std::to_string(i) + " larger in the file than in memory");
            const uint64_t segmentEnd = uint64_t(address) + memoryBytes;
            if (segmentEnd > ElfImage::kLargestImage) return Fail("segment " + std::to_string(i) + " beyond the largest image");
            for (const ElfSegment& s : image_.segments_)
                if (address < s.address + s.memoryBytes && s.address < segmentEnd)
                    return Fail("segments overlap");
            image_.segments_.push_back({address, offset, fileBytes, memoryBytes});
            if (segmentEnd > end) end = segmentEnd;
        }
        if (image_.segments_.empty()) return Fail("no loadable segment");
        if (!haveDynamic_) return Fail("no dynamic section");
        image_.imageBytes_ = uint32_t(end);
        return true;
    }

    // The file offset of `length` bytes at a module address, when a segment's file bytes
    // hold them all.
    std::optional<uint32_t> FileOffset(uint32_t address, uint64_t length) const {
        for (const ElfSegment& s : image_.segments_) {
            if (address < s.address) continue;
            const uint64_t inside = address - s.address;
            if (inside <= s.fileBytes && length <= s.fileBytes - inside) return uint32_t(s.fileOffset + inside);
        }
        return std::nullopt;
    }

    bool Dynamic() {
        for (uint32_t at = 0; at + kDynamicEntryBytes <= dynamicBytes_; at += kDynamicEntryBytes) {
            const uint32_t tag = U32(dynamicOffset_ + at), value = U32(dynamicOffset_ + at + 4);
            switch (tag) {
            case kDtNull: return true;
            case kDtHash: tags_.hash = value; tags_.haveHash = true; break;
            case kDtStrTab: tags_.strTab = value; tags_.haveStrTab = true; break;
            case kDtStrSize: tags_.strSize = value; break;
            case kDtSymTab: tags_.symTab = value; tags_.haveSymTab = true; break;
            case kDtSymEnt: tags_.symEnt = value; break;
            case kDtRel: tags_.rel = value; break;
            case kDtRelSize: tags_.relSize = value; break;
            case kDtRelEnt: tags_.relEnt = value; break;
            case kDtJmpRel: tags_.jmpRel = value; break;
            case kDtPltRelSize: tags_.pltRelSize = value; break;
            case kDtPltRel: tags_.pltRel = value; break;
            case kDtRela: tags_.haveRela = true; break;
            default: break;
            }
        }
        return true;
    }

    bool DynamicSymbols() {
        if (!tags_.haveHash || !tags_.haveSymTab || !tags_.haveStrTab)
            return Fail("no dynamic symbol table");
        if (tags_.symEnt != kSymbolBytes) return Fail("unexpected symbol entry size");
        auto hash = FileOffset(tags_.hash, 8);
        if (!hash) return Fail("symbol hash table outside the file");
        const uint32_t count = U32(*hash + 4);
        if (count > kMaxSymbols) return Fail("too many dynamic symbols");
        auto symbols = FileOffset(tags_.symTab, uint64_t(count) * kSymbolBytes);
        if (!symbols) return Fail("dynamic symbols outside the file");
        auto strings = FileOffset(tags_.strTab, tags_.strSize);
        if (!strings) return Fail("dynamic strings outside the file");
        stringsOffset_ = *strings;
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t at = *symbols + i * kSymbolBytes;
            std::string name;
            if (!Name(U32(at), &name)) return Fail("symbol " + std::to_string(i) + " has a bad name");
            const uint16_t section = U16(at + 14);
            image_.symbols_.push_back({std::move(name), U32(at + 4), section != 0});
        }
        return true;
    }

    bool Name(uint32_t offset, std::string* name) const {
        if (offset >= tags_.strSize) return false;
        const uint32_t left = tags_.strSize - offset;
        const char* start = reinterpret_cast<const char*>(bytes_.data() + stringsOffset_ + offset);
        const size_t length = strnlen(start, left < kMaxNameBytes ? left : kMaxNameBytes);
        if (length == left || length == kMaxNameBytes) return false;  // no NUL where it must be
        name->assign(start, length);
        return true;
    }

    bool RelocationTable(uint32_t address, uint32_t bytes, const char* what) {
        if (bytes == 0) return true;
        if (tags_.relEnt != kRelocationBytes || bytes % kRelocationBytes != 0)
            return Fail(std::string("bad ") + what + " relocation table size");
        auto table = FileOffset(address, bytes);
        if (!table) return Fail(std::string(what) + " relocations outside the file");
        for (uint32_t at = *table; at < *table + bytes; at += kRelocationBytes) {
            const uint32_t offset = U32(at), info = U32(at + 4);
            const uint32_t symbol = info >> 8, type = info & 0xFF;
            if (symbol >= image_.symbols_.size())
                return Fail("relocation at " + Hex(offset) + " names symbol " + std::to_string(symbol) + " that does not exist");
            if (uint64_t(offset) + 4 > image_.imageBytes_)
                return Fail("relocation at " + Hex(offset) + " outside the image");
            image_.relocations_.push_back({offset, type, symbol});
        }
        return true;
    }

    bool Relocations() {
        if (tags_.haveRela) return Fail("relocations with addends (RELA) are not handled");
        if (tags_.pltRelSize != 0 && tags_.pltRel != kDtRel)
            return Fail("PLT relocations with addends (RELA) are not handled");
        return RelocationTable(tags_.rel, tags_.relSize, "dynamic") &&
               RelocationTable(tags_.jmpRel, tags_.pltRelSize, "PLT");
    }
};

bool ElfImage::SaysArm(const std::vector<uint8_t>& bytes) {
    return bytes.size() >= kElfHeaderBytes && std::memcmp(bytes.data(), "\x7F" "ELF", 4) == 0 &&
           (bytes[18] | bytes[19] << 8) == kMachineArm;
}

std::optional<ElfImage> ElfImage::Parse(const std::vector<uint8_t>& bytes, std::string* error) {
    return ElfParser(bytes, error).Parse();
}

}  // namespace tova::arm
