// Where the programs of this build are, and the time scale the end-to-end runs use.
#pragma once

#include <filesystem>
#include <string>

namespace e2e {

// The program folder of this build: TOVA_BIN_DIR when set, else where it was built.
std::filesystem::path BuiltProgramFolder();
std::filesystem::path BuiltProgram(const std::string& fileName);

// The two builds of the handheld modules (HARLIX.DLL, Velkor.exe): the handheld's own (ARM),
// in the program folder, which handhelds run by default; and the host build in its folder
// host/, which a handheld created with --arm-modules off runs under `run --host-modules`.
enum class ModuleCode { kArm, kHost };
std::filesystem::path BuiltModule(ModuleCode code, const std::string& fileName);
// "arm" or "host", for test names.
const char* ModuleCodeName(ModuleCode code);

// Delays shrunk so that a whole update takes seconds. setup gets more room than the
// handheld: it checks the link once, 1000 ms (scaled) after starting it, and a loaded
// machine must still connect within that window.
inline constexpr const char* kHandheldTimeScale = "0.01";
inline constexpr const char* kSetupTimeScale = "0.05";

// A folder of the running test's own, made empty: TMP/tova-e2e-PID/SUITE.NAME/<leaf>.
std::filesystem::path TestFolder(const std::string& leaf);

}  // namespace e2e
