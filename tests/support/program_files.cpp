#include "program_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

namespace e2e {

std::filesystem::path BuiltProgramFolder() {
    const char* fromEnvironment = std::getenv("TOVA_BIN_DIR");
    if (fromEnvironment && *fromEnvironment) return fromEnvironment;
    return TOVA_BUILT_BIN_DIR;
}

std::filesystem::path BuiltProgram(const std::string& fileName) { return BuiltProgramFolder() / fileName; }

std::filesystem::path BuiltModule(ModuleCode code, const std::string& fileName) {
    return code == ModuleCode::kArm ? BuiltProgram(fileName) : BuiltProgramFolder() / "host" / fileName;
}

const char* ModuleCodeName(ModuleCode code) { return code == ModuleCode::kArm ? "arm" : "host"; }

std::filesystem::path TestFolder(const std::string& leaf) {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = test ? std::string(test->test_suite_name()) + "." + test->name() : "shared";
    for (char& c : name) {
        if (c == '/') c = '_';
    }
    auto folder = std::filesystem::temp_directory_path() / ("tova-e2e-" + std::to_string(::getpid())) /
                  name / leaf;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

}  // namespace e2e
