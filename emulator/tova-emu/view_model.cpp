#include "view_model.h"

#include <algorithm>
#include <cstdio>

#include "shared/flash_map.h"

namespace tova::emu {

namespace {

using Tone = HandheldView::Light::Tone;

std::string Address(uint32_t busOffset) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", kFlashStart + busOffset);
    return text;
}

std::string BuildDigits(uint32_t build) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", build);
    return text;
}

const char* ToneWord(Tone tone) {
    switch (tone) {
        case Tone::kErasing:
            return "erasing";
        case Tone::kProgramming:
            return "programming";
        case Tone::kBusy:
            return "busy";
        default:
            return "idle";
    }
}

Tone ToneOfLast(FlashChipStatus::Last last) {
    switch (last) {
        case FlashChipStatus::Last::kErase:
            return Tone::kErasing;
        case FlashChipStatus::Last::kProgram:
            return Tone::kProgramming;
        default:
            return Tone::kBusy;
    }
}

// The more telling of two tones: an erase outlasts a program, and either says more than busy.
int Rank(Tone tone) {
    switch (tone) {
        case Tone::kErasing:
            return 3;
        case Tone::kProgramming:
            return 2;
        case Tone::kBusy:
            return 1;
        default:
            return 0;
    }
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

}  // namespace

std::string BatteryWords(uint8_t percent) {
    if (percent == 255) return "unknown";
    std::string words = std::to_string(percent) + " %";
    if (percent < 40) words += " (below 40 %)";
    return words;
}

HandheldView::HandheldView(std::string name, Request request, Clock clock)
    : name_(std::move(name)), request_(std::move(request)), clock_(std::move(clock)) {
    if (!clock_) clock_ = [] { return std::chrono::steady_clock::now(); };
    Darken();
    light_.text = "flash off";
}

std::optional<ControlReply> HandheldView::Send(const std::vector<std::string>& words,
                                               std::string* trouble) {
    try {
        return request_(words);
    } catch (const std::exception& e) {
        *trouble = e.what();
        return std::nullopt;
    }
}

bool HandheldView::Poll() {
    std::string before = Shown();
    std::vector<uint16_t> frameBefore = frame_;
    std::string trouble;
    std::optional<HandheldStatus> status;
    std::optional<ControlReply> reply = Send({kStatusRequest}, &trouble);
    if (reply && reply->status == ControlReply::Status::kOk) {
        status = ParseHandheldStatus(reply->text);
        if (!status) trouble = "the handheld's status could not be read";
    } else if (reply) {
        trouble = "the handheld refused the status request: " + Trimmed(reply->text);
    } else if (trouble.empty()) {
        trouble = "no handheld runs in " + name_ + " (start it with tova-emu run); waiting for one";
    }
    TakeStatus(status);
    if (status) {
        std::optional<ControlReply> frame = Send({kFrameRequest}, &trouble);
        if (frame && frame->status == ControlReply::Status::kOk) {
            if (auto pixels = DecodeFrame(frame->text)) {
                TakeFrame(*pixels);
            } else {
                trouble = "the handheld sent a frame of " + std::to_string(frame->text.size()) +
                          " bytes, not " + std::to_string(hw::kFrameBytes);
            }
        } else if (frame) {
            trouble = "the handheld refused the frame request: " + Trimmed(frame->text);
        }
    } else {
        Darken();
    }
    trouble_ = trouble;
    return Shown() != before || frame_ != frameBefore;
}

void HandheldView::TakeStatus(std::optional<HandheldStatus> status) {
    previous_ = status_;
    status_ = std::move(status);
    UpdateLight();
}

