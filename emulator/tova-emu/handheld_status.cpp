#include "handheld_status.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "handheld_actions.h"
#include "emulator/hw/flash.h"

namespace tova::emu {

namespace {

const char* StateWord(MachineState s) {
    switch (s) {
        case MachineState::kOff:
            return "off";
        case MachineState::kBooting:
            return "booting";
        case MachineState::kBooted:
            return "booted";
        case MachineState::kDead:
            return "dead";
        case MachineState::kResetting:
            return "resetting";
    }
    return "off";
}

std::optional<MachineState> StateFromWord(const std::string& w) {
    for (MachineState s : {MachineState::kOff, MachineState::kBooting, MachineState::kBooted,
                           MachineState::kDead, MachineState::kResetting})
        if (w == StateWord(s)) return s;
    return std::nullopt;
}

const char* LastWord(FlashChipStatus::Last last) {
    switch (last) {
        case FlashChipStatus::Last::kErase:
            return "erase";
        case FlashChipStatus::Last::kProgram:
            return "program";
        case FlashChipStatus::Last::kLock:
            return "lock";
        default:
            return "none";
    }
}

std::optional<FlashChipStatus::Last> LastFromWord(const std::string& w) {
    for (auto last : {FlashChipStatus::Last::kNone, FlashChipStatus::Last::kErase,
                      FlashChipStatus::Last::kProgram, FlashChipStatus::Last::kLock})
        if (w == LastWord(last)) return last;
    return std::nullopt;
}

std::optional<bool> OnOff(const std::string& w, const char* on, const char* off) {
    if (w == on) return true;
    if (w == off) return false;
    return std::nullopt;
}

// A whole decimal or 0x-hexadecimal number no larger than `max`.
std::optional<uint64_t> Number(const std::string& w, uint64_t max) {
    if (w.empty() || w[0] == '-' || w[0] == '+' || w[0] == ' ') return std::nullopt;
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(w.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v > max) return std::nullopt;
    return v;
}

std::string Hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}

FlashChipStatus ChipStatus(const hw::FlashActivity& a) {
    FlashChipStatus c;
    c.readArray = a.readArray;
    c.busy = a.busy;
    c.erases = a.erases;
    c.programs = a.programs;
    c.lockChanges = a.lockChanges;
    c.lastEraseOffset = a.lastEraseOffset;
    c.lastProgramOffset = a.lastProgramOffset;
    if (!a.anyOperation)
        c.last = FlashChipStatus::Last::kNone;
    else if (a.lastKind == hw::FlashOperationKind::kErase)
        c.last = FlashChipStatus::Last::kErase;
    else if (a.lastKind == hw::FlashOperationKind::kBufferedProgram ||
             a.lastKind == hw::FlashOperationKind::kWordProgram)
        c.last = FlashChipStatus::Last::kProgram;
    else
        c.last = FlashChipStatus::Last::kLock;
    return c;
}

}  // namespace

HandheldStatus ReadHandheldStatus(Machine& machine, const ActionContext& context) {
    HandheldStatus s;
    MachineConfig config = machine.Config();
    s.running = context.running;
    s.state = context.running ? machine.State() : MachineState::kOff;
    s.acOnline = config.acOnline;
    s.batteryPercent = config.batteryPercent;
    s.cableAttached = config.cableAttached;
    s.linkUp = context.running && machine.LinkUp();
    s.linkEndpoint = context.linkEndpoint;
    s.boots = machine.BootCount();
    s.lastBootWarm = s.boots > 0 && machine.LastBootWarm();
    s.romBuild = machine.RomBuild();
    for (unsigned chip = 0; chip < 2; ++chip)
        s.flash[chip] = ChipStatus(machine.Flash().Activity(chip));
    return s;
}

std::string FormatHandheldStatus(const HandheldStatus& s) {
    std::ostringstream out;
    out << "running " << (s.running ? "yes" : "no") << "\n"
        << "state " << StateWord(s.state) << "\n"
        << "ac " << (s.acOnline ? "on" : "off") << "\n"
        << "battery " << unsigned(s.batteryPercent) << "\n"
        << "cable " << (s.cableAttached ? "on" : "off") << "\n"
        << "link " << (s.linkUp ? "up" : "down");
    if (!s.linkEndpoint.empty()) out << " " << s.linkEndpoint;
    out << "\n"
        << "boots " << s.boots << " " << (s.lastBootWarm ? "warm" : "cold") << "\n"
        << "rom " << Hex(s.romBuild) << "\n";
    for (unsigned chip = 0; chip < 2; ++chip) {
        const FlashChipStatus& c = s.flash[chip];
        out << "flash " << chip << " " << (c.readArray ? "array" : "command") << " "
            << (c.busy ? "busy" : "idle") << " " << c.erases << " " << c.programs << " "
            << c.lockChanges << " " << LastWord(c.last) << " " << Hex(c.lastEraseOffset) << " "
            << Hex(c.lastProgramOffset) << "\n";
    }
    return out.str();
}

