// What a person watching the flash is told: whether each chip is busy or out of read-array
// mode, and the operations it has started, counted for good.
#include <gtest/gtest.h>

#include "flash_fixture.h"

namespace tova::hw::test {
namespace {

TEST_F(FlashTest, ActivityOfAFreshPartIsIdleWithNothingCounted) {
    for (unsigned chip = 0; chip < 2; ++chip) {
        FlashActivity a = flash.Activity(chip);
        EXPECT_TRUE(a.readArray);
        EXPECT_FALSE(a.busy);
        EXPECT_FALSE(a.anyOperation);
        EXPECT_EQ(a.erases + a.programs + a.lockChanges, 0u);
    }
    EXPECT_THROW(flash.Activity(2), std::out_of_range);
}

TEST_F(FlashTest, ActivityCountsEachKindAndKeepsTheLastOperation) {
    BlockErase(bus, kFlashBase + kBlock5);
    FlashActivity erased = flash.Activity(1);
    EXPECT_EQ(erased.erases, 1u);
    EXPECT_TRUE(erased.anyOperation);
    EXPECT_EQ(erased.lastKind, FlashOperationKind::kErase);
    EXPECT_EQ(erased.lastEraseOffset, kBlock5);
    EXPECT_FALSE(erased.readArray);  // answering status after the erase
    EXPECT_FALSE(erased.busy);       // ready: the driver polled it

    WriteToBuffer(bus, kFlashBase + kBlock5 + 0x40, Words(Pattern(64, 3)));
    WordProgram(bus, kFlashBase + kBlock5 + 0x100, 0x12345678);
    ClearBlockLocks(bus, kFlashBase);
    ReadArrayMode(bus, kFlashBase);
    for (unsigned chip = 0; chip < 2; ++chip) {
        FlashActivity a = flash.Activity(chip);
        EXPECT_EQ(a.erases, 1u);
        EXPECT_EQ(a.programs, 2u);
        EXPECT_EQ(a.lockChanges, 1u);
        EXPECT_EQ(a.lastKind, FlashOperationKind::kClearLocks);
        EXPECT_EQ(a.lastEraseOffset, kBlock5);
        EXPECT_EQ(a.lastProgramOffset, kBlock5 + 0x100);
        EXPECT_TRUE(a.readArray);
    }
    // The counters outlive the log that tests clear, and a reset.
    flash.ClearLog();
    flash.Reset();
    EXPECT_EQ(flash.Activity(0).programs, 2u);
}

TEST_F(FlashTest, ActivityTellsABusyChipFromAReadyOne) {
    flash.SetBusyDuring(0, 10);
    bus.Write32(kFlashBase + kBlock5, Both(0x20));
    bus.Write32(kFlashBase + kBlock5, Both(0xD0));
    EXPECT_TRUE(flash.Activity(0).busy);
    EXPECT_EQ(flash.Activity(0).lastKind, FlashOperationKind::kErase);
    WaitReady(bus, kFlashBase + kBlock5);
    EXPECT_FALSE(flash.Activity(0).busy);
}

TEST_F(FlashTest, ActivityShowsAChipInTheMiddleOfACommand) {
    bus.Write32(kFlashBase + kBlock5, Both(0x20));  // erase set up, not yet confirmed
    EXPECT_FALSE(flash.Activity(0).readArray);
    EXPECT_FALSE(flash.Activity(0).anyOperation);
}

}  // namespace
}  // namespace tova::hw::test
