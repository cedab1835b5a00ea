#include "link_fault_knobs.h"

#include <cstdint>

#include "arguments.h"
#include "emulator/object_store.h"

namespace tova::emu {

namespace {

using Words = std::vector<std::string>;

constexpr char kPullCable[] = "pull-cable-after-bytes";
constexpr char kDropLink[] = "drop-link-after-bytes";
constexpr char kDamage[] = "damage-before-export";

uint64_t ByteCount(const std::string& text) {
    return ParseNumberArgument(text, UINT64_MAX, "the byte count");
}

// An export is named by a C symbol: printable ASCII without blanks.
void CheckExportName(const std::string& name) {
    bool ok = !name.empty();
    for (char c : name) ok = ok && c > ' ' && c < 0x7F;
    if (!ok) throw UsageError("the export must be named like IsCheckSumOk, not \"" + name + "\"");
}

std::u16string HandheldPath(const std::string& text) {
    std::u16string path = FromUtf8(text);
    if (!SplitHandheldPath(path))
        throw UsageError("the file must be a handheld path such as \\Temp\\OS.nb0, not \"" + text + "\"");
    return path;
}

}  // namespace

bool IsLinkFaultKnob(const std::string& knob) {
    return knob == kPullCable || knob == kDropLink || knob == kDamage;
}

link::LinkFaults ParseLinkFaultKnob(const Words& w, link::LinkFaults armed) {
    const std::string& knob = w.at(2);
    if (knob == kPullCable) {
        if (w.size() != 4) throw UsageError("usage: set STATE fault pull-cable-after-bytes N");
        armed.pullCableAfterBytes = ByteCount(w[3]);
    } else if (knob == kDropLink) {
        if (w.size() != 4 && w.size() != 5) throw UsageError("usage: set STATE fault drop-link-after-bytes N [MS]");
        armed.dropLinkAfterBytes = ByteCount(w[3]);
        armed.dropLinkMs = w.size() == 5 ? uint32_t(ParseNumberArgument(w[4], UINT32_MAX, "the milliseconds")) : 0;
    } else {
        if (w.size() != 5) throw UsageError("usage: set STATE fault damage-before-export EXPORT PATH");
        CheckExportName(w[3]);
        armed.damageFile = HandheldPath(w[4]);
        armed.damageBeforeExport = w[3];
    }
    return armed;
}

std::string ApplyLinkFaultKnob(link::LinkServer* server, const Words& w) {
    if (server == nullptr) {
        throw UsageError(w.at(2) + " applies to a running handheld: the link it breaks is served only "
                         "by tova-emu run");
    }
    server->SetFaults(ParseLinkFaultKnob(w, server->Faults()));
    return "link fault " + w[2] + " set\n";
}

std::string DescribeLinkFaults(const link::LinkFaults& armed) {
    if (!armed.Armed()) return "link faults:  none\n";
    std::string out;
    if (armed.pullCableAfterBytes != 0) {
        out += "pull cable:   after " + std::to_string(armed.pullCableAfterBytes) +
               " more bytes written through the link\n";
    }
    if (armed.dropLinkAfterBytes != 0) {
        out += "drop link:    after " + std::to_string(armed.dropLinkAfterBytes) +
               " more bytes written through the link, back after " + std::to_string(armed.dropLinkMs) +
               " ms\n";
    }
    if (!armed.damageBeforeExport.empty()) {
        out += "damage:       first byte of " + ToUtf8(armed.damageFile) + " just before " +
               armed.damageBeforeExport + " runs\n";
    }
    return out;
}

}  // namespace tova::emu
