// An ARM module file as the emulator's loader reads it from the handheld's object store:
// parsed, placed in guest RAM, relocated and bound, then released.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "emulator/arm/arm_module.h"
#include "shared/configuration.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static tova::hw::Board board(kAdvancedModel);
    static tova::arm::GuestMemory memory(board);
    const std::vector<uint8_t> bytes(data, data + size);
    std::string error;
    auto module = tova::arm::ArmModule::Load("FUZZ.DLL", bytes, memory, &error);
    if (module) {
        // Every export lies inside the image the loader placed.
        for (const auto& [name, address] : module->Exports())
            if (address < module->Base() || address >= module->Base() + module->Size()) __builtin_trap();
    } else if (error.empty()) {
        __builtin_trap();  // a refusal always says why
    }
    return 0;
}
