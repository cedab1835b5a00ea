// tova-emu run killed with SIGKILL, which leaves it no chance to save: what the flasher
// wrote is in the state folder all the same.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

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

// Erases each chip has made so far, from tova-emu info; -1 when it does not say.
int ErasesOfTheLowChip(HandheldProcess& handheld) {
    unsigned low = 0, high = 0;
    std::string line = handheld.ReadInfo().fields["flash erases"];
    return std::sscanf(line.c_str(), "%u low chip, %u high chip", &low, &high) == 2 ? int(std::min(low, high)) : -1;
}

// Killed in the middle of the flashing: the folder loads, and its flash holds everything
// the running handheld's flash held a moment before the kill. A block that was whole then
// is whole now; elsewhere each byte is as it was then, or as the flasher went on to make it
// (new content, or erased) before the kill came. Nothing falls back to the old ROM.
TEST_F(EndToEnd, KilledInTheMiddleOfFlashingKeepsWhatWasWrittenUpToThen) {
    StartHandheld();
    const std::vector<uint8_t> oldImage = ImageInFlash();
    auto packageFile = setup_.AddPackage({});
    const std::vector<uint8_t> newImage = ReadBytes(packageFile, kPackageSegmentsOffset, kPackageSegmentsBytes);
    auto update = setup_.StartUnattended(handheld_.Endpoint());

    const int blocks = int(kPackageSegmentsBytes / kFlashBlockBytes);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    int erases = 0;
    while ((erases = ErasesOfTheLowChip(handheld_)) < blocks / 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_GE(erases, blocks / 3) << "the flasher never got a third of the way";
    const std::vector<uint8_t> before = ImageInFlash();  // from the running handheld
    handheld_.Kill();
    update.reset();  // the wizard would wait for a handheld that never comes back

    const std::vector<uint8_t> after = ImageInFlash();  // from the state folder the kill left
    ASSERT_EQ(after.size(), kPackageSegmentsBytes);
    ASSERT_EQ(before.size(), kPackageSegmentsBytes);
    ASSERT_TRUE(before != newImage) << "the flashing ended before the kill; nothing to test";
    size_t wholeBlocks = 0, lost = 0;
    for (size_t block = 0; block < kPackageSegmentsBytes / kFlashBlockBytes; ++block) {
        size_t first = block * kFlashBlockBytes, end = first + kFlashBlockBytes;
        bool whole = std::equal(before.begin() + long(first), before.begin() + long(end), newImage.begin() + long(first));
        wholeBlocks += whole;
        for (size_t i = first; i < end; ++i) {
            bool kept = whole ? after[i] == newImage[i]
                              : after[i] == before[i] || after[i] == newImage[i] || after[i] == 0xFF;
            lost += !kept;
        }
    }
    EXPECT_GT(wholeBlocks, 0u) << "no block was whole before the kill";
    EXPECT_EQ(lost, 0u) << "bytes the flasher had written are gone from the state folder";
    EXPECT_TRUE(after != oldImage);

    // It runs again from the old kernel, which the flasher writes last, and boots cold.
    handheld_.Run();
    HandheldProcess::Info again = handheld_.ReadInfo();
    EXPECT_EQ(again.fields["state"], "booted") << again.text;
    EXPECT_NE(again.fields["boots"].find("(last cold)"), std::string::npos) << again.text;
}

}  // namespace
}  // namespace e2e
