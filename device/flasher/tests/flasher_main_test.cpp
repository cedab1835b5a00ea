// Start-up of the flasher, run in-process as a program of the emulated handheld: what it
// tells the firmware, the banner, the hardware it quietens and the end of the run. No
// segment files are present, so nothing is flashed and the handheld is not reset.
#include <gtest/gtest.h>

#include "device/flasher/console.h"
#include "device/flasher/flash_driver.h"
#include "device/flasher/flasher_main.h"
#include "handheld.h"
#include "platform/clock/clock.h"
#include "screen_text.h"
#include "emulator/hw/board.h"
#include "emulator/object_store.h"
#include "platform/wince/ioctl.h"

namespace flasher_test {
namespace {

using tova::hw::GpioWrite;
using tova::hw::RegisterWrite;

class FlasherMainTest : public ::testing::Test {
protected:
    FlasherMainTest() {
        ResetFlasherState(kBasicModel);  // start-up must choose the model's addresses itself
        g_flashRoutineArea = 0;
        tova::hw::Board& board = M().Board();
        // Values for the read-modify-write steps to work on, then fresh logs.
        M().Bus().Write32(0xA9000030, 0x3F);  // rising-edge detect
        M().Bus().Write32(0xA900003C, 0x34);  // falling-edge detect
        M().Bus().Write32(0xBE040320, 0xFF);
        M().Bus().Write32(0xA8100004, 0x00100001);
        const uint32_t page = kAdvancedModel.reservedRamPage;
        for (uint32_t word : {0x324u, 0x40Cu, 0x690u}) M().Bus().Write32(page + word, 0xA5A5A5A5);
        board.Gpio().ClearWrites();
        board.MemoryController().ClearWrites();
        board.DisplayController().ClearWrites();
    }

    tova::Machine& M() { return handheld_.M(); }

    int RunFlasher() {
        int result = 99;
        M().RunDeviceCall([&] { result = FlasherMain(nullptr, nullptr, nullptr, 0); });
        return result;
    }

    std::string Line(uint32_t line, uint16_t colour) { return LineText(M().Display().Screen(), line, colour); }

