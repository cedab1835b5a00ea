// A process flashing into the model's file is killed with SIGKILL in the middle of its
// work: the file loads, and it holds every operation the process's command log shows as
// done, the one after it at most partly, and nothing later.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>

#include "flash_fixture.h"

namespace tova::hw::test {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kFirstBlock = 1;
constexpr uint32_t kBlocks = 16;  // far more than the process gets through before the kill
constexpr uint32_t kChunk = 64;   // bytes of one buffered write, both chips
constexpr uint32_t kStepsPerBlock = 1 + kFlashBusBlockBytes / kChunk;  // the erase, then the writes
constexpr uint32_t kKillAfterSteps = kStepsPerBlock + kStepsPerBlock / 3;  // in the second block

// Step n of a flashing: erase a block, or program its next 64 bytes with new content.
uint32_t NewWord(uint32_t offset) { return offset * 2654435761u ^ 0x5A5AA5A5u; }

void RunStep(Bus& bus, uint32_t step) {
    uint32_t block = kFirstBlock + step / kStepsPerBlock, inBlock = step % kStepsPerBlock;
    uint32_t blockAt = kFlashBase + block * kFlashBusBlockBytes;
    if (inBlock == 0) {
        BlockErase(bus, blockAt);
        return;
    }
    uint32_t offset = block * kFlashBusBlockBytes + (inBlock - 1) * kChunk;
    std::vector<uint32_t> words(kChunk / 4);
    for (uint32_t i = 0; i < words.size(); ++i) words[i] = NewWord(offset + 4 * i);
    WriteToBuffer(bus, kFlashBase + offset, words);
}

// What the flashing process reports after each step: the operations its command log took.
struct Record {
    uint32_t step;
    uint32_t count;
    FlashOperation operations[2];
};

[[noreturn]] void FlashUntilKilled(const fs::path& path, int report) {
    FlashModel flash;
    flash.Load(path);
    Bus bus;
    bus.Map(kFlashBase, kFlashArrayBytes, flash, "flash");
    for (uint32_t step = 0; step < kBlocks * kStepsPerBlock; ++step) {
        RunStep(bus, step);
        std::vector<FlashOperation> done = flash.Operations();
        flash.ClearLog();
        Record record{step, uint32_t(done.size()), {}};
        for (size_t i = 0; i < done.size() && i < 2; ++i) record.operations[i] = done[i];
        if (::write(report, &record, sizeof record) != ssize_t(sizeof record)) ::_exit(3);
    }
    ::_exit(0);  // never reached when the test works: the kill comes first
}

bool SameOperation(const FlashOperation& a, const FlashOperation& b) {
    return a.kind == b.kind && a.chip == b.chip && a.ok == b.ok && a.offset == b.offset && a.words == b.words;
}

class FlashKillTest : public FlashTest {
protected:
    FlashKillTest() : path_(fs::temp_directory_path() / ("tova_hw_flash_kill_" + std::to_string(::getpid()))) {
        fs::remove_all(path_);
        fs::create_directories(path_);
        path_ /= "flash.img";
    }
    ~FlashKillTest() override { fs::remove_all(path_.parent_path()); }

    static std::vector<uint8_t> OldContent() { return Pattern(kFlashBusBlockBytes * 4, 21); }

    fs::path path_;
};

TEST_F(FlashKillTest, AKilledFlashingLeavesEveryOperationOfItsCommandLogInTheFile) {
    FlashModel start;
    start.LoadImage(0, OldContent());
    start.Save(path_);

    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipe[0]);
        FlashUntilKilled(path_, pipe[1]);
    }
    ::close(pipe[1]);
    std::vector<Record> records;
    auto readRecords = [&](size_t until) {
        Record record;
        while (records.size() < until && ::read(pipe[0], &record, sizeof record) == ssize_t(sizeof record))
            records.push_back(record);
    };
    readRecords(kKillAfterSteps);
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the flashing ended before the kill";
    readRecords(SIZE_MAX);  // what it reported before it died
    ::close(pipe[0]);
    ASSERT_GE(records.size(), kKillAfterSteps);

    // The same steps on a model in memory, checked against the killed process's log.
    flash.LoadImage(0, OldContent());
    for (const Record& record : records) {
        ASSERT_EQ(record.step, uint32_t(&record - records.data()));
        RunStep(bus, record.step);
        std::vector<FlashOperation> done = flash.Operations();
        flash.ClearLog();
        ASSERT_EQ(done.size(), record.count) << "step " << record.step;
        for (size_t i = 0; i < done.size(); ++i)
            ASSERT_TRUE(SameOperation(done[i], record.operations[i])) << "step " << record.step;
    }
    const std::vector<uint8_t> logged = flash.Array();
    RunStep(bus, uint32_t(records.size()));
    const std::vector<uint8_t> next = flash.Array();

    FlashModel killed;
    ASSERT_NO_THROW(killed.Load(path_));
    const std::vector<uint8_t> inFile = killed.Array();
    size_t wrong = 0;
    for (size_t i = 0; i < inFile.size(); ++i)
        if (inFile[i] != logged[i] && inFile[i] != next[i]) ++wrong;  // next: the step under way
    EXPECT_EQ(wrong, 0u) << "bytes of the file neither as the command log leaves the flash nor as the "
                            "step under way at the kill would";
}

}  // namespace
}  // namespace tova::hw::test
