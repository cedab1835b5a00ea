// The whole flasher as the handheld runs it: Velkor.exe in the start-up folder, the segment
// files of a new package in \Temp, a warm boot. The shell starts the module, which writes
// the package into flash and ends by driving the reset line, which cold-boots the new ROM.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <mutex>

#include "device/flasher/console.h"
#include "handheld.h"
#include "platform/clock/clock.h"
#include "screen_text.h"
#include "shared/flash_map.h"
#include "emulator/hw/board.h"
#include "emulator/object_store.h"

namespace flasher_test {
namespace {

using tova::hw::FlashOperation;

constexpr uint32_t kImageOffset = kImageFlashAddress - kFlashStart;
// Small enough that the minute of banner passes in milliseconds. How long the update may
// take is the session watchdog's to bound.
constexpr double kTimeScale = 0.0001;

// What the handheld looked like the moment the flasher drove the reset line.
struct AtResetLine {
    std::vector<std::u16string> tempFiles;
    std::vector<uint16_t> screen;
    bool masked = false;
    uint32_t sleepViolations = 0;
    int calls = 0;
};

class FlasherOnHandheldTest : public ::testing::Test {
protected:
    explicit FlasherOnHandheldTest(tova::MachineConfig config = {}) : handheld_(config) {}

    tova::Machine& M() { return handheld_.M(); }

    void InstallFlasher(FlasherBuild build) {
        std::ifstream in(BuiltFlasherModule(build), std::ios::binary);
        ASSERT_TRUE(in) << "no module at " << BuiltFlasherModule(build);
        std::vector<uint8_t> module{std::istreambuf_iterator<char>(in), {}};
        handheld_.PutFile(u"\\Windows\\StartUp\\Velkor.exe", module);
    }

    void WatchResetLine() {
        M().Gpio().OnResetLine([this] {
            std::lock_guard lock(mutex_);
            atReset_.tempFiles = M().Store().List(u"\\Temp");
            atReset_.screen = M().Display().Screen().Pixels();
            atReset_.masked = M().InterruptsMasked();
            atReset_.sleepViolations = M().SleepViolations();
            ++atReset_.calls;
            M().Display().RenderPng(::testing::TempDir() + "velkor_progress.png");
        });
    }

    // Warm boot with everything in place; returns once the handheld is up again after the
    // flasher's reset.
    void RunUpdate(FlasherBuild build) {
        handheld_.PutPackageSegmentFiles();
        InstallFlasher(build);
        WatchResetLine();
        M().Flash().ClearLog();
        before_ = M().Flash().ReadArray(0, kFlashBytes);
        const uint32_t boots = M().BootCount();
        tova::SetTimeScale(kTimeScale);
        M().RequestReset(tova::ResetKind::kWarm);
        const bool backUp = handheld_.Watchdog().Await([&] {
            return M().WaitUntilBootCount(boots + 2, 0) && M().WaitUntilBooted(0);
        });
        tova::SetTimeScale(0);
        ASSERT_TRUE(backUp) << "no second boot: " << handheld_.Watchdog().Reason();
        std::lock_guard lock(mutex_);
        seen_ = atReset_;
    }

    std::string ScreenLine(uint32_t line) { return LineText(seen_.screen, line, kMessageColour); }

    void ExpectNewRomInFlash() {
        const std::vector<uint8_t>& package = NewRomPackage();
        std::vector<uint8_t> image = M().Flash().ReadArray(kImageOffset, kPackageSegmentsBytes);
        EXPECT_TRUE(std::equal(image.begin(), image.end(), package.begin() + kPackageSegmentsOffset))
            << "flash from 0xA0040000 equals the package from offset 512";
        std::vector<uint8_t> firstBlock = M().Flash().ReadArray(0, kFlashBlockBytes);
        EXPECT_TRUE(std::equal(firstBlock.begin(), firstBlock.end(), before_.begin()));
        for (unsigned chip = 0; chip < 2; ++chip) EXPECT_EQ(M().Flash().EraseCount(chip, 0), 0u);
        for (const FlashOperation& op : M().Flash().Operations())
            EXPECT_GE(op.offset, kImageOffset) << "nothing in the first block";
        EXPECT_FALSE(M().LastBootWarm());
        EXPECT_EQ(M().RomBuild(), NewRomBuild());
    }

