#include "handheld_actions.h"

#include <cstring>
#include <sstream>

#include "arguments.h"
#include "handheld_status.h"
#include "link_fault_knobs.h"
#include "shared/flash_map.h"
#include "shared/rom_identity.h"
#include "emulator/hw/board.h"
#include "emulator/object_store.h"

namespace tova::emu {

namespace {

using Words = std::vector<std::string>;

std::string Rest(const Words& w, size_t from) {
    std::string out;
    for (size_t i = from; i < w.size(); ++i) out += (i > from ? " " : "") + w[i];
    return out;
}

// Exactly `count` words; too many are named, so that a stray word is never taken silently.
void Need(const Words& w, size_t count, const std::string& usage) {
    if (w.size() > count) throw UsageError("too many arguments: \"" + Rest(w, count) + "\" (usage: " + usage + ")");
    if (w.size() < count) throw UsageError("missing arguments (usage: " + usage + ")");
}

const char* StateName(MachineState s) {
    switch (s) {
    case MachineState::kOff: return "off";
    case MachineState::kBooting: return "booting";
    case MachineState::kBooted: return "booted";
    case MachineState::kDead: return "dead (no valid kernel in flash)";
    case MachineState::kResetting: return "resetting";
    }
    return "?";
}

std::string Hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}

// Machine knobs by name; flash knobs go to the flash model, link knobs to the link server.
std::string SetFault(Machine& m, const Words& w, const ActionContext& c) {
    if (w.size() < 3) throw UsageError("usage: set STATE fault KNOB [ARGUMENTS...]");
    const std::string& knob = w[2];
    if (IsLinkFaultKnob(knob)) return ApplyLinkFaultKnob(c.link, w);
    MachineFaults faults = m.Config().faults;
    if (knob == "model-query-garbage") {
        Need(w, 4, "set STATE fault model-query-garbage COUNT");
        faults.modelQueryGarbageCount = uint32_t(ParseNumberArgument(w[3], 0xFFFFFFFF, "the count"));
    } else if (knob == "ram-fragmentation") {
        Need(w, 4, "set STATE fault ram-fragmentation on|off");
        faults.ramFragmentation = ParseOnOffArgument(w[3], "ram-fragmentation");
    } else if (knob == "reboot-ignored") {
        Need(w, 4, "set STATE fault reboot-ignored on|off");
        faults.rebootIgnored = ParseOnOffArgument(w[3], "reboot-ignored");
    } else if (knob == "undeletable-value") {
        Need(w, 5, "set STATE fault undeletable-value KEY NAME");
        faults.undeletableRegistryValues.push_back({FromUtf8(w[3]), FromUtf8(w[4])});
    } else if (knob == "clear") {
        Need(w, 3, "set STATE fault clear");
        faults = {};
        std::string error;
        m.ApplyFlashFault("clear", "", &error);
        if (c.link != nullptr) c.link->SetFaults({});
    } else {
        std::string error;
        if (!m.ApplyFlashFault(knob, Rest(w, 3), &error)) throw UsageError(error);
        return "flash fault " + knob + " set\n";
    }
    m.SetFaults(faults);
    return "fault " + knob + " set\n";
}

std::string Set(Machine& m, const Words& w, const ActionContext& c) {
    if (w.size() < 2) throw UsageError("usage: set STATE cable|ac on|off | battery N | fault KNOB ...");
    const std::string& what = w[1];
    if (what == "cable" || what == "ac") {
        Need(w, 3, "set STATE " + what + " on|off");
        bool on = ParseOnOffArgument(w[2], what);
        if (what == "cable") m.SetCable(on);
        else m.SetAcOnline(on);
        return what + " " + w[2] + "\n";
    }
    if (what == "battery") {
        Need(w, 3, "set STATE battery PERCENT");
        uint64_t percent = ParseNumberArgument(w[2], 255, "the battery percent");
        if (percent > 100 && percent != 255)
            throw UsageError("the battery percent must be 0 to 100, or 255 for unknown");
        m.SetBatteryPercent(uint8_t(percent));
        return "battery " + w[2] + "\n";
    }
    if (what == "fault") return SetFault(m, w, c);
    throw UsageError("set knows cable, ac, battery and fault, not \"" + what + "\"");
}

std::string Reset(Machine& m, const Words& w, const ActionContext& c) {
    if (w.size() > 2) throw UsageError("usage: reset STATE [warm|cold]");
    std::string kind = w.size() == 2 ? w[1] : "warm";
    if (kind != "warm" && kind != "cold") throw UsageError("reset is warm or cold, not \"" + kind + "\"");
    if (!c.running) {
        m.SetWarmBootToken(kind == "warm");
        return "the handheld is not running: its next power-on will be " + kind + "\n";
    }
    m.RequestReset(kind == "warm" ? ResetKind::kWarm : ResetKind::kCold);
    return kind + " reset\n";
}

// The screen as PNG bytes; the client writes them.
std::string Screenshot(Machine& m, const Words& w) {
    Need(w, 1, "screenshot (the PNG comes back to the client)");
    try {
        std::vector<uint8_t> png = m.Display().EncodePng();
        return std::string(png.begin(), png.end());
    } catch (const std::exception& e) {
        throw CommandError(e.what());
    }
}

void CheckFlashRange(const Words& w) {
    Need(w, 3, "dump-flash OFFSET LENGTH (the bytes come back to the client)");
    uint64_t offset = ParseNumberArgument(w[1], kFlashBytes, "the offset");
    uint64_t length = ParseNumberArgument(w[2], kFlashBytes, "the length");
    if (offset + length > kFlashBytes)
        throw UsageError("offset " + w[1] + " and length " + w[2] + " end past the end of flash (" +
                         Hex(kFlashBytes) + " bytes)");
}

// The flash range's bytes; the client writes them.
std::string DumpFlash(Machine& m, const Words& w) {
    CheckFlashRange(w);
    uint64_t offset = ParseNumberArgument(w[1], kFlashBytes, "the offset");
    uint64_t length = ParseNumberArgument(w[2], kFlashBytes, "the length");
    auto bytes = m.Flash().ReadArray(uint32_t(offset), uint32_t(length));
    return std::string(bytes.begin(), bytes.end());
}

// Block erases a chip has done: a flasher that retried after an error erases more than the
// blocks it writes.
uint64_t FlashErases(Machine& m, unsigned chip) {
    uint64_t erases = 0;
    for (uint32_t block = 0; block < hw::kFlashBlockCount; ++block) erases += m.Flash().EraseCount(chip, block);
    return erases;
}

std::string Info(Machine& m, const ActionContext& c) {
    MachineConfig config = m.Config();
    std::ostringstream out;
    out << "state folder: " << m.StateFolder().string() << "\n"
        << "running:      " << (c.running ? "yes" : "no") << "\n"
        << "state:        " << StateName(m.State()) << "\n"
        << "model:        " << (config.model == Model::kAdvanced ? "advanced" : "basic") << " ("
        << Hex(config.Addresses().memoryConfig) << ")\n";
    RomIdentity record{};
    auto bytes = m.Flash().ReadArray(kImageFlashAddress - kFlashStart, sizeof record);
    std::memcpy(&record, bytes.data(), sizeof record);
    if (IsValidRomIdentity(record)) {
        size_t n = 0;
        while (n < 16 && record.versionText[n]) ++n;
        out << "ROM build:    " << Hex(record.build) << "\n"
            << "ROM version:  " << ToUtf8(std::u16string_view(record.versionText, n)) << "\n"
            << "ROM language: " << record.languageId << "\n";
    } else {
        out << "ROM:          no valid kernel in flash\n";
    }
    out << "link:         ";
    if (c.running) out << c.linkEndpoint << (m.LinkUp() ? " (up)" : " (down)") << "\n";
    else out << "not served (the handheld is not running)\n";
    if (c.link != nullptr) out << DescribeLinkFaults(c.link->Faults());
    out << "cable:        " << (config.cableAttached ? "on" : "off") << "\n"
        << "ARM modules:  "
        << (config.armModules ? "on (its modules run as ARM code on the emulated CPU)"
                              : "off (its modules run as host code, with `run --host-modules`)")
        << "\n"
        << "AC:           " << (config.acOnline ? "on" : "off") << "\n"
        << "battery:      " << unsigned(config.batteryPercent)
        << (config.batteryPercent == 255 ? " (unknown)" : "") << "\n"
        << "boots:        " << m.BootCount();
    if (m.BootCount() > 0) out << (m.LastBootWarm() ? " (last warm)" : " (last cold)");
    out << "\nflash erases: " << FlashErases(m, 0) << " low chip, " << FlashErases(m, 1)
        << " high chip (since switched on)";
    out << "\nstore:\n";
    for (const auto& file : m.Store().ListAllFiles()) {
        out << "  " << ToUtf8(file) << "  " << m.Store().FileSize(file).value_or(0) << " bytes\n";
    }
    return out.str();
}

}  // namespace

