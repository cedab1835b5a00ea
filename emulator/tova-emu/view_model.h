// What the window of `tova-emu view` (and `tova-emu run --window`) shows and does, without
// a toolkit: the handheld's screen scaled 2x (nearest neighbour), the state strip's words,
// the flash activity light, the buttons and what they send, and the polling that keeps all
// of it current. A window (view_window.h) mirrors it: it calls Poll on a timer, paints
// Picture(), shows Strip() and Light(), and turns a button press into Press().
//
// The model reaches the handheld through a request function: the control channel for
// `view`, or the handheld's own handler for `run --window` (same words, same replies).
// Nothing here stops the handheld; only the buttons change it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "control_channel.h"
#include "handheld_status.h"

namespace tova::emu {

class HandheldView {
  public:
    // Sends the words of one request; nullopt when no handheld runs there. May throw
    // CommandError (a handheld that does not answer).
    using Request = std::function<std::optional<ControlReply>(const std::vector<std::string>&)>;
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    static constexpr int kScale = 2;
    static constexpr int kPictureWidth = int(hw::kScreenWidth) * kScale;    // 480
    static constexpr int kPictureHeight = int(hw::kScreenHeight) * kScale;  // 640
    // 20 polls a second, each a status and a frame: the screen at 20 frames a second.
    static constexpr int kPollIntervalMs = 50;
    // The light stays on this many polls after the last operation it saw, so that a burst
    // of a few microseconds is still seen by a person.
    static constexpr int kLightHoldPolls = 4;
    // What a window shows where there is no frame: the dark screen of a switched-off handheld.
    static constexpr uint32_t kDarkPixel = 0xFF202020;

    // `name`: the state folder as the user gave it, for the title.
    HandheldView(std::string name, Request request, Clock clock = {});

    // One poll: the status, then the frame. Returns true when anything shown changed.
    bool Poll();

    // The screen, kPictureWidth x kPictureHeight pixels 0xAARRGGBB, row by row.
    const std::vector<uint32_t>& Picture() const { return picture_; }
    // The last frame as the handheld sent it (RGB565), empty before the first.
    const std::vector<uint16_t>& Frame() const { return frame_; }
    const std::optional<HandheldStatus>& Status() const { return status_; }

    std::string Title() const;

    // The state strip: one line per item, as a person reads it.
    struct StripLine {
        std::string key;       // stable, for the window's object names: power, ac, ...
        std::string label;     // "Power"
        std::string value;     // "on"
        bool warning = false;  // a state that stops an update (AC off, cable out, dead ...)
    };
    std::vector<StripLine> Strip() const;

    struct Light {
        enum class Tone { kOff, kErasing, kProgramming, kBusy };
        Tone tone = Tone::kOff;
        std::string text;  // "flash idle", "low chip erasing at 0xA0DC0000" ...
    };
    const Light& FlashLight() const { return light_; }

    enum class Action { kCable, kAc, kPowerCut };
    struct Button {
        Action action;
        std::string key;    // cable, ac, power-cut
        std::string label;  // what pressing it does now: "Pull the cable", "Plug the cable in"
        bool enabled = false;
        std::string confirmation;  // asked before the action when not empty
    };
    std::vector<Button> Buttons() const;
    // Does what the button says now (toggling from the last status) and polls again.
    // Returns the line to show under the buttons.
    std::string Press(Action action);
    // Trouble reaching the handheld, else the last button's result; empty when neither.
    const std::string& Message() const { return trouble_.empty() ? message_ : trouble_; }

    // Frames received in the last second (for the window's footer).
    int FramesPerSecond() const { return framesPerSecond_; }

  private:
    std::optional<ControlReply> Send(const std::vector<std::string>& words, std::string* trouble);
    void TakeStatus(std::optional<HandheldStatus> status);
    void TakeFrame(const std::vector<uint16_t>& frame);
    void Darken();
    void UpdateLight();
    std::string Shown() const;  // everything shown but the picture, to tell a change

    std::string name_;
    Request request_;
    Clock clock_;
    std::optional<HandheldStatus> status_;
    std::optional<HandheldStatus> previous_;
    std::vector<uint16_t> frame_;
    std::vector<uint32_t> picture_;
    Light light_;
    struct ChipLight {
        int pollsLeft = 0;
        Light::Tone tone = Light::Tone::kOff;
        uint32_t offset = 0;
    };
    ChipLight chips_[2];
    std::string message_;
    std::string trouble_;  // why the last poll reached no handheld
    std::vector<std::chrono::steady_clock::time_point> frameTimes_;
    int framesPerSecond_ = 0;
};

// Words of the strip and the light, for tests and the window alike.
std::string BatteryWords(uint8_t percent);

}  // namespace tova::emu
