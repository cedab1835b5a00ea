// FnTOVAInfo inside the emulated handheld: the record for recognised and unrecognised
// handhelds, the input check, and a model query that takes a while to settle.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "device_info_bytes.h"
#include "emulated_handheld.h"
#include "shared/configuration.h"
#include "platform/wince/api.h"
#include "platform/wince/ioctl.h"

namespace harlix_test {
namespace {

struct RecognisedCase {
    const char* what;
    tova::Model model;
    bool acOnline;
    uint8_t battery;
    RomFacts rom;
    ExpectedRecord expected;
};

TEST(FnTOVAInfo, RecognisedHandheldRecordByteByByte) {
    const RecognisedCase cases[] = {
        {"advanced on AC, full",
         tova::Model::kAdvanced, true, 100, {0x20240526, 1033, u"1.05.26"},
         {1, 1, 100, 1033, 64, 48, 0x02000200, 0x20240526, u"1.05.26", u"TOVA5"}},
        // Eight units fill the 16-byte query buffer, leaving no room for a NUL.
        {"basic on battery, German ROM",
         tova::Model::kBasic, false, 37, {0x20230101, 1031, u"1.01 GER"},
         {1, 0, 37, 1031, 32, 32, 0x01000100, 0x20230101, u"1.01 GER", u"TOVA5"}},
        {"battery the platform cannot tell stays 255",
         tova::Model::kAdvanced, true, 255, {0x00000001, 1033, u"X"},
         {1, 1, 255, 1033, 64, 48, 0x02000200, 1, u"X", u"TOVA5"}},
        {"empty battery",
         tova::Model::kBasic, true, 0, {0x12345678, 1036, u""},
         {1, 1, 0, 1036, 32, 32, 0x01000100, 0x12345678, u"", u"TOVA5"}},
        // A version text that fills the ROM's field: the query hands back its first 16
        // bytes with no NUL, and the copy stops there without touching modelName.
        {"version text without a NUL in the query buffer",
         tova::Model::kAdvanced, true, 80, {0x20240526, 1033, u"ABCDEFGHIJKLMNOP"},
         {1, 1, 80, 1033, 64, 48, 0x02000200, 0x20240526, u"ABCDEFGH", u"TOVA5"}},
    };
    for (const RecognisedCase& c : cases) {
        SCOPED_TRACE(c.what);
        tova::MachineConfig config;
        config.model = c.model;
        config.acOnline = c.acOnline;
        config.batteryPercent = c.battery;
        config.defaultLanguageId = c.rom.languageId;
        EmulatedHandheld handheld(config, c.rom);
        ASSERT_TRUE(handheld.Ready());
        const size_t liveBefore = handheld.Machine().OutstandingLocalAllocations();

        const InvokeResult r = handheld.InvokeWithAll("FnTOVAInfo");
        EXPECT_EQ(r.hr, S_OK);
        EXPECT_EQ(r.cbOutput, 104u);
        EXPECT_TRUE(r.outputWasLiveLocal) << "the record must be a LocalAlloc block";
        EXPECT_EQ(FirstDifference(r.output, RecordBytes(c.expected)), "");
        // The RAPI service's LocalFree released the only block the library allocated.
        EXPECT_EQ(handheld.Machine().OutstandingLocalAllocations(), liveBefore);
    }
}

TEST(FnTOVAInfo, IdentifierDifferingInAnyOfItsLastSixBytesIsNotRecognised) {
    EmulatedHandheld handheld(tova::MachineConfig{});
    ASSERT_TRUE(handheld.Ready());
    for (size_t at = 10; at < 16; ++at) {
        SCOPED_TRACE("identifier byte " + std::to_string(at));
        tova::DeviceIdentifier id = tova::DefaultDeviceIdentifier();
        id[at] ^= 0x01;
        handheld.Machine().SetIdentifier(id);
        const size_t ioctlsBefore = handheld.Machine().IoctlLog().size();

        const InvokeResult r = handheld.InvokeWithAll("FnTOVAInfo");
        EXPECT_EQ(r.hr, S_OK);
        EXPECT_EQ(FirstDifference(r.output, RecordBytes(kUnrecognisedRecord)), "");

        // Only the identity query: no model, build or version query for a stranger.
        const std::vector<tova::IoctlCall> log = handheld.Machine().IoctlLog();
        for (size_t i = ioctlsBefore; i < log.size(); ++i) {
            EXPECT_EQ(log[i].code, IOCTL_HAL_GET_UUID) << "call " << i;
        }
    }
}

TEST(FnTOVAInfo, FirstTenIdentifierBytesPlayNoPart) {
    EmulatedHandheld handheld(tova::MachineConfig{});
    ASSERT_TRUE(handheld.Ready());
    tova::DeviceIdentifier id = tova::DefaultDeviceIdentifier();
    for (size_t at = 0; at < 10; ++at) id[at] = uint8_t(~id[at]);
    handheld.Machine().SetIdentifier(id);
    const InvokeResult r = handheld.InvokeWithAll("FnTOVAInfo");
    ASSERT_EQ(r.hr, S_OK);
    ASSERT_EQ(r.output.size(), 104u);
    EXPECT_EQ(r.output[0], 1) << "valid";
}

struct BadInputCase {
    const char* what;
    std::vector<uint8_t> input;
};

std::vector<uint8_t> Utf16Bytes(const std::u16string& s, bool withNul) {
    std::vector<uint8_t> bytes((s.size() + (withNul ? 1 : 0)) * 2, 0);
    std::memcpy(bytes.data(), s.data(), s.size() * 2);
    return bytes;
}

TEST(FnTOVAInfo, InputOtherThanAllFailsWithNoOutput) {
    EmulatedHandheld handheld(tova::MachineConfig{});
    ASSERT_TRUE(handheld.Ready());
    const BadInputCase cases[] = {
        {"empty string", Utf16Bytes(u"", true)},
        {"ALl", Utf16Bytes(u"ALl", true)},
        {"lower case all", Utf16Bytes(u"all", true)},
        {"ALL without its NUL within cbInput", Utf16Bytes(u"ALL", false)},
        {"ALL with half a NUL", {'A', 0, 'L', 0, 'L', 0, 0}},
        {"no input block", {}},
    };
    for (const BadInputCase& c : cases) {
        SCOPED_TRACE(c.what);
        const size_t liveBefore = handheld.Machine().OutstandingLocalAllocations();
        const InvokeResult r = handheld.Invoke("FnTOVAInfo", c.input);
        EXPECT_TRUE(r.completed);
        EXPECT_EQ(r.hr, E_FAIL);
        EXPECT_FALSE(r.outputSet);
        EXPECT_EQ(handheld.Machine().OutstandingLocalAllocations(), liveBefore);
    }
}

TEST(FnTOVAInfo, MissingOutputParametersFailWithoutAllocating) {
    EmulatedHandheld handheld(tova::MachineConfig{});
    ASSERT_TRUE(handheld.Ready());
    std::string error;
    auto module = handheld.Machine().LoadLibraryModule(u"HARLIX", &error);
    ASSERT_TRUE(module) << error;
    auto entry = module->Function<PFN_RAPI_EXTENSION>("FnTOVAInfo");
    ASSERT_NE(entry, nullptr);
    std::vector<uint8_t> input = EmulatedHandheld::AllInput();
    DWORD cb = 0;
    BYTE* out = nullptr;
    const size_t liveBefore = handheld.Machine().OutstandingLocalAllocations();
    HRESULT noLength = S_OK;
    HRESULT noPointer = S_OK;
    ASSERT_TRUE(handheld.RunOnDevice([&] {
        noLength = entry(DWORD(input.size()), input.data(), nullptr, &out, nullptr);
        noPointer = entry(DWORD(input.size()), input.data(), &cb, nullptr, nullptr);
    }));
    EXPECT_EQ(noLength, E_FAIL);
    EXPECT_EQ(noPointer, E_FAIL);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(cb, 0u);
    EXPECT_EQ(handheld.Machine().OutstandingLocalAllocations(), liveBefore);
}

size_t ModelQueries(const std::vector<tova::IoctlCall>& log, size_t from) {
    return std::count_if(log.begin() + from, log.end(), [](const tova::IoctlCall& c) {
        return c.code == IOCTL_HAL_MODEL_CONFIG && c.selector == kModelQuerySelector;
    });
}

TEST(FnTOVAInfo, ModelQueryAnsweringGarbageIsAskedAgainUntilItSettles) {
    for (tova::Model model : {tova::Model::kAdvanced, tova::Model::kBasic}) {
        tova::MachineConfig config;
        config.model = model;
        config.faults.modelQueryGarbageCount = 3;
        EmulatedHandheld handheld(config);
        ASSERT_TRUE(handheld.Ready());
        const size_t before = handheld.Machine().IoctlLog().size();
        const size_t sleepsBefore = handheld.Machine().Sleeps().size();

        const InvokeResult r = handheld.InvokeWithAll("FnTOVAInfo");
        ASSERT_EQ(r.hr, S_OK);
        ASSERT_EQ(r.output.size(), 104u);
        uint32_t memoryConfig = 0;
        std::memcpy(&memoryConfig, r.output.data() + 28, 4);
        EXPECT_EQ(memoryConfig, config.Addresses().memoryConfig);
        EXPECT_EQ(ModelQueries(handheld.Machine().IoctlLog(), before), 4u);
        const std::vector<uint32_t> sleeps = handheld.Machine().Sleeps();
        EXPECT_EQ(std::vector<uint32_t>(sleeps.begin() + long(sleepsBefore), sleeps.end()),
                  (std::vector<uint32_t>{5, 5, 5}))
            << "5 ms between one asking and the next";
    }
}

}  // namespace
}  // namespace harlix_test
