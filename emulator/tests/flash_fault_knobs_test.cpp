// Flash fault knobs given as text, as the command line passes them: which are accepted,
// that they reach the flash model, and that they persist with the state folder.
#include <fstream>

#include "flash_sequences.h"
#include "handheld_fixture.h"
#include "emulator/hw/board.h"
#include "platform/wince/hw.h"

namespace tova::testing {
namespace {

using namespace hw::test;

constexpr uint32_t kChip0Ready = OnChip(0, kStatusReady);
constexpr uint32_t kChip1Ready = OnChip(1, kStatusReady);

struct KnobCase {
    const char* knob;
    const char* args;
    bool accepted;
};

const KnobCase kKnobs[] = {
    {"busy-before", "1 10", true},
    {"busy-before", "0 forever", true},
    {"busy-during", "1 0x20", true},
    {"fail-erase", "0 5", true},
    {"fail-erase", "1 127 3", true},
    {"fail-program", "1 0x280002 1", true},
    {"stuck-bits", "0 0x40000 0x0001 0x8000", true},
    {"lock-block", "1 2", true},
    {"buffer-unavailable", "0 4", true},
    {"power-cut-after", "100", true},
    {"power-cut-in-block", "1", true},
    {"power-cut-in-block", "127", true},
    {"clear", "", true},
    {"busy-before", "2 10", false},        // no third chip
    {"busy-before", "1", false},
    {"fail-erase", "0 128", false},        // past the last block
    {"fail-program", "0 0x2000000", false},  // past the end of flash
    {"stuck-bits", "0 0 0x10000 0", false},
    {"lock-block", "0 -1", false},
    {"power-cut-after", "soon", false},
    {"power-cut-in-block", "128", false},  // past the last block
    {"power-cut-in-block", "1 2", false},
    {"clear", "everything", false},
    {"melt", "1", false},
};

class FlashFaultKnobsTest : public HandheldTest {};

TEST_F(FlashFaultKnobsTest, AcceptsWellFormedKnobsOnly) {
    Machine& m = Make();
    for (const auto& c : kKnobs) {
        std::string error;
        EXPECT_EQ(m.ApplyFlashFault(c.knob, c.args, &error), c.accepted) << c.knob << " " << c.args;
        EXPECT_EQ(error.empty(), c.accepted) << c.knob << " " << c.args << ": " << error;
    }
}

TEST_F(FlashFaultKnobsTest, KnobsReachTheFlashAndPersist) {
    Machine& m = MakeBooted();
    std::string error;
    ASSERT_TRUE(m.ApplyFlashFault("lock-block", "1 9", &error)) << error;
    ASSERT_TRUE(m.ApplyFlashFault("busy-before", "0 2", &error)) << error;
    EXPECT_TRUE(m.Flash().BlockLocked(1, 9));
    // Read status: chip 0 answers busy twice, chip 1 is ready at once.
    HwWrite32(kFlashBase, kReadStatus);
    uint32_t first = HwRead32(kFlashBase);
    EXPECT_EQ(first & kChip0Ready, 0u);
    EXPECT_EQ(first & kChip1Ready, kChip1Ready);
    HwRead32(kFlashBase);
    EXPECT_EQ(HwRead32(kFlashBase) & kChip0Ready, kChip0Ready);
    HwWrite32(kFlashBase, kReadArray);

    ASSERT_TRUE(m.ApplyFlashFault("fail-erase", "0 20 1", &error));
    m.Save();
    machine_.reset();
    machine_ = Machine::Open(StateFolder());
    ASSERT_TRUE(M().Boot());
    // An erase of block 20 fails once on chip 0 only: the erase error bit in the low half.
    const uint32_t block20 = kFlashBase + 20 * kFlashBlockBytes;
    HwWrite32(block20, kBlockErase);
    HwWrite32(block20, kConfirm);
    uint32_t status = 0;
    for (int i = 0; i < 100 && (status & kBothReady) != kBothReady; ++i) status = HwRead32(block20);
    EXPECT_EQ(status & OnChip(0, kStatusEraseError), OnChip(0, kStatusEraseError));
    EXPECT_EQ(status & OnChip(1, kStatusEraseError), 0u);
    HwWrite32(kFlashBase, kClearStatus);
    HwWrite32(kFlashBase, kReadArray);

    ASSERT_TRUE(M().ApplyFlashFault("clear", "", &error));
    M().Save();
    machine_.reset();
    machine_ = Machine::Open(StateFolder());
    std::ifstream conf(StateFolder() / "machine.conf");
    std::string text((std::istreambuf_iterator<char>(conf)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text.find("flash-fault"), std::string::npos) << text;
}

}  // namespace
}  // namespace tova::testing
