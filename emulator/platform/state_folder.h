// The files of a handheld's state folder and the machine configuration file in it.
//   machine.conf   versioned key=value text: configuration, fault knobs, boot state
//   flash.img      the flash model's array and lock bits; the model works in it (mapped), so
//                  it holds every write at once
//   registry.txt   the registry, saved when the handheld is switched off
//   store/         the object store
//   link.endpoint  written by `tova-emu run` while it serves the link
//   control.sock   the control channel of a running `tova-emu run`
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "emulator/machine.h"

namespace tova {

namespace state_files {
inline constexpr char kConfig[] = "machine.conf";
inline constexpr char kFlash[] = "flash.img";
inline constexpr char kRegistry[] = "registry.txt";
inline constexpr char kStore[] = "store";
inline constexpr char kLinkEndpoint[] = "link.endpoint";
inline constexpr char kControlSocket[] = "control.sock";
}  // namespace state_files

// What machine.conf holds besides the configuration: whether the battery-backed RAM still
// holds the warm-boot token (false after a power cut or before the first boot), the boot
// count, and the flash fault knobs in force, each as "knob arguments" text.
struct StoredState {
    MachineConfig config;
    bool ramRetained = false;
    uint32_t bootCount = 0;
    std::vector<std::string> flashFaults;
};

void WriteStoredState(const std::filesystem::path& folder, const StoredState& state);
// Throws StateError naming the file and the line for a missing, unknown-version or
// corrupt file, and for values out of range.
StoredState ReadStoredState(const std::filesystem::path& folder);

// Parsers shared with the command line; false for text that is not a valid value.
bool ParseModel(const std::string& text, Model* model);
bool ParseOnOff(const std::string& text, bool* on);
bool ParseBattery(const std::string& text, uint8_t* percent);
bool ParseLanguage(const std::string& text, uint16_t* language);
bool ParseIdentifier(const std::string& text, DeviceIdentifier* id);
bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t* value);
std::string IdentifierHex(const DeviceIdentifier& id);

}  // namespace tova
