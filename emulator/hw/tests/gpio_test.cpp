// The GPIO unit through the bus: latches, directions, levels, edges, the write log and the
// reset line on pin 21.
#include <gtest/gtest.h>

#include <functional>

#include "emulator/hw/bus.h"
#include "emulator/hw/gpio.h"

namespace tova::hw::test {
namespace {

constexpr uint32_t kGpio = 0xA9000000;
constexpr uint32_t GPLR0 = kGpio + 0x00, GPLR1 = kGpio + 0x04, GPDR0 = kGpio + 0x0C, GPDR1 = kGpio + 0x10,
                   GPSR0 = kGpio + 0x18, GPSR1 = kGpio + 0x1C, GPCR0 = kGpio + 0x24, GPCR1 = kGpio + 0x28,
                   GRER0 = kGpio + 0x30, GFER0 = kGpio + 0x3C, GEDR0 = kGpio + 0x48, GPDR2 = kGpio + 0x14;

class GpioTest : public ::testing::Test {
protected:
    GpioTest() {
        bus.Map(kGpio, kGpioBlockBytes, gpio, "GPIO");
        gpio.OnResetLine([this] { ++resets; });
    }

    void SetBits(uint32_t address, uint32_t mask) { bus.Write32(address, bus.Read32(address) | mask); }
    void ClearBits(uint32_t address, uint32_t mask) { bus.Write32(address, bus.Read32(address) & ~mask); }

