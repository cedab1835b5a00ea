// The update sequence run in-process as device code of an emulated handheld: files from the
// object store, buffers from its page allocator, flash through its bus.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "device/flasher/console.h"
#include "device/flasher/flash_driver.h"
#include "device/flasher/segment_buffers.h"
#include "device/flasher/update_sequence.h"
#include "handheld.h"
#include "screen_text.h"
#include "shared/configuration.h"
#include "shared/flash_map.h"
#include "emulator/hw/board.h"
#include "emulator/object_store.h"
#include "platform/wince/api.h"

namespace flasher_test {
namespace {

using tova::hw::FlashModel;
using tova::hw::FlashOperation;
using tova::hw::FlashOperationKind;

constexpr uint32_t kMiB = 0x100000;
constexpr uint32_t kBlock = 0x40000;
constexpr const char16_t* kCoreApps = u"\\Temp\\COREAPPS.nb0";  // 3.5 MiB at 0xA0A40000
constexpr const char16_t* kKernel = u"\\Temp\\KERNEL.nb0";      // 2.5 MiB at 0xA0040000
constexpr const char16_t* kSync = u"\\Temp\\SYNC.nb0";          // 1 MiB at 0xA0DC0000

uint32_t FlashAddressOf(const char16_t* path) {
    for (const FlashSegment& f : kFlashSegmentMap)
        if (tova::SameName(f.file, path)) return f.flashAddress;
    return 0;
}

// Sets a fault in the flash for the write of a segment that lies at `offset` in flash and
// is `length` bytes long.
using FaultSetter = void (*)(FlashModel& flash, uint32_t offset, uint32_t length);

class UpdateSequenceTest : public ::testing::Test {
protected:
    explicit UpdateSequenceTest(tova::MachineConfig config = {}) : handheld_(config) {
        ResetFlasherState(handheld_.M().Config().Addresses());
        handheld_.M().Flash().ClearLog();
        ConsoleClear();
    }

    tova::Machine& M() { return handheld_.M(); }

    // Runs flasher code as a program of the running boot.
    template <typename Fn>
    void OnDevice(Fn fn) {
        M().RunDeviceCall(fn);
    }

    int WriteSegment(const char16_t* path) {
        int result = 99;
        OnDevice([&] { result = FlashSegmentFile(path, FlashAddressOf(path)); });
        return result;
    }

    // Expects flash at the segment's address to hold `bytes` and the rest of the blocks it
    // touches to be erased.
    void ExpectSegmentInFlash(const char16_t* path, const std::vector<uint8_t>& bytes) {
        const uint32_t address = FlashAddressOf(path);
        EXPECT_TRUE(handheld_.FlashAt(address, uint32_t(bytes.size())) == bytes) << "segment content";
        const uint32_t end = address + uint32_t(bytes.size());
        const uint32_t blockEnd = (end + kBlock - 1) / kBlock * kBlock;
        std::vector<uint8_t> tail = handheld_.FlashAt(end, blockEnd - end);
        EXPECT_TRUE(std::all_of(tail.begin(), tail.end(), [](uint8_t b) { return b == 0xFF; }))
            << "the rest of the last block is erased";
    }

    // Writes the test segment of `path` into flash that `setFault` has made faulty, and
    // expects it there exactly all the same.
    void WriteSegmentDespite(const char16_t* path, FaultSetter setFault) {
        const std::vector<uint8_t> bytes = TestSegment(path);
        handheld_.PutFile(path, bytes);
        setFault(M().Flash(), FlashAddressOf(path) - kFlashStart, uint32_t(bytes.size()));
        EXPECT_EQ(WriteSegment(path), 0);
        ExpectSegmentInFlash(path, bytes);
    }

    uint32_t Erases(uint32_t address) {
        uint32_t block = (address - kFlashStart) / kBlock;
        return M().Flash().EraseCount(0, block) + M().Flash().EraseCount(1, block);
    }

