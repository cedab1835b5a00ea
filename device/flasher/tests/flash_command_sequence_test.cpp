// The flash driver's command words on the bus, operation by operation, held against the
// datasheet's sequences. Results and flash contents cannot show a command that the chips
// happen to tolerate being left out (a clear-status sent while they are busy, say).
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "flash_driver_fixture.h"
#include "flash_sequences.h"

namespace flasher_test {
namespace {

namespace cmd = tova::hw::test;

struct BusWrite {
    uint32_t address;
    uint32_t value;
};
using Sequence = std::vector<BusWrite>;

Sequence operator+(Sequence a, const Sequence& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// One line a write, so that a mismatch shows where the sequences part.
std::vector<std::string> Lines(const Sequence& writes) {
    std::vector<std::string> lines;
    for (const BusWrite& w : writes) {
        char line[32];
        std::snprintf(line, sizeof line, "%08X <- %08X", w.address, w.value);
        lines.push_back(line);
    }
    return lines;
}

constexpr uint32_t kSeed = 21;
constexpr uint32_t kBlock2 = kFlash + 2 * kBlock;

// The 16 source words the fixture places at kSource, as they must reach the flash.
std::vector<uint32_t> SourceWords() {
    std::vector<uint8_t> bytes = Pattern(64 + 64, kSeed);
    std::vector<uint32_t> words(16);
    for (size_t i = 0; i < words.size(); ++i)
        words[i] = uint32_t(bytes[4 * i]) | uint32_t(bytes[4 * i + 1]) << 8 |
                   uint32_t(bytes[4 * i + 2]) << 16 | uint32_t(bytes[4 * i + 3]) << 24;
    return words;
}

// Write to buffer up to the status read: request, count, the 16 words, confirm, clear
// status, read status.
Sequence BufferedWriteUpToStatus(uint32_t p) {
    Sequence s = {{p, cmd::kWriteToBuffer}, {p, cmd::BufferCount(16)}};
    std::vector<uint32_t> words = SourceWords();
    for (uint32_t i = 0; i < 16; ++i) s.push_back({p + 4 * i, words[i]});
    return s + Sequence{{p, cmd::kConfirm}, {p, cmd::kClearStatus}, {p, cmd::kReadStatus}};
}

// Ready check, clear status, read array, erase and confirm, read status.
Sequence EraseUpToStatus(uint32_t b) {
    return {{b, cmd::kReadStatus}, {b, cmd::kClearStatus}, {b, cmd::kReadArray},
            {b, cmd::kBlockErase}, {b, cmd::kConfirm},     {b, cmd::kReadStatus}};
}

Sequence ErasedBlock(uint32_t b) { return EraseUpToStatus(b) + Sequence{{b, cmd::kReadArray}}; }

// The driver's result numbers: 0 done, 17 buffered write or protection register not ready,
// 34 erase failed.
constexpr uint32_t kDone = 0, kWriteFailed = 17, kEraseFailed = 34;

struct SequenceCase {
    const char* name;
    std::function<void(tova::hw::FlashModel&)> fault;  // none when empty
    std::function<uint32_t()> run;
    uint32_t result;
    Sequence expected;
};

void PrintTo(const SequenceCase& c, std::ostream* os) { *os << c.name; }

class CommandSequenceTest : public FlashDriverTest,
                            public ::testing::WithParamInterface<SequenceCase> {};

TEST_P(CommandSequenceTest, MatchesTheDatasheet) {
    const SequenceCase& c = GetParam();
    PlaceSource(64, kSeed);
    Flash().LoadImage(2 * kBlock, std::vector<uint8_t>(2 * kBlock, 0xFF));  // erased
    if (c.fault) c.fault(Flash());
    Flash().ClearLog();
    EXPECT_EQ(c.run(), c.result);
    Sequence logged;
    for (const tova::hw::FlashBusWrite& w : Flash().BusWrites()) {
        EXPECT_EQ(w.width, 4u) << "every command goes to both chips in one bus word";
        logged.push_back({kFlash + w.offset, w.value});
    }
    EXPECT_EQ(Lines(logged), Lines(c.expected));
}

uint16_t g_words[4];

const SequenceCase kCases[] = {
    {"buffered_write",
     {},
     [] { return FlashWriteBuffer(kBlock2 + 0x40, kSource, 16); },
     kDone,
     BufferedWriteUpToStatus(kBlock2 + 0x40) + Sequence{{kBlock2 + 0x40, cmd::kReadArray}}},
    {"buffered_write_reported_failed_clears_the_status",
     [](tova::hw::FlashModel& f) { f.FailProgram(0, 2 * kBlock + 0x48, 1); },
     [] { return FlashWriteBuffer(kBlock2 + 0x40, kSource, 16); },
     kWriteFailed,
     BufferedWriteUpToStatus(kBlock2 + 0x40) +
         Sequence{{kBlock2 + 0x40, cmd::kClearStatus}, {kBlock2 + 0x40, cmd::kReadArray}}},
    {"buffered_write_without_a_buffer",
     [](tova::hw::FlashModel& f) { f.MakeBufferUnavailable(1, 1); },
     [] { return FlashWriteBuffer(kBlock2, kSource, 16); },
     kWriteFailed,
     {{kBlock2, cmd::kWriteToBuffer},
      {kBlock2, cmd::kReadArray},
      {kBlock2, cmd::kClearStatus},
      {kBlock2, cmd::kReadArray}}},
    {"erase_block", {}, [] { return FlashEraseBlock(kBlock2); }, kDone, ErasedBlock(kBlock2)},
    {"erase_block_not_ready_before",
     [](tova::hw::FlashModel& f) { f.SetBusyBefore(1, kTestPollLimit); },
     [] { return FlashEraseBlock(kBlock2); },
     kEraseFailed,
     {{kBlock2, cmd::kReadStatus}, {kBlock2, cmd::kClearStatus}, {kBlock2, cmd::kReadArray}}},
    {"erase_block_reported_failed",
     [](tova::hw::FlashModel& f) { f.FailErase(0, 2, 1); },
     [] { return FlashEraseBlock(kBlock2); },
     kEraseFailed,
     EraseUpToStatus(kBlock2) + Sequence{{kBlock2, cmd::kClearStatus}, {kBlock2, cmd::kReadArray}}},
    {"erase_range_from_inside_a_block",
     {},
     [] { return FlashEraseRange(kBlock2 + 0x100, kBlock); },
     kDone,
     ErasedBlock(kBlock2) + ErasedBlock(kBlock2 + kBlock) + Sequence{{kFlash, cmd::kReadArray}}},
    {"program_range_of_one_write",
     {},
     [] { return FlashProgramRange(kBlock2, kSource, 64, 0, 0); },
     kDone,
     ErasedBlock(kBlock2) + Sequence{{kFlash, cmd::kReadArray}} + BufferedWriteUpToStatus(kBlock2) +
         Sequence{{kBlock2, cmd::kReadArray}}},
    {"program_range_through_the_cached_window",
     {},
     [] { return FlashProgramRange(kBlock2 & ~kFlashUncachedBit, kSource, 64, 0, 0); },
     kDone,
     ErasedBlock(kBlock2) + Sequence{{kFlash, cmd::kReadArray}} + BufferedWriteUpToStatus(kBlock2) +
         Sequence{{kBlock2, cmd::kReadArray}}},
    {"unlock_of_an_unlocked_block",
     {},
     [] { return FlashUnlock(kFlash + kBlock); },
     kDone,
     {{kFlash + kBlock + 8, cmd::kReadIdentifier}, {kFlash + kBlock, cmd::kReadArray}}},
    {"unlock_of_a_locked_block",
     [](tova::hw::FlashModel& f) { f.SetBlockLocked(1, 1, true); },
     [] { return FlashUnlock(kFlash + kBlock); },
     kDone,
     {{kFlash + kBlock + 8, cmd::kReadIdentifier},
      {kFlash + kBlock, cmd::kLockSetup},
      {kFlash + kBlock, cmd::kConfirm},
      {kFlash + kBlock, cmd::kReadArray}}},
    {"protection_register_read",
     {},
     [] { return FlashReadProtectionRegister(g_words); },
     kDone,
     {{kFlash, cmd::kClearStatus},
      {kFlash, cmd::kReadStatus},
      {kFlash, cmd::kReadIdentifier},
      {kFlash, cmd::kReadArray}}},
    {"protection_register_not_ready",
     [](tova::hw::FlashModel& f) { f.SetBusyBefore(0, kTestPollLimit); },
     [] { return FlashReadProtectionRegister(g_words); },
     kWriteFailed,
     {{kFlash, cmd::kClearStatus}, {kFlash, cmd::kReadStatus}, {kFlash, cmd::kReadArray}}},
    {"word_program_leaves_status_mode",
     {},
     [] { return FlashWriteWord(kBlock2 + 8, 0x12345678); },
     kDone,
     {{kBlock2 + 8, cmd::kWordProgram}, {kBlock2 + 8, 0x12345678}}},
    {"lock_block",
     {},
     [] { return FlashLockBlock(kBlock2); },
     kDone,
     {{kBlock2, cmd::kClearStatus},
      {kBlock2, cmd::kReadStatus},
      {kBlock2, cmd::kLockSetup},
      {kBlock2, cmd::kSetLockBit},
      {kBlock2, cmd::kReadArray}}},
};

INSTANTIATE_TEST_SUITE_P(Operations, CommandSequenceTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace flasher_test
