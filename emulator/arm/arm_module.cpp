#include "emulator/arm/arm_module.h"

#include <cstdio>
#include <cstring>

#include "emulator/arm/elf_image.h"
#include "emulator/arm/platform_imports.h"

namespace tova::arm {

namespace {

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

uint32_t ReadWord(const uint8_t* at) {
    uint32_t value;
    std::memcpy(&value, at, 4);
    return value;
}

void WriteWord(uint8_t* at, uint32_t value) { std::memcpy(at, &value, 4); }

}  // namespace

uint32_t ArmModule::Export(std::string_view name) const {
    auto it = exports_.find(name);
    return it == exports_.end() ? 0 : it->second;
}

std::unique_ptr<ArmModule> ArmModule::Load(const std::string& name, const std::vector<uint8_t>& bytes,
                                           GuestMemory& memory, std::string* error) {
    auto fail = [&](const std::string& why) -> std::unique_ptr<ArmModule> {
        if (error) *error = name + ": " + why;
        return nullptr;
    };
    std::string why;
    auto image = ElfImage::Parse(bytes, &why);
    if (!image) return fail(why);

    // Every import must be the platform's before anything is placed.
    const auto& symbols = image->Symbols();
    std::vector<uint32_t> symbolAddress(symbols.size(), 0);
    auto module = std::unique_ptr<ArmModule>(new ArmModule);
    for (size_t i = 1; i < symbols.size(); ++i) {
        if (symbols[i].defined) continue;
        const std::string& import = symbols[i].name;
        auto function = PlatformFunctionNamed(import);
        if (!function) return fail("imports " + (import.empty() ? "an unnamed symbol" : import) +
                                   ", which the platform does not provide");
        symbolAddress[i] = ThunkAddress(*function);
        module->imports_[import] = symbolAddress[i];
    }
    for (const ElfRelocation& r : image->Relocations())
        if (r.type != kRelocRelative && r.type != kRelocAbs32 && r.type != kRelocGlobDat &&
            r.type != kRelocJumpSlot)
            return fail("relocation type " + std::to_string(r.type) + " at " + Hex(r.offset) +
                        " is not handled");

    for (size_t i = 1; i < symbols.size(); ++i)
        if (symbols[i].defined && symbols[i].value >= image->ImageBytes())
            return fail("symbol " + symbols[i].name + " lies outside the image");

    module->name_ = name;
    module->block_ = memory.Allocate(image->ImageBytes());
    if (!module->block_) return fail("no room in RAM for " + std::to_string(image->ImageBytes()) + " bytes");
    uint8_t* host = module->block_->Host();
    const uint32_t base = module->block_->Address();
    for (const ElfSegment& s : image->Segments())
        std::memcpy(host + s.address, bytes.data() + s.fileOffset, s.fileBytes);
    for (size_t i = 1; i < symbols.size(); ++i)
        if (symbols[i].defined) {
            symbolAddress[i] = base + symbols[i].value;
            if (!symbols[i].name.empty()) module->exports_[symbols[i].name] = symbolAddress[i];
        }
    for (const ElfRelocation& r : image->Relocations()) {
        uint8_t* at = host + r.offset;
        switch (r.type) {
        case kRelocRelative: WriteWord(at, ReadWord(at) + base); break;
        case kRelocAbs32: WriteWord(at, ReadWord(at) + symbolAddress[r.symbol]); break;
        default: WriteWord(at, symbolAddress[r.symbol]); break;  // GLOB_DAT, JUMP_SLOT
        }
    }
    memory.CodeWritten();
    return module;
}

}  // namespace tova::arm
