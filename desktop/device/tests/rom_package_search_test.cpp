#include "desktop/rom_package.h"

#include <dirent.h>
#include <fnmatch.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "desktop/model_flag.h"
#include "desktop/program_folder.h"

namespace {

namespace fs = std::filesystem;

std::string g_fakeProgram;

size_t FakeProgramPath(char* buffer, size_t capacity) {
    size_t n = std::min(g_fakeProgram.size(), capacity - 1);
    std::memcpy(buffer, g_fakeProgram.data(), n);
    buffer[n] = '\0';
    return n;
}

std::vector<uint8_t> PackageHeader(const char* signature, const char* build) {
    std::vector<uint8_t> h(36, ' ');
    std::memcpy(h.data(), signature, 4);
    std::memcpy(h.data() + 24, build, 8);
    std::memcpy(h.data() + 33, "EN", 2);
    DescrambleHeader(h.data(), MakeRomPackageKey());
    return h;
}

// A program folder of our own, with the program path reader pointed at it.
class PackageSearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tova-search-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        g_fakeProgram = (dir_ / "setup").string();
        SetProgramPathReader(FakeProgramPath);
    }
    void TearDown() override {
        SetProgramPathReader(nullptr);
        g_bAdvancedModel = 0;
        fs::remove_all(dir_);
    }
    void Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::FILE* f = std::fopen((dir_ / name).c_str(), "wb");
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    // The first directory entry that matches, in the order the folder lists them.
    std::string FirstListed(const char* pattern) {
        DIR* d = ::opendir(dir_.c_str());
        std::string first;
        while (dirent* e = ::readdir(d))
            if (::fnmatch(pattern, e->d_name, 0) == 0) {
                first = e->d_name;
                break;
            }
        ::closedir(d);
        return first;
    }
    int Find(int advanced, std::string* build = nullptr) {
        g_bAdvancedModel = advanced;
        uint8_t header[36] = {};
        int found = FindRomPackage(MakeRomPackageKey(), header);
        if (build) *build = std::to_string(PackageBuild(header));
        return found;
    }
    fs::path dir_;
};

TEST_F(PackageSearchTest, EachModelTakesOnlyItsOwnPattern) {
    struct Case {
        const char* onlyFile;
        int advanced;
        int found;
    };
    const Case cases[] = {
        {"R47_NK_H03280401.img", 1, 1}, {"R47_NK_H03280401.img", 0, 0},
        {"R47_NK_L03280401.img", 0, 1}, {"R47_NK_L03280401.img", 1, 0},
        {"R47_NK_H.img", 1, 1},  // the asterisk may stand for nothing
        {"R47_NK_H1.img.bak", 1, 0}, {"XR47_NK_H1.img", 1, 0}, {"R47_NK_1.img", 1, 0},
    };
    for (const Case& c : cases) {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        Write(c.onlyFile, PackageHeader("VORN", "03280401"));
        EXPECT_EQ(Find(c.advanced), c.found) << c.onlyFile << " advanced=" << c.advanced;
    }
}

TEST_F(PackageSearchTest, AcceptedPackageLeavesItsHeader) {
    Write("R47_NK_L00000042.img", PackageHeader("VORN", "00000042"));
    Write("R47_NK_H03280401.img", PackageHeader("VORN", "03280401"));
    std::string build;
    ASSERT_EQ(Find(0, &build), 1);
    EXPECT_EQ(build, "42");
    ASSERT_EQ(Find(1, &build), 1);
    EXPECT_EQ(build, "3280401");
}

TEST_F(PackageSearchTest, OnlyTheFirstMatchIsTried) {
    Write("R47_NK_H00000001.img", PackageHeader("VORN", "00000001"));
    Write("R47_NK_H00000002.img", PackageHeader("VORN", "00000002"));
    std::string first = FirstListed("R47_NK_H*.img");
    ASSERT_FALSE(first.empty());
    std::string second = first == "R47_NK_H00000001.img" ? "R47_NK_H00000002.img" : "R47_NK_H00000001.img";

    Write(first, PackageHeader("VORX", "00000001"));  // rejected header in the first match
    EXPECT_EQ(Find(1), 0) << "the valid second match must not be tried";

    Write(first, PackageHeader("VORN", "00000007"));
    Write(second, {1, 2, 3});
    std::string build;
    EXPECT_EQ(Find(1, &build), 1);
    EXPECT_EQ(build, "7");
}

TEST_F(PackageSearchTest, MatchingFolderIsPassedOver) {
    fs::create_directories(dir_ / "R47_NK_H_folder.img");
    EXPECT_EQ(Find(1), 0);
    Write("R47_NK_H1.img", PackageHeader("VORN", "00000001"));
    EXPECT_EQ(Find(1), 1);
}

TEST_F(PackageSearchTest, ShortPackageFileIsRejected) {
    std::vector<uint8_t> h = PackageHeader("VORN", "03280401");
    h.resize(35);
    Write("R47_NK_H1.img", h);
    EXPECT_EQ(Find(1), 0);
}

TEST_F(PackageSearchTest, NoPackageAtAll) { EXPECT_EQ(Find(1), 0); }

TEST_F(PackageSearchTest, LetterCaseOfTheNameIsIgnored) {
    Write("r47_nk_h1.IMG", PackageHeader("VORN", "00000001"));
    EXPECT_EQ(Find(1), 1);
}

}  // namespace
