// A handheld whose option to run ARM modules is on serves remote invocations of the ARM
// HARLIX.DLL over the real link exactly as it serves the host build, refuses an ARM module
// when the option is off, and survives a module that crashes: the call fails, the debug
// output holds the guest error with its registers, and the next call works.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "emulator/arm/elf_image.h"
#include "emulator/hw/bus.h"
#include "emulator/object_store.h"
#include "handheld_fixture.h"
#include "platform/clock/clock.h"
#include "platform/rapi/local_memory.h"
#include "platform/rapi/rapi.h"
#include "shared/service_names.h"

namespace tova::arm {
namespace {

std::vector<uint8_t> ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct Remote {
    HRESULT hr = S_OK;
    std::vector<uint8_t> output;
    bool operator==(const Remote&) const = default;
};

class ArmLinkTest : public ::testing::Test {
protected:
    void Start(bool armModules) {
        SetTimeScale(0.01);
        MachineConfig config = link_test::Handheld::DefaultConfig();
        config.armModules = armModules;
        handheld_ = std::make_unique<link_test::Handheld>(config);
        // The host build compared against is the build's own module.
        handheld_->Machine().SetHostModuleFolder(std::filesystem::path(TOVA_HOST_HARLIX).parent_path());
        rapi::SetEndpoint(handheld_->Endpoint());
        ASSERT_EQ(CeRapiInit(), S_OK);
    }
    void TearDown() override {
        CeRapiUninit();
        handheld_.reset();
        rapi::SetEndpoint("");
    }
    void Install(const std::vector<uint8_t>& module) {
        ASSERT_FALSE(module.empty());
        ASSERT_TRUE(handheld_->Machine().Store().WriteFile(u"\\Windows\\HARLIX.DLL", module));
    }
    Remote Invoke(const char16_t* exportName) {
        Remote r;
        BYTE* block = static_cast<BYTE*>(win32::LocalAlloc(LPTR, kInvokeInputBytes));
        std::memcpy(block, kInvokeInput, kInvokeInputBytes);
        DWORD cbOutput = 0;
        BYTE* output = nullptr;
        r.hr = CeRapiInvoke(kServiceLibraryName, exportName, kInvokeInputBytes, block, &cbOutput, &output, nullptr, 0);
        if (output) {
            r.output.assign(output, output + cbOutput);
            win32::LocalFree(output);
        }
        return r;
    }
    bool DebugOutputHas(const std::string& text) {
        for (const auto& line : handheld_->Machine().DebugLines())
            if (ToUtf8(line).find(text) != std::string::npos) return true;
        return false;
    }

    std::unique_ptr<link_test::Handheld> handheld_;
};

TEST_F(ArmLinkTest, TheArmServiceLibraryAnswersAsTheHostBuild) {
    Start(true);
    Install(ReadFile(TOVA_HOST_HARLIX));
    const Remote host = Invoke(u"FnTOVAInfo");
    ASSERT_EQ(host.hr, S_OK);
    Install(ReadFile(TOVA_ARM_HARLIX));
    const Remote arm = Invoke(u"FnTOVAInfo");
    EXPECT_EQ(arm, host);
    EXPECT_EQ(arm.output.size(), 104u);
    EXPECT_EQ(Invoke(u"NoSuchExport").hr, HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(handheld_->Machine().Bus().GuestErrors().Count(), 0u);
}

TEST_F(ArmLinkTest, WithTheOptionOffAnArmModuleIsRefusedAndTheHostBuildRuns) {
    Start(false);
    Install(ReadFile(TOVA_ARM_HARLIX));
    EXPECT_EQ(Invoke(u"FnTOVAInfo").hr, HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
    std::string error;
    Machine& m = handheld_->Machine();
    ASSERT_TRUE(m.RunDeviceCall([&] { EXPECT_FALSE(m.LoadLibraryModule(kServiceLibraryName, &error)); }));
    EXPECT_NE(error.find("built for the handheld's CPU"), std::string::npos) << error;
    Install(ReadFile(TOVA_HOST_HARLIX));
    EXPECT_EQ(Invoke(u"FnTOVAInfo").hr, S_OK);
}

TEST_F(ArmLinkTest, AModuleThatCrashesFailsItsCallAndTheHandheldRunsOn) {
    Start(true);
    // FnTOVAInfo's first instruction made permanently undefined; the first segment lies
    // at file offset 0, so its address is its offset in the file.
    std::vector<uint8_t> module = ReadFile(TOVA_ARM_HARLIX);
    std::string error;
    auto image = ElfImage::Parse(module, &error);
    ASSERT_TRUE(image) << error;
    ASSERT_EQ(image->Segments().front().fileOffset, 0u);
    uint32_t entry = 0;
    for (const ElfSymbol& s : image->Symbols())
        if (s.name == "FnTOVAInfo") entry = s.value;
    ASSERT_NE(entry, 0u);
    const uint32_t kUndefined = 0xE7F000F0;
    std::memcpy(module.data() + entry, &kUndefined, 4);
    Install(module);

    EXPECT_EQ(Invoke(u"FnTOVAInfo").hr, E_FAIL);
    EXPECT_TRUE(DebugOutputHas("undefined instruction")) << "the guest error is on the debug output";
    EXPECT_TRUE(DebugOutputHas("r15=")) << "with a register dump";
    EXPECT_EQ(handheld_->Machine().Bus().GuestErrors().Count(hw::GuestErrorKind::kGuestCode), 1u);
    EXPECT_EQ(Invoke(u"IsCheckSumOk").hr, E_FAIL) << "the next call runs (no segment files: E_FAIL)";
    EXPECT_TRUE(handheld_->Machine().Booted());
}

}  // namespace
}  // namespace tova::arm
