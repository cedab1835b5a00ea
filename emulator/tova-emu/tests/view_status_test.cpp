// The two requests of `tova-emu view`: the status words and the raw frame, written by a
// running handheld and read back, through the real control channel of this process.
#include <gtest/gtest.h>

#include "arguments.h"
#include "control_channel.h"
#include "handheld_actions.h"
#include "handheld_fixture.h"
#include "flash_sequences.h"
#include "handheld_status.h"
#include "platform/clock/clock.h"
#include "emulator/hw/display.h"
#include "emulator/hw/flash.h"

namespace tova::emu {
namespace {

HandheldStatus SampleStatus() {
    HandheldStatus s;
    s.running = true;
    s.state = MachineState::kBooted;
    s.acOnline = true;
    s.batteryPercent = 87;
    s.cableAttached = true;
    s.linkUp = true;
    s.linkEndpoint = "127.0.0.1:4990";
    s.boots = 3;
    s.lastBootWarm = true;
    s.romBuild = 0x05260300;
    s.flash[0] = {false,      true,      12, 3400, 1, FlashChipStatus::Last::kProgram,
                  0x00DC0000, 0x00DC0040};
    s.flash[1] = {true, false, 12, 3400, 1, FlashChipStatus::Last::kErase, 0x00DC0000, 0x00DBFFC0};
    return s;
}

TEST(HandheldStatusText, ReadsBackWhatItWrites) {
    HandheldStatus s = SampleStatus();
    std::string text = FormatHandheldStatus(s);
    EXPECT_NE(text.find("link up 127.0.0.1:4990\n"), std::string::npos) << text;
    EXPECT_NE(text.find("flash 0 command busy 12 3400 1 program 0x00DC0000 0x00DC0040\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(ParseHandheldStatus(text), s);

    s.running = false;
    s.state = MachineState::kDead;
    s.linkUp = false;
    s.linkEndpoint = "";
    s.batteryPercent = 255;
    s.boots = 0;
    s.lastBootWarm = false;
    s.romBuild = 0;
    s.flash = {};
    EXPECT_EQ(ParseHandheldStatus(FormatHandheldStatus(s)), s);
}

TEST(HandheldStatusText, SkipsUnknownLinesAndRefusesBadOrMissingOnes) {
    std::string text = FormatHandheldStatus(SampleStatus());
    EXPECT_TRUE(ParseHandheldStatus("later-item 1 2 3\n" + text + "another thing\n"));

    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string t = text;
        size_t at = t.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return t.replace(at, from.size(), to);
    };
    EXPECT_FALSE(ParseHandheldStatus(replaced("battery 87\n", "")));
    EXPECT_FALSE(ParseHandheldStatus(replaced("battery 87", "battery 101")));
    EXPECT_FALSE(ParseHandheldStatus(replaced("battery 87", "battery -1")));
    EXPECT_FALSE(ParseHandheldStatus(replaced("state booted", "state flying")));
    EXPECT_FALSE(ParseHandheldStatus(replaced("ac on", "ac maybe")));
    EXPECT_FALSE(ParseHandheldStatus(replaced("flash 1 array idle", "flash 2 array idle")));
    EXPECT_FALSE(ParseHandheldStatus(
        replaced("flash 1 array idle 12 3400 1 erase 0x00DC0000 0x00DBFFC0\n", "")));
    EXPECT_FALSE(
        ParseHandheldStatus(replaced(" program 0x00DC0000 0x00DC0040", " program 0x00DC0000")));
    EXPECT_FALSE(ParseHandheldStatus(replaced("rom 0x05260300", "rom 0x105260300")));
    EXPECT_FALSE(ParseHandheldStatus(text + std::string(kLargestStatusReply, ' ')));
    EXPECT_FALSE(ParseHandheldStatus(""));
}

TEST(HandheldFrameBytes, AreTheScreenLittleEndianAndExactlyOneFrame) {
    std::vector<uint16_t> pixels(hw::kScreenWidth * hw::kScreenHeight, 0xFFFF);
    pixels[0] = 0x8080;
    pixels[1] = 0x0C0D;
    pixels.back() = 0x1234;
    std::string bytes = EncodeFrame(pixels);
    ASSERT_EQ(bytes.size(), hw::kFrameBytes);
    EXPECT_EQ(uint8_t(bytes[2]), 0x0D);
    EXPECT_EQ(uint8_t(bytes[3]), 0x0C);
    EXPECT_EQ(DecodeFrame(bytes), pixels);
    EXPECT_FALSE(DecodeFrame(bytes.substr(1)));
    EXPECT_FALSE(DecodeFrame(bytes + "x"));
    EXPECT_FALSE(DecodeFrame(""));
}

class ViewRequests : public ::testing::Test {
  protected:
    void SetUp() override { tova::SetTimeScale(0.01); }
    ActionContext Running() { return {true, handheld_.Endpoint(), &handheld_.Server()}; }

    link_test::Handheld handheld_;
};

TEST_F(ViewRequests, StatusTellsWhatTheHandheldIsAndDoes) {
    Machine& m = handheld_.Machine();
    m.SetAcOnline(false);
    m.SetBatteryPercent(35);
    auto status = ParseHandheldStatus(RunAction(m, {kStatusRequest}, Running()));
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->running);
    EXPECT_EQ(status->state, MachineState::kBooted);
    EXPECT_FALSE(status->acOnline);
    EXPECT_EQ(status->batteryPercent, 35);
    EXPECT_TRUE(status->cableAttached);
    EXPECT_EQ(status->linkUp, m.LinkUp());
    EXPECT_EQ(status->linkEndpoint, handheld_.Endpoint());
    EXPECT_EQ(status->boots, m.BootCount());
    EXPECT_EQ(status->romBuild, m.RomBuild());

    // A flash operation shows in the counters of the chips that did it.
    const uint32_t block2 = hw::test::kFlashBase + 2 * kFlashBlockBytes;
    m.Bus().Write32(block2, hw::test::kBlockErase);
    m.Bus().Write32(block2, hw::test::kConfirm);
    status = ParseHandheldStatus(RunAction(m, {kStatusRequest}, Running()));
    ASSERT_TRUE(status);
    for (unsigned chip = 0; chip < 2; ++chip) {
        EXPECT_EQ(status->flash[chip].erases, 1u);
        EXPECT_EQ(status->flash[chip].last, FlashChipStatus::Last::kErase);
        EXPECT_EQ(status->flash[chip].lastEraseOffset, 2 * kFlashBlockBytes);
        EXPECT_FALSE(status->flash[chip].readArray);
    }
    m.Bus().Write32(block2, hw::test::kReadArray);
}

TEST_F(ViewRequests, TakeNoWords) {
    EXPECT_THROW(CheckAction({kStatusRequest, "x"}), UsageError);
    EXPECT_THROW(CheckAction({kFrameRequest, "x"}), UsageError);
    EXPECT_NO_THROW(CheckAction({kFrameRequest}));
}

TEST_F(ViewRequests, FrameComesThroughTheControlChannelWhileTheHandheldRuns) {
    Machine& m = handheld_.Machine();
    hw::FrameBuffer& screen = m.Display().Screen();
    screen.Fill(0xFFFF);
    screen.SetPixel(0, 0, 0x8080);
    screen.SetPixel(239, 319, 0x0C0C);
    m.Display().Frame(0).Fill(0x1111);  // the frame the screen does not show

    ActionContext context = Running();
    ControlServer server(m.StateFolder(), [&](const std::vector<std::string>& words) {
        return ControlReply{ControlReply::Status::kOk, RunAction(m, words, context)};
    });
    auto reply = SendControl(m.StateFolder(), {kFrameRequest}, {kLargestFrameReply, 2000});
    ASSERT_TRUE(reply);
    auto pixels = DecodeFrame(reply->text);
    ASSERT_TRUE(pixels) << reply->text.size() << " bytes";
    EXPECT_EQ(*pixels, screen.Pixels());
    EXPECT_TRUE(m.Booted()) << "taking a frame does not stop the handheld";

    // A reader that takes less than a frame refuses the reply instead of cutting it.
    EXPECT_THROW(SendControl(m.StateFolder(), {kFrameRequest}, {1000, 2000}), CommandError);
}

}  // namespace
}  // namespace tova::emu
