#include "tools/romimage/rom_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>

#include "format/rom_package_key.h"
#include "format/segment_checksum.h"
#include "shared/configuration.h"
#include "shared/rom_identity.h"
#include "shared/segment_table.h"

namespace romimage {
namespace {

RomSpec Spec(bool advanced, const char* digits, const char* language, std::u16string version) {
    RomSpec spec;
    spec.advanced = advanced;
    std::snprintf(spec.buildDigits, sizeof spec.buildDigits, "%s", digits);
    std::snprintf(spec.language, sizeof spec.language, "%s", language);
    spec.versionText = std::move(version);
    return spec;
}

const uint8_t* SegmentIn(const std::vector<uint8_t>& image, const SegmentEntry& s) {
    return image.data() + (s.packageOffset - kPackageSegmentsOffset);
}

// The images are large; build each configuration once for the whole suite.
class RomImageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        images_ = new std::map<bool, std::vector<uint8_t>>;
        (*images_)[true] = BuildSegments(Spec(true, "03280401", "FR", u"v1.075"));
        (*images_)[false] = BuildSegments(Spec(false, "03280401", "FR", u"v1.075"));
    }
    static void TearDownTestSuite() {
        delete images_;
        images_ = nullptr;
    }
    static const std::vector<uint8_t>& Image(bool advanced) { return images_->at(advanced); }
    static std::map<bool, std::vector<uint8_t>>* images_;
};
std::map<bool, std::vector<uint8_t>>* RomImageTest::images_ = nullptr;

// The service library's release values, segment by segment: the images must hit them for
// the verification on the handheld to pass.
TEST_F(RomImageTest, EverySegmentHasTheReleaseChecksumOfItsConfiguration) {
    struct Release {
        const char* segment;
        SegmentChecksum advanced, basic;
    };
    const Release release[] = {
        {"KERNEL", 123019, 182108},    {"OS", 200244, 188248},        {"SHELL", 49151, 49151},
        {"BROWSING", 15141, 15141},    {"COREAPPS", 85037, 85037},    {"SYNC", 169165, 169165},
        {"24MAPPS", 254002, 254002},   {"24MCONSUMER", 206168, 206168},
        {"MISC_1", 37003, 231197},     {"MISC_2", 202230, 229003},    {"MISC_3", 0, 0},
        {"MISC_4", 0, 0},
    };
    ASSERT_EQ(std::size(release), size_t(kSegmentCount));
    for (bool advanced : {true, false}) {
        const std::vector<uint8_t>& image = Image(advanced);
        ASSERT_EQ(image.size(), kPackageSegmentsBytes);
        for (const Release& r : release) {
            const SegmentEntry* segment = nullptr;
            for (const SegmentEntry& s : kSegmentTable)
                if (std::strcmp(s.name, r.segment) == 0) segment = &s;
            ASSERT_NE(segment, nullptr) << r.segment;
            EXPECT_EQ(ChecksumBytes(SegmentIn(image, *segment), segment->size),
                      advanced ? r.advanced : r.basic)
                << r.segment << (advanced ? " advanced" : " basic");
        }
    }
}

TEST_F(RomImageTest, KernelBeginsWithTheIdentityRecord) {
    for (bool advanced : {true, false}) {
        RomIdentity id;
        std::memcpy(&id, Image(advanced).data(), sizeof id);
        ASSERT_TRUE(IsValidRomIdentity(id));
        EXPECT_EQ(id.build, 0x03280401u);
        EXPECT_EQ(id.languageId, 1036u);
        EXPECT_EQ(id.memoryConfig, advanced ? kMemoryConfigAdvanced : kMemoryConfigBasic);
        EXPECT_EQ(std::u16string(id.versionText), u"v1.075");
    }
}

TEST_F(RomImageTest, ErasedSegmentsAreAllOnes) {
    for (bool advanced : {true, false}) {
        for (const SegmentEntry& s : kSegmentTable) {
            if (std::strcmp(s.name, "MISC_3") != 0 && std::strcmp(s.name, "MISC_4") != 0) continue;
            const uint8_t* p = SegmentIn(Image(advanced), s);
            EXPECT_TRUE(std::all_of(p, p + s.size, [](uint8_t b) { return b == 0xFF; })) << s.name;
        }
    }
}

TEST_F(RomImageTest, ContentIsNotErasedOrBlankOutsideTheErasedSegments) {
    // The flasher's tests compare flash with these bytes; blank content would hide a skipped write.
    const SegmentEntry& os = kSegmentTable[1];
    const uint8_t* p = SegmentIn(Image(true), os);
    size_t erased = std::count(p, p + os.size, uint8_t(0xFF));
    size_t zero = std::count(p, p + os.size, uint8_t(0x00));
    EXPECT_LT(erased, os.size / 64);
    EXPECT_LT(zero, os.size / 64);
}

