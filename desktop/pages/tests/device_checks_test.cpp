// The device information page's two pure functions on DeviceInfo records and package
// headers, with no handheld behind them: which flags CheckDevice sets and which lines
// DescribeDevice makes. The page's own flows against a handheld are in
// device_info_page_test.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "desktop/device/model_flag.h"
#include "desktop/pages/device_flags.h"
#include "desktop/pages/device_info_page.h"

namespace {

struct Record {
    uint32_t acOnline = 1;
    uint32_t batteryPercent = 100;
    uint32_t languageId = 1033;
    uint32_t memoryConfig = 0x02000200;  // advanced
    uint32_t romBuild = 0x03280301;
    const char16_t* versionText = u"4.20.A04";
};

DeviceInfo MakeInfo(const Record& r) {
    DeviceInfo info{};
    info.valid = 1;
    info.acOnline = r.acOnline;
    info.batteryPercent = r.batteryPercent;
    info.languageId = r.languageId;
    info.memoryConfig = r.memoryConfig;
    info.romBuild = r.romBuild;
    for (size_t i = 0; r.versionText[i] != 0 && i < std::size(info.romVersionText); ++i)
        info.romVersionText[i] = r.versionText[i];
    return info;
}

// A descrambled header: the build's eight characters at offset 24, the language's two
// letters at offset 33.
struct Header {
    uint8_t bytes[kRomPackageHeaderBytes] = {};
    Header(const char* build, const char* language) {
        std::memcpy(bytes, "VORN", 4);
        std::memcpy(bytes + 24, build, 8);
        std::memcpy(bytes + 33, language, 2);
    }
};

struct CheckCase {
    const char* name;
    Record record;
    const char* build;
    const char* language;
    int refuse, languageMismatch, sameVersion, advancedModel;
    const char* modelLine;
    const char* romVersionLine;
    const char* languageLine;
};

Record With(void (*change)(Record&)) {
    Record r;
    change(r);
    return r;
}

const CheckCase kChecks[] = {
    {"AllChecksPass", {}, "03280401", "EN", 0, 0, 0, 1, "Model : Vorn Tova Q7 Advanced",
     "ROM Version : 4.20.A04(03280301EN)", "Language : English"},
    {"Battery40Passes", With([](Record& r) { r.batteryPercent = 40; }), "03280401", "EN", 0, 0, 0, 1,
     "Model : Vorn Tova Q7 Advanced", "ROM Version : 4.20.A04(03280301EN)", "Language : English"},
    {"Battery39Refuses", With([](Record& r) { r.batteryPercent = 39; }), "03280401", "EN", 1, 0, 0, 1,
     "Model : Vorn Tova Q7 Advanced", "ROM Version : 4.20.A04(03280301EN)", "Language : English"},
    // The comparison is unsigned: an unknown battery (0xFFFFFFFF) passes.
    {"BatteryUnknownPasses", With([](Record& r) { r.batteryPercent = 0xFFFFFFFF; }), "03280401", "EN",
     0, 0, 0, 1, "Model : Vorn Tova Q7 Advanced", "ROM Version : 4.20.A04(03280301EN)",
     "Language : English"},
    {"NoAcRefusesOnly", With([](Record& r) { r.acOnline = 0; }), "03280401", "EN", 1, 0, 0, 1,
     "Model : Vorn Tova Q7 Advanced", "ROM Version : 4.20.A04(03280301EN)", "Language : English"},
    {"German", With([](Record& r) { r.languageId = 1031; }), "03280401", "GE", 0, 0, 0, 1,
     "Model : Vorn Tova Q7 Advanced", "ROM Version : 4.20.A04(03280301GE)", "Language : German"},
    {"Spanish", With([](Record& r) { r.languageId = 1034; }), "03280401", "SP", 0, 0, 0, 1,
     "Model : Vorn Tova Q7 Advanced", "ROM Version : 4.20.A04(03280301SP)", "Language : Spanish"},
    {"French", With([](Record& r) { r.languageId = 1036; }), "03280401", "FR", 0, 0, 0, 1,
     "Model : Vorn Tova Q7 Advanced", "ROM Version : 4.20.A04(03280301FR)", "Language : French"},
    {"Italian", With([](Record& r) { r.languageId = 1040; }), "03280401", "IT", 0, 0, 0, 1,
     "Model : Vorn Tova Q7 Advanced", "ROM Version : 4.20.A04(03280301IT)", "Language : Italian"},
    {"LanguageWithoutRowIsNotChecked", With([](Record& r) { r.languageId = 1041; }), "03280401", "EN",
     0, 0, 0, 1, "Model : Vorn Tova Q7 Advanced", "ROM Version : ", "Language : "},
    // The suffix letters are the handheld's, not the package's.
    {"LanguageMismatch", With([](Record& r) { r.languageId = 1036; }), "03280401", "EN", 1, 1, 0, 1,
     "Model : Vorn Tova Q7 Advanced", "ROM Version : 4.20.A04(03280301FR)", "Language : French"},
    {"EqualBuilds", {}, "03280301", "EN", 1, 0, 1, 1, "Model : Vorn Tova Q7 Advanced",
     "ROM Version : 4.20.A04(03280301EN)", "Language : English"},
    {"OlderPackage", {}, "03280201", "EN", 1, 0, 1, 1, "Model : Vorn Tova Q7 Advanced",
     "ROM Version : 4.20.A04(03280301EN)", "Language : English"},
    {"BasicModel", With([](Record& r) { r.memoryConfig = 0x01000100; }), "03280401", "EN", 0, 0, 0, 0,
     "Model : Vorn Tova Q7 Basic", "ROM Version : 4.20.A04(03280301EN)", "Language : English"},
    // What the service library reports for a handheld it does not recognise.
    {"UnrecognisedHandheld",
     With([](Record& r) {
         r.acOnline = 0;
         r.batteryPercent = 0xFFFFFFFF;
         r.languageId = 0;
         r.memoryConfig = 0;
         r.romBuild = 0;
         r.versionText = u"";
     }),
     "03280401", "EN", 1, 0, 0, 0, "Model : Vorn Tova Q7 Basic", "ROM Version : ", "Language : "},
};

class DeviceChecks : public ::testing::TestWithParam<CheckCase> {
protected:
    void SetUp() override { ClearFlags(); }
    void TearDown() override { ClearFlags(); }
    static void ClearFlags() {
        g_bRefuse = 0;
        g_bLanguageMismatch = 0;
        g_bSameVersion = 0;
        g_bAdvancedModel = 0;
    }
};

TEST_P(DeviceChecks, SetTheFlagsOfTheirFindings) {
    const CheckCase& c = GetParam();
    CheckDevice(MakeInfo(c.record), Header(c.build, c.language).bytes);
    EXPECT_EQ(g_bRefuse.load(), c.refuse);
    EXPECT_EQ(g_bLanguageMismatch.load(), c.languageMismatch);
    EXPECT_EQ(g_bSameVersion.load(), c.sameVersion);
    EXPECT_EQ(g_bAdvancedModel.load(), c.advancedModel);
}

TEST_P(DeviceChecks, DescribeTheHandheldInThreeLines) {
    const CheckCase& c = GetParam();
    DeviceLines lines = DescribeDevice(MakeInfo(c.record));
    EXPECT_EQ(lines.model, c.modelLine);
    EXPECT_EQ(lines.romVersion, c.romVersionLine);
    EXPECT_EQ(lines.language, c.languageLine);
}

INSTANTIATE_TEST_SUITE_P(Records, DeviceChecks, ::testing::ValuesIn(kChecks),
                         [](const auto& info) { return std::string(info.param.name); });

// Flags are only ever set: a passing handheld after a refused one leaves the refusal.
TEST(DeviceChecksFlags, AreNeverCleared) {
    g_bRefuse = 0;
    Record refused;
    refused.acOnline = 0;
    CheckDevice(MakeInfo(refused), Header("03280401", "EN").bytes);
    CheckDevice(MakeInfo(Record{}), Header("03280401", "EN").bytes);
    EXPECT_EQ(g_bRefuse.load(), 1);
    g_bRefuse = 0;
    g_bAdvancedModel = 0;
}

}  // namespace
