// The ARM build of HARLIX.DLL, loaded by the emulator's loader and run on the emulated CPU
// of a handheld booted in-process, answers the block-mode calls exactly as the host build
// does on the same handheld: the same result and the same output bytes, its output block
// in guest memory and released with LocalFree as the RAPI service releases it.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "handheld_fixture.h"
#include "segment_files.h"
#include "emulator/arm/arm_module.h"
#include "emulator/arm/guest_heap.h"
#include "emulator/arm/guest_thread.h"
#include "platform/wince/api.h"
#include "shared/device_identity.h"
#include "shared/service_names.h"

namespace tova::arm {
namespace {

std::vector<uint8_t> ReadFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct Answer {
    HRESULT hr = 0;
    std::vector<uint8_t> output;
    bool outputWasLive = false;
    bool operator==(const Answer&) const = default;
};

void PrintTo(const Answer& a, std::ostream* out) {
    *out << "hr " << std::hex << a.hr << ", " << std::dec << a.output.size() << " bytes";
}

std::vector<uint8_t> AllInput() {
    std::vector<uint8_t> bytes(kInvokeInputBytes);
    std::memcpy(bytes.data(), kInvokeInput, kInvokeInputBytes);
    return bytes;
}

class ArmHarlixTest : public testing::HandheldTest {
protected:
    void Boot(Model model) {
        MakeBooted({.model = model});
        M().SetHostModuleFolder(std::filesystem::path(TOVA_HOST_HARLIX).parent_path());
        const std::vector<uint8_t> host = ReadFile(TOVA_HOST_HARLIX);
        ASSERT_FALSE(host.empty());
        ASSERT_TRUE(M().Store().WriteFile(u"\\Windows\\HARLIX.DLL", host));
        memory_ = std::make_unique<GuestMemory>(M().Board());
        heap_ = std::make_unique<GuestHeap>(*memory_);
        thread_ = std::make_unique<GuestThread>(*memory_, *heap_);
        std::string error;
        module_ = ArmModule::Load("HARLIX.DLL", ReadFile(TOVA_ARM_HARLIX), *memory_, &error);
        ASSERT_TRUE(module_) << error;
    }
    void TearDown() override {
        module_.reset();
        thread_.reset();
        heap_.reset();
        memory_.reset();
        HandheldTest::TearDown();
    }

    Answer Host(const char* exportName, const std::vector<uint8_t>& input) {
        Answer answer;
        std::string error;
        auto module = M().LoadLibraryModule(kServiceLibraryName, &error);
        EXPECT_TRUE(module) << error;
        if (!module) return answer;
        auto entry = module->Function<PFN_RAPI_EXTENSION>(exportName);
        std::vector<uint8_t> in = input;
        DWORD cb = 0;
        BYTE* out = nullptr;
        EXPECT_TRUE(M().RunDeviceCall([&] { answer.hr = entry(DWORD(in.size()), in.data(), &cb, &out, nullptr); }));
        if (out) {
            answer.outputWasLive = M().IsLiveLocalAllocation(out);
            answer.output.assign(out, out + cb);
            M().RunDeviceCall([&] { LocalFree(out); });
        }
        return answer;
    }

    // The same call on the CPU: input, output size and output pointer all in guest memory.
    Answer Arm(const char* exportName, const std::vector<uint8_t>& input) {
        Answer answer;
        const uint32_t entry = module_->Export(exportName);
        EXPECT_NE(entry, 0u) << exportName;
        const uint32_t in = heap_->Allocate(uint32_t(input.size()));
        std::memcpy(memory_->Host(in, uint32_t(input.size())), input.data(), input.size());
        const uint32_t outputs = heap_->Allocate(8);  // cbOutput, then pOutput
        cpu::ArmCpu::Result result{};
        EXPECT_TRUE(M().RunDeviceCall(
            [&] { result = thread_->Call(entry, {uint32_t(input.size()), in, outputs, outputs + 4, 0}); }));
        EXPECT_TRUE(result.ok) << result.error;
        answer.hr = HRESULT(result.value);
        uint32_t cb = 0, out = 0;
        std::memcpy(&cb, memory_->Host(outputs, 4), 4);
        std::memcpy(&out, memory_->Host(outputs + 4, 4), 4);
        if (out) {
            answer.outputWasLive = heap_->IsLive(out);
            const uint8_t* bytes = memory_->Host(out, cb);
            EXPECT_NE(bytes, nullptr);
            if (bytes) answer.output.assign(bytes, bytes + cb);
            heap_->Free(out);
        }
        heap_->Free(in);
        heap_->Free(outputs);
        return answer;
    }

