// The emulated handheld as the flasher's tests use it.
//   BoardUnderTest: the hardware of one machine that every console and driver test of a
//     binary shares, put back to a fresh state for each test (no boot, no programs).
//   HandheldSession: a booted handheld of its own in a temporary state folder, with the
//     old ROM in flash, for the update sequence and the whole flasher.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "handheld_watchdog.h"
#include "shared/segment_table.h"
#include "emulator/hw/board.h"
#include "emulator/machine.h"

namespace flasher_test {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

class BoardUnderTest {
public:
    BoardUnderTest();
    BoardUnderTest(const BoardUnderTest&) = delete;
    BoardUnderTest& operator=(const BoardUnderTest&) = delete;

    tova::hw::Board& Board() { return machine_->Board(); }
    tova::hw::Bus& Bus() { return machine_->Bus(); }
    tova::hw::FlashModel& Flash() { return machine_->Flash(); }
    tova::hw::Display& Display() { return machine_->Display(); }
    // Debug lines written since this test began.
    std::vector<std::u16string> DebugLines() const;

private:
    tova::Machine* machine_;
    size_t debugLinesBefore_;
};

// Content for the update-sequence tests, cheap to make: the handheld's old ROM (varied
// bytes everywhere, so that a block left unerased shows, and a ROM identity record to boot
// from) and a new segment per file name (the kernel's begins with a record of
// TestKernelBuild()).
const std::vector<uint8_t>& OldRomImage();        // flash from 0xA0040000
std::vector<uint8_t> TestSegment(const char16_t* devicePath);
uint32_t TestKernelBuild();

// A real package made by the ROM image builder, for the whole flasher.
const std::vector<uint8_t>& NewRomPackage();      // header, filler, segments
uint32_t NewRomBuild();
// The bytes of one segment of the package, by its device file name (any case).
std::vector<uint8_t> PackageSegment(const char16_t* devicePath);
const SegmentEntry& SegmentNamed(const char16_t* devicePath);

// A whole update erases each block once or twice; a flasher that goes on erasing one block
// is retrying a fault for ever.
inline constexpr tova::testing::WatchdogBudget kFlasherBudget{.erasesOfOneBlock = 16};

class HandheldSession {
public:
    // The session's handheld is watched for its whole life (kFlasherBudget).
    explicit HandheldSession(const tova::MachineConfig& config = {});
    ~HandheldSession();

    tova::Machine& M() { return *machine_; }
    const tova::testing::HandheldWatchdog& Watchdog() const { return *watchdog_; }
    void PutFile(const char16_t* path, const std::vector<uint8_t>& bytes);
    // The twelve segment files of the new package in \Temp.
    void PutPackageSegmentFiles();
    // Flash bytes at a flash address.
    std::vector<uint8_t> FlashAt(uint32_t address, uint32_t length);

private:
    TempFolder folder_;
    std::unique_ptr<tova::Machine> machine_;
    std::unique_ptr<tova::testing::HandheldWatchdog> watchdog_;
};

// The flasher's globals as a freshly started program has them, with the model's routine
// area and reserved page chosen as start-up would choose them.
void ResetFlasherState(const ModelAddresses& model);

// The two builds of Velkor.exe: host code, loaded from the build's host folder, and the ARM
// module of the program folder, which a handheld with MachineConfig::armModules runs on its
// emulated CPU.
enum class FlasherBuild { kHost, kArm };

// Velkor.exe as the build made it.
std::filesystem::path BuiltFlasherModule(FlasherBuild build = FlasherBuild::kHost);
// Whether this build made the ARM one (TOVA_BUILD_ARM).
bool HasArmFlasher();

}  // namespace flasher_test
