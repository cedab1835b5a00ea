// Deliberately wrong flashers, built for the handheld's CPU like the real one, run on the
// emulated CPU of a booted handheld: each flash routine is wrong in one way the handheld
// would not survive, and each is stopped by the guest error that names its fault. The
// handheld stays usable: after every fault a correct routine of the same module puts the
// chips back into read-array mode and reads the block.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "handheld.h"
#include "emulator/arm/arm_module.h"
#include "emulator/arm/guest_heap.h"
#include "emulator/arm/guest_thread.h"
#include "shared/flash_map.h"

namespace tova::arm {
namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A block above the package's image: the erase of one wrong flasher costs nothing there.
constexpr uint32_t kScratchBlock = kFlashStart + kFlashBytes - kFlashBlockBytes;

struct WrongFlasher {
    const char* module;
    uint32_t extra;             // RunWrongRoutine's second argument
    const char* fault;          // what the guest error says, in its own words
    bool erasesTheBlock;
};

const WrongFlasher kWrongFlashers[] = {
    {"poll_from_flash.exe", kImageFlashAddress,
     "instruction fetched from flash at 0xA0040000 while a chip is out of read-array mode", false},
    {"platform_call_mid_erase.exe", 1,
     "Sleep called while a flash chip is out of read-array mode", true},
    {"cached_window_command.exe", 0,
     "write through the cached flash window at 0x81FC0000", false},
};

TEST(ArmWrongFlasherTest, EachWrongRoutineIsStoppedByItsGuestErrorAndTheHandheldGoesOn) {
    flasher_test::HandheldSession handheld;
    Machine& m = handheld.M();
    GuestMemory memory(m.Board());
    GuestHeap heap(memory);
    // One handheld for all three: each fault must leave it fit for the next module.
    for (const WrongFlasher& wrong : kWrongFlashers) {
        SCOPED_TRACE(wrong.module);
        std::string error;
        auto module = ArmModule::Load(wrong.module, ReadFile(std::string(TOVA_WRONG_FLASHERS) + "/" + wrong.module),
                                      memory, &error);
        ASSERT_TRUE(module) << error;
        const uint32_t run = module->Export("RunWrongRoutine");
        const uint32_t readArrayAgain = module->Export("ReadArrayAgain");
        ASSERT_NE(run, 0u);
        ASSERT_NE(readArrayAgain, 0u);
        GuestThread thread(memory, heap);
        const uint32_t offset = kScratchBlock - kFlashStart;
        const std::vector<uint8_t> before = m.Flash().ReadArray(offset, 4);
        const uint64_t errorsBefore = m.Bus().GuestErrors().Count(hw::GuestErrorKind::kGuestCode);

        cpu::ArmCpu::Result wrongResult{true, 0, {}};
        ASSERT_TRUE(m.RunDeviceCall([&] { wrongResult = thread.Call(run, {kScratchBlock, wrong.extra}); }));
        EXPECT_FALSE(wrongResult.ok);
        EXPECT_NE(wrongResult.error.find(wrong.fault), std::string::npos) << wrongResult.error;
        const std::vector<hw::GuestError> errors = m.Bus().GuestErrors().Entries();
        ASSERT_EQ(m.Bus().GuestErrors().Count(hw::GuestErrorKind::kGuestCode), errorsBefore + 1);
        EXPECT_NE(errors.back().detail.find(std::string(wrong.fault).substr(0, 20)), std::string::npos) << errors.back().detail;

        cpu::ArmCpu::Result again{false, 0, {}};
        ASSERT_TRUE(m.RunDeviceCall([&] { again = thread.Call(readArrayAgain, {kScratchBlock}); }));
        ASSERT_TRUE(again.ok) << again.error;
        EXPECT_TRUE(m.Flash().Activity(0).readArray && m.Flash().Activity(1).readArray);
        const uint32_t expected = wrong.erasesTheBlock
            ? 0xFFFFFFFFu
            : uint32_t(before[0]) | uint32_t(before[1]) << 8 | uint32_t(before[2]) << 16 | uint32_t(before[3]) << 24;
        EXPECT_EQ(again.value, expected) << "array data at the block again";
        EXPECT_EQ(m.Bus().GuestErrors().Count(hw::GuestErrorKind::kGuestCode), errorsBefore + 1);
    }
}

}  // namespace
}  // namespace tova::arm
