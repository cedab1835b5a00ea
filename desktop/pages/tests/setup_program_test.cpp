// The setup program itself, run as a process from a program folder of its own against a
// handheld emulated in this test process.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "desktop/device/model_flag.h"
#include "emulator/machine.h"
#include "setup_process_fixture.h"

namespace wizard_test {
namespace {

namespace fs = std::filesystem;

class SetupProgram : public SetupProcessTest {};

TEST_F(SetupProgram, UnattendedRunUpdatesTheHandheldAndPrintsTheTranscript) {
    StartHandheld();
    PutFullPackage();
    fs::path setup = InstallSetup();
    child::Outcome run = RunSetup(setup, WorkFolder(), {"TOVA_UI=unattended", Endpoint(), Scale()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    for (const char* line : {"page 102: opened \"Vorn Tova Velkor\"", "page 130: opened \"Vorn Tova Velkor\"",
                             "page 134: opened \"Caution\"", "page 129: opened \"Vorn Tova Velkor\"",
                             "page 129: message box \"Update complete!\"", "page 129: ended with 0"}) {
        EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;
    }
    EXPECT_EQ(run.out.find("page 133"), std::string::npos) << "no License.txt, no agreement page";
    EXPECT_TRUE(Machine().WaitUntilBooted(600000));
    EXPECT_EQ(Machine().RomBuild(), 0x03280401u) << "the handheld runs the package's ROM";
}

TEST_F(SetupProgram, UnattendedWithoutHandheldSaysToConnectAndEnds) {
    HandheldSpec spec;
    spec.cableAttached = false;
    StartHandheld(spec);
    fs::path setup = InstallSetup();
    child::Outcome run = RunSetup(setup, WorkFolder(), {"TOVA_UI=unattended", Endpoint(), Scale()});
    EXPECT_EQ(run.exitCode, 4) << "no handheld\n" << run.err;
    EXPECT_NE(run.out.find("message box \"Caution\": \"Connect your device"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("opened"), std::string::npos) << run.out;
}

struct RefusedStart {
    const char* name;
    std::vector<std::string> set;
    int exitCode;
    const char* says;
};

class SetupRefuses : public SetupProgram, public ::testing::WithParamInterface<RefusedStart> {};

TEST_P(SetupRefuses, WithAClearMessage) {
    fs::path setup = InstallSetup();
    child::Outcome run = RunSetup(setup, WorkFolder(), GetParam().set);
    EXPECT_EQ(run.exitCode, GetParam().exitCode);
    EXPECT_NE(run.err.find(GetParam().says), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Environment, SetupRefuses,
    ::testing::Values(RefusedStart{"UnknownUi", {"TOVA_UI=fancy"}, 2, "unknown TOVA_UI value \"fancy\""},
                      RefusedStart{"NoDisplay", {}, 2, "TOVA_UI=unattended"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace wizard_test
