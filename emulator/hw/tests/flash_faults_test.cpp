// The flash model's fault knobs, seen through the bus as a flash driver would see them.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "flash_fixture.h"
#include "platform/clock/clock.h"

namespace tova::hw::test {
namespace {

constexpr uint32_t kBlock = kFlashBase + kBlock5;

// Status words read until both chips are ready, the ready one included.
std::vector<uint32_t> PollUntilReady(Bus& bus, uint32_t address, int limit = 100) {
    std::vector<uint32_t> polls;
    for (int i = 0; i < limit; ++i) {
        polls.push_back(bus.Read32(address));
        if ((polls.back() & kBothReady) == kBothReady) break;
    }
    return polls;
}

// One chip's 16-bit halves of a stretch of bus words.
std::vector<uint16_t> ChipHalves(const std::vector<uint8_t>& bus, unsigned chip) {
    std::vector<uint16_t> halves;
    for (size_t at = chip * 2; at + 1 < bus.size(); at += 4) halves.push_back(uint16_t(bus[at] | bus[at + 1] << 8));
    return halves;
}

TEST_F(FlashTest, BusyBeforeAnOperationForSomePolls) {
    flash.SetBusyBefore(1, 3);
    bus.Write32(kBlock, Both(0x70));
    EXPECT_EQ(PollUntilReady(bus, kBlock),
              (std::vector<uint32_t>{0x00000080, 0x00000080, 0x00000080, 0x00800080}));
    EXPECT_EQ(BlockErase(bus, kBlock), kBothReady);
}

TEST_F(FlashTest, BusyBeforeForeverUntilTheKnobIsCleared) {
    flash.SetBusyBefore(0, kFlashForever);
    bus.Write32(kBlock, Both(0x70));
    std::vector<uint32_t> polls = PollUntilReady(bus, kBlock, 5000);
    EXPECT_EQ(polls.size(), 5000u);
    EXPECT_EQ(polls.back(), 0x00800000u);

    // Only the ready chip takes an erase meanwhile.
    bus.Write32(kBlock, Both(0x20));
    bus.Write32(kBlock, Both(0xD0));
    EXPECT_EQ(flash.EraseCount(0, 5), 0u);
    EXPECT_EQ(flash.EraseCount(1, 5), 1u);

    flash.SetBusyBefore(0, 0);
    EXPECT_EQ(ReadStatus(bus, kBlock), kBothReady);
    EXPECT_EQ(BlockErase(bus, kBlock), kBothReady);
    EXPECT_EQ(flash.EraseCount(0, 5), 1u);
}

TEST_F(FlashTest, BusyDuringAddsPollsToEveryOperation) {
    FlashTiming timing;
    timing.erasePolls = 3;
    timing.programPolls = 1;
    flash.SetTiming(0, timing);
    flash.SetTiming(1, timing);
    flash.SetBusyDuring(1, 5);

    bus.Write32(kBlock, Both(0x20));
    bus.Write32(kBlock, Both(0xD0));
    std::vector<uint32_t> polls = PollUntilReady(bus, kBlock);
    ASSERT_EQ(polls.size(), 9u);
    EXPECT_EQ(polls[2], 0u);
    EXPECT_EQ(polls[3], 0x00000080u);
    EXPECT_EQ(polls[7], 0x00000080u);
    EXPECT_EQ(polls[8], kBothReady);

    bus.Write32(kBlock, Both(0x40));
    bus.Write32(kBlock, 0);
    EXPECT_EQ(PollUntilReady(bus, kBlock).size(), 7u);  // 1 + 5 busy reads, then ready
}

TEST_F(FlashTest, BusyDuringForeverNeverFinishesUntilReset) {
    flash.LoadImage(kBlock5, Pattern(16, 2));
    flash.SetBusyDuring(0, kFlashForever);
    bus.Write32(kBlock, Both(0x20));
    bus.Write32(kBlock, Both(0xD0));
    EXPECT_EQ(PollUntilReady(bus, kBlock, 5000).back(), 0x00800000u);
    ReadArrayMode(bus, kBlock);  // dropped by the busy chip
    EXPECT_EQ(bus.Read16(kBlock), 0);

    flash.SetBusyDuring(0, 0);
    flash.Reset();
    EXPECT_EQ(bus.Read32(kBlock), 0xFFFFFFFFu);
}

struct TimesCase {
    uint32_t times;
    int failures;  // of four attempts
};

class FailEraseTest : public FlashTest, public ::testing::WithParamInterface<TimesCase> {};

TEST_P(FailEraseTest, EraseFailsTheGivenNumberOfTimesAndKeepsTheData) {
    const std::vector<uint8_t> data = Pattern(kFlashBusBlockBytes, 4);
    flash.FailErase(0, 5, GetParam().times);
    for (int attempt = 0; attempt < 4; ++attempt) {
        SCOPED_TRACE(attempt);
        flash.LoadImage(kBlock5, data);
        uint32_t status = BlockErase(bus, kBlock);
        ClearStatus(bus, kBlock);
        std::vector<uint16_t> low = ChipHalves(flash.ReadArray(kBlock5, kFlashBusBlockBytes), 0);
        std::vector<uint16_t> high = ChipHalves(flash.ReadArray(kBlock5, kFlashBusBlockBytes), 1);
        EXPECT_TRUE(std::all_of(high.begin(), high.end(), [](uint16_t w) { return w == 0xFFFF; }));
        if (attempt < GetParam().failures) {
            EXPECT_EQ(status, 0x008000A0u);
            EXPECT_EQ(low, ChipHalves(data, 0));
        } else {
            EXPECT_EQ(status, kBothReady);
            EXPECT_TRUE(std::all_of(low.begin(), low.end(), [](uint16_t w) { return w == 0xFFFF; }));
        }
    }
    EXPECT_EQ(flash.EraseCount(0, 5), uint32_t(4 - GetParam().failures));
}

INSTANTIATE_TEST_SUITE_P(Times, FailEraseTest,
                         ::testing::Values(TimesCase{1, 1}, TimesCase{2, 2}, TimesCase{kFlashAlways, 4}));

class FailProgramTest : public FlashTest, public ::testing::WithParamInterface<TimesCase> {};

TEST_P(FailProgramTest, ProgramFailsTheGivenNumberOfTimesAtThatWordOnly) {
    flash.FailProgram(1, kBlock5 + 8, GetParam().times);
    for (int attempt = 0; attempt < 4; ++attempt) {
        SCOPED_TRACE(attempt);
        uint32_t at = kBlock5 + 8;
        uint32_t status = WordProgram(bus, kFlashBase + at, 0x00000000);
        ClearStatus(bus, kFlashBase);
        uint32_t neighbour = WordProgram(bus, kFlashBase + at + 4, 0x00000000);
        if (attempt < GetParam().failures) {
            EXPECT_EQ(status, 0x00900080u);
            EXPECT_EQ(ArrayWord(at), 0xFFFF0000u);
        } else {
            EXPECT_EQ(status, kBothReady);
            EXPECT_EQ(ArrayWord(at), 0u);
        }
        EXPECT_EQ(neighbour, kBothReady);
        EXPECT_EQ(ArrayWord(at + 4), 0u);
        flash.LoadImage(kBlock5, std::vector<uint8_t>(64, 0xFF));
    }
}

INSTANTIATE_TEST_SUITE_P(Times, FailProgramTest,
                         ::testing::Values(TimesCase{1, 1}, TimesCase{3, 3}, TimesCase{kFlashAlways, 4}));

TEST_F(FlashTest, StuckBitsHoldThroughProgramAndErase) {
    const uint32_t at = kBlock5 + 12;
    flash.SetStuckBits(0, at, /*stuckLow=*/0x0001, /*stuckHigh=*/0x8000);
    EXPECT_EQ(ArrayWord(at), 0xFFFFFFFEu);

    EXPECT_EQ(WriteToBuffer(bus, kBlock, std::vector<uint32_t>(16, 0)), kBothReady);
    EXPECT_EQ(ArrayWord(at), 0x00008000u);
    EXPECT_EQ(ArrayWord(at + 4), 0u);
    EXPECT_EQ(BlockErase(bus, kBlock), kBothReady);
    EXPECT_EQ(ArrayWord(at), 0xFFFFFFFEu);
    ReadArrayMode(bus, kBlock);
    EXPECT_EQ(bus.Read32(kFlashBase + at), 0xFFFFFFFEu);

    flash.SetStuckBits(0, at, 0, 0);
    EXPECT_EQ(BlockErase(bus, kBlock), kBothReady);
    EXPECT_EQ(ArrayWord(at), 0xFFFFFFFFu);
}

TEST_F(FlashTest, LockedBlockKnobOnOneChip) {
    const std::vector<uint8_t> data = Pattern(kFlashBusBlockBytes, 8);
    flash.LoadImage(kBlock5, data);
    flash.SetBlockLocked(1, 5, true);

    EXPECT_EQ(BlockErase(bus, kBlock), 0x00A20080u);
    std::vector<uint8_t> after = flash.ReadArray(kBlock5, kFlashBusBlockBytes);
    EXPECT_EQ(ChipHalves(after, 1), ChipHalves(data, 1));
    std::vector<uint16_t> low = ChipHalves(after, 0);
    EXPECT_TRUE(std::all_of(low.begin(), low.end(), [](uint16_t w) { return w == 0xFFFF; }));
}

TEST_F(FlashTest, BufferUnavailableForTheNextRequests) {
    flash.MakeBufferUnavailable(0, 2);
    std::vector<uint32_t> answers;
    for (int i = 0; i < 3; ++i) {
        bus.Write32(kBlock, Both(0xE8));
        answers.push_back(bus.Read32(kBlock));
    }
    EXPECT_EQ(answers, (std::vector<uint32_t>{0x00800000, 0x00800000, kBothReady}));
    bus.Write32(kBlock, 0);
    bus.Write32(kBlock, 0x87654321);
    bus.Write32(kBlock, Both(0xD0));
    EXPECT_EQ(WaitReady(bus, kBlock), kBothReady);
    EXPECT_EQ(ArrayWord(kBlock5), 0x87654321u);
}

TEST_F(FlashTest, PowerCutDuringAnEraseLeavesHalfAChipBlockErased) {
    const std::vector<uint8_t> data = Pattern(kFlashBusBlockBytes, 6);
    flash.LoadImage(kBlock5, data);
    std::atomic<int> cuts = 0;
    flash.OnPowerCut([&] { ++cuts; });
    flash.CutPowerAfter(0);  // the very next operation: chip 0's erase

    bus.Write32(kBlock, Both(0x20));
    bus.Write32(kBlock, Both(0xD0));

    EXPECT_TRUE(flash.PowerCut());
    EXPECT_EQ(cuts, 1);
    EXPECT_EQ(bus.Read32(kBlock), 0u);  // nothing useful answers
    bus.Write32(kBlock + kFlashBusBlockBytes, Both(0x20));
    bus.Write32(kBlock + kFlashBusBlockBytes, Both(0xD0));
    EXPECT_EQ(flash.EraseCount(0, 6) + flash.EraseCount(1, 6), 0u);

    flash.Reset();
    EXPECT_FALSE(flash.PowerCut());
    std::vector<uint8_t> after = flash.ReadArray(kBlock5, kFlashBusBlockBytes);
    std::vector<uint16_t> low = ChipHalves(after, 0);
    std::vector<uint16_t> lowBefore = ChipHalves(data, 0);
    const size_t half = low.size() / 2;
    EXPECT_TRUE(std::all_of(low.begin(), low.begin() + half, [](uint16_t w) { return w == 0xFFFF; }));
    EXPECT_TRUE(std::equal(low.begin() + half, low.end(), lowBefore.begin() + half));
    EXPECT_EQ(ChipHalves(after, 1), ChipHalves(data, 1));
    EXPECT_EQ(bus.Read32(kBlock), (uint32_t(ChipHalves(data, 1)[0]) << 16) | 0xFFFF);
    EXPECT_EQ(cuts, 1);
}

// Aimed at a block, the cut spares every operation elsewhere and takes the first one there.
TEST_F(FlashTest, PowerCutInABlockWaitsForThatBlock) {
    flash.CutPowerInBlock(5);
    ASSERT_EQ(BlockErase(bus, kBlock + kFlashBusBlockBytes), kBothReady);  // block 6
    EXPECT_FALSE(flash.PowerCut());
    EXPECT_EQ(flash.EraseCount(0, 6), 1u);
    EXPECT_EQ(flash.EraseCount(1, 6), 1u);

    bus.Write32(kBlock, Both(0x20));
    bus.Write32(kBlock, Both(0xD0));
    EXPECT_TRUE(flash.PowerCut());
    EXPECT_EQ(flash.EraseCount(0, 5) + flash.EraseCount(1, 5), 0u);
    flash.Reset();
    // Once fired the knob is spent.
    ASSERT_EQ(BlockErase(bus, kBlock), kBothReady);
    EXPECT_FALSE(flash.PowerCut());
}

TEST_F(FlashTest, PowerCutDuringABufferedWriteLeavesHalfTheBuffer) {
    ASSERT_EQ(BlockErase(bus, kBlock), kBothReady);
    flash.CutPowerAfter(1);  // chip 0's program goes through, chip 1's is cut
    bus.Write32(kBlock, Both(0xE8));
    ASSERT_EQ(bus.Read32(kBlock), kBothReady);
    bus.Write32(kBlock, 0x000F000F);
    for (uint32_t i = 0; i < 16; ++i) bus.Write32(kBlock + 4 * i, 0x12345678);
    bus.Write32(kBlock, Both(0xD0));
    EXPECT_TRUE(flash.PowerCut());
    EXPECT_EQ(bus.Read32(kBlock), 0u);

    for (uint32_t i = 0; i < 16; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(ArrayWord(kBlock5 + 4 * i), i < 8 ? 0x12345678u : 0xFFFF5678u);
    }
    std::vector<FlashOperation> writes = flash.BufferedWrites();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_TRUE(writes[0].ok);
    EXPECT_FALSE(writes[1].ok);
    EXPECT_EQ(writes[1].words, 8u);
}

TEST_F(FlashTest, BusyCountedInScaledTime) {
    const double scale = TimeScale();
    flash.SetBusyInTime(true);
    FlashTiming timing;
    timing.eraseTime = std::chrono::hours(1);
    flash.SetTiming(0, timing);
    flash.SetTiming(1, timing);

    SetTimeScale(0);  // every nominal duration takes no real time
    EXPECT_EQ(BlockErase(bus, kBlock), kBothReady);
    EXPECT_EQ(PollUntilReady(bus, kBlock).size(), 1u);

    SetTimeScale(1);  // an hour: no number of polls gets there
    bus.Write32(kBlock, Both(0x20));
    bus.Write32(kBlock, Both(0xD0));
    EXPECT_EQ(PollUntilReady(bus, kBlock, 2000).back(), 0u);
    SetTimeScale(scale);
    flash.Reset();
    EXPECT_EQ(ReadStatus(bus, kBlock), kBothReady);
}

TEST_F(FlashTest, ClearFaultsRestoresNormalBehaviour) {
    flash.SetBusyDuring(0, kFlashForever);
    flash.FailErase(1, 5);
    flash.MakeBufferUnavailable(0, 100);
    flash.CutPowerAfter(10);
    flash.ClearFaults();

    EXPECT_EQ(BlockErase(bus, kBlock), kBothReady);
    EXPECT_EQ(WriteToBuffer(bus, kBlock, std::vector<uint32_t>(16, 0)), kBothReady);
    for (int i = 0; i < 12; ++i) ASSERT_EQ(WordProgram(bus, kBlock + 64 + 4 * i, 0), kBothReady);
    EXPECT_FALSE(flash.PowerCut());
}

TEST_F(FlashTest, KnobsRefuseChipsAndBlocksThatDoNotExist) {
    EXPECT_THROW(flash.FailErase(2, 0), std::out_of_range);
    EXPECT_THROW(flash.FailErase(0, kFlashBlockCount), std::out_of_range);
    EXPECT_THROW(flash.SetStuckBits(0, kFlashArrayBytes, 1, 0), std::out_of_range);
    EXPECT_THROW(flash.SetStuckBits(0, 0, 1, 1), std::invalid_argument);
    EXPECT_THROW(flash.LoadImage(kFlashArrayBytes - 2, std::vector<uint8_t>(4)), std::out_of_range);
    EXPECT_THROW(flash.ReadArray(kFlashArrayBytes, 1), std::out_of_range);
}

}  // namespace
}  // namespace tova::hw::test
