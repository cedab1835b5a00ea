// One emulated handheld per fuzzing process, booted in the scratch folder on a clock scaled
// to 0, for targets whose code runs on the handheld or talks to it.
#pragma once

#include <cstring>
#include <memory>
#include <vector>

#include "platform/clock/clock.h"
#include "scratch_folder.h"
#include "shared/rom_identity.h"
#include "emulator/machine.h"

namespace fuzz {

inline std::vector<uint8_t> IdentityOnlyRom(const tova::MachineConfig& config) {
    RomIdentity identity{};
    std::memcpy(identity.magic, kRomIdentityMagic, sizeof identity.magic);
    identity.build = 0x05010100;
    identity.languageId = config.defaultLanguageId;
    identity.memoryConfig = config.Addresses().memoryConfig;
    const char16_t version[] = u"5.01.01";
    std::memcpy(identity.versionText, version, sizeof version);
    identity.check = RomIdentityCheck(identity);
    std::vector<uint8_t> image(sizeof identity);
    std::memcpy(image.data(), &identity, sizeof identity);
    return image;
}

// Never destroyed: the fuzzer ends the process from inside a run.
inline tova::Machine& BootedHandheld() {
    static tova::Machine* machine = [] {
        tova::SetTimeScale(0);
        tova::MachineConfig config;
        config.bootDelayMs = 0;
        auto made = tova::Machine::Create(Scratch().Path() / "handheld", config, IdentityOnlyRom(config));
        if (!made->Boot()) std::abort();
        return made.release();
    }();
    return *machine;
}

}  // namespace fuzz
