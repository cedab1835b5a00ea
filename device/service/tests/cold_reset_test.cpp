// ColdReset inside the emulated handheld: the warm-boot token of the detected model's
// reserved page is cleared, the reset line is driven in six steps, and a cold boot follows.
#include <gtest/gtest.h>

#include <vector>

#include "emulated_handheld.h"
#include "platform/clock/clock.h"
#include "shared/configuration.h"
#include "emulator/hw/gpio.h"
#include "emulator/object_store.h"
#include "emulator/registry.h"

namespace harlix_test {
namespace {

using tova::hw::GpioWrite;
namespace reg = tova::hw::gpio_reg;

TEST(ColdReset, ClearsTheTokenDrivesTheResetLineAndTheHandheldBootsCold) {
    for (tova::Model model : {tova::Model::kAdvanced, tova::Model::kBasic}) {
        SCOPED_TRACE(model == tova::Model::kAdvanced ? "advanced" : "basic");
        tova::MachineConfig config;
        config.model = model;
        EmulatedHandheld handheld(config);
        ASSERT_TRUE(handheld.Ready());
        tova::Machine& m = handheld.Machine();
        ASSERT_TRUE(m.Store().WriteFile(u"\\Temp\\lost.bin", {1, 2, 3}));
        ASSERT_TRUE(m.Reg().CreateKey(u"Software\\ColdResetTest"));
        const uint32_t tokenAddress =
            config.Addresses().reservedRamPage + kReservedWordWarmBootToken;
        ASSERT_NE(m.Bus().Read32(tokenAddress), 0u) << "a booted handheld holds its token";

        const uint32_t direction = m.Gpio().Register(reg::kGPDR0);
        m.Gpio().ClearWrites();
        const uint32_t boots = m.BootCount();
        const uint64_t started = tova::NominalNowMs();

        const InvokeResult r = handheld.InvokeWithAll("ColdReset");
        if (r.completed) {
            EXPECT_EQ(r.hr, S_OK);
        }
        EXPECT_FALSE(r.outputSet);
        ASSERT_TRUE(m.WaitUntilBootCount(boots + 1, kBootWaitMs)) << "no reset followed";

        const std::vector<GpioWrite> writes = m.Gpio().Writes();
        const std::vector<GpioWrite> expected = {
            {reg::kGPSR0, 0},
            {reg::kGPCR0, 1u << 0},
            {reg::kGPDR0, direction | 1u << 0},
            {reg::kGPSR0, 0},
            {reg::kGPCR0, 1u << 21},
            {reg::kGPDR0, direction | 1u << 0 | 1u << 21},
        };
        ASSERT_GE(writes.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(writes[i].offset, expected[i].offset) << "step " << i + 1;
            EXPECT_EQ(writes[i].value, expected[i].value) << "step " << i + 1;
        }
        // The library waits half a second before it touches the hardware.
        EXPECT_GE(tova::NominalNowMs() - started, 500u);

        // With the token gone the reset line gives a cold boot: store wiped, registry back
        // to the ROM defaults.
        EXPECT_FALSE(m.LastBootWarm());
        EXPECT_FALSE(m.Store().Exists(u"\\Temp\\lost.bin"));
        EXPECT_FALSE(m.Reg().KeyExists(u"Software\\ColdResetTest"));
    }
}

}  // namespace
}  // namespace harlix_test
