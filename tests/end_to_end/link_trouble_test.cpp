// The link failing while setup copies the new ROM to the handheld, and a copied segment
// found damaged: the update stops before anything is flashed and the old ROM stays.
#include "end_to_end_fixture.h"
#include "platform/ui/string_table.h"

namespace e2e {
namespace {

constexpr int kProgressPage = 129;
constexpr int kCaution = 126, kCopyIncomplete = 130, kIntegrityCheckFailed = 133;
constexpr int kCompleteCaption = 127;

// Far enough into the writes to be inside the segment copy: the service library copies
// before it are a few hundred kilobytes, the first segment 2.5 MiB.
const std::string kIntoTheSegments = "3000000";

class LinkTrouble : public EndToEnd {
protected:
    void SetUp() override {
        StartHandheld();
        fresh_ = handheld_.ReadInfo();
        flashBefore_ = WholeFlash();
        setup_.AddPackage({});
    }
    void ExpectOldRomUntouched() {
        EXPECT_TRUE(WholeFlash() == flashBefore_) << "something was written to flash";
        EXPECT_EQ(handheld_.ReadInfo().fields["ROM build"], fresh_.fields["ROM build"]);
    }
    // ColdReset reached the handheld: it came back cold, without what was copied.
    void ExpectColdRestartWithTheOldRom() {
        ASSERT_TRUE(handheld_.WaitUntilLinked());
        HandheldProcess::Info after = handheld_.ReadInfo();
        EXPECT_NE(after.fields["boots"].find("(last cold)"), std::string::npos) << after.text;
        EXPECT_EQ(after.store, fresh_.store) << "the cold restart wipes the store:\n" << after.text;
        ExpectOldRomUntouched();
    }
    static bool HasFlasher(const HandheldProcess::Info& info) {
        for (const std::string& file : info.store) {
            if (file.size() >= 10 && file.compare(file.size() - 10, 10, "Velkor.exe") == 0) return true;
        }
        return false;
    }

    HandheldProcess::Info fresh_;
    std::vector<uint8_t> flashBefore_;
};

// The restart request after the failed copy cannot reach the handheld: it keeps what was
// copied (no flasher among it) and runs its old ROM once the cable is back.
TEST_F(LinkTrouble, CablePulledDuringTheSegmentCopy) {
    handheld_.Must("set", {"fault", "pull-cable-after-bytes", kIntoTheSegments});

    child::Outcome run = RunSetup();
    EXPECT_EQ(run.exitCode, kSetupFailed) << run.err;
    EXPECT_TRUE(Says(run, MessageBoxLine(kProgressPage, kCaution, kCopyIncomplete)));
    EXPECT_TRUE(Says(run, "page 129: ended with 0"));
    EXPECT_TRUE(NeverSays(run, std::string(ui::LoadString(kCompleteCaption))));

    handheld_.Must("set", {"cable", "on"});
    ASSERT_TRUE(handheld_.WaitUntilLinked());
    HandheldProcess::Info after = handheld_.ReadInfo();
    EXPECT_EQ(after.fields["state"], "booted");
    EXPECT_FALSE(HasFlasher(after)) << after.text;
    EXPECT_NE(after.store, fresh_.store) << "no restart reached the handheld, so the copied files stay";
    ExpectOldRomUntouched();
}

// The link is back before setup asks for the restart: the request reaches the handheld,
// which restarts cold and loses everything that was copied.
TEST_F(LinkTrouble, LinkLostForAMomentDuringTheSegmentCopy) {
    handheld_.Must("set", {"fault", "drop-link-after-bytes", kIntoTheSegments, "0"});

    child::Outcome run = RunSetup();
    EXPECT_EQ(run.exitCode, kSetupFailed) << run.err;
    EXPECT_TRUE(Says(run, MessageBoxLine(kProgressPage, kCaution, kCopyIncomplete)));
    EXPECT_TRUE(NeverSays(run, std::string(ui::LoadString(kCompleteCaption))));

    ExpectColdRestartWithTheOldRom();
}

TEST_F(LinkTrouble, SegmentDamagedOnTheHandheldBeforeVerification) {
    handheld_.Must("set", {"fault", "damage-before-export", "IsCheckSumOk", "\\Temp\\OS.nb0"});

    child::Outcome run = RunSetup();
    EXPECT_EQ(run.exitCode, kSetupFailed) << run.err;
    EXPECT_TRUE(Says(run, MessageBoxLine(kProgressPage, kCaution, kIntegrityCheckFailed)));
    EXPECT_TRUE(NeverSays(run, std::string(ui::LoadString(kCompleteCaption))));

    ExpectColdRestartWithTheOldRom();
}

}  // namespace
}  // namespace e2e
