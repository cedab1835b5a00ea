// The flash model's file in the state folder: what is saved comes back, and a bad file is
// refused with a clear error and changes nothing.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include <sys/stat.h>
#include <unistd.h>

#include "flash_fixture.h"

namespace tova::hw::test {
namespace {

namespace fs = std::filesystem;

class FlashFileTest : public FlashTest {
protected:
    FlashFileTest() {
        folder_ = fs::temp_directory_path() /
                  ("tova_hw_flash_" + std::to_string(::getpid()) + "_" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    ~FlashFileTest() override { fs::remove_all(folder_); }

    fs::path folder_;
};

std::vector<char> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const std::vector<char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

TEST_F(FlashFileTest, ArrayLocksAndProtectionRegistersSurviveARoundTrip) {
    const std::vector<uint8_t> image = Pattern(0x80000, 11);
    flash.LoadImage(0x40000, image);
    ASSERT_EQ(SetBlockLock(bus, kFlashBase + 9 * kFlashBusBlockBytes), kBothReady);
    flash.SetBlockLocked(1, 100, true);
    std::array<uint16_t, kFlashProtectionWords> id{0xFFFE, 0xAAAA, 0xBBBB, 0xCCCC, 0xDDDD, 1, 2, 3, 4};
    flash.SetProtectionRegister(1, id);
    flash.Save(folder_ / "flash.bin");

    FlashModel restored;
    restored.Load(folder_ / "flash.bin");
    EXPECT_EQ(restored.ReadArray(0x40000, uint32_t(image.size())), image);
    EXPECT_EQ(restored.ReadArray(0, 0x40000), std::vector<uint8_t>(0x40000, 0xFF));
    for (unsigned chip = 0; chip < 2; ++chip) {
        for (uint32_t block = 0; block < kFlashBlockCount; ++block)
            EXPECT_EQ(restored.BlockLocked(chip, block), block == 9 || (chip == 1 && block == 100))
                << chip << " " << block;
    }
    Bus other;
    other.Map(kFlashBase, kFlashArrayBytes, restored, "flash");
    EXPECT_EQ(ReadIdentifier(other, kFlashBase, 0x81) >> 16, 0xAAAAu);
    EXPECT_FALSE(fs::exists(folder_ / "flash.bin.tmp"));
    // Blocks that were never written stay out of the file.
    EXPECT_LT(fs::file_size(folder_ / "flash.bin"), 3u * kFlashBusBlockBytes);
}

// Nothing but the fixed part: the checksum still covers it, so the file loads again.
TEST_F(FlashFileTest, APartWithNoBlockWrittenSurvivesARoundTrip) {
    flash.SetBlockLocked(0, 3, true);
    flash.Save(folder_ / "flash.bin");
    ASSERT_EQ(fs::file_size(folder_ / "flash.bin"), 452u);

    FlashModel restored;
    ASSERT_NO_THROW(restored.Load(folder_ / "flash.bin"));
    EXPECT_TRUE(restored.BlockLocked(0, 3));
    EXPECT_FALSE(restored.BlockLocked(0, 4));
    EXPECT_EQ(restored.ReadArray(0, 0x40000), std::vector<uint8_t>(0x40000, 0xFF));
}

TEST_F(FlashFileTest, SavingAgainReplacesTheFile) {
    flash.Save(folder_ / "flash.bin");
    ASSERT_EQ(WordProgram(bus, kFlashBase + 0x100, 0x01020304), kBothReady);
    flash.Save(folder_ / "flash.bin");
    FlashModel restored;
    restored.Load(folder_ / "flash.bin");
    EXPECT_EQ(restored.ReadArray(0x100, 4), (std::vector<uint8_t>{4, 3, 2, 1}));
}

// A save writes a new file and renames it over the old one, so a rewrite shows as a new
// inode; a save that finds nothing changed leaves the file alone.
ino_t InodeOf(const fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

struct ResaveCase {
    const char* name;
    std::function<void(Bus&, FlashModel&, const fs::path& path)> change;  // null: nothing changes
    bool rewritten;
};

class ResaveTest : public FlashFileTest, public ::testing::WithParamInterface<ResaveCase> {};

TEST_P(ResaveTest, RewritesTheFileExactlyWhenSomethingChanged) {
    const fs::path path = folder_ / "flash.bin";
    flash.LoadImage(0x40000, Pattern(0x1000, 5));
    flash.Save(path);
    const ino_t before = InodeOf(path);
    ASSERT_NE(before, 0u);
    if (GetParam().change) GetParam().change(bus, flash, path);
    const bool wasThere = fs::exists(path);  // a removed file's inode may come back
    flash.Save(path);
    EXPECT_EQ(!wasThere || InodeOf(path) != before, GetParam().rewritten);

    // Whatever the save did, the file holds the model as it is now.
    FlashModel restored;
    restored.Load(path);
    EXPECT_EQ(restored.ReadArray(0, 0x80000), flash.ReadArray(0, 0x80000));
    EXPECT_EQ(restored.BlockLocked(0, 7), flash.BlockLocked(0, 7));
    EXPECT_FALSE(fs::exists(folder_ / "flash.bin.tmp"));
}

INSTANTIATE_TEST_SUITE_P(
    Changes, ResaveTest,
    ::testing::Values(
        ResaveCase{"nothing", nullptr, false},
        ResaveCase{"read_through_the_bus",
                   [](Bus& bus, FlashModel&, const fs::path&) { (void)bus.Read32(kFlashBase + 0x40000); }, false},
        ResaveCase{"word_programmed",
                   [](Bus& bus, FlashModel&, const fs::path&) {
                       ASSERT_EQ(WordProgram(bus, kFlashBase + 0x100, 0x01020304), kBothReady);
                   },
                   true},
        ResaveCase{"block_erased",
                   [](Bus& bus, FlashModel&, const fs::path&) {
                       ASSERT_EQ(BlockErase(bus, kFlashBase + 0x40000), kBothReady);
                   },
                   true},
        ResaveCase{"lock_bit_set",
                   [](Bus& bus, FlashModel&, const fs::path&) {
                       ASSERT_EQ(SetBlockLock(bus, kFlashBase + 7 * kFlashBusBlockBytes), kBothReady);
                   },
                   true},
        ResaveCase{"protection_register_set",
                   [](Bus&, FlashModel& flash, const fs::path&) {
                       flash.SetProtectionRegister(0, {0xFFFE, 1, 2, 3, 4, 5, 6, 7, 8});
                   },
                   true},
        ResaveCase{"image_loaded", [](Bus&, FlashModel& flash, const fs::path&) { flash.LoadImage(0, std::vector<uint8_t>(64, 0x5A)); },
                   true},
        ResaveCase{"file_removed", [](Bus&, FlashModel&, const fs::path& path) { fs::remove(path); }, true},
        ResaveCase{"file_replaced_by_someone_else",
                   [](Bus&, FlashModel&, const fs::path& path) {
                       std::vector<char> bytes = ReadFile(path);
                       fs::remove(path);
                       WriteFile(path, std::vector<char>(bytes.begin(), bytes.end() - 4096));
                   },
                   true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlashFileTest, AFileJustLoadedIsNotWrittenAgainUnchanged) {
    const fs::path path = folder_ / "flash.bin";
    FlashModel source;
    source.LoadImage(0, Pattern(4096, 1));
    source.Save(path);
    flash.Load(path);
    const ino_t before = InodeOf(path);
    flash.Save(path);
    EXPECT_EQ(InodeOf(path), before);
    // A different file is always written.
    flash.Save(folder_ / "other.bin");
    FlashModel restored;
    restored.Load(folder_ / "other.bin");
    EXPECT_EQ(restored.ReadArray(0, 4096), Pattern(4096, 1));
}

struct CorruptCase {
    const char* name;
    std::function<void(std::vector<char>&)> damage;  // null: no file at all
    const char* reason;
};

class CorruptFlashFileTest : public FlashFileTest, public ::testing::WithParamInterface<CorruptCase> {};

TEST_P(CorruptFlashFileTest, IsRefusedWithAClearErrorAndLeavesTheModelAlone) {
    const fs::path path = folder_ / "flash.bin";
    FlashModel source;
    source.LoadImage(0, Pattern(4096, 1));
    source.Save(path);
    if (GetParam().damage) {
        std::vector<char> bytes = ReadFile(path);
        GetParam().damage(bytes);
        WriteFile(path, bytes);
    } else {
        fs::remove(path);
    }

    const std::vector<uint8_t> mine = Pattern(4096, 2);
    flash.LoadImage(0, mine);
    flash.SetBlockLocked(0, 3, true);
    try {
        flash.Load(path);
        FAIL() << "loaded a bad file";
    } catch (const FlashFileError& e) {
        std::string message = e.what();
        EXPECT_NE(message.find(path.string()), std::string::npos) << message;
        EXPECT_NE(message.find(GetParam().reason), std::string::npos) << message;
    }
    EXPECT_EQ(flash.ReadArray(0, 4096), mine);
    EXPECT_TRUE(flash.BlockLocked(0, 3));
}

INSTANTIATE_TEST_SUITE_P(
    Damage, CorruptFlashFileTest,
    ::testing::Values(
        CorruptCase{"missing", nullptr, "cannot read"},
        CorruptCase{"empty", [](std::vector<char>& b) { b.clear(); }, "too short"},
        CorruptCase{"header_cut", [](std::vector<char>& b) { b.resize(20); }, "too short"},
        CorruptCase{"foreign", [](std::vector<char>& b) { b[0] = 'X'; }, "bad magic"},
        CorruptCase{"newer_version", [](std::vector<char>& b) { b[8] = 2; }, "version"},
        CorruptCase{"other_geometry", [](std::vector<char>& b) { b[20] = 64; }, "geometry"},
        CorruptCase{"truncated", [](std::vector<char>& b) { b.resize(b.size() - 1000); }, "wrong size"},
        CorruptCase{"extended", [](std::vector<char>& b) { b.push_back(0); }, "wrong size"},
        CorruptCase{"array_byte_flipped", [](std::vector<char>& b) { b[b.size() - 7] ^= 0x10; }, "corrupt"},
        CorruptCase{"lock_byte_changed", [](std::vector<char>& b) { b[32 + 5] = 1; }, "corrupt"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlashFileTest, SaveIntoAMissingFolderFailsClearly) {
    const fs::path path = folder_ / "no" / "such" / "flash.bin";
    try {
        flash.Save(path);
        FAIL() << "saved into a missing folder";
    } catch (const FlashFileError& e) {
        EXPECT_NE(std::string(e.what()).find("cannot create"), std::string::npos) << e.what();
    }
}

TEST_F(FlashFileTest, AFailedSaveKeepsThePreviousFile) {
    const fs::path path = folder_ / "flash.bin";
    flash.LoadImage(0, Pattern(64, 3));
    flash.Save(path);
    // A folder where the temporary file would go makes the next save fail part-way.
    fs::create_directory(folder_ / "flash.bin.tmp");
    flash.LoadImage(0, Pattern(64, 4));
    EXPECT_THROW(flash.Save(path), FlashFileError);

    FlashModel restored;
    restored.Load(path);
    EXPECT_EQ(restored.ReadArray(0, 64), Pattern(64, 3));
}

}  // namespace
}  // namespace tova::hw::test