std::optional<HandheldStatus> ParseHandheldStatus(std::string_view text) {
    if (text.size() > kLargestStatusReply) return std::nullopt;
    HandheldStatus s;
    enum Seen {
        kRunning,
        kState,
        kAc,
        kBattery,
        kCable,
        kLink,
        kBoots,
        kRom,
        kFlash0,
        kFlash1,
        kCount
    };
    bool seen[kCount] = {};
    std::istringstream lines{std::string(text)};
    for (std::string line; std::getline(lines, line);) {
        std::istringstream in(line);
        std::vector<std::string> w;
        for (std::string word; in >> word;) w.push_back(word);
        if (w.empty()) continue;
        const std::string& name = w[0];
        auto need = [&](size_t n) { return w.size() == n; };
        if (name == "running") {
            auto v = need(2) ? OnOff(w[1], "yes", "no") : std::nullopt;
            if (!v) return std::nullopt;
            s.running = *v;
            seen[kRunning] = true;
        } else if (name == "state") {
            auto v = need(2) ? StateFromWord(w[1]) : std::nullopt;
            if (!v) return std::nullopt;
            s.state = *v;
            seen[kState] = true;
        } else if (name == "ac" || name == "cable") {
            auto v = need(2) ? OnOff(w[1], "on", "off") : std::nullopt;
            if (!v) return std::nullopt;
            (name == "ac" ? s.acOnline : s.cableAttached) = *v;
            seen[name == "ac" ? kAc : kCable] = true;
        } else if (name == "battery") {
            auto v = need(2) ? Number(w[1], 255) : std::nullopt;
            if (!v || (*v > 100 && *v != 255)) return std::nullopt;
            s.batteryPercent = uint8_t(*v);
            seen[kBattery] = true;
        } else if (name == "link") {
            auto v = (w.size() == 2 || w.size() == 3) ? OnOff(w[1], "up", "down") : std::nullopt;
            if (!v) return std::nullopt;
            s.linkUp = *v;
            s.linkEndpoint = w.size() == 3 ? w[2] : "";
            seen[kLink] = true;
        } else if (name == "boots") {
            auto count = need(3) ? Number(w[1], 0xFFFFFFFF) : std::nullopt;
            auto warm = need(3) ? OnOff(w[2], "warm", "cold") : std::nullopt;
            if (!count || !warm) return std::nullopt;
            s.boots = uint32_t(*count);
            s.lastBootWarm = *warm;
            seen[kBoots] = true;
        } else if (name == "rom") {
            auto v = need(2) ? Number(w[1], 0xFFFFFFFF) : std::nullopt;
            if (!v) return std::nullopt;
            s.romBuild = uint32_t(*v);
            seen[kRom] = true;
        } else if (name == "flash") {
            if (!need(10)) return std::nullopt;
            auto chip = Number(w[1], 1);
            auto array = OnOff(w[2], "array", "command");
            auto busy = OnOff(w[3], "busy", "idle");
            auto erases = Number(w[4], UINT64_MAX);
            auto programs = Number(w[5], UINT64_MAX);
            auto locks = Number(w[6], UINT64_MAX);
            auto last = LastFromWord(w[7]);
            auto eraseOffset = Number(w[8], 0xFFFFFFFF);
            auto programOffset = Number(w[9], 0xFFFFFFFF);
            if (!chip || !array || !busy || !erases || !programs || !locks || !last ||
                !eraseOffset || !programOffset)
                return std::nullopt;
            FlashChipStatus& c = s.flash[*chip];
            c = {*array,
                 *busy,
                 *erases,
                 *programs,
                 *locks,
                 *last,
                 uint32_t(*eraseOffset),
                 uint32_t(*programOffset)};
            seen[*chip == 0 ? kFlash0 : kFlash1] = true;
        }
    }
    for (bool b : seen)
        if (!b) return std::nullopt;
    return s;
}

std::string EncodeFrame(const std::vector<uint16_t>& pixels) {
    std::string bytes(pixels.size() * 2, '\0');
    for (size_t i = 0; i < pixels.size(); ++i) {
        bytes[2 * i] = char(pixels[i] & 0xFF);
        bytes[2 * i + 1] = char(pixels[i] >> 8);
    }
    return bytes;
}

std::optional<std::vector<uint16_t>> DecodeFrame(std::string_view bytes) {
    if (bytes.size() != hw::kFrameBytes) return std::nullopt;
    std::vector<uint16_t> pixels(hw::kScreenWidth * hw::kScreenHeight);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint16_t(uint8_t(bytes[2 * i]) | (uint8_t(bytes[2 * i + 1]) << 8));
    return pixels;
}

}  // namespace tova::emu