    HandheldSession handheld_;
    std::mutex mutex_;
    AtResetLine atReset_;  // written on the flasher's thread, under mutex_
    AtResetLine seen_;     // the test's copy once the update is over
    std::vector<uint8_t> before_;
};

// Names each buffered write by what it writes: the segment, or for the kernel the
// half-megabyte piece. Consecutive writes to one of them make one entry; a write back at
// its start begins a new one (a retry), so the result reads as the order of work.
std::vector<std::string> OrderOfWrites(const std::vector<FlashOperation>& writes) {
    std::vector<std::string> order;
    for (const FlashOperation& op : writes) {
        if (op.chip != 0) continue;
        std::string name = "?";
        bool atStart = false;
        for (const SegmentEntry& s : kSegmentTable) {
            uint32_t begin = FlashAddressOfPackageOffset(s.packageOffset) - kFlashStart;
            if (op.offset < begin || op.offset >= begin + s.size) continue;
            name = s.name;
            atStart = op.offset == begin;
            if (name == "KERNEL") {
                name += "@" + std::to_string((op.offset - begin) / 0x80000);
                atStart = (op.offset - begin) % 0x80000 == 0;
            }
        }
        if (order.empty() || order.back() != name || atStart) order.push_back(name);
    }
    return order;
}

// Run against either build of the flasher: the handheld runs the ARM one on its CPU.
class FlasherUnderFaultsTest : public FlasherOnHandheldTest,
                               public ::testing::WithParamInterface<FlasherBuild> {
protected:
    static tova::MachineConfig Fragmented() {
        tova::MachineConfig config;
        config.faults.ramFragmentation = true;
        config.armModules = GetParam() == FlasherBuild::kArm;
        return config;
    }
    FlasherUnderFaultsTest() : FlasherOnHandheldTest(Fragmented()) {}

    void SetUp() override {
        if (GetParam() == FlasherBuild::kArm && !HasArmFlasher())
            GTEST_SKIP() << "this build has no ARM flasher (TOVA_BUILD_ARM=OFF)";
    }

    static uint32_t OffsetOf(const char* name) {
        for (const SegmentEntry& s : kSegmentTable)
            if (std::string(s.name) == name) return FlashAddressOfPackageOffset(s.packageOffset) - kFlashStart;
        return 0;
    }
};

// One whole update, with faults injected on the way: each failing write is retried and the
// result is still exact.
TEST_P(FlasherUnderFaultsTest, WritesTheNewRomThroughFaultsAndColdBootsIt) {
    tova::hw::FlashModel& flash = M().Flash();
    flash.FailProgram(1, OffsetOf("SHELL") + 0x200000 - 4, 1);        // its last buffered write
    flash.FailProgram(0, OffsetOf("COREAPPS") + 0x200000 + 0x40, 1);  // in its third megabyte
    flash.FailErase(1, OffsetOf("OS") / kFlashBlockBytes + 3, 1);     // one block of OS
    flash.FailProgram(1, OffsetOf("KERNEL") + 0x100000 + 0x80, 1);    // kernel piece 1.0-1.5
    flash.SetBusyDuring(1, 3);                                        // the high chip is slower
    const uint32_t launchesBefore = uint32_t(M().ShellLaunches().size());
    RunUpdate(GetParam());
    ExpectNewRomInFlash();

    ASSERT_EQ(seen_.calls, 1);
    std::vector<std::u16string> left;
    for (const auto& name : seen_.tempFiles) left.push_back(tova::FoldCase(name));
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::u16string>{u"kernel.nb0", u"misc_3.nb0", u"misc_4.nb0", u"os.nb0"}))
        << "steps 1 to 8 deleted, 9 to 12 kept";
    EXPECT_TRUE(seen_.masked);
    EXPECT_EQ(seen_.sleepViolations, 0u);

    std::vector<tova::ShellLaunch> launches = M().ShellLaunches();
    bool flasherRan = false;
    for (size_t i = launchesBefore; i < launches.size(); ++i)
        flasherRan |= launches[i].kind == tova::ShellLaunch::Kind::kModule &&
                      tova::SameName(launches[i].path, u"\\Windows\\StartUp\\Velkor.exe");
    EXPECT_TRUE(flasherRan);
    EXPECT_FALSE(M().Store().Exists(u"\\Windows\\StartUp\\Velkor.exe")) << "the cold boot wiped the store";

    // The screen as the flasher left it (also written as velkor_progress.png in the test's
    // temporary folder).
    const std::vector<std::string> expected = {
        "v1.075",
        "... 1/12 ...",
        "... 2/12 ...",
        "... 3/12 ...",
        "Retry again ..E:0x00900080",
        "... 4/12 ...",
        "... 5/12 ...",
        "... 6/12 ...",
        "Retry again ..E:0x00800090",
        "... 7/12 ...",
        "... 8/12 ...",
        "... 9/12 ...",
        "... 10/12 ...",
        "... 11/12 ...",
        "eRetry again ..E:0x00800090",
        "... 12/12 ...",
        "Retry again ..E:0x00900080",
    };
    for (uint32_t line = 0; line < expected.size(); ++line) EXPECT_EQ(ScreenLine(line), expected[line]);

    EXPECT_EQ(OrderOfWrites(M().Flash().BufferedWrites()),
              (std::vector<std::string>{"SYNC", "24MAPPS", "SHELL", "SHELL", "24MCONSUMER", "BROWSING",
                                        "COREAPPS", "COREAPPS", "MISC_1", "MISC_2", "MISC_3", "MISC_4",
                                        "OS", "KERNEL@4", "KERNEL@3", "KERNEL@2", "KERNEL@2", "KERNEL@1",
                                        "KERNEL@0"}))
        << "a failing segment again from its start; of the kernel only the failing piece";
}

INSTANTIATE_TEST_SUITE_P(Build, FlasherUnderFaultsTest,
                         ::testing::Values(FlasherBuild::kHost, FlasherBuild::kArm),
                         [](const auto& info) { return info.param == FlasherBuild::kArm ? "arm" : "host"; });

}  // namespace
}  // namespace flasher_test
