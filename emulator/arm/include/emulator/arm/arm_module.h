// An ARM module placed in guest RAM by the emulator's own loader: its segments copied into
// one block of guest memory, its relocations applied (R_ARM_RELATIVE, R_ARM_ABS32,
// R_ARM_GLOB_DAT, R_ARM_JUMP_SLOT), and each import bound by name to the platform's thunk
// for it. A file that is not a valid ARM module, holds another relocation type or imports
// a function the platform lacks is refused with a message that names the module and what
// is wrong; nothing of it stays in guest memory.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/arm/guest_memory.h"

namespace tova::arm {

class ArmModule {
public:
    static std::unique_ptr<ArmModule> Load(const std::string& name, const std::vector<uint8_t>& bytes,
                                           GuestMemory& memory, std::string* error);

    const std::string& Name() const { return name_; }
    uint32_t Base() const { return block_->Address(); }
    uint32_t Size() const { return block_->Size(); }
    // The guest address of an exported function or object, or 0.
    uint32_t Export(std::string_view name) const;
    const std::map<std::string, uint32_t, std::less<>>& Exports() const { return exports_; }
    // Each imported platform function and the thunk address it is bound to.
    const std::map<std::string, uint32_t>& Imports() const { return imports_; }

private:
    ArmModule() = default;
    std::string name_;
    std::unique_ptr<GuestBlock> block_;
    std::map<std::string, uint32_t, std::less<>> exports_;
    std::map<std::string, uint32_t> imports_;
};

}  // namespace tova::arm