void HandheldView::UpdateLight() {
    bool on = status_ && status_->running && status_->state != MachineState::kOff;
    if (!on) {
        for (ChipLight& chip : chips_) chip = {};
        light_ = {Tone::kOff, "flash off"};
        return;
    }
    for (unsigned i = 0; i < 2; ++i) {
        const FlashChipStatus& now = status_->flash[i];
        ChipLight& chip = chips_[i];
        Tone seen = Tone::kOff;
        if (previous_ && previous_->running) {
            const FlashChipStatus& was = previous_->flash[i];
            // Counters only grow within one tova-emu run; a smaller one is a new run.
            if (now.erases > was.erases)
                seen = Tone::kErasing;
            else if (now.programs > was.programs)
                seen = Tone::kProgramming;
            else if (now.lockChanges > was.lockChanges)
                seen = Tone::kBusy;
        }
        if (seen == Tone::kOff && (now.busy || !now.readArray)) seen = ToneOfLast(now.last);
        if (seen != Tone::kOff) {
            uint32_t offset = seen == Tone::kErasing       ? now.lastEraseOffset
                              : seen == Tone::kProgramming ? now.lastProgramOffset
                                                           : 0;
            chip = {kLightHoldPolls, seen, offset};
        } else if (chip.pollsLeft > 0 && --chip.pollsLeft == 0) {
            chip = {};
        }
    }
    const ChipLight& low = chips_[0];
    const ChipLight& high = chips_[1];
    light_.tone = Rank(low.tone) >= Rank(high.tone) ? low.tone : high.tone;
    // "erasing at 0xA0DC0000"; busy alone (lock bits, a command under way) has no address.
    auto doing = [](const ChipLight& chip) {
        std::string text = ToneWord(chip.tone);
        if (chip.tone != Tone::kBusy) text += " at " + Address(chip.offset);
        return text;
    };
    if (low.tone == Tone::kOff && high.tone == Tone::kOff) {
        light_.text = "flash idle";
    } else if (low.tone == high.tone && low.offset == high.offset) {
        light_.text = "both chips " + doing(low);
    } else {
        std::string text;
        const char* names[2] = {"low chip ", "high chip "};
        for (unsigned i = 0; i < 2; ++i) {
            if (chips_[i].tone == Tone::kOff) continue;
            if (!text.empty()) text += ", ";
            text += names[i] + doing(chips_[i]);
        }
        light_.text = text;
    }
}

void HandheldView::TakeFrame(const std::vector<uint16_t>& frame) {
    auto now = clock_();
    frameTimes_.push_back(now);
    frameTimes_.erase(std::remove_if(frameTimes_.begin(), frameTimes_.end(),
                                     [&](auto t) { return now - t >= std::chrono::seconds(1); }),
                      frameTimes_.end());
    framesPerSecond_ = int(frameTimes_.size());
    if (frame == frame_) return;
    frame_ = frame;
    picture_.resize(size_t(kPictureWidth) * kPictureHeight);
    for (uint32_t y = 0; y < hw::kScreenHeight; ++y) {
        uint32_t* row = &picture_[size_t(y) * kScale * kPictureWidth];
        for (uint32_t x = 0; x < hw::kScreenWidth; ++x) {
            auto rgb = hw::Rgb565ToRgb888(frame[y * hw::kScreenWidth + x]);
            uint32_t argb =
                0xFF000000u | (uint32_t(rgb[0]) << 16) | (uint32_t(rgb[1]) << 8) | rgb[2];
            for (int dx = 0; dx < kScale; ++dx) row[x * kScale + dx] = argb;
        }
        for (int dy = 1; dy < kScale; ++dy)
            std::copy(row, row + kPictureWidth, row + size_t(dy) * kPictureWidth);
    }
}

void HandheldView::Darken() {
    frame_.clear();
    frameTimes_.clear();
    framesPerSecond_ = 0;
    picture_.assign(size_t(kPictureWidth) * kPictureHeight, kDarkPixel);
}

std::string HandheldView::Title() const {
    return "Tova handheld - " + name_;
}

