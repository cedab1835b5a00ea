#include "desktop/device/program_folder.h"
#include "platform/system/system_services.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

std::string g_path;
std::vector<size_t> g_capacities;  // every buffer size the lookup offered

// Behaves as the platform's own-path query: copies what fits and reports the count.
size_t RecordingReader(char* buffer, size_t capacity) {
    g_capacities.push_back(capacity);
    size_t n = std::min(g_path.size(), capacity - 1);
    std::memcpy(buffer, g_path.data(), n);
    buffer[n] = '\0';
    return n;
}

class ProgramFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_capacities.clear();
        SetProgramPathReader(RecordingReader);
    }
    void TearDown() override { SetProgramPathReader(nullptr); }
};

std::string PathOfLength(size_t length) {
    std::string folder = "/";
    while (folder.size() + 1 + 5 < length) folder += (folder.size() % 50 == 0) ? '/' : 'd';
    folder += '/';
    return folder + std::string(length - folder.size(), 'x');
}

TEST_F(ProgramFolderTest, LongPathsAreReadAgainWithALargerBuffer) {
    struct Case {
        size_t length;
        std::vector<size_t> capacities;
    };
    const Case cases[] = {
        {1022, {1024}},
        {1023, {1024, 2048}},  // length + 1 reaches the buffer size: may have been cut
        {1024, {1024, 2048}},
        {2046, {1024, 2048}},
        {2047, {1024, 2048, 3072}},
        {5000, {1024, 2048, 3072, 4096, 5120}},
    };
    for (const Case& c : cases) {
        g_capacities.clear();
        g_path = PathOfLength(c.length);
        ASSERT_EQ(g_path.size(), c.length);
        std::string folder;
        ASSERT_TRUE(ProgramFolder(folder)) << c.length;
        EXPECT_EQ(folder, g_path.substr(0, g_path.rfind('/') + 1)) << c.length;
        EXPECT_EQ(g_capacities, c.capacities) << c.length;
    }
}

TEST_F(ProgramFolderTest, FolderKeepsItsSeparator) {
    g_path = "/opt/tova/bin/setup";
    std::string folder;
    ASSERT_TRUE(ProgramFolder(folder));
    EXPECT_EQ(folder, "/opt/tova/bin/");
}

TEST_F(ProgramFolderTest, UnreadablePathFails) {
    g_path = "";
    std::string folder = "unchanged";
    EXPECT_FALSE(ProgramFolder(folder));
    EXPECT_EQ(folder, "unchanged");
}

size_t AlwaysFull(char* buffer, size_t capacity) {
    std::memset(buffer, 'a', capacity - 1);
    buffer[capacity - 1] = '\0';
    return capacity - 1;
}

TEST_F(ProgramFolderTest, ReaderThatNeverFitsEndsInFailure) {
    SetProgramPathReader(AlwaysFull);
    std::string folder;
    EXPECT_FALSE(ProgramFolder(folder));
}

TEST(ProgramFolderReal, IsTheFolderOfThisTestExecutable) {
    std::string folder;
    ASSERT_TRUE(ProgramFolder(folder));
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), tova::sys::PathSeparator());
#ifdef _WIN32
    const char* self = "rom_package_test.exe";
#else
    const char* self = "rom_package_test";
#endif
    EXPECT_TRUE(std::filesystem::is_regular_file(folder + self)) << folder;
}

}  // namespace
