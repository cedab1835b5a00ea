// FlashPrepare puts the machine code of the four update-path routines into the routine
// area of RAM, back to back, and the routines are reached through the recorded table.
#include <gtest/gtest.h>

#include <cstring>

#include "handheld.h"
#include "device/flasher/flash_driver.h"
#include "shared/configuration.h"

namespace flasher_test {
namespace {

class FlashPlacementTest : public ::testing::Test {
protected:
    void TearDown() override { g_flashRoutineArea = 0; }
    BoardUnderTest board_;
};

TEST_F(FlashPlacementTest, CopiesTheRoutinesBackToBackInOrder) {
    g_flashRoutineArea = kAdvancedModel.flashRoutineArea;
    ASSERT_EQ(FlashPrepare(), kFlashOk);
    const void* entries[4] = {reinterpret_cast<const void*>(&FlashEraseBlock),
                              reinterpret_cast<const void*>(&FlashEraseRange),
                              reinterpret_cast<const void*>(&FlashWriteBuffer),
                              reinterpret_cast<const void*>(&FlashProgramRange)};
    uint32_t next = kAdvancedModel.flashRoutineArea;
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(g_flashRoutines.areaAddress[i], next) << i;
        ASSERT_GT(g_flashRoutines.areaBytes[i], 0u) << i;
        const void* copy = board_.Bus().HostPointer(next, g_flashRoutines.areaBytes[i]);
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(std::memcmp(copy, entries[i], g_flashRoutines.areaBytes[i]), 0) << "routine " << i;
        next += g_flashRoutines.areaBytes[i];
    }
    EXPECT_LE(next, kAdvancedModel.flashRoutineArea + 0x13FFC) << "inside RAM";
    EXPECT_EQ(g_flashRoutines.programRange, &FlashProgramRange);
    EXPECT_EQ(g_flashRoutines.eraseRange, &FlashEraseRange);
    EXPECT_EQ(g_flashRoutines.eraseBlock, &FlashEraseBlock);
    EXPECT_EQ(g_flashRoutines.writeBuffer, &FlashWriteBuffer);
}

TEST_F(FlashPlacementTest, RefusesAnAreaThatIsNotRam) {
    g_flashRoutineArea = 0xBE000000;  // display memory
    EXPECT_EQ(FlashPrepare(), kFlashNotFixedUp);
    g_flashRoutineArea = kAdvancedModel.flashRoutineArea + 0x13FF0;  // runs past the top of RAM
    EXPECT_EQ(FlashPrepare(), kFlashNotFixedUp);
}

}  // namespace
}  // namespace flasher_test
