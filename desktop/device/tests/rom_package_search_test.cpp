#include "desktop/device/rom_package.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <future>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "desktop/device/model_flag.h"
#include "desktop/device/program_folder.h"
#include "platform/system/system_services.h"

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
        dir_ = fs::temp_directory_path() / ("tova-search-" + std::to_string(std::random_device{}()));
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
        std::FILE* f = std::fopen((dir_ / name).string().c_str(), "wb");
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    // The first directory entry that matches, in the order the folder lists them.
    std::string FirstListed(const std::string& prefix) {
        for (const auto& entry : fs::directory_iterator(dir_)) {
            std::string name = entry.path().filename().string();
            if (name.rfind(prefix, 0) == 0) return name;
        }
        return {};
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
    std::string first = FirstListed("R47_NK_H");
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

#ifndef _WIN32
// Opening a FIFO for reading waits for a writer: a search or a copy that opened one would
// hang the wizard. Neither may open it; a writer opened here on a timeout frees a hung open.
TEST_F(PackageSearchTest, FifoAndFolderNamedLikeAPackageArePassedOver) {
    const fs::path fifo = dir_ / "R47_NK_H0.img";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directories(dir_ / "R47_NK_H00.img");
    Write("R47_NK_H00000009.img", PackageHeader("VORN", "00000009"));

    auto search = std::async(std::launch::async, [&] {
        std::string build;
        int found = Find(1, &build);
        tova::sys::ReadOnlyFile file;
        bool fifoOpened = file.Open(fifo.c_str());
        bool folderOpened = file.Open((dir_ / "R47_NK_H00.img").c_str());
        return std::make_tuple(found, build, fifoOpened, folderOpened);
    });
    if (search.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        ADD_FAILURE() << "the search or the open blocked on the FIFO";
        if (writer >= 0) ::close(writer);
    }
    auto [found, build, fifoOpened, folderOpened] = search.get();
    EXPECT_EQ(found, 1);
    EXPECT_EQ(build, "9");
    EXPECT_FALSE(fifoOpened);
    EXPECT_FALSE(folderOpened);
}
#endif

}  // namespace