    // Bus offsets at which chip 0 started buffered writes, in order.
    std::vector<uint32_t> WriteOffsets() {
        std::vector<uint32_t> offsets;
        for (const FlashOperation& op : M().Flash().BufferedWrites())
            if (op.chip == 0) offsets.push_back(op.offset);
        return offsets;
    }

    std::string ScreenLine(uint32_t line) {
        return LineText(M().Display().Screen(), line, kMessageColour);
    }

    HandheldSession handheld_;
};

TEST_F(UpdateSequenceTest, SegmentFileGoesIntoFlashExactly) {
    const std::vector<uint8_t> bytes = TestSegment(kCoreApps);
    handheld_.PutFile(kCoreApps, bytes);
    const std::vector<uint8_t> before = handheld_.FlashAt(kFlashStart, kFlashBytes);
    EXPECT_EQ(WriteSegment(kCoreApps), 0);
    ExpectSegmentInFlash(kCoreApps, bytes);
    const uint32_t begin = FlashAddressOf(kCoreApps) - kFlashStart;
    std::vector<uint8_t> after = handheld_.FlashAt(kFlashStart, kFlashBytes);
    std::copy_n(before.begin() + begin, bytes.size(), after.begin() + begin);
    EXPECT_TRUE(after == before) << "nothing outside the segment changed";
    EXPECT_EQ(g_segmentBufferCount, 4u);
    EXPECT_TRUE(M().Store().Exists(kCoreApps)) << "the writer does not delete";
    EXPECT_TRUE(M().Bus().GuestErrors().Entries().empty());
}

TEST_F(UpdateSequenceTest, MissingOrEmptyFileIsSkippedWithoutTouchingFlash) {
    EXPECT_EQ(WriteSegment(kCoreApps), -1);
    handheld_.PutFile(kSync, {});
    EXPECT_EQ(WriteSegment(kSync), -1);
    EXPECT_TRUE(M().Flash().Operations().empty());
    EXPECT_EQ(g_segmentBufferCount, 0u);
}

TEST_F(UpdateSequenceTest, FileRunningPastTheEndOfFlashIsRefused) {
    handheld_.PutFile(kSync, std::vector<uint8_t>(3 * kMiB, 0x5A));
    int result = 99;
    OnDevice([&] { result = FlashSegmentFile(kSync, 0xA1F00000); });
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(M().Flash().Operations().empty());
    EXPECT_EQ(g_segmentBufferCount, 0u);
}

TEST_F(UpdateSequenceTest, BuffersAreAddedOnlyWhenALargerFileNeedsThem) {
    handheld_.PutFile(kSync, TestSegment(kSync));  // 1 MiB
    EXPECT_EQ(WriteSegment(kSync), 0);
    EXPECT_EQ(g_segmentBufferCount, 1u);
    const uint32_t firstBuffer = g_segmentBuffers.kernelAddress[0];
    handheld_.PutFile(kCoreApps, TestSegment(kCoreApps));  // 3.5 MiB
    EXPECT_EQ(WriteSegment(kCoreApps), 0);
    EXPECT_EQ(g_segmentBufferCount, 4u);
    EXPECT_EQ(g_segmentBuffers.kernelAddress[0], firstBuffer) << "kept and reused";
    const std::vector<uint8_t> sync = TestSegment(kSync);
    handheld_.PutFile(kSync, sync);
    EXPECT_EQ(WriteSegment(kSync), 0);
    EXPECT_EQ(g_segmentBufferCount, 4u) << "a smaller file allocates none";
    ExpectSegmentInFlash(kSync, sync);
}

TEST_F(UpdateSequenceTest, ShortLastPieceProgramsNothingPastTheEndOfTheFile) {
    // A large segment first leaves its data in the buffers; the odd-sized one that follows
    // must not carry any of it into flash.
    handheld_.PutFile(kCoreApps, TestSegment(kCoreApps));
    EXPECT_EQ(WriteSegment(kCoreApps), 0);
    std::vector<uint8_t> odd(kMiB + 1000);
    for (size_t i = 0; i < odd.size(); ++i) odd[i] = uint8_t(i * 7 + 1);
    handheld_.PutFile(kSync, odd);
    EXPECT_EQ(WriteSegment(kSync), 0);
    ExpectSegmentInFlash(kSync, odd);
}

TEST_F(UpdateSequenceTest, ProgramErrorInTheThirdMegabyteRewritesTheSegmentFromItsStart) {
    WriteSegmentDespite(kCoreApps, [](FlashModel& flash, uint32_t offset, uint32_t) {
        flash.FailProgram(0, offset + 2 * kMiB + 0x1240, 1);
    });
    const uint32_t address = FlashAddressOf(kCoreApps);
    EXPECT_EQ(Erases(address), 4u) << "first block erased twice on both chips";
    EXPECT_EQ(Erases(address + 2 * kMiB), 4u) << "the failing megabyte too";
    EXPECT_EQ(Erases(address + 3 * kMiB), 2u) << "the last half megabyte once";
    std::vector<uint32_t> writes = WriteOffsets();
    EXPECT_EQ(std::count(writes.begin(), writes.end(), address - kFlashStart), 2);
    EXPECT_EQ(ScreenLine(0), "Retry again ..E:0x00800090");
    EXPECT_EQ(g_consoleLine, 1u);
}

struct FaultCase {
    const char* name;
    const char16_t* segment;
    FaultSetter setFault;
    const char* screenLine;  // the console's first line afterwards
};

const FaultCase kFaults[] = {
    {"ErrorOnTheLastBufferedWriteIsRetried", kSync,
     [](FlashModel& flash, uint32_t offset, uint32_t length) {
         flash.FailProgram(1, offset + length - 4, 1);
     },
     "Retry again ..E:0x00900080"},
    // No buffered write failed: the error code stays 0.
    {"EraseErrorOnOneBlockIsRetried", kCoreApps,
     [](FlashModel& flash, uint32_t offset, uint32_t) {
         flash.FailErase(1, (offset + 5 * kBlock) / kBlock, 1);
     },
     "eRetry again ..E:0x00000000"},
    {"OneChipBusyLongerThanTheOther", kSync,
     [](FlashModel& flash, uint32_t, uint32_t) { flash.SetBusyDuring(1, 25); }, ""},
};

class FlashFaults : public UpdateSequenceTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FlashFaults, SegmentGoesIntoFlashAllTheSame) {
    WriteSegmentDespite(GetParam().segment, GetParam().setFault);
    EXPECT_EQ(ScreenLine(0), GetParam().screenLine);
}

INSTANTIATE_TEST_SUITE_P(UpdateSequence, FlashFaults, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateSequenceTest, KernelIsWrittenInHalfMegabytesFromItsEndAndOnlyTheFailingPieceIsRetried) {
    const std::vector<uint8_t> bytes = TestSegment(kKernel);
    handheld_.PutFile(kKernel, bytes);
    const uint32_t base = FlashAddressOf(kKernel) - kFlashStart;
    M().Flash().FailProgram(1, base + 0x180000 + 0x400, 1);  // in the piece 1.5-2.0 MiB
    const uint32_t boots = M().BootCount();
    int result = 99;
    OnDevice([&] { result = FlashKernelFile(kKernel, FlashAddressOf(kKernel)); });
    ASSERT_TRUE(M().WaitUntilBootCount(boots + 1, 60000)) << "pin 21 low resets the handheld";
    EXPECT_FALSE(M().LastBootWarm()) << "the warm-boot token was cleared";
    EXPECT_EQ(M().RomBuild(), TestKernelBuild());
    EXPECT_TRUE(handheld_.FlashAt(kImageFlashAddress, uint32_t(bytes.size())) == bytes);

    // Runs of writes, each named by the piece it starts: 2.0, 1.5 (failed), 1.5, 1.0, 0.5, 0.
    std::vector<uint32_t> pieceStarts;
    for (uint32_t offset : WriteOffsets()) {
        uint32_t piece = (offset - base) / 0x80000 * 0x80000;
        if (pieceStarts.empty() || pieceStarts.back() != piece || (offset - base) % 0x80000 == 0)
            pieceStarts.push_back(piece);
    }
    EXPECT_EQ(pieceStarts, (std::vector<uint32_t>{0x200000, 0x180000, 0x180000, 0x100000, 0x80000, 0}));
    EXPECT_EQ(Erases(FlashAddressOf(kKernel) + 0x180000), 4u);
    EXPECT_EQ(Erases(FlashAddressOf(kKernel) + 0x100000), 2u);
    EXPECT_EQ(Erases(FlashAddressOf(kKernel)), 2u);
}

TEST_F(UpdateSequenceTest, KernelNotAMultipleOfHalfAMegabyteWritesAShorterFirstPiece) {
    std::vector<uint8_t> bytes = TestSegment(kKernel);
    bytes.resize(0x1A0000);  // pieces: 1.5-1.625, 1.0-1.5, 0.5-1.0, 0-0.5
    handheld_.PutFile(kKernel, bytes);
    const uint32_t boots = M().BootCount();
    OnDevice([&] { FlashKernelFile(kKernel, FlashAddressOf(kKernel)); });
    ASSERT_TRUE(M().WaitUntilBootCount(boots + 1, 60000));
    EXPECT_TRUE(handheld_.FlashAt(kImageFlashAddress, uint32_t(bytes.size())) == bytes);
    std::vector<uint32_t> writes = WriteOffsets();
    const uint32_t base = kImageFlashAddress - kFlashStart;
    ASSERT_EQ(writes.size(), bytes.size() / 64);
    EXPECT_EQ(writes.front(), base + 0x180000);
    EXPECT_EQ(writes[0x20000 / 64], base + 0x100000) << "the short piece is 128 KiB";
    EXPECT_EQ(writes.back(), base + 0x80000 - 64);
}

class FragmentedRamTest : public UpdateSequenceTest {
protected:
    static tova::MachineConfig Fragmented() {
        tova::MachineConfig config;
        config.faults.ramFragmentation = true;
        return config;
    }
    FragmentedRamTest() : UpdateSequenceTest(Fragmented()) {}
};

TEST_F(FragmentedRamTest, BuffersAreStillPhysicallyContiguous) {
    const std::vector<uint8_t> bytes = TestSegment(kCoreApps);
    handheld_.PutFile(kCoreApps, bytes);
    const size_t heapBefore = M().OutstandingLocalAllocations();
    EXPECT_EQ(WriteSegment(kCoreApps), 0);
    ExpectSegmentInFlash(kCoreApps, bytes);
    ASSERT_EQ(g_segmentBufferCount, 4u);
    for (uint32_t i = 0; i < g_segmentBufferCount; ++i) {
        const uint32_t process = uint32_t(uintptr_t(g_segmentBuffers.processAddress[i]));
        const uint32_t physical = g_segmentBuffers.kernelAddress[i] + kPhysicalToKernelCached;
        for (uint32_t page = 0; page < kMiB; page += 4096)
            ASSERT_EQ(M().Pages().PhysicalAddress(process + page), physical + page) << "buffer " << i;
    }
    EXPECT_EQ(M().Pages().CommittedPages(), 4 * kMiB / 4096) << "set-aside reservations released";
    EXPECT_EQ(M().OutstandingLocalAllocations(), heapBefore) << "page list freed";
}

TEST_F(UpdateSequenceTest, AllocatorGivesUpWhenTheSetAsideListIsFull) {
    // Leave only every other page free, so that no two free pages are neighbours.
    tova::hw::PageAllocator& pages = M().Pages();
    const uint32_t freePages = pages.FreePages();
    const uint32_t hog = pages.Allocate(freePages * 4096);
    ASSERT_NE(hog, 0u);
    for (uint32_t page = 0; page < freePages; page += 2) ASSERT_TRUE(pages.Decommit(hog + page * 4096, 4096));
    const uint32_t committed = pages.CommittedPages();
    const size_t heapBefore = M().OutstandingLocalAllocations();

    uint32_t physical = 0xDEAD;
    LPVOID buffer = reinterpret_cast<LPVOID>(1);
    OnDevice([&] { buffer = AllocContiguousBuffer(2 * 4096, &physical); });
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(physical, 0u);
    EXPECT_EQ(pages.CommittedPages(), committed) << "every set-aside reservation released";
    EXPECT_EQ(M().OutstandingLocalAllocations(), heapBefore);
}

TEST_F(UpdateSequenceTest, NoBufferToBeHadSkipsTheSegment) {
    M().Pages().SetPageLimit(M().Pages().CommittedPages() + 16);
    handheld_.PutFile(kSync, TestSegment(kSync));
    EXPECT_EQ(WriteSegment(kSync), -1);
    EXPECT_TRUE(M().Flash().Operations().empty());
    EXPECT_EQ(g_segmentBufferCount, 0u);
}

TEST_F(UpdateSequenceTest, SegmentFileSizeAsTheStoreHasIt) {
    handheld_.PutFile(kSync, std::vector<uint8_t>(12345, 1));
    uint32_t present = 0, absent = 1;
    OnDevice([&] {
        present = GetSegmentFileSize(kSync);
        absent = GetSegmentFileSize(u"\\Temp\\NOPE.nb0");
    });
    EXPECT_EQ(present, 12345u);
    EXPECT_EQ(absent, 0u);
}

TEST_F(UpdateSequenceTest, RunSkipsMissingAndEmptyFilesAndDeletesTheFirstEight) {
    const std::vector<uint8_t> sync = TestSegment(kSync);
    handheld_.PutFile(kSync, sync);
    handheld_.PutFile(u"\\Temp\\24MAPPS.nb0", {});
    handheld_.PutFile(u"\\Temp\\MISC_3.nb0", TestSegment(u"\\Temp\\MISC_3.nb0"));
    int result = 99;
    OnDevice([&] { result = RunFlashUpdate(); });
    EXPECT_EQ(result, kUpdateDone);
    ExpectSegmentInFlash(kSync, sync);
    std::set<uint32_t> touchedBlocks;
    for (const FlashOperation& op : M().Flash().Operations()) touchedBlocks.insert(op.offset / kBlock);
    const uint32_t syncFirst = (FlashAddressOf(kSync) - kFlashStart) / kBlock;
    const uint32_t misc3First = (FlashAddressOf(u"\\Temp\\MISC_3.nb0") - kFlashStart) / kBlock;
    for (uint32_t block : touchedBlocks)
        EXPECT_TRUE((block >= syncFirst && block < syncFirst + 4) || (block >= misc3First && block < misc3First + 8))
            << "block " << block << " belongs to no file that was there";
    EXPECT_FALSE(M().Store().Exists(kSync));
    EXPECT_FALSE(M().Store().Exists(u"\\Temp\\24MAPPS.nb0"));
    EXPECT_TRUE(M().Store().Exists(u"\\Temp\\MISC_3.nb0"));
    EXPECT_EQ(ScreenLine(0), "v1.075");
    for (uint32_t step = 1; step <= 12; ++step)
        EXPECT_EQ(ScreenLine(step), "... " + std::to_string(step) + "/12 ...");
    EXPECT_TRUE(M().InterruptsMasked());
    EXPECT_EQ(M().SleepViolations(), 0u);
}

}  // namespace
}  // namespace flasher_test
