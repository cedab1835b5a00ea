// Trouble in the flash while the flasher writes the new ROM.
#include <cstdio>

#include "end_to_end_fixture.h"

namespace e2e {
namespace {

constexpr int kProgressPage = 129;
constexpr int kCompleteCaption = 127, kCompleteText = 112;
constexpr int kCaution = 126, kNotReturned = 142;

TEST_F(EndToEnd, FlashErrorsDuringFlashingAreRetriedAndTheFlashEndsExact) {
    StartHandheld();
    auto packageFile = setup_.AddPackage({});
    // Inside the image: a block whose erase fails once and a word whose programming fails
    // once, on each chip.
    handheld_.Must("set", {"fault", "fail-erase", "0", "0x30", "1"});
    handheld_.Must("set", {"fault", "fail-erase", "1", "0x50", "1"});
    handheld_.Must("set", {"fault", "fail-program", "0", "0x00C10040", "1"});
    handheld_.Must("set", {"fault", "fail-program", "1", "0x01200404", "1"});

    child::Outcome run = RunSetup();
    EXPECT_EQ(run.exitCode, kSetupUpdated) << run.err;
    EXPECT_TRUE(Says(run, MessageBoxLine(kProgressPage, kCompleteCaption, kCompleteText)));
    ASSERT_TRUE(handheld_.WaitUntilLinked());
    HandheldProcess::Info after = handheld_.ReadInfo();
    EXPECT_EQ(after.fields["ROM build"], HexWord(Package{}.BuildWord()));
    // Each chip had a failure, so each erased again what it had to rewrite.
    unsigned low = 0, high = 0, clean = kPackageSegmentsBytes / kFlashBlockBytes;
    ASSERT_EQ(std::sscanf(after.fields["flash erases"].c_str(), "%u low chip, %u high chip", &low, &high), 2);
    EXPECT_GT(low, clean) << after.fields["flash erases"];
    EXPECT_GT(high, clean) << after.fields["flash erases"];
    std::vector<uint8_t> image = ImageInFlash();
    ASSERT_EQ(image.size(), kPackageSegmentsBytes);
    EXPECT_TRUE(image == ReadBytes(packageFile, kPackageSegmentsOffset, kPackageSegmentsBytes))
        << "the flash from 0xA0040000 differs from the package's segments";
}

// What a handheld does on the power-on after a power cut depends on where the flasher was.
// Its kernel segment, which carries the ROM identity, is written last; the cut powers the
// handheld off with its RAM lost, and tova-emu powers it on again at once.

// A cut early on (in the first segment): the next power-on boots cold from the old kernel.
// The store, the flasher and the segment files with it, is gone, so nothing resumes the
// update: the handheld runs its old ROM identity over segments that are partly new. The
// link comes back all the same; the wizard reads the build it came back with and says the
// update did not take effect, never that it is complete.
TEST_F(EndToEnd, PowerCutEarlyInFlashingBootsTheOldKernelAndTheWizardSaysSo) {
    StartHandheld();
    HandheldProcess::Info fresh = handheld_.ReadInfo();
    std::vector<uint8_t> oldImage = ImageInFlash();
    auto packageFile = setup_.AddPackage({});
    handheld_.Must("set", {"fault", "power-cut-after", "2000"});

    child::Outcome run = RunSetup();
    EXPECT_EQ(run.exitCode, kSetupFailed) << run.err;
    EXPECT_NE(handheld_.RunOutput().find("power cut; powering on again"), std::string::npos)
        << handheld_.RunOutput();
    ASSERT_TRUE(handheld_.WaitUntilLinked());
    HandheldProcess::Info after = handheld_.ReadInfo();
    EXPECT_EQ(after.fields["state"], "booted");
    EXPECT_NE(after.fields["boots"].find("(last cold)"), std::string::npos) << after.text;
    EXPECT_EQ(after.fields["ROM build"], fresh.fields["ROM build"]);
    EXPECT_EQ(after.store, WithServiceLibrary(fresh.store))
        << "RAM was lost with the power; the wizard copied the library to read the build:\n" << after.text;
    std::vector<uint8_t> image = ImageInFlash();
    EXPECT_TRUE(image != oldImage) << "the flasher had begun writing";
    EXPECT_TRUE(image != ReadBytes(packageFile, kPackageSegmentsOffset, kPackageSegmentsBytes));

    EXPECT_TRUE(Says(run, MessageBoxLine(kProgressPage, kCaution,
                                         "The device came back with ROM build 05010100 instead of "
                                         "05260300.\nThe update did not take effect. Run the Velkor "
                                         "program again to update the device.")))
        << run.out;
    EXPECT_TRUE(NeverSays(run, "Update complete!"));
}

// A cut while the kernel's first block is erased: the ROM identity is gone and the handheld
// cannot boot. The link never returns; after its bounded wait the wizard says the handheld
// has not come back.
TEST_F(EndToEnd, PowerCutInTheKernelSegmentLeavesADeadHandheldAndTheWizardSaysSo) {
    StartHandheld();
    setup_.AddPackage({});
    handheld_.Must("set", {"fault", "power-cut-in-block", "1"});

    child::Outcome run = RunSetup();
    EXPECT_EQ(run.exitCode, kSetupFailed) << run.err;
    EXPECT_NE(handheld_.RunOutput().find("power cut; powering on again"), std::string::npos)
        << handheld_.RunOutput();
    HandheldProcess::Info after = handheld_.ReadInfo();
    EXPECT_EQ(after.fields["state"], "dead (no valid kernel in flash)") << after.text;
    EXPECT_TRUE(Says(run, MessageBoxLine(kProgressPage, kCaution, kNotReturned))) << run.out;
    EXPECT_TRUE(Says(run, "page 129: ended with 0"));
    EXPECT_TRUE(NeverSays(run, "Update complete!"));
}

}  // namespace
}  // namespace e2e
