// The flash driver against the emulated flash, content checked byte for byte.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "flash_driver_fixture.h"

namespace flasher_test {
namespace {

using tova::hw::FlashOperationKind;
using tova::hw::kFlashForever;

struct RangeCase {
    const char* name;
    uint32_t offset;      // from the start of flash
    uint32_t length;
    uint32_t eraseFrom;   // blocks that must end up erased
    uint32_t eraseTo;
    uint32_t programmed;  // bytes written from the source
};

class ProgramRangeTest : public FlashDriverTest, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(ProgramRangeTest, ErasesWholeBlocksAndProgramsInSixtyFourByteWrites) {
    const RangeCase& c = GetParam();
    std::vector<uint8_t> source = PlaceSource(c.length, 3);
    EXPECT_EQ(FlashProgramRange(kFlash + c.offset, kSource, c.length, 0, 0), kFlashOk);
    EXPECT_EQ(FlashContent(), Expected(c.eraseFrom, c.eraseTo, c.offset, source, c.programmed));
    for (uint32_t block = 0; block < 8; ++block) {
        uint32_t erases = block * kBlock >= c.eraseFrom && block * kBlock < c.eraseTo ? 1 : 0;
        EXPECT_EQ(Flash().EraseCount(0, block), erases) << "block " << block;
        EXPECT_EQ(Flash().EraseCount(1, block), erases) << "block " << block;
    }
    EXPECT_EQ(Count(FlashOperationKind::kBufferedProgram), 2 * (c.programmed / 64));
    for (const auto& write : Flash().BufferedWrites()) EXPECT_EQ(write.words, 16u);
    EXPECT_TRUE(ReadsArray(kFlash + c.offset));
    EXPECT_TRUE(ReadsArray(kFlash));
    EXPECT_TRUE(board_.Bus().GuestErrors().Entries().empty());
    EXPECT_EQ(Flash().NoteCount(tova::hw::FlashNoteKind::kSequenceError), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, ProgramRangeTest,
    ::testing::Values(
        RangeCase{"starting_inside_a_block", 2 * kBlock + 0x10040, 0x200, 2 * kBlock, 3 * kBlock, 0x200},
        RangeCase{"whole_block", 3 * kBlock, kBlock, 3 * kBlock, 4 * kBlock, kBlock},
        RangeCase{"across_a_block_boundary", 2 * kBlock - 0x40, 0x80, kBlock, 3 * kBlock, 0x80},
        RangeCase{"length_0_aligned", 2 * kBlock, 0, 0, 0, 0},
        RangeCase{"length_0_misaligned", 2 * kBlock + 0x100, 0, 2 * kBlock, 3 * kBlock, 0},
        RangeCase{"length_1_programs_64_bytes", 5 * kBlock, 1, 5 * kBlock, 6 * kBlock, 64},
        RangeCase{"length_100_programs_128_bytes", 5 * kBlock, 100, 5 * kBlock, 6 * kBlock, 128}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlashDriverTest, CachedAddressesAreProgrammedThroughTheUncachedWindow) {
    std::vector<uint8_t> source = PlaceSource(0x100, 4);
    EXPECT_EQ(FlashProgramRange(0x80000000 + 4 * kBlock, kSource, 0x100, 0, 0), kFlashOk);
    EXPECT_EQ(FlashContent(), Expected(4 * kBlock, 5 * kBlock, 4 * kBlock, source, 0x100));
}

TEST_F(FlashDriverTest, FinalStepDrivesTheResetLineLow) {
    PlaceSource(64, 5);
    auto resets = std::make_shared<int>(0);
    board_.Board().Gpio().OnResetLine([resets] { ++*resets; });
    auto reset = [&] { return *resets > 0; };
    EXPECT_EQ(FlashProgramRange(kFlash + kBlock, kSource, 64, 0xA9000000, 0), kFlashOk);
    EXPECT_FALSE(reset());
    EXPECT_EQ(FlashProgramRange(kFlash + kBlock, kSource, 64, 0, 1), kFlashOk);
    EXPECT_FALSE(reset()) << "no GPIO base, no reset";
    EXPECT_EQ(FlashProgramRange(kFlash + kBlock, kSource, 64, 0xA9000000, 1), kFlashOk);
    EXPECT_TRUE(reset());
    EXPECT_TRUE(board_.Board().Gpio().IsOutput(21));
    EXPECT_FALSE(board_.Board().Gpio().Level(21));
}

TEST_F(FlashDriverTest, DeviceNotReadyBeforeEraseGivesMarkE) {
    Flash().SetBusyBefore(1, kTestPollLimit);  // busy for exactly the polls the driver makes
    EXPECT_EQ(FlashEraseBlock(kFlash + 2 * kBlock), kFlashOperationFailed);
    EXPECT_EQ(Marks(), "E");
    EXPECT_EQ(Count(FlashOperationKind::kErase), 0u) << "no erase command before ready";
    EXPECT_TRUE(ReadsArray(kFlash + 2 * kBlock));
    EXPECT_EQ(FlashContent(), original_);
}

TEST_F(FlashDriverTest, EraseThatDoesNotFinishGivesMarkSmallE) {
    Flash().SetTiming(0, {.erasePolls = kTestPollLimit});
    EXPECT_EQ(FlashEraseBlock(kFlash + 2 * kBlock), kFlashOperationFailed);
    EXPECT_EQ(Marks(), "e");
    EXPECT_EQ(Count(FlashOperationKind::kErase), 2u);
    EXPECT_TRUE(ReadsArray(kFlash + 2 * kBlock));
}

TEST_F(FlashDriverTest, ChipThatNeverGetsReadyTimesOutAfterThePollLimit) {
    Flash().SetBusyBefore(0, kFlashForever);
    EXPECT_EQ(FlashEraseBlock(kFlash + 2 * kBlock), kFlashOperationFailed);
    EXPECT_EQ(Marks(), "E");
    EXPECT_EQ(FlashEraseRange(kFlash + 2 * kBlock, 3 * kBlock), kFlashOperationFailed);
    EXPECT_EQ(Marks(), "EE") << "the range stops at its first failing block";
    EXPECT_EQ(FlashContent(), original_);
}

TEST_F(FlashDriverTest, EraseReportedAsFailedIsAFailure) {
    Flash().FailErase(1, 2, 1);
    PlaceSource(0x100, 6);
    EXPECT_EQ(FlashProgramRange(kFlash + 2 * kBlock, kSource, 0x100, 0, 0), kFlashOperationFailed);
    EXPECT_EQ(Marks(), "e");
    EXPECT_EQ(Count(FlashOperationKind::kBufferedProgram), 0u) << "nothing programmed over old data";
    EXPECT_EQ(g_lastFlashStatus, 0u) << "an erase failure leaves the buffered-write status alone";
    EXPECT_TRUE(ReadsArray(kFlash + 2 * kBlock));
    // The status was cleared: the retry goes through.
    std::vector<uint8_t> source = PlaceSource(0x100, 6);
    EXPECT_EQ(FlashProgramRange(kFlash + 2 * kBlock, kSource, 0x100, 0, 0), kFlashOk);
    EXPECT_EQ(FlashContent(), Expected(2 * kBlock, 3 * kBlock, 2 * kBlock, source, 0x100));
}

TEST_F(FlashDriverTest, ProgramReportedAsFailedIsAFailureWithItsStatus) {
    // The last buffered write of the range fails on the high chip.
    Flash().FailProgram(1, 2 * kBlock + 0x1C0, 1);
    std::vector<uint8_t> source = PlaceSource(0x200, 8);
    EXPECT_EQ(FlashProgramRange(kFlash + 2 * kBlock, kSource, 0x200, 0, 0), kFlashProgramFailed);
    EXPECT_EQ(g_lastFlashStatus, 0x00900080u) << "high chip: ready with program error";
    EXPECT_TRUE(ReadsArray(kFlash + 2 * kBlock));
    EXPECT_EQ(FlashProgramRange(kFlash + 2 * kBlock, kSource, 0x200, 0, 0), kFlashOk);
    EXPECT_EQ(FlashContent(), Expected(2 * kBlock, 3 * kBlock, 2 * kBlock, source, 0x200));
}

TEST_F(FlashDriverTest, LockedBlockRefusesErase) {
    Flash().SetBlockLocked(0, 3, true);
    Flash().SetBlockLocked(1, 3, true);
    EXPECT_EQ(FlashEraseBlock(kFlash + 3 * kBlock), kFlashOperationFailed);
    EXPECT_EQ(Marks(), "e");
    EXPECT_EQ(FlashContent(), original_);
    EXPECT_TRUE(ReadsArray(kFlash + 3 * kBlock));
}

// Nothing erases between the two writes: only the driver's clear-status after the failure
// lets the chips grant the next buffer.
TEST_F(FlashDriverTest, BufferedWriteRightAfterAFailedOneSucceeds) {
    const uint32_t first = 2 * kBlock + 0x40;
    Flash().LoadImage(2 * kBlock, std::vector<uint8_t>(kBlock, 0xFF));
    Flash().FailProgram(0, first + 8, 1);
    std::vector<uint8_t> source = PlaceSource(64, 13);
    ASSERT_EQ(FlashWriteBuffer(kFlash + first, kSource, 16), kFlashProgramFailed);
    EXPECT_EQ(g_lastFlashStatus, 0x00800090u) << "low chip: ready with program error";

    EXPECT_EQ(FlashWriteBuffer(kFlash + first + 64, kSource, 16), kFlashOk);
    EXPECT_EQ(Flash().ReadArray(first + 64, 64), std::vector<uint8_t>(source.begin(), source.begin() + 64));
    EXPECT_TRUE(ReadsArray(kFlash + first + 64));
    // And the failed window again: the word that failed was left erased and takes its data now.
    EXPECT_EQ(FlashWriteBuffer(kFlash + first, kSource, 16), kFlashOk);
    EXPECT_EQ(Flash().ReadArray(first, 64), std::vector<uint8_t>(source.begin(), source.begin() + 64));
}

TEST_F(FlashDriverTest, BufferedWriteTimeOutRecordsTheStatus) {
    Flash().MakeBufferUnavailable(0, 1);
    PlaceSource(64, 10);
    EXPECT_EQ(FlashWriteBuffer(kFlash + 2 * kBlock, kSource, 16), kFlashProgramFailed);
    EXPECT_EQ(g_lastFlashStatus, 0x00800000u) << "low chip: no buffer available";
    EXPECT_EQ(Count(FlashOperationKind::kBufferedProgram), 0u);
    EXPECT_TRUE(ReadsArray(kFlash + 2 * kBlock));
}

TEST_F(FlashDriverTest, BufferedWriteThatNeverFinishesTimesOut) {
    Flash().SetBusyDuring(1, kFlashForever);
    PlaceSource(64, 11);
    EXPECT_EQ(FlashWriteBuffer(kFlash + 2 * kBlock, kSource, 16), kFlashProgramFailed);
    EXPECT_EQ(g_lastFlashStatus, 0x00000080u) << "high chip still busy";
}

TEST_F(FlashDriverTest, OneChipBusyLongerThanTheOtherIsWaitedFor) {
    Flash().SetBusyDuring(1, 40);
    std::vector<uint8_t> source = PlaceSource(0x400, 12);
    EXPECT_EQ(FlashProgramRange(kFlash + 6 * kBlock, kSource, 0x400, 0, 0), kFlashOk);
    EXPECT_EQ(FlashContent(), Expected(6 * kBlock, 7 * kBlock, 6 * kBlock, source, 0x400));
}

TEST_F(FlashDriverTest, UnlockWithLockStatusZeroSendsNoLockCommand) {
    EXPECT_EQ(FlashUnlock(kFlash + kBlock), kFlashOk);
    EXPECT_EQ(Count(FlashOperationKind::kClearLocks), 0u);
    EXPECT_TRUE(ReadsArray(kFlash + kBlock));
}

TEST_F(FlashDriverTest, UnlockClearsTheLockBitsOfEveryBlockOfBothChips) {
    Flash().SetBlockLocked(0, 1, true);
    Flash().SetBlockLocked(1, 1, true);
    Flash().SetBlockLocked(1, 100, true);
    EXPECT_EQ(FlashUnlock(kFlash + kBlock), kFlashOk);
    EXPECT_EQ(Count(FlashOperationKind::kClearLocks), 2u);
    EXPECT_FALSE(Flash().BlockLocked(0, 1));
    EXPECT_FALSE(Flash().BlockLocked(1, 1));
    EXPECT_FALSE(Flash().BlockLocked(1, 100));
    EXPECT_TRUE(ReadsArray(kFlash + kBlock));
}

TEST_F(FlashDriverTest, UnlockTimeOutReturnsTheLastStatusWord) {
    Flash().SetBlockLocked(0, 1, true);
    Flash().SetBusyDuring(0, kFlashForever);
    EXPECT_EQ(FlashUnlock(kFlash + kBlock), 0x00800000u);
}

struct BlockInfoCase {
    const char* name;
    uint32_t start;
    uint32_t length;
    uint32_t result;
    uint32_t blockStart;
    uint32_t blockLength;
};

class BlockInfoTest : public FlashDriverTest, public ::testing::WithParamInterface<BlockInfoCase> {};

TEST_P(BlockInfoTest, GivesTheEnclosingBlocks) {
    const BlockInfoCase& c = GetParam();
    uint32_t blockStart = 0xDEAD, blockLength = 0xBEEF;
    EXPECT_EQ(FlashGetBlockInfo(c.start, c.length, &blockStart, &blockLength), c.result);
    if (c.result == kFlashOk) {
        EXPECT_EQ(blockStart, c.blockStart);
        EXPECT_EQ(blockLength, c.blockLength);
        EXPECT_TRUE(board_.DebugLines().empty());
    } else {
        EXPECT_EQ(blockStart, 0xDEADu) << "outputs untouched on failure";
        auto lines = board_.DebugLines();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0], u"FLASH: FlashGetBlockInfo() returning false");
        EXPECT_EQ(lines[1].substr(0, 13), u"FLASH: start=");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BlockInfoTest,
    ::testing::Values(
        BlockInfoCase{"one_byte", 0xA0040000, 1, kFlashOk, 0xA0040000, 0x40000},
        BlockInfoCase{"inside_a_block", 0xA0041234, 0x100, kFlashOk, 0xA0040000, 0x40000},
        BlockInfoCase{"across_blocks", 0xA007FFFF, 2, kFlashOk, 0xA0040000, 0x80000},
        BlockInfoCase{"whole_flash", 0xA0000000, 0x02000000, kFlashOk, 0xA0000000, 0x02000000},
        BlockInfoCase{"last_byte", 0xA1FFFFFF, 1, kFlashOk, 0xA1FC0000, 0x40000},
        BlockInfoCase{"below_flash", 0x9FFFFFFF, 1, kFlashOutOfRange, 0, 0},
        BlockInfoCase{"past_the_end", 0xA1FFFFFF, 2, kFlashOutOfRange, 0, 0},
        BlockInfoCase{"length_wrapping_4_GiB", 0xA0000000, 0x70000000, kFlashOutOfRange, 0, 0},
        BlockInfoCase{"empty", 0xA0040000, 0, kFlashOutOfRange, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlashDriverTest, BlockInfoDebugLineNamesTheRange) {
    uint32_t s, l;
    FlashGetBlockInfo(0x9FFFFF00, 0x10, &s, &l);
    auto lines = board_.DebugLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], u"FLASH: start=9FFFFF00h flashstart=A0000000h end=9FFFFF0Fh flashlen=2000000h");
}

TEST_F(FlashDriverTest, BlockInfoWithParametersNotFixedUp) {
    FlashParameters saved = g_flashParameters;
    g_flashParameters.flashStart = 0xFFFFFFFF;
    uint32_t s, l;
    EXPECT_EQ(FlashGetBlockInfo(0xA0040000, 1, &s, &l), kFlashNotFixedUp);
    g_flashParameters = saved;
    auto lines = board_.DebugLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], u"FLASH: FlashGetBlockInfo(): Flash parameters not fixed up!");
}

TEST_F(FlashDriverTest, WriteWordProgramsOneWordAndLeavesStatusMode) {
    EXPECT_EQ(FlashEraseBlock(kFlash + kBlock), kFlashOk);
    EXPECT_EQ(FlashWriteWord(kFlash + kBlock + 8, 0x12345678), kFlashOk);
    EXPECT_EQ(board_.Bus().Read32(kFlash + kBlock + 8) & 0x00800080u, 0x00800080u) << "status mode";
    board_.Bus().Write32(kFlash, 0x00FF00FF);
    auto bytes = Flash().ReadArray(kBlock + 8, 4);
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(Count(FlashOperationKind::kWordProgram), 2u);
}

TEST_F(FlashDriverTest, WriteWordReportsAProgramError) {
    Flash().FailProgram(0, kBlock + 8, 1);
    EXPECT_EQ(FlashWriteWord(kFlash + kBlock + 8, 0), kFlashOperationFailed);
}

TEST_F(FlashDriverTest, LockBlockSetsTheLockBitOfBothChips) {
    EXPECT_EQ(FlashLockBlock(kFlash + 5 * kBlock), kFlashOk);
    EXPECT_TRUE(Flash().BlockLocked(0, 5));
    EXPECT_TRUE(Flash().BlockLocked(1, 5));
    EXPECT_FALSE(Flash().BlockLocked(0, 4));
    EXPECT_TRUE(ReadsArray(kFlash + 5 * kBlock));
}

TEST_F(FlashDriverTest, LockBlockTimeOut) {
    Flash().SetBusyDuring(0, kFlashForever);
    EXPECT_EQ(FlashLockBlock(kFlash + 5 * kBlock), kFlashOperationFailed);
}

class FlashReadOtpTest : public FlashDriverTest {
protected:
    void TearDown() override {
        FlashInstallOtpRoutine(nullptr);
        FlashDriverTest::TearDown();
    }
};

TEST_F(FlashReadOtpTest, NoRoutineInstalledReturns21AtOnce) {
    uint16_t words[4] = {};
    EXPECT_EQ(FlashReadOTP(words), kFlashNotFixedUp);
    EXPECT_TRUE(board_.DebugLines().empty());
}

TEST_F(FlashReadOtpTest, ReadsTheFactoryWordsOfTheLowerChip) {
    Flash().SetProtectionRegister(0, {0xFFFE, 0x1111, 0x2222, 0x3333, 0x4444, 0x5555, 0x6666, 0x7777, 0x8888});
    Flash().SetProtectionRegister(1, {0xFFFE, 0xA1A1, 0xA2A2, 0xA3A3, 0xA4A4, 0, 0, 0, 0});
    FlashInstallOtpRoutine(FlashReadProtectionRegister);
    uint16_t words[4] = {};
    EXPECT_EQ(FlashReadOTP(words), kFlashOk);
    EXPECT_EQ(words[0], 0x1111);
    EXPECT_EQ(words[1], 0x2222);
    EXPECT_EQ(words[2], 0x3333);
    EXPECT_EQ(words[3], 0x4444);
    EXPECT_EQ(board_.DebugLines(),
              (std::vector<std::u16string>{u"FlashReadOTP Start!!", u"FlashReadOTP End!!"}));
    EXPECT_TRUE(ReadsArray(kFlash));
}

TEST_F(FlashReadOtpTest, DevicesNotReadyReport17) {
    Flash().SetBusyBefore(1, kTestPollLimit);
    FlashInstallOtpRoutine(FlashReadProtectionRegister);
    uint16_t words[4] = {};
    EXPECT_EQ(FlashReadOTP(words), kFlashProgramFailed);
    EXPECT_EQ(board_.DebugLines(),
              (std::vector<std::u16string>{u"FlashReadOTP Start!!", u"FlashReadOTP End!!",
                                           u"ERROR, Cannot READ OTP!!"}));
    EXPECT_TRUE(ReadsArray(kFlash));
}

}  // namespace
}  // namespace flasher_test
