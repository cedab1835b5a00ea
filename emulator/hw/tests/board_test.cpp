// The board: every device at its address, and what a hardware reset does and keeps.
#include <gtest/gtest.h>

#include "flash_sequences.h"
#include "emulator/hw/board.h"

namespace tova::hw::test {
namespace {

struct WindowCase {
    uint32_t address;
    const char* name;
};

TEST(BoardTest, DevicesSitAtTheKernelsAddresses) {
    for (const ModelAddresses* model : {&kAdvancedModel, &kBasicModel}) {
        Board board(*model);
        const uint32_t ramEnd = model->ramBytes - 4;
        const WindowCase cases[] = {
            {0x80000000, "flash (cached)"},      {0x81FFFFFC, "flash (cached)"},
            {0xA0000000, "flash"},               {0xA1FFFFFC, "flash"},
            {0x84000000, "RAM (cached)"},        {0x84000000 + ramEnd, "RAM (cached)"},
            {0xA4000000, "RAM"},                 {0xA4000000 + ramEnd, "RAM"},
            {model->reservedRamPage + 0x690, "RAM"}, {model->flashRoutineArea, "RAM (cached)"},
            {0xA8100004, "memory controller"},
            {0xA8F00004, "registers quietened before flashing"},
            {0xA9000030, "GPIO"},
            {0xA9500004, "registers quietened at the flasher's start"},
            {0xBE000000, "display frame 0"},     {0xBE042000, "display frame 1"},
            {0xBE0401B0, "display controller"},  {0xBE041FFC, "display controller"},
        };
        for (const WindowCase& c : cases) {
            const BusWindow* window = board.Bus().WindowAt(c.address);
            ASSERT_NE(window, nullptr) << std::hex << c.address;
            EXPECT_EQ(window->name, c.name) << std::hex << c.address;
        }
        EXPECT_EQ(board.Bus().WindowAt(0x84000000 + model->ramBytes), nullptr);
        EXPECT_EQ(board.Bus().WindowAt(0x82000000), nullptr);
    }
}

TEST(BoardTest, ReservedPageIsTheSameRamInBothWindows) {
    Board board(kBasicModel);
    const uint32_t token = kBasicModel.reservedRamPage + 0x690;
    board.Bus().Write32(token, 0x600DB007);
    EXPECT_EQ(board.Bus().Read32(token - kRamUncachedBase + kRamCachedBase), 0x600DB007u);
    for (int i = 0; i < 4; ++i) board.Bus().Write8(token + i, 0);
    EXPECT_EQ(board.Ram().Data()[token - kRamUncachedBase + 1], 0);
    EXPECT_EQ(board.Bus().Read32(token), 0u);
}

TEST(BoardTest, ScreenBaseWordReadsNonZeroAfterPowerOnAndCanBeChanged) {
    Board board(kAdvancedModel);
    EXPECT_NE(board.Bus().Read32(0xBE0401B0), 0u);
    board.DisplayController().Set(kDisplayScreenBaseWord, 0);
    EXPECT_EQ(board.Bus().Read32(0xBE0401B0), 0u);
    board.Reset();
    EXPECT_NE(board.Bus().Read32(0xBE0401B0), 0u);
}

TEST(BoardTest, RegistersAtFindsTheRecordedBlocks) {
    Board board(kAdvancedModel);
    board.Bus().Write32(0xA8F00004, 0);
    board.Bus().Write32(0xA9500004, 0);
    board.Bus().Write32(0xA8100008, 0x7FF27FF2);
    board.Bus().Write32(0xBE040100, 0);
    EXPECT_EQ(board.RegistersAt(0xA8F00004)->Writes().size(), 1u);
    EXPECT_EQ(board.RegistersAt(0xA9500004)->Writes().at(0).offset, 4u);
    EXPECT_EQ(board.RegistersAt(0xA8100000), &board.MemoryController());
    EXPECT_EQ(board.MemoryController().Writes().at(0).value, 0x7FF27FF2u);
    EXPECT_EQ(board.DisplayController().Writes().at(0).offset, 0x100u);
    EXPECT_EQ(board.RegistersAt(0xA9000000), nullptr);
    EXPECT_EQ(board.RegistersAt(0x12345678), nullptr);
}

TEST(BoardTest, HardwareResetResetsDevicesAndKeepsMemory) {
    Board board(kAdvancedModel);
    Bus& bus = board.Bus();
    board.Flash().LoadImage(0x40000, std::vector<uint8_t>{1, 2, 3, 4});
    bus.Write32(0xA0040000, Both(0x70));  // flash left in status mode
    bus.Write32(0xA9000018, 1u << 22);
    bus.Write32(0xA900000C, 1u << 22);
    bus.Write32(0xA8100004, 0x00100000);
    bus.Write32(0xA4000100, 0x12345678);
    bus.Write16(0xBE042000, 0xF800);
    uint32_t reservation = board.Pages().Allocate(0x10000);
    ASSERT_NE(reservation, 0u);

    board.Reset();

    EXPECT_EQ(bus.Read32(0xA0040000), 0x04030201u);
    EXPECT_FALSE(board.Gpio().IsOutput(22));
    EXPECT_EQ(bus.Read32(0xA8100004), 0u);
    EXPECT_EQ(bus.Read32(0xA4000100), 0x12345678u);
    EXPECT_EQ(board.Display().Pixel(0, 0), 0xF800);
    EXPECT_EQ(board.Pages().PhysicalAddress(reservation), 0u);
    EXPECT_EQ(board.Pages().CommittedPages(), 0u);
}

TEST(BoardTest, PinTwentyOneReachesTheResetListener) {
    Board board(kAdvancedModel);
    int resets = 0;
    board.Gpio().OnResetLine([&] { ++resets; });
    board.Bus().Write32(0xA9000024, 0x00200000);
    board.Bus().Write32(0xA900000C, board.Bus().Read32(0xA900000C) | 0x00200000);
    EXPECT_EQ(resets, 1);
}

}  // namespace
}  // namespace tova::hw::test