    Gpio gpio;
    Bus bus;
    int resets = 0;
};

TEST_F(GpioTest, ColdResetSequenceFiresTheResetLineOnceAtItsLastWrite) {
    ClearBits(GPSR0, 1u << 0);
    SetBits(GPCR0, 1u << 0);
    SetBits(GPDR0, 1u << 0);
    ClearBits(GPSR0, 1u << 21);
    SetBits(GPCR0, 1u << 21);
    EXPECT_EQ(resets, 0);
    SetBits(GPDR0, 1u << 21);
    EXPECT_EQ(resets, 1);
    EXPECT_TRUE(gpio.IsOutput(21));
    EXPECT_FALSE(gpio.Level(21));
    EXPECT_FALSE(gpio.Level(0));

    // Staying low is no new edge; only another transition into "driven low" fires again.
    bus.Write32(GPCR0, 1u << 21);
    EXPECT_EQ(resets, 1);
    bus.Write32(GPSR0, 1u << 21);
    bus.Write32(GPCR0, 1u << 21);
    EXPECT_EQ(resets, 2);
}

struct PinCase {
    const char* name;
    std::function<void(Bus&)> drive;
    int resets;
};

class ResetLineTest : public GpioTest, public ::testing::WithParamInterface<PinCase> {};

TEST_P(ResetLineTest, OnlyPin21DrivenLowResets) {
    GetParam().drive(bus);
    EXPECT_EQ(resets, GetParam().resets);
}

INSTANTIATE_TEST_SUITE_P(
    Pins, ResetLineTest,
    ::testing::Values(
        PinCase{"pin21_output_low", [](Bus& b) { b.Write32(GPCR0, 1u << 21); b.Write32(GPDR0, 1u << 21); }, 1},
        PinCase{"pin21_direction_first", [](Bus& b) { b.Write32(GPDR0, 1u << 21); }, 1},
        PinCase{"pin21_output_high", [](Bus& b) { b.Write32(GPSR0, 1u << 21); b.Write32(GPDR0, 1u << 21); }, 0},
        PinCase{"pin21_cleared_but_input", [](Bus& b) { b.Write32(GPCR0, 1u << 21); }, 0},
        PinCase{"pin20_output_low", [](Bus& b) { b.Write32(GPDR0, 1u << 20); }, 0},
        PinCase{"pin22_output_low", [](Bus& b) { b.Write32(GPDR0, 1u << 22); }, 0},
        PinCase{"pin53_output_low", [](Bus& b) { b.Write32(GPDR1, 1u << 21); }, 0},
        PinCase{"pin85_bank2", [](Bus& b) { b.Write32(GPDR2, 1u << 21); }, 0},
        PinCase{"every_other_pin", [](Bus& b) { b.Write32(GPDR0, ~(1u << 21)); b.Write32(GPDR1, ~0u); }, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(GpioTest, LatchesDirectionsAndLevels) {
    gpio.SetInputLevel(5, true);
    bus.Write32(GPSR0, 0x00400000);  // pin 22 latch high, still an input
    EXPECT_EQ(bus.Read32(GPLR0), 1u << 5);
    bus.Write32(GPDR0, 0x00400000);
    EXPECT_EQ(bus.Read32(GPLR0), (1u << 5) | (1u << 22));
    // The flasher's way of making pin 60 an output driven high.
    SetBits(GPSR1, 1u << 28);
    SetBits(GPDR1, 1u << 28);
    EXPECT_TRUE(gpio.Level(60));
    EXPECT_EQ(bus.Read32(GPLR1), 1u << 28);
    bus.Write32(GPCR1, 0x00000380);  // pins 39, 40, 41 latches low
    EXPECT_FALSE(gpio.OutputLatch(39));
    EXPECT_TRUE(gpio.Level(60));
    // Set and clear registers read as zero; levels cannot be written.
    EXPECT_EQ(bus.Read32(GPSR0), 0u);
    EXPECT_EQ(bus.Read32(GPCR1), 0u);
    bus.Write32(GPLR0, 0);
    EXPECT_TRUE(gpio.Level(22));
}

TEST_F(GpioTest, EdgesAreDetectedWhereEnabledAndClearedByWritingOnes) {
    bus.Write32(GRER0, (1u << 4) | (1u << 2));
    bus.Write32(GFER0, 1u << 4);
    gpio.SetInputLevel(4, true);
    gpio.SetInputLevel(2, true);
    gpio.SetInputLevel(3, true);  // not enabled
    EXPECT_EQ(bus.Read32(GEDR0), (1u << 4) | (1u << 2));
    bus.Write32(GEDR0, 1u << 2);
    EXPECT_EQ(bus.Read32(GEDR0), 1u << 4);
    bus.Write32(GEDR0, 1u << 4);
    gpio.SetInputLevel(2, false);  // falling, not enabled for pin 2
    gpio.SetInputLevel(4, false);
    EXPECT_EQ(bus.Read32(GEDR0), 1u << 4);
    // Switching edge detection off as the flasher does: read, clear the bit, write back.
    bus.Write32(GRER0, bus.Read32(GRER0) & ~0x10u);
    EXPECT_EQ(gpio.Register(0x30), 1u << 2);
}

TEST_F(GpioTest, EveryWriteIsLoggedInOrder) {
    bus.Write32(GPSR0, 0x00400000);
    bus.Write32(GPCR1, 0x00000380);
    bus.Write32(GPCR0, 0x00080000);
    std::vector<GpioWrite> writes = gpio.Writes();
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].offset, 0x18u);
    EXPECT_EQ(writes[0].value, 0x00400000u);
    EXPECT_EQ(writes[1].offset, 0x28u);
    EXPECT_EQ(writes[2].offset, 0x24u);
    EXPECT_EQ(writes[2].value, 0x00080000u);
}

TEST_F(GpioTest, NarrowAccessesAndHolesAreGuestErrors) {
    bus.Write16(GPDR0, 0xFFFF);
    EXPECT_EQ(bus.Read8(GPLR0), 0u);
    bus.Write32(kGpio + 0x6C, 1);
    EXPECT_EQ(bus.Read32(kGpio + 0x800), 0u);
    EXPECT_EQ(bus.GuestErrors().Count(GuestErrorKind::kDeviceAccess), 4u);
    EXPECT_EQ(bus.GuestErrors().Entries()[2].address, kGpio + 0x6C);
    EXPECT_EQ(gpio.Register(0x0C), 0u);
    EXPECT_TRUE(gpio.Writes().empty());
}

TEST_F(GpioTest, ResetReturnsToPowerOnButKeepsTheOutsideWorld) {
    gpio.SetInputLevel(7, true);
    bus.Write32(GPSR0, 0xFF);
    bus.Write32(GPDR0, 0x0F);
    bus.Write32(GRER0, 0x10);
    bus.Write32(kGpio + 0x54, 0xAAAA);
    gpio.Reset();
    EXPECT_EQ(bus.Read32(GPDR0), 0u);
    EXPECT_EQ(bus.Read32(GRER0), 0u);
    EXPECT_EQ(bus.Read32(kGpio + 0x54), 0u);
    EXPECT_EQ(bus.Read32(GPLR0), 1u << 7);
    EXPECT_EQ(resets, 0);
    EXPECT_EQ(gpio.Writes().size(), 4u);
}

}  // namespace
}  // namespace tova::hw::test
