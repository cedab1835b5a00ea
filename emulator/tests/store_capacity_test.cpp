// The object store lives in the handheld's RAM: its files together never hold more than the
// RAM its system leaves. A write past that fails with ERROR_DISK_FULL and writes nothing;
// writes that do not grow a file, and room freed by a deletion, go on working.
#include <filesystem>
#include <fstream>

#include "handheld_fixture.h"
#include "platform/wince/api.h"
#include "shared/configuration.h"

namespace tova::testing {
namespace {

namespace fs = std::filesystem;

class StoreCapacityTest : public HandheldTest {
protected:
    void SetUp() override {
        HandheldTest::SetUp();
        MachineConfig config;
        config.model = Model::kBasic;
        MakeBooted(config);
    }

    // Leaves `room` bytes free in the store with a file that takes the rest (sparse on the
    // host: it costs no disk).
    void LeaveRoom(uint64_t room) {
        fs::path filler = M().Store().Root() / "Temp" / "filler.bin";
        std::ofstream(filler).flush();
        uint64_t used = M().Store().UsedBytes();
        ASSERT_GE(M().Store().Capacity(), used + room);
        fs::resize_file(filler, M().Store().Capacity() - used - room);
        ASSERT_EQ(M().Store().UsedBytes() + room, M().Store().Capacity());
    }

    HANDLE Open(const char16_t* path, DWORD disposition = CREATE_ALWAYS) {
        return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition, 0, nullptr);
    }
};

TEST_F(StoreCapacityTest, TheStoreHoldsTheRamTheSystemLeaves) {
    EXPECT_EQ(M().Store().Capacity(), (32u << 20) - kSystemRamBytes);
    EXPECT_GE(M().Store().Capacity(), uint64_t(0x19C0000) + (1u << 20))
        << "every segment file of a package, the flasher and the service library fit";
}

TEST_F(StoreCapacityTest, AWritePastTheCapacityFailsAndWritesNothing) {
    LeaveRoom(100);
    HANDLE file = Open(u"\\Temp\\data.bin");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    std::vector<uint8_t> bytes(101, 0x5A);
    DWORD done = 7;
    EXPECT_FALSE(WriteFile(file, bytes.data(), 101, &done, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DISK_FULL));
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(GetFileSize(file, nullptr), 0u);

    // Exactly the room left fits; then not one byte more.
    ASSERT_TRUE(WriteFile(file, bytes.data(), 100, &done, nullptr));
    EXPECT_EQ(done, 100u);
    EXPECT_EQ(M().Store().UsedBytes(), M().Store().Capacity());
    EXPECT_FALSE(WriteFile(file, bytes.data(), 1, &done, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DISK_FULL));
    EXPECT_EQ(GetFileSize(file, nullptr), 100u);
    ASSERT_TRUE(CloseHandle(file));

    // A full store still takes writes that grow nothing.
    file = Open(u"\\Temp\\data.bin", OPEN_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(WriteFile(file, "rewritten", 9, &done, nullptr));
    ASSERT_TRUE(CloseHandle(file));
    auto content = M().Store().ReadFile(u"\\Temp\\data.bin");
    ASSERT_TRUE(content);
    EXPECT_EQ(content->size(), 100u);
    EXPECT_EQ(std::string(content->begin(), content->begin() + 9), "rewritten");

    // Deleting a file gives its room back.
    ASSERT_TRUE(DeleteFileW(u"\\Temp\\data.bin"));
    file = Open(u"\\Temp\\other.bin");
    ASSERT_TRUE(WriteFile(file, bytes.data(), 100, &done, nullptr));
    ASSERT_TRUE(CloseHandle(file));
}

// The store counts its folder once and then advances the count by each growth: writes in
// small pieces, through two files at once, still stop exactly at the capacity, and a file
// deleted gives its room back to a file still open.
TEST_F(StoreCapacityTest, ManySmallGrowthsStopExactlyAtTheCapacity) {
    LeaveRoom(100);
    HANDLE first = Open(u"\\Temp\\first.bin");
    HANDLE second = Open(u"\\Temp\\second.bin");
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    const char piece[10] = {};
    DWORD done = 0;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(WriteFile(first, piece, 10, &done, nullptr)) << "piece " << i;
        ASSERT_TRUE(WriteFile(second, piece, 10, &done, nullptr)) << "piece " << i;
    }
    EXPECT_FALSE(WriteFile(first, piece, 1, &done, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DISK_FULL));
    EXPECT_FALSE(WriteFile(second, piece, 1, &done, nullptr));

    ASSERT_TRUE(CloseHandle(first));
    ASSERT_TRUE(DeleteFileW(u"\\Temp\\first.bin"));
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(WriteFile(second, piece, 10, &done, nullptr)) << "piece " << i;
    EXPECT_FALSE(WriteFile(second, piece, 1, &done, nullptr));
    ASSERT_TRUE(CloseHandle(second));
    EXPECT_EQ(M().Store().UsedBytes(), M().Store().Capacity());
}

TEST_F(StoreCapacityTest, SetEndOfFileGrowingPastTheCapacityFails) {
    HANDLE file = Open(u"\\Temp\\grow.bin");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(file, "0123456789", 10, &done, nullptr));
    // The file is cut behind the handle's back: ending it at the handle's position would
    // grow it by 10 bytes, where the store has 5.
    fs::resize_file(*M().Store().Find(u"\\Temp\\grow.bin"), 0);
    LeaveRoom(5);
    EXPECT_FALSE(SetEndOfFile(file));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DISK_FULL));
    EXPECT_EQ(GetFileSize(file, nullptr), 0u);
    ASSERT_TRUE(CloseHandle(file));
}

TEST_F(StoreCapacityTest, TheStoresOwnWritesKeepToTheCapacity) {
    LeaveRoom(10);
    EXPECT_FALSE(M().Store().WriteFile(u"\\Temp\\big.bin", std::vector<uint8_t>(11, 1)));
    EXPECT_FALSE(M().Store().Exists(u"\\Temp\\big.bin"));
    EXPECT_TRUE(M().Store().WriteFile(u"\\Temp\\big.bin", std::vector<uint8_t>(10, 1)));
    // Replacing a file needs room only for what it grows by.
    EXPECT_TRUE(M().Store().WriteFile(u"\\Temp\\big.bin", std::vector<uint8_t>(10, 2)));
}

}  // namespace
}  // namespace tova::testing
