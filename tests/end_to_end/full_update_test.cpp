// A whole update of each hardware configuration, from the wizard's first page to the
// handheld running the new ROM.
#include "end_to_end_fixture.h"

namespace e2e {
namespace {

constexpr int kProgressPage = 129;
constexpr int kRefusalPage = 136;
constexpr int kCompleteCaption = 127, kCompleteText = 112;
constexpr int kSameVersion = 118;

// A hardware configuration, and the build of the handheld modules that setup copies and the
// handheld runs.
struct Configuration {
    const char* model;
    ModuleCode code;
};

void PrintTo(const Configuration& c, std::ostream* out) { *out << c.model << " " << ModuleCodeName(c.code); }

class FullUpdate : public EndToEnd, public ::testing::WithParamInterface<Configuration> {};

TEST_P(FullUpdate, LeavesTheHandheldRunningExactlyThePackagesRom) {
    const Configuration c = GetParam();
    setup_.InstallModules(c.code);
    StartHandheld({"--model", c.model, "--arm-modules", c.code == ModuleCode::kArm ? "on" : "off"});
    HandheldProcess::Info fresh = handheld_.ReadInfo();
    EXPECT_EQ(fresh.fields["ARM modules"].substr(0, 3), c.code == ModuleCode::kArm ? "on " : "off") << fresh.text;
    Package package;
    package.model = c.model;
    auto packageFile = setup_.AddPackage(package);

    child::Outcome run = RunSetup();
    EXPECT_EQ(run.exitCode, kSetupUpdated) << run.err;
    EXPECT_TRUE(Says(run, MessageBoxLine(kProgressPage, kCompleteCaption, kCompleteText)));
    EXPECT_TRUE(Says(run, "page 129: ended with 0"));

    ASSERT_TRUE(handheld_.WaitUntilLinked());
    HandheldProcess::Info after = handheld_.ReadInfo();
    EXPECT_EQ(after.fields["ROM build"], HexWord(package.BuildWord()));
    EXPECT_EQ(after.fields["ROM version"], package.version);
    EXPECT_EQ(after.fields["ROM language"], "1033");
    std::vector<uint8_t> image = ImageInFlash();
    ASSERT_EQ(image.size(), kPackageSegmentsBytes);
    EXPECT_TRUE(image == ReadBytes(packageFile, kPackageSegmentsOffset, kPackageSegmentsBytes))
        << "the flash from 0xA0040000 differs from the package's segments";
    EXPECT_EQ(after.store, WithServiceLibrary(fresh.store))
        << "the store is not back to its cold-boot state (and the library the wizard read the build with):\n"
        << after.text;
    EXPECT_EQ(after.fields["flash erases"], ErasesOfOneCleanImage()) << "each block of the image erased once";

    child::Outcome again = RunSetup();
    EXPECT_EQ(again.exitCode, kSetupRefused) << again.err;
    EXPECT_TRUE(Says(again, "page 136: opened"));
    EXPECT_TRUE(Says(again, TranscriptText(kSameVersion)));
    EXPECT_TRUE(NeverSays(again, "page 129"));
}

INSTANTIATE_TEST_SUITE_P(Configuration, FullUpdate,
                         ::testing::Values(Configuration{"advanced", ModuleCode::kArm},
                                           Configuration{"basic", ModuleCode::kArm},
                                           Configuration{"advanced", ModuleCode::kHost},
                                           Configuration{"basic", ModuleCode::kHost}),
                         [](const auto& info) {
                             return std::string(info.param.model) + "_" + ModuleCodeName(info.param.code);
                         });

}  // namespace
}  // namespace e2e
