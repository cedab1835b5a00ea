// The bus: windows, widths, host pointers and the guest-error log.
#include <gtest/gtest.h>

#include "emulator/hw/bus.h"
#include "emulator/hw/ram.h"
#include "emulator/hw/registers.h"

namespace tova::hw::test {
namespace {

class BusTest : public ::testing::Test {
protected:
    BusTest() {
        bus.Map(0x84000000, ram.Size(), ram, "RAM (cached)");
        bus.Map(0xA4000000, ram.Size(), ram, "RAM");
        bus.Map(0xA8100000, registers.Size(), registers, "registers");
    }

    Ram ram{0x10000};
    RecordedRegisters registers{0x100};
    Bus bus;
};

TEST_F(BusTest, LittleEndianAccessesOfEveryWidth) {
    bus.Write32(0xA4000010, 0x11223344);
    EXPECT_EQ(bus.Read8(0xA4000010), 0x44);
    EXPECT_EQ(bus.Read8(0xA4000013), 0x11);
    EXPECT_EQ(bus.Read16(0xA4000012), 0x1122);
    bus.Write8(0xA4000011, 0xAB);
    bus.Write16(0xA4000012, 0xCDEF);
    EXPECT_EQ(bus.Read32(0xA4000010), 0xCDEFAB44u);
    EXPECT_EQ(ram.Data()[0x11], 0xAB);
}

TEST_F(BusTest, OneDeviceBehindTwoWindows) {
    bus.Write32(0x84000100, 0xDEADBEEF);
    EXPECT_EQ(bus.Read32(0xA4000100), 0xDEADBEEFu);
    EXPECT_EQ(bus.HostPointer(0x84000100, 4), bus.HostPointer(0xA4000100, 4));
}

struct UnmappedCase {
    const char* name;
    bool write;
    uint32_t address;
    unsigned width;
};

class UnmappedTest : public BusTest, public ::testing::WithParamInterface<UnmappedCase> {};

TEST_P(UnmappedTest, IsLoggedAsAGuestErrorAndReadsZero) {
    const UnmappedCase& c = GetParam();
    if (c.write)
        bus.Write(c.address, 0x5A5A5A5A, c.width);
    else
        EXPECT_EQ(bus.Read(c.address, c.width), 0u);

    std::vector<GuestError> errors = bus.GuestErrors().Entries();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].kind, GuestErrorKind::kUnmapped);
    EXPECT_EQ(errors[0].address, c.address);
    EXPECT_EQ(errors[0].width, c.width);
    EXPECT_EQ(errors[0].write, c.write);
    EXPECT_EQ(bus.GuestErrors().Count(GuestErrorKind::kUnmapped), 1u);
    EXPECT_NE(Describe(errors[0]).find("unmapped"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, UnmappedTest,
    ::testing::Values(UnmappedCase{"below_everything", false, 0x00000000, 4},
                      UnmappedCase{"just_past_ram", true, 0xA4010000, 4},
                      UnmappedCase{"between_windows", false, 0x90000000, 2},
                      UnmappedCase{"past_registers", true, 0xA8100100, 1},
                      UnmappedCase{"top_of_space", false, 0xFFFFFFFC, 4}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BusTest, MisalignedAccessIsLoggedAndRoundedDown) {
    bus.Write32(0xA4000020, 0x01020304);
    EXPECT_EQ(bus.Read32(0xA4000022), 0x01020304u);
    bus.Write16(0xA4000025, 0xBEEF);
    EXPECT_EQ(bus.Read16(0xA4000024), 0xBEEF);
    std::vector<GuestError> errors = bus.GuestErrors().Entries();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].kind, GuestErrorKind::kMisaligned);
    EXPECT_EQ(errors[0].address, 0xA4000022u);
    EXPECT_EQ(errors[1].address, 0xA4000025u);
    EXPECT_TRUE(errors[1].write);
}

TEST_F(BusTest, WidthOtherThanOneTwoOrFourIsRefused) {
    bus.Write(0xA4000000, 0xFFFFFFFF, 3);
    EXPECT_EQ(bus.Read32(0xA4000000), 0u);
    EXPECT_EQ(bus.GuestErrors().Count(GuestErrorKind::kBadWidth), 1u);
}

TEST_F(BusTest, GuestErrorsCanBeMadeFatal) {
    bus.GuestErrors().SetAction(GuestErrorAction::kThrow);
    EXPECT_THROW(bus.Read32(0x12345678), GuestErrorException);
    try {
        bus.Write32(0x9000000C, 1);
        FAIL() << "an unmapped write did not throw";
    } catch (const GuestErrorException& e) {
        EXPECT_EQ(e.Error().address, 0x9000000Cu);
        EXPECT_TRUE(e.Error().write);
    }
    EXPECT_EQ(bus.GuestErrors().Count(), 2u);
    bus.GuestErrors().SetAction(GuestErrorAction::kLog);
    EXPECT_EQ(bus.Read32(0x12345678), 0u);
}

TEST_F(BusTest, SinkSeesEveryErrorAndTheLogKeepsABoundedNumber) {
    uint64_t seen = 0;
    bus.GuestErrors().SetSink([&](const GuestError&) { ++seen; });
    const uint64_t many = GuestErrorLog::kKeptEntries + 10;
    for (uint64_t i = 0; i < many; ++i) bus.Read32(0x10000000);
    EXPECT_EQ(seen, many);
    EXPECT_EQ(bus.GuestErrors().Count(), many);
    EXPECT_EQ(bus.GuestErrors().Entries().size(), GuestErrorLog::kKeptEntries);
    bus.GuestErrors().Clear();
    EXPECT_EQ(bus.GuestErrors().Count(), 0u);
}

TEST_F(BusTest, HostPointerOnlyForWholeRangesOfRam) {
    EXPECT_EQ(bus.HostPointer(0xA4000000, 0x10000), ram.Data());
    EXPECT_EQ(bus.HostPointer(0x84000800, 16), ram.Data() + 0x800);
    EXPECT_EQ(bus.HostPointer(0xA400FFF0, 0x20), nullptr);  // runs past the window
    EXPECT_EQ(bus.HostPointer(0xA8100000, 4), nullptr);     // registers are not memory
    EXPECT_EQ(bus.HostPointer(0x50000000, 4), nullptr);
}

TEST_F(BusTest, OverlappingOrEmptyWindowsAreRefused) {
    Ram other(0x1000);
    EXPECT_THROW(bus.Map(0xA400F000, 0x2000, other, "overlap"), std::invalid_argument);
    EXPECT_THROW(bus.Map(0x83FFF800, 0x1000, other, "overlap below"), std::invalid_argument);
    EXPECT_THROW(bus.Map(0xB0000000, 0, other, "empty"), std::invalid_argument);
    EXPECT_THROW(bus.Map(0xFFFFF000, 0x2000, other, "wraps"), std::invalid_argument);
    bus.Map(0xA4010000, 0x1000, other, "next door");
    EXPECT_EQ(bus.WindowAt(0xA4010FFF)->name, "next door");
    EXPECT_EQ(bus.WindowAt(0xA400FFFF)->name, "RAM");
    EXPECT_EQ(bus.Windows().size(), 4u);
}

TEST_F(BusTest, RecordedRegistersKeepWritesInOrderWithTheirWidths) {
    registers.SetPowerOnValue(0x10, 0xAAAA5555);
    bus.Write32(0xA8100008, 0x7FF27FF2);
    bus.Write16(0xA8100012, 0x1234);
    bus.Write8(0xA8100010, 0x99);
    EXPECT_EQ(bus.Read32(0xA8100010), 0x12345599u);
    std::vector<RegisterWrite> writes = registers.Writes();
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].offset, 0x08u);
    EXPECT_EQ(writes[0].value, 0x7FF27FF2u);
    EXPECT_EQ(writes[0].width, 4u);
    EXPECT_EQ(writes[1].offset, 0x12u);
    EXPECT_EQ(writes[1].width, 2u);
    EXPECT_EQ(writes[2].offset, 0x10u);
    EXPECT_EQ(writes[2].value, 0x99u);

    registers.Reset();
    EXPECT_EQ(bus.Read32(0xA8100010), 0xAAAA5555u);
    EXPECT_EQ(bus.Read32(0xA8100008), 0u);
    EXPECT_EQ(registers.Writes().size(), 3u);
}

}  // namespace
}  // namespace tova::hw::test