std::vector<HandheldView::StripLine> HandheldView::Strip() const {
    std::vector<StripLine> lines;
    if (!status_ || !status_->running) {
        lines.push_back({"power", "Power", "off (not running)", true});
        lines.push_back({"system", "System", "-", false});
        lines.push_back({"boots", "Boots", "-", false});
        lines.push_back({"ac", "AC adapter", "-", false});
        lines.push_back({"battery", "Battery", "-", false});
        lines.push_back({"cable", "Cable", "-", false});
        lines.push_back({"link", "Link", "-", false});
        return lines;
    }
    const HandheldStatus& s = *status_;
    bool powered = s.state != MachineState::kOff;
    lines.push_back({"power", "Power", powered ? "on" : "off", !powered});
    std::string system;
    bool systemWarning = false;
    switch (s.state) {
        case MachineState::kOff:
            system = "off";
            break;
        case MachineState::kBooting:
            system = "booting";
            break;
        case MachineState::kResetting:
            system = "restarting";
            break;
        case MachineState::kDead:
            system = "dead: no valid kernel in flash";
            systemWarning = true;
            break;
        case MachineState::kBooted:
            system = "booted, ROM " + BuildDigits(s.romBuild);
            break;
    }
    lines.push_back({"system", "System", system, systemWarning});
    lines.push_back({"boots", "Boots",
                     s.boots == 0 ? "none yet"
                                  : std::to_string(s.boots) +
                                        (s.lastBootWarm ? " (last warm)" : " (last cold)"),
                     false});
    lines.push_back({"ac", "AC adapter", s.acOnline ? "plugged in" : "unplugged", !s.acOnline});
    lines.push_back({"battery", "Battery", BatteryWords(s.batteryPercent),
                     s.batteryPercent < 40 || s.batteryPercent == 255});
    lines.push_back({"cable", "Cable", s.cableAttached ? "in" : "out", !s.cableAttached});
    std::string link = s.linkUp ? "up" : "down";
    if (s.linkUp && !s.linkEndpoint.empty()) link += " on " + s.linkEndpoint;
    lines.push_back({"link", "Link", link, false});
    return lines;
}

std::vector<HandheldView::Button> HandheldView::Buttons() const {
    bool running = status_ && status_->running;
    bool cable = running && status_->cableAttached;
    bool ac = running && status_->acOnline;
    bool powered = running && status_->state != MachineState::kOff;
    return {
        {Action::kCable, "cable", cable ? "Pull the cable out" : "Plug the cable in", running, ""},
        {Action::kAc, "ac", ac ? "Unplug the AC adapter" : "Plug the AC adapter in", running, ""},
        {Action::kPowerCut, "power-cut", "Cut the power...", powered,
         "Cut the handheld's power now?\n\n"
         "Its RAM is lost: the object store, the registry changes and any update files in "
         "them. The power comes back at once and the handheld boots cold from what its "
         "flash holds; a cut while the flasher writes can leave it unable to boot."},
    };
}

std::string HandheldView::Press(Action action) {
    if (!status_ || !status_->running) {
        message_ = "no handheld runs in " + name_;
        return message_;
    }
    std::vector<std::string> words;
    std::string done;
    switch (action) {
        case Action::kCable:
            words = {"set", "cable", status_->cableAttached ? "off" : "on"};
            done = status_->cableAttached ? "cable pulled out" : "cable plugged in";
            break;
        case Action::kAc:
            words = {"set", "ac", status_->acOnline ? "off" : "on"};
            done = status_->acOnline ? "AC adapter unplugged" : "AC adapter plugged in";
            break;
        case Action::kPowerCut:
            words = {"power-cut"};
            done = "power cut: the handheld boots cold from its flash";
            break;
    }
    std::string trouble;
    std::optional<ControlReply> reply = Send(words, &trouble);
    if (!reply)
        message_ = "could not reach the handheld" + (trouble.empty() ? "" : ": " + trouble);
    else if (reply->status != ControlReply::Status::kOk)
        message_ = "the handheld refused: " + Trimmed(reply->text);
    else
        message_ = done;
    std::string result = message_;
    Poll();
    return result;
}

std::string HandheldView::Shown() const {
    std::string shown = light_.text + "\n" + Message() + "\n";
    for (const StripLine& line : Strip()) shown += line.value + "\n";
    for (const Button& button : Buttons())
        shown += button.label + (button.enabled ? "+" : "-") + "\n";
    return shown;
}

}  // namespace tova::emu
