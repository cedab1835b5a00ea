// setup started with no handheld to talk to says how to connect one and ends cleanly.
#include "end_to_end_fixture.h"

namespace e2e {
namespace {

constexpr int kCaution = 126, kConnectYourDevice = 128;

TEST_F(EndToEnd, NothingListeningOnTheLinkSaysToConnectAndEnds) {
    setup_.AddPackage({});
    // Port 1 is never served on this machine's loopback: nobody answers the link.
    child::Outcome run = setup_.RunUnattended("127.0.0.1:1");
    EXPECT_EQ(run.exitCode, kSetupNoHandheld) << run.err;
    EXPECT_TRUE(Says(run, MessageBoxLine(0, kCaution, kConnectYourDevice)));
    EXPECT_TRUE(NeverSays(run, "opened"));
}

TEST_F(EndToEnd, HandheldOutOfItsCradleSaysToConnectAndEnds) {
    handheld_.Create({"--cable", "off"});
    handheld_.Run();
    std::vector<uint8_t> before = WholeFlash();
    setup_.AddPackage({});

    child::Outcome run = RunSetup();
    EXPECT_EQ(run.exitCode, kSetupNoHandheld) << run.err;
    EXPECT_TRUE(Says(run, MessageBoxLine(0, kCaution, kConnectYourDevice)));
    EXPECT_TRUE(NeverSays(run, "opened"));
    EXPECT_TRUE(WholeFlash() == before);
}

}  // namespace
}  // namespace e2e