    std::unique_ptr<GuestMemory> memory_;
    std::unique_ptr<GuestHeap> heap_;
    std::unique_ptr<GuestThread> thread_;
    std::unique_ptr<ArmModule> module_;
};

class ArmHarlixModelTest : public ArmHarlixTest, public ::testing::WithParamInterface<Model> {};

TEST_P(ArmHarlixModelTest, DeviceInformationEqualsTheHostBuilds) {
    Boot(GetParam());
    const Answer host = Host("FnTOVAInfo", AllInput());
    const Answer arm = Arm("FnTOVAInfo", AllInput());
    EXPECT_EQ(arm.hr, S_OK);
    EXPECT_EQ(arm.output.size(), 104u);
    EXPECT_TRUE(arm.outputWasLive) << "the record is a LocalAlloc block in guest memory";
    EXPECT_EQ(arm, host);
    EXPECT_EQ(heap_->Outstanding(), 0u);
    EXPECT_EQ(M().Bus().GuestErrors().Count(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Models, ArmHarlixModelTest, ::testing::Values(Model::kAdvanced, Model::kBasic),
                         [](const auto& info) { return info.param == Model::kAdvanced ? "advanced" : "basic"; });

TEST_F(ArmHarlixTest, AnUnrecognisedHandheldAndABadInputAnswerAsTheHostBuild) {
    Boot(Model::kAdvanced);
    DeviceIdentifier id = DefaultDeviceIdentifier();
    id[kDeviceIdentifierBytes - 1] ^= 0x01;
    M().SetIdentifier(id);
    const Answer arm = Arm("FnTOVAInfo", AllInput());
    EXPECT_EQ(arm, Host("FnTOVAInfo", AllInput()));
    EXPECT_EQ(arm.output.at(0), 0) << "not valid";

    const std::vector<uint8_t> wrong = {'X', 0, 'Y', 0, 'Z', 0, 0, 0};
    const Answer refused = Arm("FnTOVAInfo", wrong);
    EXPECT_EQ(refused.hr, E_FAIL);
    EXPECT_EQ(refused, Host("FnTOVAInfo", wrong));
}

TEST_F(ArmHarlixTest, SegmentChecksumsAreVerifiedAsTheHostBuildDoes) {
    Boot(Model::kAdvanced);
    EXPECT_EQ(Arm("IsCheckSumOk", AllInput()).hr, E_FAIL) << "no segment files";
    ASSERT_TRUE(harlix_test::WriteSegmentFiles(M(), /*advancedColumn=*/false));
    EXPECT_EQ(Arm("IsCheckSumOk", AllInput()).hr, E_FAIL) << "the other model's checksums";
    EXPECT_EQ(Host("IsCheckSumOk", AllInput()).hr, E_FAIL);
    ASSERT_TRUE(harlix_test::WriteSegmentFiles(M(), /*advancedColumn=*/true));
    EXPECT_EQ(Arm("IsCheckSumOk", AllInput()).hr, S_OK);
    EXPECT_EQ(Host("IsCheckSumOk", AllInput()).hr, S_OK);
    EXPECT_EQ(heap_->Outstanding(), 0u) << "the segment buffers were freed";
    EXPECT_EQ(M().Bus().GuestErrors().Count(), 0u);
}

}  // namespace
}  // namespace tova::arm
