// KernelIoControl: the identifier, the reboot, the model and platform queries, the garbage
// knob of the model query, and failure for anything else.
#include "device/common/model_detection.h"
#include "handheld_fixture.h"
#include "shared/device_identity.h"
#include "platform/wince/api.h"

namespace tova::testing {
namespace {

class KernelIoTest : public HandheldTest {};

TEST_F(KernelIoTest, IdentifierIsSixteenBytesEndingInThePattern) {
    Machine& m = MakeBooted();
    uint8_t id[20] = {};
    DWORD returned = 0;
    ASSERT_TRUE(KernelIoControl(IOCTL_HAL_GET_UUID, nullptr, 0, id, 16, &returned));
    EXPECT_EQ(returned, 16u);
    EXPECT_EQ(0, std::memcmp(id + kIdentityPatternOffset, kIdentityPattern, 6));
    DeviceIdentifier other{};
    other[15] = 0x42;
    m.SetIdentifier(other);
    ASSERT_TRUE(KernelIoControl(IOCTL_HAL_GET_UUID, nullptr, 0, id, sizeof id, nullptr));
    EXPECT_EQ(0, std::memcmp(id, other.data(), 16));
    EXPECT_FALSE(KernelIoControl(IOCTL_HAL_GET_UUID, nullptr, 0, id, 15, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_FALSE(KernelIoControl(IOCTL_HAL_GET_UUID, nullptr, 0, nullptr, 16, nullptr));
}

TEST_F(KernelIoTest, ModelQueryAnswersTheConfigurationWord) {
    for (Model model : {Model::kAdvanced, Model::kBasic}) {
        machine_.reset();
        std::filesystem::remove_all(StateFolder());
        MachineConfig config;
        config.model = model;
        Machine& m = MakeBooted(config);
        DWORD selector = kModelQuerySelector, word = 0;
        ASSERT_TRUE(KernelIoControl(IOCTL_HAL_MODEL_CONFIG, &selector, 4, &word, 4, nullptr));
        EXPECT_EQ(word, model == Model::kAdvanced ? kMemoryConfigAdvanced : kMemoryConfigBasic);
        EXPECT_EQ(IsAdvancedModel(), model == Model::kAdvanced);
        // The flasher's selector is accepted without an output buffer, and recorded.
        selector = kModelQuerySelectorFlasher;
        EXPECT_TRUE(KernelIoControl(IOCTL_HAL_MODEL_CONFIG, &selector, 4, nullptr, 0, nullptr));
        auto log = m.IoctlLog();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back().code, IOCTL_HAL_MODEL_CONFIG);
        EXPECT_EQ(log.back().selector, kModelQuerySelectorFlasher);
        EXPECT_TRUE(log.back().succeeded);
    }
}

TEST_F(KernelIoTest, GarbageKnobAnswersWrongWordsThenSettles) {
    Machine& m = MakeBooted();
    MachineFaults faults;
    faults.modelQueryGarbageCount = 3;
    m.SetFaults(faults);
    std::vector<DWORD> answers;
    for (int i = 0; i < 4; ++i) {
        DWORD selector = kModelQuerySelector, word = 0;
        KernelIoControl(IOCTL_HAL_MODEL_CONFIG, &selector, 4, &word, 4, nullptr);
        answers.push_back(word);
    }
    for (int i = 0; i < 3; ++i) {
        EXPECT_NE(answers[i], kMemoryConfigAdvanced);
        EXPECT_NE(answers[i], kMemoryConfigBasic);
    }
    EXPECT_EQ(answers[3], kMemoryConfigAdvanced);
    // The model detection rides over the garbage: five queries, four of them garbage.
    faults.modelQueryGarbageCount = 4;
    m.SetFaults(faults);
    size_t before = m.IoctlLog().size();
    EXPECT_TRUE(IsAdvancedModel());
    EXPECT_EQ(m.IoctlLog().size() - before, 5u);
}

struct VersionCase {
    std::u16string version;
    std::vector<char16_t> expected;  // what selector 17 answers, NUL included when sent
};

TEST_F(KernelIoTest, PlatformInfoAnswersBuildAndVersionTextAsTheRomHoldsIt) {
    const VersionCase cases[] = {
        {u"5.01.01", {u'5', u'.', u'0', u'1', u'.', u'0', u'1', 0}},
        {u"A04", {u'A', u'0', u'4', 0}},
        {u"12345678", {u'1', u'2', u'3', u'4', u'5', u'6', u'7', u'8'}},  // no room for a NUL
        {u"1.2.3.4.5.6.7.8.", {u'1', u'.', u'2', u'.', u'3', u'.', u'4', u'.'}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.version));
        machine_.reset();
        std::filesystem::remove_all(StateFolder());
        Make({}, KernelImage({Model::kAdvanced, 0x05260300, 1033, c.version}));
        ASSERT_TRUE(M().Boot());
        DWORD selector = kPlatformInfoRomBuild, build = 0, returned = 0;
        ASSERT_TRUE(KernelIoControl(IOCTL_HAL_PLATFORM_INFO, &selector, 4, &build, 4, nullptr));
        EXPECT_EQ(build, 0x05260300u);
        char16_t text[12];
        std::fill(std::begin(text), std::end(text), u'#');
        selector = kPlatformInfoVersionText;
        ASSERT_TRUE(KernelIoControl(IOCTL_HAL_PLATFORM_INFO, &selector, 4, text, 16, &returned));
        EXPECT_EQ(returned, c.expected.size() * 2);
        EXPECT_EQ(std::vector<char16_t>(text, text + c.expected.size()), c.expected);
        EXPECT_EQ(text[8], u'#');  // nothing beyond the 16 bytes
    }
}

TEST_F(KernelIoTest, UnknownCodesAndSelectorsFail) {
    MakeBooted();
    DWORD selector = 6, out = 0xAAAA;
    const DWORD unknown[] = {0, 0x01010038, CTL_CODE(FILE_DEVICE_HAL, 4005, 0, 0), 0xFFFFFFFF};
    for (DWORD code : unknown) {
        SetLastError(0);
        EXPECT_FALSE(KernelIoControl(code, &selector, 4, &out, 4, nullptr)) << std::hex << code;
        EXPECT_NE(GetLastError(), DWORD(ERROR_SUCCESS));
    }
    selector = 7;
    EXPECT_FALSE(KernelIoControl(IOCTL_HAL_MODEL_CONFIG, &selector, 4, &out, 4, nullptr));
    EXPECT_FALSE(KernelIoControl(IOCTL_HAL_PLATFORM_INFO, &selector, 4, &out, 4, nullptr));
    EXPECT_FALSE(KernelIoControl(IOCTL_HAL_MODEL_CONFIG, nullptr, 0, &out, 4, nullptr));
    selector = kModelQuerySelector;
    EXPECT_FALSE(KernelIoControl(IOCTL_HAL_MODEL_CONFIG, &selector, 2, &out, 4, nullptr));
    EXPECT_FALSE(KernelIoControl(IOCTL_HAL_MODEL_CONFIG, &selector, 4, &out, 3, nullptr));
    EXPECT_EQ(out, 0xAAAAu);
}

TEST_F(KernelIoTest, RebootIsAWarmReset) {
    Machine& m = MakeBooted();
    ASSERT_TRUE(KernelIoControl(IOCTL_HAL_REBOOT, nullptr, 0, nullptr, 0, nullptr));
    ASSERT_TRUE(m.WaitUntilBootCount(2, 10000));
    EXPECT_TRUE(m.LastBootWarm());
}

}  // namespace
}  // namespace tova::testing