void CheckAction(const std::vector<std::string>& words) {
    if (words.empty()) throw UsageError("no command");
    const std::string& name = words[0];
    if (name == "set") {
        if (words.size() < 3) throw UsageError("usage: set STATE cable|ac on|off | battery N | fault KNOB ...");
        if (words[1] == "cable" || words[1] == "ac") {
            Need(words, 3, "set STATE " + words[1] + " on|off");
            ParseOnOffArgument(words[2], words[1]);
        } else if (words[1] == "battery") {
            Need(words, 3, "set STATE battery PERCENT");
            uint64_t percent = ParseNumberArgument(words[2], 255, "the battery percent");
            if (percent > 100 && percent != 255)
                throw UsageError("the battery percent must be 0 to 100, or 255 for unknown");
        } else if (words[1] != "fault") {
            throw UsageError("set knows cable, ac, battery and fault, not \"" + words[1] + "\"");
        } else if (IsLinkFaultKnob(words[2])) {
            ParseLinkFaultKnob(words, {});
        }
    } else if (name == "reset") {
        if (words.size() > 2) Need(words, 2, "reset STATE [warm|cold]");
        if (words.size() == 2 && words[1] != "warm" && words[1] != "cold")
            throw UsageError("reset is warm or cold, not \"" + words[1] + "\"");
    } else if (name == "screenshot") {
        Need(words, 1, "screenshot (the PNG comes back to the client)");
    } else if (name == "dump-flash") {
        CheckFlashRange(words);
    } else if (name == kStatusRequest || name == kFrameRequest) {
        Need(words, 1, name + " (a request of tova-emu view; it takes no words)");
    } else if (name == "power-cut" || name == "info") {
        if (words.size() > 1)
            throw UsageError(name + " takes only the state folder, not \"" + Rest(words, 1) + "\"");
    } else {
        throw UsageError("unknown command \"" + name + "\"");
    }
}

std::string RunAction(Machine& m, const std::vector<std::string>& words, const ActionContext& c) {
    CheckAction(words);
    const std::string& name = words[0];
    if (name == "set") return Set(m, words, c);
    if (name == "reset") return Reset(m, words, c);
    if (name == "screenshot") return Screenshot(m, words);
    if (name == "dump-flash") return DumpFlash(m, words);
    if (name == "info") return Info(m, c);
    if (name == kStatusRequest) return FormatHandheldStatus(ReadHandheldStatus(m, c));
    if (name == kFrameRequest) return EncodeFrame(m.Display().Screen().Pixels());
    // power-cut
    m.PowerCut();
    return c.running ? "power cut: RAM lost; the power comes back and the handheld boots cold\n"
                     : "power cut: the battery-backed RAM is lost; the next power-on is cold\n";
}

}  // namespace tova::emu