    HandheldSession handheld_;
};

TEST_F(FlasherMainTest, StartsUpAndShowsEveryStepWhenThereIsNothingToFlash) {
    EXPECT_EQ(RunFlasher(), 0);
    EXPECT_EQ(Line(0, kMessageColour), "v1.075");
    for (uint32_t step = 1; step <= 12; ++step)
        EXPECT_EQ(Line(step, kMessageColour), "... " + std::to_string(step) + "/12 ...");
    EXPECT_TRUE(M().Flash().Operations().empty());
    EXPECT_TRUE(M().InterruptsMasked());
    EXPECT_EQ(M().SleepViolations(), 0u) << "nothing sleeps once interrupts are masked";
    EXPECT_EQ(M().State(), tova::MachineState::kBooted) << "no kernel file, no reset";
}

// Five seconds' wait, the banner's thirty colours of two seconds each, half a second once
// the hardware is quiet; nothing after that.
TEST_F(FlasherMainTest, WaitsAsLongAsItsStartUpTakes) {
    std::vector<uint32_t> expected = {5000};
    expected.insert(expected.end(), 30, 2000);
    expected.push_back(500);
    const size_t before = M().Sleeps().size();
    tova::SetTimeScale(0.0005);  // the minute and more in about 35 ms
    const uint64_t start = tova::NominalNowMs();
    EXPECT_EQ(RunFlasher(), 0);
    const uint64_t took = tova::NominalNowMs() - start;
    tova::SetTimeScale(0);
    std::vector<uint32_t> sleeps = M().Sleeps();
    EXPECT_EQ(std::vector<uint32_t>(sleeps.begin() + long(before), sleeps.end()), expected);
    EXPECT_GE(took, 65500u) << "on the scaled clock";
}

TEST_F(FlasherMainTest, ChoosesTheDetectedModelsAddresses) {
    RunFlasher();
    EXPECT_EQ(g_flashRoutineArea, kAdvancedModel.flashRoutineArea);
    EXPECT_EQ(g_flashRoutines.areaAddress[0], kAdvancedModel.flashRoutineArea);
    const uint32_t page = kAdvancedModel.reservedRamPage;
    EXPECT_EQ(M().Bus().Read32(page + 0x324), 0u);
    EXPECT_EQ(M().Bus().Read32(page + 0x40C), 0u);
    EXPECT_EQ(M().Bus().Read32(page + 0x690), 0xA5A5A5A5u) << "the warm-boot token waits for the kernel";
}

TEST_F(FlasherMainTest, TellsTheFirmwareAndTakesTheProcessor) {
    RunFlasher();
    bool sawSelector2 = false;
    for (const tova::IoctlCall& call : M().IoctlLog())
        sawSelector2 |= call.code == IOCTL_HAL_MODEL_CONFIG && call.selector == 2;
    EXPECT_TRUE(sawSelector2);
    std::vector<tova::PriorityChange> changes = M().PriorityChanges();
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_FALSE(changes[0].ce);
    EXPECT_EQ(changes[0].priority, 0);
    EXPECT_TRUE(changes[1].ce);
    EXPECT_EQ(changes[1].priority, 0);
}

TEST_F(FlasherMainTest, QuietensTheHardwareInOrder) {
    RunFlasher();
    std::vector<std::pair<uint32_t, uint32_t>> gpio;
    for (const GpioWrite& w : M().Gpio().Writes()) gpio.push_back({w.offset, w.value});
    const std::vector<std::pair<uint32_t, uint32_t>> expected = {
        {0x30, 0x2F}, {0x3C, 0x24},             // edge detect of pin 4 off
        {0x30, 0x2B}, {0x3C, 0x20},             // pin 2
        {0x30, 0x0B}, {0x3C, 0x00},             // pin 5
        {0x18, 0x00400000},                     // pin 22 high
        {0x28, 0x00000380},                     // pins 39-41 low
        {0x24, 0x00080000},                     // pin 19 low
        {0x28, 0x00000000},                     // clear register read back without bit 28
        {0x1C, 0x10000000}, {0x10, 0x10000000}  // pin 60 an output driven high
    };
    EXPECT_EQ(gpio, expected);
    EXPECT_TRUE(M().Gpio().IsOutput(60));
    EXPECT_TRUE(M().Gpio().OutputLatch(60));
    EXPECT_TRUE(M().Gpio().OutputLatch(22));

    std::vector<std::pair<uint32_t, uint32_t>> display;
    for (const RegisterWrite& w : M().Board().DisplayController().Writes()) display.push_back({w.offset, w.value});
    EXPECT_EQ(display, (std::vector<std::pair<uint32_t, uint32_t>>{{0x320, 0xF7}, {0x00C, 0}, {0x100, 0}}));

    std::vector<std::pair<uint32_t, uint32_t>> memory;
    for (const RegisterWrite& w : M().Board().MemoryController().Writes()) memory.push_back({w.offset, w.value});
    EXPECT_EQ(memory, (std::vector<std::pair<uint32_t, uint32_t>>{
                          {0x08, 0x7FF27FF2}, {0x10, 0x7FFC7FF9}, {0x04, 0x00000001}}));

    for (uint32_t address : {0xA9500004u, 0xA8F00004u}) {
        tova::hw::RecordedRegisters* block = M().Board().RegistersAt(address);
        ASSERT_NE(block, nullptr);
        auto writes = block->Writes();
        ASSERT_EQ(writes.size(), 1u) << std::hex << address;
        EXPECT_EQ(writes[0].offset, address & 0xFFF);
        EXPECT_EQ(writes[0].value, 0u);
    }
}

struct ScreenBaseCase {
    const char* name;
    uint32_t word;      // at 0xBE0401B0
    unsigned cleared;   // the frame the clear paints
};

class ScreenBaseTest : public FlasherMainTest, public ::testing::WithParamInterface<ScreenBaseCase> {};

TEST_P(ScreenBaseTest, ClearGoesWhereTheDisplayWordSays) {
    M().Bus().Write32(0xBE0401B0, GetParam().word);
    M().Display().Frame(0).Fill(0x1234);
    M().Display().Frame(1).Fill(0x1234);
    RunFlasher();
    EXPECT_TRUE(FrameIs(M().Display().Frame(0), GetParam().cleared == 0 ? 0xFFFF : 0x1234));
    EXPECT_EQ(Line(0, kMessageColour).substr(0, 6), "v1.075") << "text always at 0xBE042000";
}

INSTANTIATE_TEST_SUITE_P(Words, ScreenBaseTest,
                         ::testing::Values(ScreenBaseCase{"non_zero", 0x42000, 1},
                                           ScreenBaseCase{"zero", 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlasherMainTest, UnlockFailureLeavesTheBannerAndFlashesNothing) {
    M().Flash().SetBlockLocked(0, 1, true);
    M().Flash().SetBusyDuring(0, tova::hw::kFlashForever);
    g_flashPollLimits.unlock = 50;
    handheld_.PutFile(u"\\Temp\\SYNC.nb0", TestSegment(u"\\Temp\\SYNC.nb0"));
    EXPECT_EQ(RunFlasher(), 0);
    EXPECT_EQ(Line(9, kBannerColour3), "      System updating...") << "the banner's last colour";
    EXPECT_EQ(Line(10, kMessageColour), "Flash unlock failed ..");
    EXPECT_EQ(Line(0, kMessageColour), "");
    for (const auto& op : M().Flash().Operations())
        EXPECT_EQ(op.kind, tova::hw::FlashOperationKind::kClearLocks);
    EXPECT_TRUE(M().Store().Exists(u"\\Temp\\SYNC.nb0"));
}

}  // namespace
}  // namespace flasher_test
