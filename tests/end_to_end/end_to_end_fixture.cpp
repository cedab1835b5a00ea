#include "end_to_end_fixture.h"

#include <algorithm>
#include <cstdio>

namespace e2e {

::testing::AssertionResult Says(const child::Outcome& run, const std::string& line) {
    if (run.out.find(line) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "setup never said\n  " << line << "\ntranscript:\n"
                                         << run.out << "\nstandard error:\n" << run.err;
}

::testing::AssertionResult NeverSays(const child::Outcome& run, const std::string& line) {
    if (run.out.find(line) == std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "setup said\n  " << line << "\ntranscript:\n" << run.out;
}

std::string ErasesOfOneCleanImage() {
    std::string blocks = std::to_string(kPackageSegmentsBytes / kFlashBlockBytes);
    return blocks + " low chip, " + blocks + " high chip (since switched on)";
}

std::vector<std::string> WithServiceLibrary(std::vector<std::string> store) {
    store.push_back("\\Windows\\HARLIX.DLL");
    std::sort(store.begin(), store.end());
    store.erase(std::unique(store.begin(), store.end()), store.end());
    return store;
}

std::string HexWord(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

}  // namespace e2e
