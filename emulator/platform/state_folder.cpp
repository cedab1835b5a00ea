#include "state_folder.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "text_escape.h"
#include "emulator/files/atomic_file.h"
#include "emulator/object_store.h"

namespace tova {

namespace {

constexpr char kConfigMagic[] = "tova-emu-state 1";

std::string OnOff(bool on) { return on ? "on" : "off"; }

std::string UndeletableText(const RegistryValueRef& v) {
    return EscapeName(v.key) + "|" + EscapeName(v.name);
}

bool ParseUndeletable(const std::string& text, RegistryValueRef* v) {
    size_t bar = text.find('|');
    if (bar == std::string::npos) return false;
    auto key = UnescapeName(text.substr(0, bar));
    auto name = UnescapeName(text.substr(bar + 1));
    if (!key || !name || key->empty()) return false;
    *v = {*key, *name};
    return true;
}

}  // namespace

bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t* value) {
    if (text.empty() || text.size() > 20) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    errno = 0;
    unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (errno != 0 || v > max) return false;
    *value = v;
    return true;
}

bool ParseModel(const std::string& text, Model* model) {
    if (text == "advanced") *model = Model::kAdvanced;
    else if (text == "basic") *model = Model::kBasic;
    else return false;
    return true;
}

bool ParseOnOff(const std::string& text, bool* on) {
    if (text == "on") *on = true;
    else if (text == "off") *on = false;
    else return false;
    return true;
}

bool ParseBattery(const std::string& text, uint8_t* percent) {
    uint64_t v = 0;
    if (!ParseUnsigned(text, 255, &v) || (v > 100 && v != 255)) return false;
    *percent = static_cast<uint8_t>(v);
    return true;
}

bool ParseLanguage(const std::string& text, uint16_t* language) {
    uint64_t v = 0;
    if (!ParseUnsigned(text, 0xFFFF, &v) || v == 0) return false;
    *language = static_cast<uint16_t>(v);
    return true;
}

bool ParseIdentifier(const std::string& text, DeviceIdentifier* id) {
    if (text.size() != 32) return false;
    auto bytes = UnhexBytes(text);
    if (!bytes) return false;
    for (size_t i = 0; i < 16; ++i) (*id)[i] = static_cast<uint8_t>((*bytes)[i]);
    return true;
}

std::string IdentifierHex(const DeviceIdentifier& id) { return HexBytes(id.data(), id.size()); }

void WriteStoredState(const std::filesystem::path& folder, const StoredState& state) {
    const MachineConfig& c = state.config;
    std::ostringstream out;
    out << kConfigMagic << "\n"
        << "model=" << (c.model == Model::kAdvanced ? "advanced" : "basic") << "\n"
        << "ac=" << OnOff(c.acOnline) << "\n"
        << "battery=" << unsigned(c.batteryPercent) << "\n"
        << "language=" << c.defaultLanguageId << "\n"
        << "identifier=" << IdentifierHex(c.identifier) << "\n"
        << "cable=" << OnOff(c.cableAttached) << "\n"
        << "boot-delay-ms=" << c.bootDelayMs << "\n"
        << "arm-modules=" << OnOff(c.armModules) << "\n"
        << "fault.model-query-garbage=" << c.faults.modelQueryGarbageCount << "\n"
        << "fault.ram-fragmentation=" << OnOff(c.faults.ramFragmentation) << "\n"
        << "fault.reboot-ignored=" << OnOff(c.faults.rebootIgnored) << "\n";
    for (const auto& v : c.faults.undeletableRegistryValues)
        out << "fault.undeletable-value=" << UndeletableText(v) << "\n";
    for (const auto& knob : state.flashFaults) out << "flash-fault=" << knob << "\n";
    out << "ram-retained=" << OnOff(state.ramRetained) << "\n"
        << "boot-count=" << state.bootCount << "\n";
    try {
        files::ReplaceFile(folder / state_files::kConfig, out.str());
    } catch (const files::FileError& e) {
        throw StateError(e.what());
    }
}

StoredState ReadStoredState(const std::filesystem::path& folder) {
    auto file = folder / state_files::kConfig;
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw StateError(file.string() + " is missing: " + folder.string() +
                         " is not a handheld state folder");
    auto fail = [&](size_t line, const std::string& what) -> StateError {
        return StateError(file.string() + " line " + std::to_string(line) + ": " + what);
    };
    std::string line;
    if (!std::getline(in, line) || line != kConfigMagic)
        throw fail(1, "not a handheld configuration of this version");
    StoredState s;
    s.config.faults = {};
    // Settings that must appear exactly once; the fault lists may repeat or be absent.
    const char* const required[] = {"model",      "ac",    "battery",      "language",
                                    "identifier", "cable", "boot-delay-ms"};
    std::map<std::string, size_t> seenAt;
    size_t number = 1;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty()) continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos) throw fail(number, "expected key=value");
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        bool listed = key == "flash-fault" || key == "fault.undeletable-value";
        if (!listed && seenAt.count(key))
            throw fail(number, "setting \"" + key + "\" given again (first on line " +
                                   std::to_string(seenAt[key]) + ")");
        seenAt.emplace(key, number);
        MachineConfig& c = s.config;
        bool ok = true;
        uint64_t n = 0;
        if (key == "model") ok = ParseModel(value, &c.model);
        else if (key == "ac") ok = ParseOnOff(value, &c.acOnline);
        else if (key == "battery") ok = ParseBattery(value, &c.batteryPercent);
        else if (key == "language") ok = ParseLanguage(value, &c.defaultLanguageId);
        else if (key == "identifier") ok = ParseIdentifier(value, &c.identifier);
        else if (key == "cable") ok = ParseOnOff(value, &c.cableAttached);
        else if (key == "arm-modules") ok = ParseOnOff(value, &c.armModules);
        else if (key == "boot-delay-ms") {
            ok = ParseUnsigned(value, 3600000, &n);
            c.bootDelayMs = static_cast<uint32_t>(n);
        } else if (key == "fault.model-query-garbage") {
            ok = ParseUnsigned(value, 0xFFFFFFFF, &n);
            c.faults.modelQueryGarbageCount = static_cast<uint32_t>(n);
        } else if (key == "fault.ram-fragmentation") {
            ok = ParseOnOff(value, &c.faults.ramFragmentation);
        } else if (key == "fault.reboot-ignored") {
            ok = ParseOnOff(value, &c.faults.rebootIgnored);
        } else if (key == "fault.undeletable-value") {
            RegistryValueRef v;
            ok = ParseUndeletable(value, &v);
            if (ok) c.faults.undeletableRegistryValues.push_back(v);
        } else if (key == "flash-fault") {
            ok = !value.empty();
            s.flashFaults.push_back(value);
        } else if (key == "ram-retained") {
            ok = ParseOnOff(value, &s.ramRetained);
        } else if (key == "boot-count") {
            ok = ParseUnsigned(value, 0xFFFFFFFF, &n);
            s.bootCount = static_cast<uint32_t>(n);
        } else {
            throw fail(number, "unknown setting \"" + key + "\"");
        }
        if (!ok) throw fail(number, "bad value \"" + value + "\" for " + key);
    }
    std::string missing;
    for (const char* key : required)
        if (!seenAt.count(key)) missing += (missing.empty() ? "" : ", ") + std::string(key);
    if (!missing.empty())
        throw StateError(file.string() + ": required setting" +
                         (missing.find(',') == std::string::npos ? " " : "s ") + missing +
                         " missing");
    return s;
}

}  // namespace tova
