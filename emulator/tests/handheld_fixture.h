// A handheld in a temporary state folder, on a clock scaled to 0 so that boot delays and
// sleeps take no time. The flash holds only a ROM identity record unless a test gives more.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock/clock.h"
#include "shared/rom_identity.h"
#include "temp_folder.h"
#include "emulator/machine.h"
#include "emulator/object_store.h"
#include "emulator/registry.h"

namespace tova::testing {

struct RomRecordSpec {
    Model model = Model::kAdvanced;
    uint32_t build = 0x05010100;
    uint32_t languageId = 1033;
    std::u16string versionText = u"5.01.01";
};

inline RomIdentity MakeRomIdentity(const RomRecordSpec& spec) {
    RomIdentity r{};
    std::memcpy(r.magic, kRomIdentityMagic, sizeof r.magic);
    r.build = spec.build;
    r.languageId = spec.languageId;
    r.memoryConfig = spec.model == Model::kAdvanced ? kMemoryConfigAdvanced : kMemoryConfigBasic;
    for (size_t i = 0; i < spec.versionText.size() && i < 16; ++i) r.versionText[i] = spec.versionText[i];
    r.check = RomIdentityCheck(r);
    return r;
}

// Flash content from 0xA0040000: the ROM identity record alone.
inline std::vector<uint8_t> KernelImage(const RomRecordSpec& spec = {}) {
    RomIdentity r = MakeRomIdentity(spec);
    std::vector<uint8_t> image(sizeof r);
    std::memcpy(image.data(), &r, sizeof r);
    return image;
}

class HandheldTest : public ::testing::Test {
protected:
    void SetUp() override { SetTimeScale(0); }
    void TearDown() override { machine_.reset(); }

    std::filesystem::path StateFolder() const { return dir_ / "handheld"; }

    Machine& Make(const MachineConfig& config = {}, const std::vector<uint8_t>& image = KernelImage()) {
        machine_ = Machine::Create(StateFolder(), config, image);
        AllowBuildModules();
        return *machine_;
    }

    Machine& MakeBooted(const MachineConfig& config = {}) {
        Make(config, KernelImage({config.model}));
        EXPECT_TRUE(machine_->Boot());
        return *machine_;
    }

    // Resets and waits for the boot that follows.
    void ResetAndWait(ResetKind kind) {
        uint32_t before = machine_->BootCount();
        machine_->RequestReset(kind);
        ASSERT_TRUE(machine_->WaitUntilBootCount(before + 1, 10000));
    }

    Machine& M() { return *machine_; }

    // The build's modules (the probe program) may run on this handheld.
    void AllowBuildModules() {
        machine_->SetHostModuleFolder(std::filesystem::path(TOVA_PROBE_MODULE).parent_path());
    }

    TempFolder dir_;
    std::unique_ptr<Machine> machine_;
};

inline std::vector<uint8_t> Bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

}  // namespace tova::testing
