// Where the programs of this build are, and the time scale the end-to-end runs use.
#pragma once

#include <filesystem>
#include <string>

namespace e2e {

// The program folder of this build: TOVA_BIN_DIR when set, else where it was built.
std::filesystem::path BuiltProgramFolder();
std::filesystem::path BuiltProgram(const std::string& fileName);

// Every delay of the handheld and of setup shrunk alike, so a whole update takes seconds.
inline constexpr const char* kTimeScale = "0.01";

// A folder of the running test's own, made empty: TMP/tova-e2e-PID/SUITE.NAME/<leaf>.
std::filesystem::path TestFolder(const std::string& leaf);

}  // namespace e2e
