// Replacing a state-folder file: the new content whole, or the old file untouched.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "emulator/files/atomic_file.h"

namespace tova::files {
namespace {

namespace fs = std::filesystem;

class AtomicFileTest : public ::testing::Test {
protected:
    AtomicFileTest() {
        folder_ = fs::temp_directory_path() / ("tova_atomic_file_" + std::to_string(::getpid()) + "_" +
                                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    ~AtomicFileTest() override { fs::remove_all(folder_); }

    static std::string Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    fs::path folder_;
};

TEST_F(AtomicFileTest, ReplacesTheContentAndLeavesNoTemporaryFile) {
    const fs::path path = folder_ / "machine.conf";
    ReplaceFile(path, "first version, longer than the second\n");
    ReplaceFile(path, "second\n");
    EXPECT_EQ(Read(path), "second\n");
    EXPECT_FALSE(fs::exists(TemporaryFileFor(path)));
}

TEST_F(AtomicFileTest, PiecesLandAtTheirOffsetsAndTheGapsReadAsZeros) {
    const fs::path path = folder_ / "image";
    const uint8_t head[] = {1, 2, 3};
    const uint8_t tail[] = {9};
    const FilePiece pieces[] = {{0, head}, {10000, tail}};
    ReplaceFile(path, pieces, 20000);
    std::string bytes = Read(path);
    ASSERT_EQ(bytes.size(), 20000u);
    EXPECT_EQ(bytes.substr(0, 3), std::string("\1\2\3"));
    EXPECT_EQ(bytes[10000], '\x09');
    EXPECT_EQ(bytes.substr(3, 9997), std::string(9997, '\0'));
    EXPECT_EQ(bytes.substr(10001), std::string(9999, '\0'));
}

// A replacement that cannot go through names the file and leaves the old one as it was.
struct FailureCase {
    const char* name;
    const char* file;     // below the test's folder
    void (*prepare)(const fs::path& path);
    const char* reason;
};

class FailedReplacement : public AtomicFileTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailedReplacement, IsAClearErrorAndKeepsTheOldFile) {
    const fs::path path = folder_ / GetParam().file;
    GetParam().prepare(path);
    const bool hadOld = fs::is_regular_file(path);
    try {
        ReplaceFile(path, "new\n");
        FAIL() << "the replacement went through";
    } catch (const FileError& e) {
        EXPECT_NE(std::string(e.what()).find(GetParam().reason), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find(path.filename().string()), std::string::npos) << e.what();
    }
    if (hadOld) {
        EXPECT_EQ(Read(path), "old\n");
    }
    EXPECT_FALSE(fs::is_regular_file(TemporaryFileFor(path)));
}

INSTANTIATE_TEST_SUITE_P(
    Causes, FailedReplacement,
    ::testing::Values(
        FailureCase{"missing_folder", "gone/machine.conf", [](const fs::path&) {}, "cannot create"},
        FailureCase{"temporary_name_taken_by_a_folder", "machine.conf",
                    [](const fs::path& path) {
                        std::ofstream(path) << "old\n";
                        fs::create_directory(TemporaryFileFor(path));
                    },
                    "cannot create"},
        FailureCase{"target_is_a_folder", "machine.conf",
                    [](const fs::path& path) { fs::create_directories(path / "inside"); }, "cannot replace"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tova::files
