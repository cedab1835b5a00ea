// The object store: which handheld paths are accepted, that nothing outside the store's
// folder is ever touched, and that names differing only in case are one file.
#include "emulator/object_store.h"

#include <gtest/gtest.h>

#include <fstream>

#include "temp_folder.h"

namespace tova {
namespace {

namespace fs = std::filesystem;

struct PathCase {
    std::u16string path;
    bool valid;
};

const PathCase kPaths[] = {
    {u"\\", true},
    {u"\\Temp", true},
    {u"\\Temp\\", true},
    {u"\\Temp\\KERNEL.nb0", true},
    {u"\\Windows\\StartUp\\Velkor.exe", true},
    {u"\\My Documents\\notes 1.txt", true},
    {u"\\Temp\\.hidden", true},
    {u"\\Temp\\caf\u00e9.txt", true},
    {u"", false},
    {u"Temp\\file", false},                 // not rooted
    {u"\\..", false},
    {u"\\Temp\\..\\..\\outside", false},
    {u"\\Temp\\.\\file", false},
    {u"\\Temp\\\\file", false},              // empty component
    {u"\\Temp/..\\file", false},             // '/' separator
    {u"/etc/passwd", false},                 // host path
    {u"\\C:\\Windows", false},               // drive
    {u"C:\\Windows", false},
    {u"\\Temp\\file.txt:stream", false},
    {u"\\Temp\\a*b", false},
    {u"\\Temp\\a?b", false},
    {u"\\Temp\\name.", false},               // trailing dot
    {u"\\Temp\\name ", false},               // trailing blank
    {u"\\Temp\\tab\there", false},           // control character
    {std::u16string(u"\\Temp\\a\0b", 9), false},  // NUL inside
    {u"\\" + std::u16string(300, u'a'), false},  // longer than MAX_PATH
    {u"\\Temp\\\xD800x", false},             // lone surrogate
};

TEST(HandheldPath, AcceptsOnlyPathsInsideTheStore) {
    for (const auto& c : kPaths) {
        EXPECT_EQ(SplitHandheldPath(c.path).has_value(), c.valid) << ToUtf8(c.path);
    }
}

TEST(HandheldPath, SplitsIntoComponents) {
    auto parts = SplitHandheldPath(u"\\Windows\\StartUp\\");
    ASSERT_TRUE(parts);
    EXPECT_EQ(*parts, (std::vector<std::u16string>{u"Windows", u"StartUp"}));
    EXPECT_TRUE(SplitHandheldPath(u"\\")->empty());
}

class ObjectStoreTest : public ::testing::Test {
protected:
    ObjectStoreTest() : store_(dir_ / "store") {
        // A file beside the store that nothing may reach, and a folder named like a
        // component of the escapes above.
        std::ofstream(dir_ / "outside") << "keep";
        fs::create_directories(dir_ / "etc");
    }

    // Everything below the temporary folder but inside the store, as relative paths.
    std::vector<std::string> OutsideEntries() const {
        std::vector<std::string> entries;
        for (const auto& e : fs::recursive_directory_iterator(dir_.Path())) {
            auto rel = fs::relative(e.path(), dir_.Path()).string();
            if (rel.rfind("store", 0) != 0) entries.push_back(rel);
        }
        std::sort(entries.begin(), entries.end());
        return entries;
    }

