// Packages that rompkg makes, copied to an emulated handheld by the transfer engine, pass
// the service library's own checksum verification there.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "desktop/device/model_flag.h"
#include "desktop/device/program_folder.h"
#include "desktop/device/service_client.h"
#include "desktop/device/transfer.h"
#include "handheld_link_fixture.h"
#include "platform/clock/clock.h"
#include "rompkg.h"
#include "shared/segment_table.h"

namespace transfer_testing {
namespace {

namespace fs = std::filesystem;

// The host build of the service library: in host/ beside the test executables.
fs::path BuiltServiceLibrary() {
    if (const char* bin = std::getenv("TOVA_BIN_DIR")) return fs::path(bin) / "host" / "HARLIX.DLL";
    return fs::read_symlink("/proc/self/exe").parent_path() / "host" / "HARLIX.DLL";
}

class MadePackageOnHandheld : public HandheldLinkTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        tova::SetTimeScale(0);
        ASSERT_NO_FATAL_FAILURE(StartHandheld(GetParam()));
        ASSERT_TRUE(fs::exists(BuiltServiceLibrary())) << BuiltServiceLibrary();
        fs::copy_file(BuiltServiceLibrary(), programFolder_ / "HARLIX.DLL");
        machine_->SetHostModuleFolder(BuiltServiceLibrary().parent_path());
    }
    void Make(bool advanced) {
        std::ostringstream out, err;
        ASSERT_EQ(rompkg::Run({"make", "--model", advanced ? "advanced" : "basic", "--build", "03280402",
                               "--language", "EN", "--version", "v1.076", "--out", programFolder_.string()},
                              out, err),
                  rompkg::kExitOk)
            << err.str();
    }
};

TEST_P(MadePackageOnHandheld, PassesTheServiceLibraryChecksums) {
    const bool advanced = GetParam();
    Make(advanced);
    ASSERT_EQ(CopyServiceLibrary(), 0);
    RecordingWindow window;
    ASSERT_EQ(CopySegments(window), 1);
    EXPECT_EQ(InvokeIsCheckSumOk(), S_OK);

    // The verification is not a formality: one changed byte on the handheld fails it.
    std::vector<uint8_t> misc1 = HandheldFile(u"\\Temp\\MISC_1.nb0");
    misc1[1000] ^= 0x10;
    PutHandheldFile(u"\\Temp\\MISC_1.nb0", misc1);
    EXPECT_EQ(InvokeIsCheckSumOk(), E_FAIL);
}

TEST_P(MadePackageOnHandheld, PackageOfTheOtherConfigurationFails) {
    const bool advanced = GetParam();
    Make(!advanced);
    ASSERT_EQ(CopyServiceLibrary(), 0);
    g_bAdvancedModel = advanced ? 0 : 1;  // the search takes the other configuration's package
    RecordingWindow window;
    ASSERT_EQ(CopySegments(window), 1);
    EXPECT_EQ(InvokeIsCheckSumOk(), E_FAIL);
}

INSTANTIATE_TEST_SUITE_P(Configurations, MadePackageOnHandheld, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Advanced" : "Basic";
                         });

}  // namespace
}  // namespace transfer_testing
