// The flash chips' command set, driven only through the bus.
#include <gtest/gtest.h>

#include <algorithm>

#include "flash_fixture.h"

namespace tova::hw::test {
namespace {

constexpr uint32_t kSequenceErrorBoth = 0x00B000B0;  // ready + SR.5 + SR.4 on both chips

TEST_F(FlashTest, BlockEraseClearsExactlyThatBlock) {
    const std::vector<uint8_t> around = Pattern(3 * kFlashBusBlockBytes, 1);
    flash.LoadImage(4 * kFlashBusBlockBytes, around);

    EXPECT_EQ(BlockErase(bus, kFlashBase + kBlock5 + 0x1234), kBothReady);

    std::vector<uint8_t> erased = flash.ReadArray(kBlock5, kFlashBusBlockBytes);
    EXPECT_TRUE(std::all_of(erased.begin(), erased.end(), [](uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(flash.ReadArray(4 * kFlashBusBlockBytes, kFlashBusBlockBytes),
              std::vector<uint8_t>(around.begin(), around.begin() + kFlashBusBlockBytes));
    EXPECT_EQ(flash.ReadArray(6 * kFlashBusBlockBytes, kFlashBusBlockBytes),
              std::vector<uint8_t>(around.begin() + 2 * kFlashBusBlockBytes, around.end()));
    for (unsigned chip = 0; chip < 2; ++chip) {
        EXPECT_EQ(flash.EraseCount(chip, 5), 1u);
        EXPECT_EQ(flash.EraseCount(chip, 4), 0u);
    }
    std::vector<FlashOperation> ops = flash.Operations();
    ASSERT_EQ(ops.size(), 2u);
    for (unsigned chip = 0; chip < 2; ++chip) {
        EXPECT_EQ(ops[chip].kind, FlashOperationKind::kErase);
        EXPECT_EQ(ops[chip].chip, chip);
        EXPECT_EQ(ops[chip].offset, kBlock5);
        EXPECT_TRUE(ops[chip].ok);
    }
}

TEST_F(FlashTest, ChipAnswersStatusAfterAnOperationUntilReadArray) {
    flash.LoadImage(kBlock5, std::vector<uint8_t>{0x11, 0x22, 0x33, 0x44});
    WordProgram(bus, kFlashBase + kBlock5 + 64, 0x12345678);

    EXPECT_EQ(bus.Read32(kFlashBase + kBlock5), kBothReady);
    EXPECT_EQ(bus.Read16(kFlashBase + kBlock5 + 2), 0x0080);
    ReadArrayMode(bus, kFlashBase);
    EXPECT_EQ(bus.Read32(kFlashBase + kBlock5), 0x44332211u);
    EXPECT_EQ(bus.Read32(kFlashBase + kBlock5 + 64), 0x12345678u);
    EXPECT_EQ(bus.Read16(kFlashBase + kBlock5 + 66), 0x1234);
    EXPECT_EQ(bus.Read8(kFlashBase + kBlock5 + 67), 0x12);
}

TEST_F(FlashTest, BufferedWriteOfSixteenWords) {
    std::vector<uint8_t> data = Pattern(64, 7);
    const uint32_t at = kBlock5 + 0x440;

    EXPECT_EQ(WriteToBuffer(bus, kFlashBase + at, Words(data)), kBothReady);

    EXPECT_EQ(flash.ReadArray(at, 64), data);
    EXPECT_EQ(ArrayWord(at - 4), 0xFFFFFFFFu);
    EXPECT_EQ(ArrayWord(at + 64), 0xFFFFFFFFu);
    std::vector<FlashOperation> writes = flash.BufferedWrites();
    ASSERT_EQ(writes.size(), 2u);
    for (unsigned chip = 0; chip < 2; ++chip) {
        EXPECT_EQ(writes[chip].chip, chip);
        EXPECT_EQ(writes[chip].offset, at);
        EXPECT_EQ(writes[chip].words, 16u);
        EXPECT_TRUE(writes[chip].ok);
    }
    ReadArrayMode(bus, kFlashBase);
    for (uint32_t i = 0; i < 16; ++i) EXPECT_EQ(bus.Read32(kFlashBase + at + 4 * i), Words(data)[i]);
}

TEST_F(FlashTest, BufferedWriteOfFewerWordsProgramsOnlyThose) {
    std::vector<uint32_t> words = {0x01020304, 0x05060708, 0x090A0B0C};
    EXPECT_EQ(WriteToBuffer(bus, kFlashBase + kBlock5 + 0x84, words), kBothReady);
    EXPECT_EQ(ArrayWord(kBlock5 + 0x80), 0xFFFFFFFFu);
    for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(ArrayWord(kBlock5 + 0x84 + 4 * i), words[i]);
    EXPECT_EQ(ArrayWord(kBlock5 + 0x90), 0xFFFFFFFFu);
}

TEST_F(FlashTest, WordProgramWithEitherSetupCommand) {
    for (uint16_t setup : {uint16_t(0x40), uint16_t(0x10)}) {
        SCOPED_TRACE(setup);
        uint32_t at = kBlock5 + setup * 4;
        EXPECT_EQ(WordProgram(bus, kFlashBase + at, 0xCAFE1234, setup), kBothReady);
        EXPECT_EQ(ArrayWord(at), 0xCAFE1234u);
        EXPECT_EQ(ArrayWord(at + 4), 0xFFFFFFFFu);
    }
    std::vector<FlashOperation> programs = flash.WordPrograms();
    ASSERT_EQ(programs.size(), 4u);
    EXPECT_EQ(programs[0].offset, kBlock5 + 0x100);
    EXPECT_EQ(programs[3].offset, kBlock5 + 0x40);
}

TEST_F(FlashTest, ProgrammingOnlyClearsBits) {
    flash.LoadImage(kBlock5, std::vector<uint8_t>{0x00, 0xFF, 0xF0, 0x0F});
    // Ones written over zeros stay zero, and that is no error.
    EXPECT_EQ(WordProgram(bus, kFlashBase + kBlock5, 0xFF00FFFF), kBothReady);
    EXPECT_EQ(ArrayWord(kBlock5), 0x0F00FF00u);
    EXPECT_EQ(WriteToBuffer(bus, kFlashBase + kBlock5, {0x3C3C3C3C}), kBothReady);
    EXPECT_EQ(ArrayWord(kBlock5), 0x0C003C00u);
}

struct EraseConfirmCase {
    const char* name;
    uint32_t confirm;
    uint32_t confirmOffset;  // from the address of the erase setup
};

class EraseConfirmTest : public FlashTest, public ::testing::WithParamInterface<EraseConfirmCase> {};

TEST_P(EraseConfirmTest, AnythingButConfirmInTheSameBlockLosesNoData) {
    std::vector<uint8_t> data = Pattern(kFlashBusBlockBytes, 3);
    flash.LoadImage(kBlock5, data);

    bus.Write32(kFlashBase + kBlock5, Both(0x20));
    bus.Write32(kFlashBase + kBlock5 + GetParam().confirmOffset, GetParam().confirm);

    EXPECT_EQ(WaitReady(bus, kFlashBase + kBlock5), kSequenceErrorBoth);
    EXPECT_EQ(flash.ReadArray(kBlock5, kFlashBusBlockBytes), data);
    EXPECT_EQ(flash.EraseCount(0, 5) + flash.EraseCount(1, 5), 0u);
    EXPECT_EQ(flash.NoteCount(FlashNoteKind::kSequenceError), 2u);
    ClearStatus(bus, kFlashBase);
    EXPECT_EQ(ReadStatus(bus, kFlashBase), kBothReady);
}

INSTANTIATE_TEST_SUITE_P(
    Confirms, EraseConfirmTest,
    ::testing::Values(EraseConfirmCase{"read_array", Both(0xFF), 0},
                      EraseConfirmCase{"set_lock_confirm", Both(0x01), 0},
                      EraseConfirmCase{"erase_again", Both(0x20), 0},
                      EraseConfirmCase{"data_word", 0x12345678, 0},
                      EraseConfirmCase{"confirm_to_next_block", Both(0xD0), kFlashBusBlockBytes}),
    [](const auto& info) { return std::string(info.param.name); });

// A buffered write that breaks the datasheet's rules: both chips report SR.4 and SR.5 and
// nothing is programmed.
struct BufferFaultCase {
    const char* name;
    uint32_t count;                    // count word (both halves)
    std::vector<uint32_t> dataOffsets;  // bus offsets of the data writes, from the start
    uint32_t confirm;
};

class BufferSequenceTest : public FlashTest, public ::testing::WithParamInterface<BufferFaultCase> {};

TEST_P(BufferSequenceTest, BrokenSequenceSetsProgramAndEraseErrorsAndProgramsNothing) {
    const BufferFaultCase& c = GetParam();
    const uint32_t start = kFlashBase + kBlock5 + 0x400;
    bus.Write32(start, Both(0xE8));
    ASSERT_EQ(bus.Read32(start), kBothReady);
    bus.Write32(start, c.count);
    for (uint32_t offset : c.dataOffsets) bus.Write32(start + offset, 0x11223344);
    bus.Write32(start, c.confirm);

    EXPECT_EQ(WaitReady(bus, start), kSequenceErrorBoth);
    std::vector<uint8_t> area = flash.ReadArray(kBlock5 + 0x3C0, 0x100);
    EXPECT_TRUE(std::all_of(area.begin(), area.end(), [](uint8_t b) { return b == 0xFF; }));
    EXPECT_TRUE(flash.BufferedWrites().empty());
}

std::vector<uint32_t> Offsets(uint32_t n, uint32_t first = 0) {
    std::vector<uint32_t> v;
    for (uint32_t i = 0; i < n; ++i) v.push_back(first + 4 * i);
    return v;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, BufferSequenceTest,
    ::testing::Values(
        // 15 counted, 16 written: the 16th data word arrives where the confirm belongs.
        BufferFaultCase{"fifteen_counted_sixteen_written", 0x000E000E, Offsets(16), Both(0xD0)},
        BufferFaultCase{"count_above_fifteen", 0x00100010, Offsets(16), Both(0xD0)},
        BufferFaultCase{"data_outside_the_window", 0x000F000F, Offsets(16, 4), Both(0xD0)},
        BufferFaultCase{"data_before_the_window", 0x00010001, {0, 0xFFFFFFFC}, Both(0xD0)},
        BufferFaultCase{"confirm_missing", 0x00030003, Offsets(4), Both(0xFF)},
        BufferFaultCase{"data_instead_of_confirm", 0x00030003, Offsets(4), 0x12345678}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlashTest, CountWrittenToAnotherBlockIsASequenceError) {
    const uint32_t start = kFlashBase + kBlock5;
    bus.Write32(start, Both(0xE8));
    ASSERT_EQ(bus.Read32(start), kBothReady);
    bus.Write32(start + kFlashBusBlockBytes, 0x00000000);
    EXPECT_EQ(WaitReady(bus, start), kSequenceErrorBoth);
}

TEST_F(FlashTest, NoBufferWhileAnErrorIsReported) {
    const uint32_t start = kFlashBase + kBlock5;
    bus.Write32(start, Both(0x20));
    bus.Write32(start, Both(0xFF));  // bad confirm: SR.4 and SR.5
    ASSERT_EQ(WaitReady(bus, start), kSequenceErrorBoth);

    bus.Write32(start, Both(0xE8));
    EXPECT_EQ(bus.Read32(start), 0u);
    // Going ahead without a buffer is refused too.
    bus.Write32(start, 0);
    bus.Write32(start, 0);
    bus.Write32(start, Both(0xD0));
    EXPECT_EQ(ArrayWord(kBlock5), 0xFFFFFFFFu);

    ClearStatus(bus, start);
    EXPECT_EQ(WriteToBuffer(bus, start, {0xA5A5A5A5}), kBothReady);
    EXPECT_EQ(ArrayWord(kBlock5), 0xA5A5A5A5u);
}

TEST_F(FlashTest, ClearStatusClearsErrorBitsButNeverReady) {
    bus.Write32(kFlashBase, Both(0x00));  // no such command
    EXPECT_EQ(WaitReady(bus, kFlashBase), kSequenceErrorBoth);
    EXPECT_EQ(flash.NoteCount(FlashNoteKind::kUnknownCommand), 2u);
    ClearStatus(bus, kFlashBase);
    EXPECT_EQ(bus.Read32(kFlashBase), kBothReady);
}

TEST_F(FlashTest, LockedBlockRefusesProgramAndErase) {
    std::vector<uint8_t> data = Pattern(kFlashBusBlockBytes, 9);
    flash.LoadImage(kBlock5, data);
    const uint32_t block = kFlashBase + kBlock5;

    EXPECT_EQ(SetBlockLock(bus, block), kBothReady);
    EXPECT_TRUE(flash.BlockLocked(0, 5));
    EXPECT_TRUE(flash.BlockLocked(1, 5));
    EXPECT_FALSE(flash.BlockLocked(0, 6));

    // SR.1 with SR.4 for a program, SR.1 with SR.5 for an erase.
    EXPECT_EQ(WordProgram(bus, block + 8, 0), 0x00920092u);
    ClearStatus(bus, block);
    EXPECT_EQ(WriteToBuffer(bus, block + 64, std::vector<uint32_t>(16, 0)), 0x00920092u);
    ClearStatus(bus, block);
    EXPECT_EQ(BlockErase(bus, block), 0x00A200A2u);
    ClearStatus(bus, block);
    EXPECT_EQ(flash.ReadArray(kBlock5, kFlashBusBlockBytes), data);

    // The block next door is not locked.
    EXPECT_EQ(WordProgram(bus, block + kFlashBusBlockBytes, 0), kBothReady);
    EXPECT_EQ(ArrayWord(kBlock5 + kFlashBusBlockBytes), 0u);
}

TEST_F(FlashTest, ClearLockBitsClearsEveryBlockOfTheChipsItReaches) {
    for (uint32_t block : {3u, 5u, 100u}) EXPECT_EQ(SetBlockLock(bus, kFlashBase + block * kFlashBusBlockBytes), kBothReady);

    // Sent to chip 0 only (a 16-bit write to the low half): chip 1 keeps its locks.
    bus.Write16(kFlashBase + kBlock5, 0x60);
    bus.Write16(kFlashBase + kBlock5, 0xD0);
    EXPECT_EQ(WaitReady(bus, kFlashBase), kBothReady);
    for (uint32_t block : {3u, 5u, 100u}) {
        EXPECT_FALSE(flash.BlockLocked(0, block)) << block;
        EXPECT_TRUE(flash.BlockLocked(1, block)) << block;
    }

    EXPECT_EQ(ClearBlockLocks(bus, kFlashBase + 7 * kFlashBusBlockBytes), kBothReady);
    for (uint32_t block : {3u, 5u, 100u}) EXPECT_FALSE(flash.BlockLocked(1, block)) << block;
    EXPECT_EQ(BlockErase(bus, kFlashBase + 100 * kFlashBusBlockBytes), kBothReady);
}

TEST_F(FlashTest, LockSetupFollowedByAnythingElseIsASequenceError) {
    bus.Write32(kFlashBase + kBlock5, Both(0x60));
    bus.Write32(kFlashBase + kBlock5, Both(0x2F));
    EXPECT_EQ(WaitReady(bus, kFlashBase), kSequenceErrorBoth);
    EXPECT_FALSE(flash.BlockLocked(0, 5));
}

TEST_F(FlashTest, IdentifierWordsAtTheirBusOffsets) {
    // Array content under every identifier address, so that a leak of array data shows.
    flash.LoadImage(0, Pattern(0x400, 5));
    flash.LoadImage(kBlock5, Pattern(0x400, 6));
    std::array<uint16_t, kFlashProtectionWords> low{0xFFFE, 1, 2, 3, 4, 5, 6, 7, 8};
    std::array<uint16_t, kFlashProtectionWords> high{0xFFFC, 11, 12, 13, 14, 15, 16, 17, 18};
    flash.SetProtectionRegister(0, low);
    flash.SetProtectionRegister(1, high);
    ASSERT_EQ(SetBlockLock(bus, kFlashBase + kBlock5), kBothReady);
    flash.SetBlockLocked(1, 6, true);  // only the high chip

    EXPECT_EQ(ReadIdentifier(bus, kFlashBase, 0), 0x00890089u);
    EXPECT_EQ(bus.Read32(kFlashBase + 4), 0x00180018u);
    EXPECT_EQ(bus.Read32(kFlashBase + 8), 0u);                           // block 0 unlocked
    EXPECT_EQ(bus.Read32(kFlashBase + kBlock5 + 8), 0x00010001u);        // both locked
    EXPECT_EQ(bus.Read32(kFlashBase + 6 * kFlashBusBlockBytes + 8), 0x00010000u);
    EXPECT_EQ(bus.Read16(kFlashBase + kBlock5 + 8), 0x0001);
    for (uint32_t i = 0; i < kFlashProtectionWords; ++i)
        EXPECT_EQ(bus.Read32(kFlashBase + 0x200 + 4 * i), uint32_t(low[i]) | uint32_t(high[i]) << 16) << i;
    // Words with no identifier meaning read 0, never the array.
    EXPECT_EQ(bus.Read32(kFlashBase + 12), 0u);
    EXPECT_EQ(bus.Read32(kFlashBase + 0x100), 0u);

    ReadArrayMode(bus, kFlashBase);
    EXPECT_EQ(bus.Read32(kFlashBase + 0x200), ArrayWord(0x200));
}

TEST_F(FlashTest, HalvesThatDifferPutTheChipsInDifferentModes) {
    flash.LoadImage(kBlock5, std::vector<uint8_t>{0x34, 0x12, 0x78, 0x56});
    bus.Write32(kFlashBase + kBlock5, 0x00FF0070);  // chip 0 read status, chip 1 read array
    EXPECT_EQ(bus.Read32(kFlashBase + kBlock5), 0x56780080u);
    EXPECT_EQ(flash.NoteCount(FlashNoteKind::kHalvesDiffer), 1u);

    // Program only the high chip: the low one sees read array twice.
    bus.Write32(kFlashBase + kBlock5 + 4, 0x004000FF);
    bus.Write32(kFlashBase + kBlock5 + 4, 0x000000FF);
    EXPECT_EQ(bus.Read32(kFlashBase + kBlock5 + 4), 0x0000FFFFu);  // high chip still busy
    EXPECT_EQ(bus.Read32(kFlashBase + kBlock5 + 4), 0x0080FFFFu);
    EXPECT_EQ(ArrayWord(kBlock5 + 4), 0x0000FFFFu);
}

TEST_F(FlashTest, ByteWriteIsAGuestErrorAndChangesNothing) {
    bus.Write8(kFlashBase + kBlock5 + 1, 0x20);
    bus.Write32(kFlashBase + kBlock5, Both(0xD0));  // would confirm an erase if the byte had counted
    EXPECT_EQ(bus.GuestErrors().Count(GuestErrorKind::kDeviceAccess), 1u);
    std::vector<GuestError> errors = bus.GuestErrors().Entries();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].address, kFlashBase + kBlock5 + 1);
    EXPECT_EQ(errors[0].device, "flash");
    EXPECT_EQ(flash.EraseCount(0, 5) + flash.EraseCount(1, 5), 0u);
}

TEST_F(FlashTest, OnlyTheHighChipBusyForMorePolls) {
    FlashTiming slow;
    slow.programPolls = 4;
    FlashTiming quick;
    quick.programPolls = 1;
    flash.SetTiming(0, quick);
    flash.SetTiming(1, slow);

    bus.Write32(kFlashBase + kBlock5, Both(0x40));
    bus.Write32(kFlashBase + kBlock5, 0);
    std::vector<uint32_t> polls;
    for (int i = 0; i < 6; ++i) polls.push_back(bus.Read32(kFlashBase + kBlock5));
    EXPECT_EQ(polls, (std::vector<uint32_t>{0x00000000, 0x00000080, 0x00000080, 0x00000080,
                                            0x00800080, 0x00800080}));
}

TEST_F(FlashTest, WhileBusyOnlyReadStatusIsObeyed) {
    FlashTiming timing;
    timing.erasePolls = 3;
    flash.SetTiming(0, timing);
    flash.SetTiming(1, timing);
    flash.LoadImage(kBlock5, std::vector<uint8_t>(8, 0x00));

    bus.Write32(kFlashBase + kBlock5, Both(0x20));
    bus.Write32(kFlashBase + kBlock5, Both(0xD0));
    ReadArrayMode(bus, kFlashBase);                   // ignored: still erasing
    bus.Write32(kFlashBase + kBlock5, Both(0x50));    // ignored
    bus.Write32(kFlashBase + kBlock5 + 4, Both(0x20));  // ignored
    EXPECT_EQ(flash.NoteCount(FlashNoteKind::kIgnoredWhileBusy), 6u);
    EXPECT_EQ(bus.Read32(kFlashBase + kBlock5), 0u);
    bus.Write32(kFlashBase, Both(0x70));
    EXPECT_EQ(WaitReady(bus, kFlashBase), kBothReady);
    // Still in status mode: the read-array command was dropped.
    EXPECT_EQ(bus.Read32(kFlashBase + kBlock5), kBothReady);
}

TEST_F(FlashTest, ErrorOnOneChipAlone) {
    flash.FailProgram(1, kBlock5 + 8);
    std::vector<uint32_t> words(16, 0x12345678);

    EXPECT_EQ(WriteToBuffer(bus, kFlashBase + kBlock5, words), 0x00900080u);
    EXPECT_EQ(ArrayWord(kBlock5), 0x12345678u);
    EXPECT_EQ(ArrayWord(kBlock5 + 8), 0xFFFF5678u);  // high half not programmed
    EXPECT_EQ(ArrayWord(kBlock5 + 60), 0x12345678u);
    std::vector<FlashOperation> writes = flash.BufferedWrites();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_TRUE(writes[0].ok);
    EXPECT_FALSE(writes[1].ok);

    ClearStatus(bus, kFlashBase);
    EXPECT_EQ(ReadStatus(bus, kFlashBase), kBothReady);
}

TEST_F(FlashTest, WindowsAreTheSameChips) {
    Bus twoWindows;
    FlashModel shared;
    twoWindows.Map(0x80000000, kFlashArrayBytes, shared, "flash (cached)");
    twoWindows.Map(kFlashBase, kFlashArrayBytes, shared, "flash");
    twoWindows.Write32(kFlashBase + 0x100, Both(0x90));
    EXPECT_EQ(twoWindows.Read32(0x80000000), 0x00890089u);
}

TEST_F(FlashTest, ResetReturnsToReadArrayAndKeepsLocks) {
    flash.LoadImage(kBlock5, std::vector<uint8_t>{1, 2, 3, 4});
    ASSERT_EQ(SetBlockLock(bus, kFlashBase + kBlock5), kBothReady);
    bus.Write32(kFlashBase, Both(0x00));  // error bits set
    bus.Write32(kFlashBase + kBlock5, Both(0xE8));

    flash.Reset();

    EXPECT_EQ(bus.Read32(kFlashBase + kBlock5), 0x04030201u);
    EXPECT_TRUE(flash.BlockLocked(0, 5));
    EXPECT_EQ(ReadStatus(bus, kFlashBase), kBothReady);
}

TEST_F(FlashTest, CommandLogKeepsEveryWriteInOrderUntilItIsFull) {
    flash.ClearLog();
    bus.Write32(kFlashBase + kBlock5, kWriteToBuffer);
    bus.Write16(kFlashBase + kBlock5 + 2, 0x0003);
    bus.Write32(kFlashBase + kBlock5, 0x12345678);  // whatever it means to the chips
    std::vector<FlashBusWrite> log = flash.BusWrites();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].offset, kBlock5);
    EXPECT_EQ(log[0].value, kWriteToBuffer);
    EXPECT_EQ(log[0].width, 4u);
    EXPECT_EQ(log[1].offset, kBlock5 + 2);
    EXPECT_EQ(log[1].value, 0x0003u);
    EXPECT_EQ(log[1].width, 2u);
    EXPECT_EQ(log[2].value, 0x12345678u);

    for (size_t i = 0; i < FlashModel::kKeptBusWrites; ++i) bus.Write32(kFlashBase, kReadArray);
    EXPECT_EQ(flash.BusWrites().size(), FlashModel::kKeptBusWrites);
    EXPECT_EQ(flash.BusWrites()[0].value, kWriteToBuffer) << "the first writes are the ones kept";
    flash.ClearLog();
    EXPECT_TRUE(flash.BusWrites().empty());
}

}  // namespace
}  // namespace tova::hw::test
