// The ARM build of Velkor.exe, loaded by the emulator's loader and run on the emulated CPU
// of a booted handheld with a new package's segment files in \Temp: it writes the whole
// package into flash byte for byte with no guest error and ends by driving the reset line,
// which ends its thread and boots the new ROM.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>

#include "handheld.h"
#include "emulator/arm/arm_module.h"
#include "emulator/arm/guest_heap.h"
#include "emulator/arm/guest_thread.h"
#include "platform/clock/clock.h"
#include "shared/flash_map.h"
#include "shared/segment_table.h"

namespace tova::arm {
namespace {

// As for the host build's whole-flasher test: the minute of banner passes in milliseconds.
constexpr double kTimeScale = 0.0001;

std::vector<uint8_t> ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(ArmVelkorTest, FlashesAWholePackageByteForByteAndBootsIt) {
    flasher_test::HandheldSession handheld;
    Machine& m = handheld.M();
    handheld.PutPackageSegmentFiles();
    GuestMemory memory(m.Board());
    GuestHeap heap(memory);
    auto thread = std::make_unique<GuestThread>(memory, heap);
    std::string error;
    auto module = ArmModule::Load("Velkor.exe", ReadFile(TOVA_ARM_VELKOR), memory, &error);
    ASSERT_TRUE(module) << error;
    const uint32_t entry = module->Export("FlasherMain");
    ASSERT_NE(entry, 0u);

    std::atomic<int> resets{0};
    std::atomic<bool> maskedAtReset{false};
    m.Gpio().OnResetLine([&] {
        maskedAtReset = m.InterruptsMasked();
        ++resets;
    });
    const uint32_t boots = m.BootCount();
    const std::vector<uint8_t> before = m.Flash().ReadArray(0, kFlashBlockBytes);
    const std::vector<uint8_t>& package = flasher_test::NewRomPackage();
    const uint32_t imageOffset = kImageFlashAddress - kFlashStart;
    const std::vector<uint8_t> oldImage = m.Flash().ReadArray(imageOffset, kPackageSegmentsBytes);
    ASSERT_FALSE(std::equal(oldImage.begin(), oldImage.end(), package.begin() + kPackageSegmentsOffset))
        << "the old ROM differs from the package";
    m.Flash().ClearLog();
    SetTimeScale(kTimeScale);
    cpu::ArmCpu::Result result{true, 0, {}};
    const bool returned = m.RunDeviceCall([&] { result = thread->Call(entry, {0, 0, 0, 0}); });
    const bool backUp = handheld.Watchdog().Await(
        [&] { return m.WaitUntilBootCount(boots + 1, 0) && m.WaitUntilBooted(0); });
    SetTimeScale(0);

    EXPECT_FALSE(returned) << "the reset ends the flasher's thread; " << result.error;
    ASSERT_TRUE(backUp) << handheld.Watchdog().Reason();
    EXPECT_EQ(resets.load(), 1);
    EXPECT_TRUE(maskedAtReset.load()) << "the guest's own CPSR write reached the platform";
    EXPECT_EQ(m.SleepViolations(), 0u);
    EXPECT_EQ(m.Bus().GuestErrors().Count(hw::GuestErrorKind::kGuestCode), 0u);

    const std::vector<uint8_t> image = m.Flash().ReadArray(imageOffset, kPackageSegmentsBytes);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), package.begin() + kPackageSegmentsOffset))
        << "flash from the image address equals the package's segments";
    const std::vector<uint8_t> firstBlock = m.Flash().ReadArray(0, kFlashBlockBytes);
    EXPECT_TRUE(firstBlock == before) << "the first block is left alone";
    uint64_t wordsWritten = 0;
    for (const hw::FlashOperation& op : m.Flash().Operations())
        if (op.kind == hw::FlashOperationKind::kBufferedProgram) wordsWritten += op.words;
    EXPECT_GE(wordsWritten * 2, uint64_t(kPackageSegmentsBytes) / 2) << "the image was written, not found in place";
    for (const hw::FlashOperation& op : m.Flash().Operations())
        EXPECT_GE(op.offset, imageOffset) << "nothing written or erased below the image";
    EXPECT_EQ(m.RomBuild(), flasher_test::NewRomBuild());
}

// As the handheld runs it with its option on: Velkor.exe (the ARM build) in the start-up
// folder, a warm boot, the shell starting it on a CPU context of its own thread.
TEST(ArmVelkorTest, RunsFromTheStartUpFolderOnTheCpuAndFlashesThePackage) {
    MachineConfig config;
    config.armModules = true;
    flasher_test::HandheldSession handheld(config);
    Machine& m = handheld.M();
    handheld.PutPackageSegmentFiles();
    handheld.PutFile(u"\\Windows\\StartUp\\Velkor.exe", ReadFile(TOVA_ARM_VELKOR));
    const size_t launchesBefore = m.ShellLaunches().size();
    const uint32_t boots = m.BootCount();
    SetTimeScale(kTimeScale);
    m.RequestReset(ResetKind::kWarm);
    // The warm boot that starts the flasher, then the boot of the new ROM.
    const bool backUp = handheld.Watchdog().Await(
        [&] { return m.WaitUntilBootCount(boots + 2, 0) && m.WaitUntilBooted(0); });
    SetTimeScale(0);
    ASSERT_TRUE(backUp) << handheld.Watchdog().Reason();

    const std::vector<ShellLaunch> launches = m.ShellLaunches();
    bool ranAsModule = false;
    for (size_t i = launchesBefore; i < launches.size(); ++i)
        ranAsModule |= launches[i].kind == ShellLaunch::Kind::kModule;
    EXPECT_TRUE(ranAsModule);
    EXPECT_EQ(m.Bus().GuestErrors().Count(hw::GuestErrorKind::kGuestCode), 0u);
    const std::vector<uint8_t>& package = flasher_test::NewRomPackage();
    const std::vector<uint8_t> image = m.Flash().ReadArray(kImageFlashAddress - kFlashStart, kPackageSegmentsBytes);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), package.begin() + kPackageSegmentsOffset));
    EXPECT_EQ(m.RomBuild(), flasher_test::NewRomBuild());
    EXPECT_FALSE(m.LastBootWarm());
}

}  // namespace
}  // namespace tova::arm
