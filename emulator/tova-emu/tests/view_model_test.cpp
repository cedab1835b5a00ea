// The window's model without a window: what it shows for the replies of a handheld that
// a test plays, and what its buttons send.
#include "view_model.h"

#include <gtest/gtest.h>

#include <deque>

#include "arguments.h"

namespace tova::emu {
namespace {

using Words = std::vector<std::string>;
using Tone = HandheldView::Light::Tone;

HandheldStatus Booted() {
    HandheldStatus s;
    s.running = true;
    s.state = MachineState::kBooted;
    s.acOnline = true;
    s.batteryPercent = 100;
    s.cableAttached = true;
    s.linkUp = true;
    s.linkEndpoint = "127.0.0.1:4990";
    s.boots = 2;
    s.lastBootWarm = true;
    s.romBuild = 0x05010100;
    return s;
}

std::vector<uint16_t> WhiteScreen() {
    return std::vector<uint16_t>(hw::kScreenWidth * hw::kScreenHeight, 0xFFFF);
}

// A handheld played by the test: it answers status and frame from what the test set, and
// records every other request.
class PlayedHandheld {
  public:
    bool running = true;
    HandheldStatus status = Booted();
    std::vector<uint16_t> frame = WhiteScreen();
    std::string frameBytes;  // when not empty: sent instead of the frame
    std::string statusText;  // when not empty: sent instead of the status
    bool throwOnRequest = false;
    std::vector<Words> actions;