    testing::TempFolder dir_;
    ObjectStore store_;
};

TEST_F(ObjectStoreTest, RefusedPathsTouchNothingOutsideTheStore) {
    ASSERT_TRUE(store_.MakeFolders(u"\\Temp"));
    auto before = OutsideEntries();
    const std::vector<uint8_t> bytes{1, 2, 3};
    for (const auto& c : kPaths) {
        if (c.valid) continue;
        std::string label = ToUtf8(c.path);
        EXPECT_FALSE(store_.WriteFile(c.path, bytes)) << label;
        EXPECT_FALSE(store_.MakeFolders(c.path)) << label;
        EXPECT_FALSE(store_.ReadFile(c.path)) << label;
        EXPECT_FALSE(store_.RemoveFile(c.path)) << label;
        EXPECT_FALSE(store_.PlaceFor(c.path)) << label;
    }
    EXPECT_FALSE(store_.RemoveFile(u"\\..\\outside"));
    EXPECT_EQ(OutsideEntries(), before);
    std::ifstream kept(dir_ / "outside");
    std::string text;
    kept >> text;
    EXPECT_EQ(text, "keep");
}

TEST_F(ObjectStoreTest, NamesDifferingInCaseAreOneFile) {
    ASSERT_TRUE(store_.MakeFolders(u"\\TEMP"));
    ASSERT_TRUE(store_.WriteFile(u"\\TEMP\\KERNEL.nb0", {1, 2}));
    ASSERT_TRUE(store_.WriteFile(u"\\Temp\\Kernel.NB0", {3, 4, 5}));
    EXPECT_EQ(store_.List(u"\\temp"), std::vector<std::u16string>{u"KERNEL.nb0"});
    EXPECT_EQ(*store_.ReadFile(u"\\temp\\kernel.nb0"), (std::vector<uint8_t>{3, 4, 5}));
    // The first spelling stays on disk.
    EXPECT_TRUE(fs::exists(dir_ / "store" / "TEMP" / "KERNEL.nb0"));
    EXPECT_TRUE(store_.RemoveFile(u"\\tEmP\\KeRnEl.Nb0"));
    EXPECT_FALSE(store_.Exists(u"\\TEMP\\KERNEL.nb0"));
}

TEST_F(ObjectStoreTest, WritingNeedsAnExistingFolder) {
    EXPECT_FALSE(store_.WriteFile(u"\\Missing\\file.txt", {1}));
    ASSERT_TRUE(store_.MakeFolders(u"\\Windows\\StartUp"));
    EXPECT_TRUE(store_.IsFolder(u"\\windows\\startup"));
    // A folder is not a file, and a file is not a folder.
    EXPECT_FALSE(store_.WriteFile(u"\\Windows", {1}));
    ASSERT_TRUE(store_.WriteFile(u"\\Windows\\a.txt", {1}));
    EXPECT_FALSE(store_.MakeFolders(u"\\Windows\\a.txt\\below"));
}

TEST_F(ObjectStoreTest, SymbolicLinksInTheFolderAreNotFollowed) {
    ASSERT_TRUE(store_.MakeFolders(u"\\Temp"));
    fs::create_directory_symlink(dir_.Path(), dir_ / "store" / "Temp" / "escape");
    EXPECT_FALSE(store_.ReadFile(u"\\Temp\\escape\\outside"));
    EXPECT_FALSE(store_.WriteFile(u"\\Temp\\escape\\new", {1}));
    EXPECT_FALSE(store_.MakeFolders(u"\\Temp\\escape\\below"));
    EXPECT_FALSE(fs::exists(dir_ / "new"));
    EXPECT_FALSE(fs::exists(dir_ / "below"));
    // A link to a file outside is neither written through nor replaced.
    fs::create_symlink(dir_ / "outside", dir_ / "store" / "Temp" / "file");
    EXPECT_FALSE(store_.WriteFile(u"\\Temp\\file", {9}));
    EXPECT_FALSE(store_.MakeFolders(u"\\Temp\\file"));
    std::ifstream kept(dir_ / "outside");
    std::string text;
    kept >> text;
    EXPECT_EQ(text, "keep");
}

// `info` lists every file's size: a store holding a file of gigabytes must not be read.
TEST_F(ObjectStoreTest, SizesComeFromTheFilesMetadata) {
    ASSERT_TRUE(store_.MakeFolders(u"\\Temp"));
    ASSERT_TRUE(store_.WriteFile(u"\\Temp\\small.bin", {1, 2, 3}));
    constexpr uint64_t kHuge = uint64_t(16) << 30;
    fs::path huge = *store_.PlaceFor(u"\\Temp\\huge.bin");
    std::ofstream(huge).close();
    fs::resize_file(huge, kHuge);  // sparse: no blocks on disk
    EXPECT_EQ(store_.FileSize(u"\\temp\\SMALL.bin"), 3u);
    EXPECT_EQ(store_.FileSize(u"\\Temp\\huge.bin"), kHuge);
    EXPECT_FALSE(store_.FileSize(u"\\Temp"));
    EXPECT_FALSE(store_.FileSize(u"\\Temp\\missing.bin"));
    EXPECT_FALSE(store_.FileSize(u"\\..\\outside"));
}

TEST_F(ObjectStoreTest, ListsAndWipes) {
    ASSERT_TRUE(store_.MakeFolders(u"\\Windows\\StartUp"));
    ASSERT_TRUE(store_.WriteFile(u"\\Windows\\StartUp\\b.lnk", {1}));
    ASSERT_TRUE(store_.WriteFile(u"\\Windows\\A.DLL", {1}));
    EXPECT_EQ(store_.List(u"\\Windows"), (std::vector<std::u16string>{u"A.DLL", u"StartUp"}));
    EXPECT_EQ(store_.ListAllFiles(),
              (std::vector<std::u16string>{u"\\Windows\\A.DLL", u"\\Windows\\StartUp\\b.lnk"}));
    store_.Wipe();
    EXPECT_TRUE(store_.List(u"\\").empty());
    EXPECT_TRUE(fs::exists(dir_ / "outside"));
}

TEST(HandheldText, Utf8RoundTripAndCaseFolding) {
    const std::u16string text = u"Caf\u00e9 \u0416 \U0001F600";
    EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
    EXPECT_TRUE(SameName(u"\u00c9T\u00c9", u"\u00e9t\u00e9"));
    EXPECT_TRUE(SameName(u"\u0416", u"\u0436"));
    EXPECT_FALSE(SameName(u"abc", u"abd"));
    EXPECT_FALSE(SameName(u"abc", u"abcd"));
}

}  // namespace
}  // namespace tova
