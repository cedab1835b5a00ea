// tova-emu run killed with SIGKILL, which leaves it no chance to save: what the flasher
// wrote is in the state folder all the same.
#include <csignal>

#include "end_to_end_fixture.h"

namespace e2e {
namespace {

// Killed right after a whole update: the next run boots the new ROM. Its RAM went with the
// process, as in a power cut, so that boot is cold.
TEST_F(EndToEnd, KilledRightAfterAnUpdateTheNextRunBootsTheNewRom) {
    StartHandheld();
    auto packageFile = setup_.AddPackage({});
    child::Outcome update = RunSetup();
    ASSERT_EQ(update.exitCode, kSetupUpdated) << update.err;
    ASSERT_TRUE(handheld_.WaitUntilLinked());

    handheld_.Kill();
    handheld_.Run();
    ASSERT_TRUE(handheld_.WaitUntilLinked()) << handheld_.RunOutput();
    HandheldProcess::Info after = handheld_.ReadInfo();
    EXPECT_EQ(after.fields["ROM build"], HexWord(Package{}.BuildWord())) << after.text;
    EXPECT_NE(after.fields["boots"].find("(last cold)"), std::string::npos) << after.text;
    std::vector<uint8_t> image = ImageInFlash();
    ASSERT_EQ(image.size(), kPackageSegmentsBytes);
    EXPECT_TRUE(image == ReadBytes(packageFile, kPackageSegmentsOffset, kPackageSegmentsBytes))
        << "the flash from 0xA0040000 differs from the package's segments";
}

}  // namespace
}  // namespace e2e
