// The flash model's file in the state folder: what is saved comes back, a model lives in its
// file so that every change is there without a save, a file of the first format still loads,
// and a bad file is refused with a clear error and changes nothing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "flash_fixture.h"

namespace tova::hw::test {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kFileBytes = 4096 + uint64_t(kFlashArrayBytes);  // header page, then the array
constexpr size_t kLocksAt = 32;

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

ino_t InodeOf(const fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

uint64_t BytesOnStorage(const fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? uint64_t(st.st_blocks) * 512 : 0;
}

// Changes bytes of a file in place.
void Poke(const fs::path& path, uint64_t offset, std::vector<uint8_t> bytes) {
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(std::streamoff(offset));
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void ExpectSamePart(FlashModel& a, FlashModel& b) {
    EXPECT_TRUE(a.Array() == b.Array()) << "the arrays differ";
    for (unsigned chip = 0; chip < kFlashChipCount; ++chip)
        for (uint32_t block = 0; block < kFlashBlockCount; ++block)
            ASSERT_EQ(a.BlockLocked(chip, block), b.BlockLocked(chip, block)) << chip << " " << block;
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
    // Blocks that were never written take no space.
    EXPECT_EQ(fs::file_size(folder_ / "flash.bin"), kFileBytes);
    EXPECT_LT(BytesOnStorage(folder_ / "flash.bin"), 3u * kFlashBusBlockBytes);
}

TEST_F(FlashFileTest, APartWithNoBlockWrittenSurvivesARoundTrip) {
    flash.SetBlockLocked(0, 3, true);
    flash.Save(folder_ / "flash.bin");
    EXPECT_LT(BytesOnStorage(folder_ / "flash.bin"), 64u * 1024);

    FlashModel restored;
    ASSERT_NO_THROW(restored.Load(folder_ / "flash.bin"));
    EXPECT_TRUE(restored.BlockLocked(0, 3));
    EXPECT_FALSE(restored.BlockLocked(0, 4));
    EXPECT_EQ(restored.ReadArray(0, 0x40000), std::vector<uint8_t>(0x40000, 0xFF));
}

// Once a model has its file, what the handheld writes is in the file at once: a model that
// is thrown away without a save (as a killed process's is) loses nothing.
struct ChangeCase {
    const char* name;
    std::function<void(Bus&, FlashModel&)> change;
};

class ChangeReachesTheFile : public FlashFileTest, public ::testing::WithParamInterface<ChangeCase> {};

TEST_P(ChangeReachesTheFile, WithoutASaveAndWithoutRewritingIt) {
    const fs::path path = folder_ / "flash.bin";
    auto model = std::make_unique<FlashModel>();
    Bus own;
    own.Map(kFlashBase, kFlashArrayBytes, *model, "flash");
    model->LoadImage(0x40000, Pattern(0x1000, 5));
    model->SetBlockLocked(0, 20, true);
    model->Save(path);
    EXPECT_EQ(model->OwnFile(), path);
    const ino_t before = InodeOf(path);

    GetParam().change(own, *model);
    FlashModel restored;
    restored.Load(path);
    ExpectSamePart(restored, *model);
    EXPECT_EQ(InodeOf(path), before);

    // A save of the model's own file puts it on the storage and leaves it where it is.
    model->Save(path);
    EXPECT_EQ(InodeOf(path), before);
    FlashModel again;
    again.Load(path);
    ExpectSamePart(again, *model);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, ChangeReachesTheFile,
    ::testing::Values(
        ChangeCase{"word_programmed",
                   [](Bus& bus, FlashModel&) { ASSERT_EQ(WordProgram(bus, kFlashBase + 0x100, 0x01020304), kBothReady); }},
        ChangeCase{"block_erased", [](Bus& bus, FlashModel&) { ASSERT_EQ(BlockErase(bus, kFlashBase + 0x40000), kBothReady); }},
        ChangeCase{"buffer_programmed",
                   [](Bus& bus, FlashModel&) {
                       ASSERT_EQ(BlockErase(bus, kFlashBase + 0x40000), kBothReady);
                       ASSERT_EQ(WriteToBuffer(bus, kFlashBase + 0x40040, {1, 2, 3, 4, 5, 6, 7, 8}), kBothReady);
                   }},
        ChangeCase{"lock_bit_set",
                   [](Bus& bus, FlashModel&) { ASSERT_EQ(SetBlockLock(bus, kFlashBase + 7 * kFlashBusBlockBytes), kBothReady); }},
        ChangeCase{"lock_bits_cleared",
                   [](Bus& bus, FlashModel&) { ASSERT_EQ(ClearBlockLocks(bus, kFlashBase), kBothReady); }},
        ChangeCase{"image_loaded",
                   [](Bus&, FlashModel& flash) { flash.LoadImage(0x100000, std::vector<uint8_t>(64, 0x5A)); }},
        ChangeCase{"erased_whole", [](Bus&, FlashModel& flash) { flash.EraseAll(); }},
        ChangeCase{"power_cut_halfway_through_an_erase",
                   [](Bus& bus, FlashModel& flash) {
                       flash.CutPowerAfter(0);
                       bus.Write32(kFlashBase + 0x40000, kBlockErase);
                       bus.Write32(kFlashBase + 0x40000, kConfirm);
                       ASSERT_TRUE(flash.PowerCut());
                       flash.Reset();
                   }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlashFileTest, TheProtectionRegistersReachTheFileToo) {
    const fs::path path = folder_ / "flash.bin";
    flash.Save(path);
    flash.SetProtectionRegister(0, {0xFFFE, 1, 2, 3, 4, 5, 6, 7, 8});
    FlashModel restored;
    restored.Load(path);
    Bus other;
    other.Map(kFlashBase, kFlashArrayBytes, restored, "flash");
    EXPECT_EQ(ReadIdentifier(other, kFlashBase, 0x83) & 0xFFFF, 3u);
}

// Someone removed or replaced the model's file: the next save writes it whole again, and the
// model lives in the new file from then on.
struct LostFileCase {
    const char* name;
    std::function<void(const fs::path&)> lose;
};

class LostFile : public FlashFileTest, public ::testing::WithParamInterface<LostFileCase> {};

TEST_P(LostFile, IsWrittenAgainByTheNextSave) {
    const fs::path path = folder_ / "flash.bin";
    flash.LoadImage(0x40000, Pattern(0x1000, 5));
    flash.Save(path);
    GetParam().lose(path);
    flash.Save(path);
    FlashModel restored;
    restored.Load(path);
    ExpectSamePart(restored, flash);

    ASSERT_EQ(WordProgram(bus, kFlashBase + 0x100, 0x01020304), kBothReady);
    FlashModel later;
    later.Load(path);
    EXPECT_EQ(later.ReadArray(0x100, 4), (std::vector<uint8_t>{4, 3, 2, 1}));
}

INSTANTIATE_TEST_SUITE_P(
    Ways, LostFile,
    ::testing::Values(LostFileCase{"removed", [](const fs::path& path) { fs::remove(path); }},
                      LostFileCase{"replaced_by_someone_else",
                                   [](const fs::path& path) {
                                       fs::remove(path);
                                       std::ofstream(path) << "not a flash image";
                                   }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlashFileTest, ALoadedFileBecomesTheModelsOwnAndOtherFilesAreCopies) {
    const fs::path path = folder_ / "flash.bin";
    {
        FlashModel source;
        source.LoadImage(0, Pattern(4096, 1));
        source.Save(path);
    }
    flash.Load(path);
    EXPECT_EQ(flash.OwnFile(), path);
    const ino_t before = InodeOf(path);
    flash.Save(path);
    EXPECT_EQ(InodeOf(path), before);
    // A different file is a copy: written whole, and the model stays in its own.
    flash.Save(folder_ / "other.bin");
    EXPECT_EQ(flash.OwnFile(), path);
    ASSERT_EQ(WordProgram(bus, kFlashBase + 0x2000, 0x01020304), kBothReady);
    FlashModel copy;
    copy.Load(folder_ / "other.bin");
    EXPECT_EQ(copy.ReadArray(0, 4096), Pattern(4096, 1));
    EXPECT_EQ(copy.ReadArray(0x2000, 4), std::vector<uint8_t>(4, 0xFF));
}

// A file the process may not write is read into memory: the model works, and a save says
// it cannot write instead of pretending. Root may write any file a mode forbids, so for
// root the file and its folder are made immutable instead.
bool MayWrite(const fs::path& path, bool may) {
    if (::geteuid() == 0)
        return std::system(("chattr " + std::string(may ? "-i " : "+i ") + path.string() + " 2>/dev/null").c_str()) == 0;
    fs::permissions(path, may ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_exec);
    return true;
}

TEST_F(FlashFileTest, AFileThatMayNotBeWrittenIsWorkedOnInMemory) {
    const fs::path path = folder_ / "flash.bin";
    {
        FlashModel source;
        source.LoadImage(0, Pattern(4096, 1));
        source.Save(path);
    }
    if (!MayWrite(path, false) || !MayWrite(folder_, false)) {
        MayWrite(path, true);
        GTEST_SKIP() << "cannot make a file read-only here";
    }
    flash.Load(path);
    EXPECT_TRUE(flash.OwnFile().empty());
    EXPECT_EQ(flash.ReadArray(0, 4096), Pattern(4096, 1));
    ASSERT_EQ(WordProgram(bus, kFlashBase + 0x2000, 0x01020304), kBothReady);
    EXPECT_THROW(flash.Save(path), FlashFileError);
    EXPECT_TRUE(MayWrite(folder_, true));
    EXPECT_TRUE(MayWrite(path, true));
    FlashModel restored;
    restored.Load(path);
    EXPECT_EQ(restored.ReadArray(0x2000, 4), std::vector<uint8_t>(4, 0xFF));
}

// ---- The first format ------------------------------------------------------------------------

// A file as the first format wrote it: `blocks` (bus block -> its bytes) stored, the rest erased.
std::vector<uint8_t> Format1File(const std::map<uint32_t, std::vector<uint8_t>>& blocks,
                                 const std::vector<std::pair<unsigned, uint32_t>>& locked) {
    std::vector<uint8_t> file(452, 0);
    const char magic[] = "TOVAFLSH";
    std::copy(magic, magic + 8, file.begin());
    auto put = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) file[at + i] = uint8_t(v >> (8 * i));
    };
    put(8, 1);
    put(12, kFlashArrayBytes);
    put(16, kFlashChipCount);
    put(20, kFlashBlockCount);
    put(28, uint32_t(blocks.size()));
    for (auto [chip, block] : locked) file[kLocksAt + chip * kFlashBlockCount + block] = 1;
    for (unsigned chip = 0; chip < 2; ++chip)
        for (size_t i = 0; i < 2 * kFlashProtectionWords; ++i) file[288 + chip * 18 + i] = uint8_t(0x10 * chip + i);
    for (const auto& [block, bytes] : blocks) {
        file[324 + block] = 1;
        file.insert(file.end(), bytes.begin(), bytes.end());
    }
    put(24, uint32_t(crc32(0, file.data() + 32, uInt(file.size() - 32))));
    return file;
}

void WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

TEST_F(FlashFileTest, AFileOfTheFirstFormatLoadsAndIsSavedInTheCurrentOne) {
    const fs::path path = folder_ / "flash.img";
    const std::vector<uint8_t> kernel = Pattern(kFlashBusBlockBytes, 7), last = Pattern(kFlashBusBlockBytes, 8);
    WriteBytes(path, Format1File({{1, kernel}, {127, last}}, {{0, 0}, {1, 126}}));

    flash.Load(path);
    EXPECT_EQ(flash.ReadArray(kFlashBusBlockBytes, kFlashBusBlockBytes), kernel);
    EXPECT_EQ(flash.ReadArray(127 * kFlashBusBlockBytes, kFlashBusBlockBytes), last);
    EXPECT_EQ(flash.ReadArray(0, kFlashBusBlockBytes), std::vector<uint8_t>(kFlashBusBlockBytes, 0xFF));
    EXPECT_TRUE(flash.BlockLocked(0, 0));
    EXPECT_TRUE(flash.BlockLocked(1, 126));
    EXPECT_FALSE(flash.BlockLocked(1, 0));
    EXPECT_EQ(ReadIdentifier(bus, kFlashBase, 0x81), 0x13120302u);
    EXPECT_TRUE(flash.OwnFile().empty()) << "a file of the first format is worked on in memory";

    flash.Save(path);
    EXPECT_EQ(fs::file_size(path), kFileBytes);
    EXPECT_EQ(flash.OwnFile(), path);
    FlashModel restored;
    restored.Load(path);
    ExpectSamePart(restored, flash);
    Bus other;
    other.Map(kFlashBase, kFlashArrayBytes, restored, "flash");
    EXPECT_EQ(ReadIdentifier(other, kFlashBase, 0x81), 0x13120302u);
}

// ---- Bad files -------------------------------------------------------------------------------

struct CorruptCase {
    const char* name;
    bool firstFormat;  // damage a file of the first format instead of the current one
    std::function<void(const fs::path&)> damage;  // null: no file at all
    const char* reason;
};

class CorruptFlashFileTest : public FlashFileTest, public ::testing::WithParamInterface<CorruptCase> {};

TEST_P(CorruptFlashFileTest, IsRefusedWithAClearErrorAndLeavesTheModelAlone) {
    const fs::path path = folder_ / "flash.bin";
    if (GetParam().firstFormat) {
        WriteBytes(path, Format1File({{0, Pattern(kFlashBusBlockBytes, 1)}}, {}));
    } else {
        FlashModel source;
        source.LoadImage(0, Pattern(4096, 1));
        source.Save(path);
    }
    if (GetParam().damage)
        GetParam().damage(path);
    else
        fs::remove(path);

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
    EXPECT_TRUE(flash.OwnFile().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Damage, CorruptFlashFileTest,
    ::testing::Values(
        CorruptCase{"missing", false, nullptr, "cannot read"},
        CorruptCase{"a_folder", false, [](const fs::path& p) { fs::remove(p); fs::create_directory(p); }, "cannot read"},
        CorruptCase{"empty", false, [](const fs::path& p) { fs::resize_file(p, 0); }, "too short"},
        CorruptCase{"header_cut", false, [](const fs::path& p) { fs::resize_file(p, 20); }, "too short"},
        CorruptCase{"foreign", false, [](const fs::path& p) { Poke(p, 0, {'X'}); }, "bad magic"},
        CorruptCase{"newer_version", false, [](const fs::path& p) { Poke(p, 8, {3}); }, "version"},
        CorruptCase{"other_geometry", false, [](const fs::path& p) { Poke(p, 20, {64}); }, "geometry"},
        CorruptCase{"header_byte_flipped", false, [](const fs::path& p) { Poke(p, 25, {0x11}); }, "header checksum"},
        CorruptCase{"truncated", false, [](const fs::path& p) { fs::resize_file(p, kFileBytes - 4096); }, "wrong size"},
        CorruptCase{"extended", false, [](const fs::path& p) { fs::resize_file(p, kFileBytes + 1); }, "wrong size"},
        CorruptCase{"lock_byte_not_a_bit", false, [](const fs::path& p) { Poke(p, kLocksAt + 5, {2}); }, "bad lock bit"},
        CorruptCase{"first_format_array_byte_flipped", true,
                    [](const fs::path& p) { Poke(p, 452 + 1000, {0x00}); }, "checksum mismatch"},
        CorruptCase{"first_format_truncated", true,
                    [](const fs::path& p) { fs::resize_file(p, fs::file_size(p) - 1000); }, "wrong size"},
        CorruptCase{"first_format_bad_block_map", true, [](const fs::path& p) { Poke(p, 324 + 9, {2}); },
                    "bad block map"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlashFileTest, SaveIntoAMissingFolderFailsClearly) {
    const fs::path path = folder_ / "no" / "such" / "flash.bin";
    try {
        flash.Save(path);
        FAIL() << "saved into a missing folder";
    } catch (const FlashFileError& e) {
        EXPECT_NE(std::string(e.what()).find("cannot create"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(flash.OwnFile().empty());
}

TEST_F(FlashFileTest, AFailedSaveKeepsThePreviousFile) {
    const fs::path path = folder_ / "flash.bin";
    flash.LoadImage(0, Pattern(64, 3));
    flash.Save(path);
    // A folder where the temporary file would go makes another model's save fail part-way.
    fs::create_directory(folder_ / "flash.bin.tmp");
    FlashModel other;
    other.LoadImage(0, Pattern(64, 4));
    EXPECT_THROW(other.Save(path), FlashFileError);
    EXPECT_TRUE(other.OwnFile().empty());

    FlashModel restored;
    restored.Load(path);
    EXPECT_EQ(restored.ReadArray(0, 64), Pattern(64, 3));
}

}  // namespace
}  // namespace tova::hw::test
