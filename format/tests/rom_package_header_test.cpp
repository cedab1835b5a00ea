#include "format/rom_package_header.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A plain header: "VORN", 20 filler bytes, build text, one byte, language, one byte.
std::vector<uint8_t> PlainHeader(const char build[8], const char* language = "EN") {
    std::vector<uint8_t> h(36, 0);
    std::memcpy(h.data(), "VORN", 4);
    std::memset(h.data() + 4, 'x', 20);
    std::memcpy(h.data() + 24, build, 8);
    std::memcpy(h.data() + 33, language, 2);
    return h;
}

std::vector<uint8_t> Scrambled(std::vector<uint8_t> plain) {
    DescrambleHeader(plain.data(), MakeRomPackageKey());
    return plain;
}

class HeaderFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tova-header-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::string path = (dir_ / name).string();
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        return path;
    }
    fs::path dir_;
};

TEST_F(HeaderFileTest, AcceptedHeaderReturnsTheFileLengthAndIsDescrambled) {
    std::vector<uint8_t> file = Scrambled(PlainHeader("03280401", "FR"));
    file.resize(600, 0xAB);
    std::string path = Write("R47_NK_H1.img", file);
    uint8_t header[36];
    EXPECT_EQ(ReadRomPackageHeader(path.c_str(), MakeRomPackageKey(), header), 600u);
    EXPECT_EQ(std::memcmp(header, PlainHeader("03280401", "FR").data(), 36), 0);
    EXPECT_EQ(PackageBuild(header), 3280401);
    char language[3];
    PackageLanguage(header, language);
    EXPECT_STREQ(language, "FR");
}

TEST_F(HeaderFileTest, RejectedFiles) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    std::vector<uint8_t> full = Scrambled(PlainHeader("03280401"));
    auto withSignature = [](const char sig[4]) {
        std::vector<uint8_t> h = PlainHeader("03280401");
        std::memcpy(h.data(), sig, 4);
        return Scrambled(h);
    };
    const Case cases[] = {
        {"35 bytes", std::vector<uint8_t>(full.begin(), full.begin() + 35)},
        {"empty", {}},
        {"lower-case signature", withSignature("vorn")},
        {"one letter in other case", withSignature("VoRN")},
        {"one byte differs", withSignature("VORM")},
        {"signature stored unscrambled", PlainHeader("03280401")},
    };
    for (const Case& c : cases) {
        std::string path = Write("R47_NK_H1.img", c.bytes);
        uint8_t header[36];
        EXPECT_EQ(ReadRomPackageHeader(path.c_str(), MakeRomPackageKey(), header), 0u) << c.what;
    }
}

TEST_F(HeaderFileTest, MissingFileOrFolderIsRejected) {
    uint8_t header[36];
    EXPECT_EQ(ReadRomPackageHeader((dir_ / "absent.img").string().c_str(), MakeRomPackageKey(), header), 0u);
    EXPECT_EQ(ReadRomPackageHeader(dir_.string().c_str(), MakeRomPackageKey(), header), 0u);
}

TEST_F(HeaderFileTest, ExactlyThirtySixBytesIsEnough) {
    std::string path = Write("R47_NK_H1.img", Scrambled(PlainHeader("00000001")));
    uint8_t header[36];
    EXPECT_EQ(ReadRomPackageHeader(path.c_str(), MakeRomPackageKey(), header), 36u);
}

// Bytes 0, 8, 16, 24 and 32 all use key byte 0, bytes 32..35 key bytes 0..3.
TEST(DescrambleHeader, KeyRepeatsEveryEightBytes) {
    RomPackageKey key = MakeRomPackageKey();
    uint8_t header[36] = {};
    DescrambleHeader(header, key);
    for (int i = 0; i < 36; ++i) EXPECT_EQ(header[i], key.bytes[i % 8]) << "byte " << i;
    for (int i : {0, 8, 16, 24, 32}) EXPECT_EQ(header[i], key.bytes[0]);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(header[32 + i], key.bytes[i]);
    DescrambleHeader(header, key);
    for (uint8_t b : header) EXPECT_EQ(b, 0) << "scrambling twice gives the original";
}

TEST(DescrambleHeader, KeyHasNoZeroBytes) {
    // A zero key byte would leave every eighth header byte in clear.
    for (uint8_t b : MakeRomPackageKey().bytes) EXPECT_NE(b, 0);
}

TEST(PackageBuild, ReadsTheBuildText) {
    struct Case {
        const char text[9];  // offsets 24..31
        uint8_t at32;
        int32_t build;
    };
    const Case cases[] = {
        {"03280401", 0, 3280401},
        {"03280401", '9', 3280401},     // offset 32 ends the text whatever it holds
        {"0328 401", 0, 328},           // a space at offset 28
        {"  328040", 0, 328040},        // leading white space
        {"\t\n032804", 0, 32804},
        {"-0000005", 0, -5},
        {"+1234567", 0, 1234567},
        {"12x45678", 0, 12},
        {"ABCDEFGH", '1', 0},
        {"        ", '7', 0},           // nothing but white space: the 7 at offset 32 is not read
        {"99999999", '9', 99999999},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> h = PlainHeader(c.text);
        h[32] = c.at32;
        EXPECT_EQ(PackageBuild(h.data()), c.build) << c.text;
    }
}

TEST(IsPackageNewer, ComparesRearrangedBuilds) {
    struct Case {
        const char* what;
        uint32_t device;
        int32_t package;
        int newer;
    };
    const Case cases[] = {
        {"worked example", 0x03280301, 3280401, 1},
        {"worked example reversed", 0x03280401, 3280301, 0},
        {"equal builds", 0x03280401, 3280401, 0},
        // 0328a401 rearranges to a4032801: reads as 0, so any package is newer but 0.
        {"rearranged device text begins with a letter", 0x0328a401, 1, 1},
        {"letter-led device against package 0", 0x0328a401, 0, 0},
        // 03280b01 rearranges to 0b032801: reads as 0 too.
        {"letter second in rearranged text", 0x03280b01, 1, 1},
        // 0328040c rearranges to 0403280c: the digits before the letter make 403280, which a
        // package 40320080 rearranges to exactly.
        {"letter ends the device number: equal digits", 0x0328040c, 40320080, 0},
        {"letter ends the device number: one more", 0x0328040c, 40320081, 1},
        // Characters 5 and 6 lead: 12310001 rearranges to 00123101, 01010102 to 01010102.
        {"characters 5 and 6 decide over the plain number", 0x01010102, 12310001, 0},
        {"characters 5 and 6 decide, the other way", 0x12310001, 1010102, 1},
        {"device zero", 0, 1, 1},
    };
    for (const Case& c : cases) EXPECT_EQ(IsPackageNewer(c.device, c.package), c.newer) << c.what;
}

}  // namespace