TEST_F(RomImageTest, SameSpecGivesTheSameImage) {
    EXPECT_EQ(BuildSegments(Spec(true, "03280401", "FR", u"v1.075")), Image(true));
}

TEST_F(RomImageTest, DifferentBuildOrConfigurationGivesDifferentFlash) {
    std::vector<uint8_t> later = BuildSegments(Spec(true, "03280402", "FR", u"v1.075"));
    for (const SegmentEntry& s : kSegmentTable) {
        if (std::strncmp(s.name, "MISC_3", 6) == 0 || std::strncmp(s.name, "MISC_4", 6) == 0) continue;
        EXPECT_NE(std::memcmp(SegmentIn(later, s), SegmentIn(Image(true), s), s.size), 0) << s.name;
        EXPECT_NE(std::memcmp(SegmentIn(Image(false), s), SegmentIn(Image(true), s), s.size), 0)
            << s.name;
    }
}

TEST(RomImage, FullLengthVersionTextHasNoTerminator) {
    std::vector<uint8_t> image = BuildSegments(Spec(false, "00000001", "EN", u"0123456789ABCDEF"));
    RomIdentity id;
    std::memcpy(&id, image.data(), sizeof id);
    ASSERT_TRUE(IsValidRomIdentity(id));
    EXPECT_EQ(std::u16string(id.versionText, 16), u"0123456789ABCDEF");
    EXPECT_EQ(id.build, 1u);
    EXPECT_EQ(id.languageId, 1033u);
}

TEST(RomImage, PackageIsScrambledHeaderFillerAndSegments) {
    RomSpec spec = Spec(true, "12345678", "IT", u"v2");
    std::vector<uint8_t> package = BuildPackage(spec);
    ASSERT_EQ(package.size(), kPackageMinimumBytes);
    uint8_t header[36];
    std::memcpy(header, package.data(), 36);
    EXPECT_NE(std::memcmp(header, "VORN", 4), 0) << "the header is stored scrambled";
    DescrambleHeader(header, MakeRomPackageKey());
    EXPECT_EQ(std::memcmp(header, "VORN", 4), 0);
    EXPECT_EQ(std::memcmp(header + 24, "12345678", 8), 0);
    EXPECT_EQ(std::memcmp(header + 33, "IT", 2), 0);
    std::vector<uint8_t> image = BuildSegments(spec);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), package.begin() + kPackageSegmentsOffset));
}

TEST(RomImage, PackageFileNames) {
    EXPECT_EQ(PackageFileName(Spec(true, "03280401", "EN", u"")), "R47_NK_H03280401.img");
    EXPECT_EQ(PackageFileName(Spec(false, "00000099", "EN", u"")), "R47_NK_L00000099.img");
}

TEST(RomImage, LanguageIds) {
    struct Case {
        const char* code;
        uint32_t id;
    };
    const Case cases[] = {{"GE", 1031}, {"EN", 1033}, {"SP", 1034}, {"FR", 1036}, {"IT", 1040},
                          {"en", 0},    {"DE", 0},    {"", 0},      {"ENG", 0},   {nullptr, 0}};
    for (const Case& c : cases) EXPECT_EQ(LanguageIdForCode(c.code), c.id) << (c.code ? c.code : "null");
}

TEST(RomImage, InvalidSpecsAreRefusedWithAReason) {
    struct Case {
        RomSpec spec;
        const char* mentions;
    };
    RomSpec shortBuild = Spec(true, "1234567", "EN", u"v");
    RomSpec hexBuild = Spec(true, "0328040a", "EN", u"v");
    RomSpec signedBuild = Spec(true, "+3280401", "EN", u"v");
    RomSpec unterminated = Spec(true, "03280401", "EN", u"v");
    unterminated.buildDigits[8] = '9';
    RomSpec badLanguage = Spec(true, "03280401", "DE", u"v");
    RomSpec longVersion = Spec(true, "03280401", "EN", u"0123456789ABCDEFG");
    RomSpec nulVersion = Spec(true, "03280401", "EN", std::u16string(u"v1\0x", 4));
    const Case cases[] = {
        {shortBuild, "eight decimal digits"},  {hexBuild, "eight decimal digits"},
        {signedBuild, "eight decimal digits"}, {unterminated, "eight decimal digits"},
        {badLanguage, "language"},             {longVersion, "16 characters"},
        {nulVersion, "NUL"},
    };
    for (const Case& c : cases) {
        std::string problem = ValidateSpec(c.spec);
        EXPECT_NE(problem.find(c.mentions), std::string::npos) << problem;
        EXPECT_THROW(BuildSegments(c.spec), std::invalid_argument);
    }
    EXPECT_EQ(ValidateSpec(Spec(true, "03280401", "EN", u"v1.075")), "");
}

}  // namespace
}  // namespace romimage