    HandheldView::Request Request() {
        return [this](const Words& words) -> std::optional<ControlReply> {
            if (throwOnRequest) throw CommandError("the running handheld did not answer");
            if (!running) return std::nullopt;
            if (words == Words{kStatusRequest})
                return ControlReply{ControlReply::Status::kOk,
                                    statusText.empty() ? FormatHandheldStatus(status) : statusText};
            if (words == Words{kFrameRequest})
                return ControlReply{ControlReply::Status::kOk,
                                    frameBytes.empty() ? EncodeFrame(frame) : frameBytes};
            actions.push_back(words);
            if (words == Words{"set", "cable", "off"}) status.cableAttached = false;
            if (words == Words{"set", "cable", "on"}) status.cableAttached = true;
            if (words == Words{"set", "ac", "off"}) status.acOnline = false;
            if (words == Words{"set", "ac", "on"}) status.acOnline = true;
            if (words == Words{"power-cut"}) {
                status.state = MachineState::kBooting;
                status.lastBootWarm = false;
            }
            return ControlReply{ControlReply::Status::kOk, "done\n"};
        };
    }
};

std::string Value(const HandheldView& view, const std::string& key) {
    for (const auto& line : view.Strip())
        if (line.key == key) return line.value;
    ADD_FAILURE() << "no strip line " << key;
    return "";
}

bool Warning(const HandheldView& view, const std::string& key) {
    for (const auto& line : view.Strip())
        if (line.key == key) return line.warning;
    return false;
}

HandheldView::Button ButtonFor(const HandheldView& view, HandheldView::Action action) {
    for (const auto& b : view.Buttons())
        if (b.action == action) return b;
    ADD_FAILURE() << "no button";
    return {};
}

TEST(HandheldViewModel, PictureIsTheScreenTwiceAsLargeNearestNeighbour) {
    PlayedHandheld hh;
    hh.frame[0] = 0x8080;                            // top-left
    hh.frame[135 * hw::kScreenWidth + 48] = 0x0C0C;  // a pixel of the banner's first letter cell
    hh.frame.back() = 0x0000;
    HandheldView view("hh", hh.Request());
    EXPECT_TRUE(view.Poll());
    const auto& p = view.Picture();
    ASSERT_EQ(p.size(), size_t(HandheldView::kPictureWidth) * HandheldView::kPictureHeight);
    auto at = [&](int x, int y) { return p[size_t(y) * HandheldView::kPictureWidth + x]; };
    for (int d : {0, 1}) {
        for (int e : {0, 1}) {
            EXPECT_EQ(at(d, e), 0xFF841000u);             // 0x8080 widened as the PNGs are
            EXPECT_EQ(at(96 + d, 270 + e), 0xFF088263u);  // 0x0C0C
            EXPECT_EQ(at(478 + d, 638 + e), 0xFF000000u);
        }
    }
    EXPECT_EQ(at(2, 0), 0xFFFFFFFFu);
    EXPECT_EQ(at(0, 2), 0xFFFFFFFFu);
    EXPECT_EQ(view.Frame(), hh.frame);
    EXPECT_FALSE(view.Poll()) << "nothing changed";
}

TEST(HandheldViewModel, StripReadsAsAPersonSaysIt) {
    PlayedHandheld hh;
    HandheldView view("hh", hh.Request());
    view.Poll();
    EXPECT_EQ(Value(view, "power"), "on");
    EXPECT_EQ(Value(view, "system"), "booted, ROM 05010100");
    EXPECT_EQ(Value(view, "boots"), "2 (last warm)");
    EXPECT_EQ(Value(view, "ac"), "plugged in");
    EXPECT_EQ(Value(view, "battery"), "100 %");
    EXPECT_EQ(Value(view, "cable"), "in");
    EXPECT_EQ(Value(view, "link"), "up on 127.0.0.1:4990");
    EXPECT_EQ(view.FlashLight().text, "flash idle");
    EXPECT_EQ(view.FlashLight().tone, Tone::kOff);
    for (const auto& line : view.Strip()) EXPECT_FALSE(line.warning) << line.key;
    EXPECT_EQ(view.Message(), "");
    EXPECT_EQ(view.Title(), "Tova handheld - hh");

    hh.status.acOnline = false;
    hh.status.batteryPercent = 35;
    hh.status.cableAttached = false;
    hh.status.linkUp = false;
    EXPECT_TRUE(view.Poll());
    EXPECT_EQ(Value(view, "ac"), "unplugged");
    EXPECT_EQ(Value(view, "battery"), "35 % (below 40 %)");
    EXPECT_EQ(Value(view, "cable"), "out");
    EXPECT_EQ(Value(view, "link"), "down");
    EXPECT_TRUE(Warning(view, "ac"));
    EXPECT_TRUE(Warning(view, "battery"));
    EXPECT_TRUE(Warning(view, "cable"));

    hh.status.batteryPercent = 255;
    hh.status.state = MachineState::kDead;
    view.Poll();
    EXPECT_EQ(Value(view, "battery"), "unknown");
    EXPECT_EQ(Value(view, "system"), "dead: no valid kernel in flash");
    EXPECT_TRUE(Warning(view, "system"));

    hh.status.state = MachineState::kResetting;
    view.Poll();
    EXPECT_EQ(Value(view, "system"), "restarting");
    hh.status.state = MachineState::kBooting;
    view.Poll();
    EXPECT_EQ(Value(view, "system"), "booting");
    hh.status.state = MachineState::kOff;
    view.Poll();
    EXPECT_EQ(Value(view, "power"), "off");
    EXPECT_EQ(view.FlashLight().text, "flash off");
}

TEST(HandheldViewModel, NoHandheldRunningShowsADarkScreenAndWaits) {
    PlayedHandheld hh;
    hh.running = false;
    HandheldView view("some/state", hh.Request());
    view.Poll();
    EXPECT_EQ(Value(view, "power"), "off (not running)");
    EXPECT_TRUE(Warning(view, "power"));
    EXPECT_NE(view.Message().find("no handheld runs in some/state"), std::string::npos)
        << view.Message();
    EXPECT_TRUE(view.Frame().empty());
    for (uint32_t pixel : view.Picture()) ASSERT_EQ(pixel, HandheldView::kDarkPixel);
    for (const auto& b : view.Buttons()) EXPECT_FALSE(b.enabled) << b.key;
    EXPECT_EQ(view.FlashLight().text, "flash off");

    // It comes up: the view follows without being told.
    hh.running = true;
    EXPECT_TRUE(view.Poll());
    EXPECT_EQ(Value(view, "power"), "on");
    EXPECT_EQ(view.Message(), "");
    EXPECT_EQ(view.Frame(), hh.frame);

    // And goes away again.
    hh.running = false;
    EXPECT_TRUE(view.Poll());
    EXPECT_TRUE(view.Frame().empty());
}

TEST(HandheldViewModel, AHandheldThatDoesNotAnswerIsSaidSo) {
    PlayedHandheld hh;
    HandheldView view("hh", hh.Request());
    view.Poll();
    hh.throwOnRequest = true;
    view.Poll();
    EXPECT_EQ(view.Message(), "the running handheld did not answer");
    EXPECT_EQ(Value(view, "power"), "off (not running)");
}

TEST(HandheldViewModel, AFrameOfTheWrongSizeIsRefusedAndTheLastOneKept) {
    PlayedHandheld hh;
    hh.frame[5] = 0x0000;
    HandheldView view("hh", hh.Request());
    view.Poll();
    auto before = view.Picture();
    hh.frameBytes = std::string(100, '\0');
    view.Poll();
    EXPECT_EQ(view.Message(), "the handheld sent a frame of 100 bytes, not 153600");
    EXPECT_EQ(view.Picture(), before);
    hh.frameBytes = EncodeFrame(hh.frame) + "x";
    view.Poll();
    EXPECT_EQ(view.Message(), "the handheld sent a frame of 153601 bytes, not 153600");
    hh.frameBytes.clear();
    view.Poll();
    EXPECT_EQ(view.Message(), "");
}

TEST(HandheldViewModel, AStatusItCannotReadIsSaidSo) {
    PlayedHandheld hh;
    hh.statusText = "running maybe\n";
    HandheldView view("hh", hh.Request());
    view.Poll();
    EXPECT_EQ(view.Message(), "the handheld's status could not be read");
    EXPECT_TRUE(view.Frame().empty());
}

TEST(HandheldViewModel, FlashLightTellsWhichChipErasesOrProgramsAndHoldsAMoment) {
    PlayedHandheld hh;
    HandheldView view("hh", hh.Request());
    hh.status.flash[0].erases = hh.status.flash[1].erases = 40;  // before the view started
    view.Poll();
    EXPECT_EQ(view.FlashLight().tone, Tone::kOff) << "old counts are no activity";

    // Both chips erased a block between two polls.
    for (auto& chip : hh.status.flash) {
        chip.erases = 41;
        chip.last = FlashChipStatus::Last::kErase;
        chip.lastEraseOffset = 0x00DC0000;
    }
    view.Poll();
    EXPECT_EQ(view.FlashLight().tone, Tone::kErasing);
    EXPECT_EQ(view.FlashLight().text, "both chips erasing at 0xA0DC0000");

    // Then only the low chip programs, and is still busy with it.
    hh.status.flash[0].programs = 16;
    hh.status.flash[0].last = FlashChipStatus::Last::kProgram;
    hh.status.flash[0].lastProgramOffset = 0x00DC0040;
    hh.status.flash[0].busy = true;
    view.Poll();
    EXPECT_EQ(view.FlashLight().tone, Tone::kErasing) << "the high chip's erase still shows";
    EXPECT_EQ(view.FlashLight().text,
              "low chip programming at 0xA0DC0040, high chip erasing at 0xA0DC0000");

    // The high chip's light goes out after its hold; the low chip stays lit while busy.
    for (int i = 0; i < HandheldView::kLightHoldPolls; ++i) view.Poll();
    EXPECT_EQ(view.FlashLight().tone, Tone::kProgramming);
    EXPECT_EQ(view.FlashLight().text, "low chip programming at 0xA0DC0040");

    hh.status.flash[0].busy = false;
    for (int i = 0; i < HandheldView::kLightHoldPolls - 1; ++i) view.Poll();
    EXPECT_EQ(view.FlashLight().tone, Tone::kProgramming) << "held";
    view.Poll();
    EXPECT_EQ(view.FlashLight().tone, Tone::kOff);
    EXPECT_EQ(view.FlashLight().text, "flash idle");

    // A chip left out of read-array mode without an operation counted reads busy.
    hh.status.flash[1].readArray = false;
    hh.status.flash[1].last = FlashChipStatus::Last::kLock;
    view.Poll();
    EXPECT_EQ(view.FlashLight().tone, Tone::kBusy);
    EXPECT_EQ(view.FlashLight().text, "high chip busy");
}

TEST(HandheldViewModel, ButtonsToggleWhatTheyTellAndAskBeforeThePowerCut) {
    PlayedHandheld hh;
    HandheldView view("hh", hh.Request());
    view.Poll();
    auto cable = ButtonFor(view, HandheldView::Action::kCable);
    EXPECT_EQ(cable.label, "Pull the cable out");
    EXPECT_TRUE(cable.enabled);
    EXPECT_TRUE(cable.confirmation.empty());
    EXPECT_EQ(view.Press(HandheldView::Action::kCable), "cable pulled out");
    EXPECT_EQ(hh.actions.back(), (Words{"set", "cable", "off"}));
    EXPECT_EQ(Value(view, "cable"), "out") << "pressing polls again";
    EXPECT_EQ(ButtonFor(view, HandheldView::Action::kCable).label, "Plug the cable in");
    EXPECT_EQ(view.Press(HandheldView::Action::kCable), "cable plugged in");
    EXPECT_EQ(hh.actions.back(), (Words{"set", "cable", "on"}));

    EXPECT_EQ(ButtonFor(view, HandheldView::Action::kAc).label, "Unplug the AC adapter");
    EXPECT_EQ(view.Press(HandheldView::Action::kAc), "AC adapter unplugged");
    EXPECT_EQ(hh.actions.back(), (Words{"set", "ac", "off"}));
    EXPECT_EQ(ButtonFor(view, HandheldView::Action::kAc).label, "Plug the AC adapter in");
    view.Press(HandheldView::Action::kAc);
    EXPECT_EQ(hh.actions.back(), (Words{"set", "ac", "on"}));

    auto cut = ButtonFor(view, HandheldView::Action::kPowerCut);
    EXPECT_NE(cut.confirmation.find("Cut the handheld's power now?"), std::string::npos);
    EXPECT_NE(cut.confirmation.find("boots cold"), std::string::npos);
    EXPECT_TRUE(cut.enabled);
    EXPECT_EQ(view.Press(HandheldView::Action::kPowerCut),
              "power cut: the handheld boots cold from its flash");
    EXPECT_EQ(hh.actions.back(), Words{"power-cut"});
    EXPECT_EQ(view.Message(), "power cut: the handheld boots cold from its flash");
    EXPECT_EQ(hh.actions.size(), 5u);
}

TEST(HandheldViewModel, PollingAloneNeverChangesTheHandheld) {
    PlayedHandheld hh;
    HandheldView view("hh", hh.Request());
    for (int i = 0; i < 50; ++i) view.Poll();
    EXPECT_TRUE(hh.actions.empty());
}

TEST(HandheldViewModel, RefusedActionsAndNoHandheldAreSaidSo) {
    PlayedHandheld hh;
    HandheldView view("hh", [&](const Words& words) -> std::optional<ControlReply> {
        if (words[0] == "set") return ControlReply{ControlReply::Status::kError, "cannot\n"};
        return hh.Request()(words);
    });
    view.Poll();
    EXPECT_EQ(view.Press(HandheldView::Action::kCable), "the handheld refused: cannot");
    hh.running = false;
    view.Poll();
    EXPECT_EQ(view.Press(HandheldView::Action::kAc), "no handheld runs in hh");
}

TEST(HandheldViewModel, CountsFramesOfTheLastSecond) {
    PlayedHandheld hh;
    auto now = std::chrono::steady_clock::time_point{};
    HandheldView view("hh", hh.Request(), [&] { return now; });
    for (int i = 0; i < 30; ++i) {
        view.Poll();
        now += std::chrono::milliseconds(HandheldView::kPollIntervalMs);
    }
    EXPECT_EQ(view.FramesPerSecond(), 1000 / HandheldView::kPollIntervalMs);
    EXPECT_GE(1000 / HandheldView::kPollIntervalMs, 10)
        << "the view promises 10 frames a second at least";
}

}  // namespace
}  // namespace tova::emu
