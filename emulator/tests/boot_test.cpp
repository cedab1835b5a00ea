// Boot, reset and power: the warm-boot token decides warm or cold, pin 21 and the reboot
// code reset, a handheld without a valid kernel stays dead, start-up programs run, and
// device threads of an ended boot cannot touch the next one.
#include <fstream>

#include "flash_sequences.h"
#include "handheld_fixture.h"
#include "shared/configuration.h"
#include "emulator/hw/board.h"
#include "platform/wince/api.h"
#include "platform/wince/hw.h"

namespace tova::testing {
namespace {

constexpr uint32_t kCounterAddress = 0xA4100000;  // the probe program's loop counter
const std::u16string kProbePath = u"\\Windows\\StartUp\\PlatformProbe.exe";

std::vector<uint8_t> ProbeModule() {
    std::ifstream in(TOVA_PROBE_MODULE, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void ClearTokenLikeTheServiceLibrary(const ModelAddresses& model) {
    for (uint32_t i = 0; i < 4; ++i) HwWrite8(model.reservedRamPage + kReservedWordWarmBootToken + i, 0);
}

void DrivePin21Low() {
    HwWrite32(0xA9000024, 1u << 21);
    HwWrite32(0xA900000C, HwRead32(0xA900000C) | (1u << 21));
}

std::vector<ShellLaunch> LaunchesOfBoot(const Machine& m, uint32_t boot) {
    std::vector<ShellLaunch> out;
    for (const auto& l : m.ShellLaunches())
        if (l.bootCount == boot) out.push_back(l);
    return out;
}

class BootTest : public HandheldTest {};

TEST_F(BootTest, FirstBootIsColdAndLaysOutTheStore) {
    Machine& m = MakeBooted();
    EXPECT_EQ(m.State(), MachineState::kBooted);
    EXPECT_EQ(m.BootCount(), 1u);
    EXPECT_FALSE(m.LastBootWarm());
    for (const char16_t* folder : {u"\\Windows", u"\\Windows\\StartUp", u"\\Temp"})
        EXPECT_TRUE(m.Store().IsFolder(folder)) << ToUtf8(folder);
    EXPECT_EQ(m.Store().List(Machine::StartupFolder()),
              (std::vector<std::u16string>{u"poutlook.lnk", u"Welcome.lnk"}));
    EXPECT_TRUE(m.Reg().KeyExists(u"Drivers\\BuiltIn\\USB"));
    EXPECT_TRUE(m.LinkUp());
    auto launches = LaunchesOfBoot(m, 1);
    ASSERT_EQ(launches.size(), 2u);
    for (const auto& l : launches) EXPECT_EQ(l.kind, ShellLaunch::Kind::kShortcut);
    EXPECT_EQ(m.RomBuild(), 0x05010100u);
    EXPECT_EQ(m.RomVersionText(), u"5.01.01");
}

struct ResetCase {
    const char* name;
    bool clearToken;
    enum Trigger { kPin21, kRebootCode, kOperatorWarm, kOperatorCold } trigger;
    bool expectWarm;
};

const ResetCase kResets[] = {
    {"pin 21 with the token intact", false, ResetCase::kPin21, true},
    {"pin 21 after the token was cleared", true, ResetCase::kPin21, false},
    {"reboot code with the token intact", false, ResetCase::kRebootCode, true},
    {"reboot code after the token was cleared", true, ResetCase::kRebootCode, false},
    {"operator warm after the token was cleared", true, ResetCase::kOperatorWarm, true},
    {"operator cold with the token intact", false, ResetCase::kOperatorCold, false},
};

TEST_F(BootTest, TheTokenDecidesWarmOrCold) {
    for (const auto& c : kResets) {
        SCOPED_TRACE(c.name);
        machine_.reset();
        std::filesystem::remove_all(StateFolder());
        Machine& m = MakeBooted();
        // Marks of the running system that a warm boot keeps and a cold boot undoes.
        ASSERT_TRUE(m.Store().WriteFile(u"\\Temp\\keep.txt", Bytes("kept")));
        ASSERT_TRUE(m.Store().RemoveFile(u"\\Windows\\StartUp\\Welcome.lnk"));
        ASSERT_TRUE(m.Reg().DeleteKey(u"Drivers\\BuiltIn\\Serial"));
        if (c.clearToken) ClearTokenLikeTheServiceLibrary(m.Config().Addresses());

        switch (c.trigger) {
        case ResetCase::kPin21: DrivePin21Low(); break;
        case ResetCase::kRebootCode:
            ASSERT_TRUE(KernelIoControl(IOCTL_HAL_REBOOT, nullptr, 0, nullptr, 0, nullptr));
            break;
        case ResetCase::kOperatorWarm: m.RequestReset(ResetKind::kWarm); break;
        case ResetCase::kOperatorCold: m.RequestReset(ResetKind::kCold); break;
        }
        ASSERT_TRUE(m.WaitUntilBootCount(2, 10000));
        EXPECT_TRUE(m.Booted());
        EXPECT_EQ(m.LastBootWarm(), c.expectWarm);
        EXPECT_EQ(m.Store().Exists(u"\\Temp\\keep.txt"), c.expectWarm);
        EXPECT_EQ(m.Store().Exists(u"\\Windows\\StartUp\\Welcome.lnk"), !c.expectWarm);
        EXPECT_TRUE(m.Store().Exists(u"\\Windows\\StartUp\\poutlook.lnk"));
        EXPECT_EQ(m.Reg().KeyExists(u"Drivers\\BuiltIn\\Serial"), !c.expectWarm);
        EXPECT_TRUE(m.Store().IsFolder(u"\\Temp"));
    }
}

TEST_F(BootTest, OtherGpioPinsDoNotReset) {
    Machine& m = MakeBooted();
    HwWrite32(0xA9000024, 1u << 20);
    HwWrite32(0xA900000C, 1u << 20);
    HwWrite32(0xA9000018, 1u << 21);  // pin 21 driven high is no reset either
    HwWrite32(0xA900000C, (1u << 20) | (1u << 21));
    EXPECT_EQ(m.State(), MachineState::kBooted);
    EXPECT_EQ(m.BootCount(), 1u);
}

struct DeadCase {
    const char* name;
    std::vector<uint8_t> image;
};

TEST_F(BootTest, WithoutAValidKernelTheHandheldStaysDead) {
    std::vector<uint8_t> badCheck = KernelImage();
    badCheck[20] ^= 0x01;
    std::vector<uint8_t> badMagic = KernelImage();
    badMagic[0] = 'X';
    const DeadCase cases[] = {
        {"erased flash", {}},
        {"record with a wrong check", badCheck},
        {"record with a wrong magic", badMagic},
        {"ROM of the other configuration", KernelImage({Model::kBasic})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        machine_.reset();
        std::filesystem::remove_all(StateFolder());
        Machine& m = Make({}, c.image);
        EXPECT_FALSE(m.Boot());
        EXPECT_TRUE(m.Dead());
        EXPECT_FALSE(m.LinkUp());
        EXPECT_TRUE(m.ShellLaunches().empty());
        uint32_t selector = kPlatformInfoRomBuild, build = 0;
        EXPECT_FALSE(KernelIoControl(IOCTL_HAL_PLATFORM_INFO, &selector, 4, &build, 4, nullptr));
        EXPECT_FALSE(m.RunDeviceCall([] {}));
    }
}

TEST_F(BootTest, ADeadHandheldBootsOnceAKernelIsInFlash) {
    Machine& m = Make({}, {});
    ASSERT_FALSE(m.Boot());
    auto image = KernelImage({Model::kAdvanced, 0x05260300});
    m.Flash().LoadImage(0x40000, image);
    ResetAndWait(ResetKind::kCold);
    EXPECT_TRUE(m.Booted());
    EXPECT_EQ(m.RomBuild(), 0x05260300u);
}

TEST_F(BootTest, StartupProgramsRunAndShortcutsAreOnlyRecorded) {
    Machine& m = MakeBooted();
    ASSERT_TRUE(m.Store().WriteFile(kProbePath, ProbeModule()));
    ASSERT_TRUE(m.Store().WriteFile(u"\\Windows\\StartUp\\notes.txt", Bytes("not a program")));
    ASSERT_TRUE(m.Store().WriteFile(u"\\Temp\\probe.cmd", Bytes("write")));
    ResetAndWait(ResetKind::kWarm);
    ASSERT_TRUE(m.WaitUntilProgramsDone(10000));
    auto out = m.Store().ReadFile(u"\\Temp\\probe.out");
    ASSERT_TRUE(out);
    EXPECT_EQ(*out, Bytes("ran"));
    std::map<std::u16string, ShellLaunch::Kind> kinds;
    for (const auto& l : LaunchesOfBoot(m, 2)) kinds[l.path] = l.kind;
    EXPECT_EQ(kinds[kProbePath], ShellLaunch::Kind::kModule);
    EXPECT_EQ(kinds[u"\\Windows\\StartUp\\notes.txt"], ShellLaunch::Kind::kNotRunnable);
    EXPECT_EQ(kinds[u"\\Windows\\StartUp\\poutlook.lnk"], ShellLaunch::Kind::kShortcut);
}

TEST_F(BootTest, AThreadOfAnEndedBootIsHalted) {
    Machine& m = MakeBooted();
    ASSERT_TRUE(m.Store().WriteFile(kProbePath, ProbeModule()));
    ASSERT_TRUE(m.Store().WriteFile(u"\\Temp\\probe.cmd", Bytes("loop")));
    ResetAndWait(ResetKind::kWarm);
    // The program counts for ever while its boot lasts.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (HwRead32(kCounterAddress) < 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_GE(HwRead32(kCounterAddress), 3u);
    EXPECT_FALSE(m.WaitUntilProgramsDone(0));
    // A cold reset wipes the store, so nothing starts it again: its thread must end.
    ResetAndWait(ResetKind::kCold);
    EXPECT_TRUE(m.WaitUntilProgramsDone(10000));
    uint32_t after = HwRead32(kCounterAddress);
    m.RequestReset(ResetKind::kWarm);
    ASSERT_TRUE(m.WaitUntilBootCount(4, 10000));
    EXPECT_EQ(HwRead32(kCounterAddress), after);
    EXPECT_TRUE(LaunchesOfBoot(m, 3).size() == 2);  // the two recreated shortcuts only
}

TEST_F(BootTest, TheResetTriggerReturnsButTheProgramGoesNoFurther) {
    Machine& m = MakeBooted();
    ASSERT_TRUE(m.Store().WriteFile(kProbePath, ProbeModule()));
    ASSERT_TRUE(m.Store().WriteFile(u"\\Temp\\probe.cmd", Bytes("reset")));
    ResetAndWait(ResetKind::kWarm);      // boot 2 runs the program, which resets
    ASSERT_TRUE(m.WaitUntilBootCount(3, 10000));
    ASSERT_TRUE(m.WaitUntilProgramsDone(10000));
    EXPECT_TRUE(m.LastBootWarm());
    EXPECT_FALSE(m.Store().Exists(u"\\Temp\\probe.cmd"));
    EXPECT_FALSE(m.Store().Exists(u"\\Temp\\probe.out"));
}

TEST_F(BootTest, ADeviceCallCutShortByAReset) {
    Machine& m = MakeBooted();
    bool finished = false;
    bool ran = m.RunDeviceCall([&] {
        KernelIoControl(IOCTL_HAL_REBOOT, nullptr, 0, nullptr, 0, nullptr);
        HANDLE f = CreateFileW(u"\\Temp\\late.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        finished = f != INVALID_HANDLE_VALUE;
    });
    EXPECT_FALSE(ran);
    EXPECT_FALSE(finished);
    ASSERT_TRUE(m.WaitUntilBootCount(2, 10000));
    EXPECT_FALSE(m.Store().Exists(u"\\Temp\\late.txt"));
    // A call that completes reports so.
    EXPECT_TRUE(m.RunDeviceCall([] { Sleep(1); }));
}

TEST_F(BootTest, PowerCutLosesRamAndTheNextBootIsCold) {
    Machine& m = MakeBooted();
    ASSERT_TRUE(m.Store().WriteFile(u"\\Temp\\keep.txt", Bytes("x")));
    HwWrite32(kCounterAddress, 1234);
    m.PowerCut();
    EXPECT_EQ(m.State(), MachineState::kOff);
    EXPECT_FALSE(m.LinkUp());
    EXPECT_EQ(m.Ram().Read(kCounterAddress - kRamUncachedBase, 4), 0u);
    ASSERT_TRUE(m.Boot());
    EXPECT_FALSE(m.LastBootWarm());
    EXPECT_FALSE(m.Store().Exists(u"\\Temp\\keep.txt"));
}

TEST_F(BootTest, AFlashPowerCutDuringAnEraseLeavesAPartlyErasedKernel) {
    Machine& m = MakeBooted();
    m.Flash().CutPowerAfter(0);
    // Block erase of the kernel's first block, as a flash driver would issue it.
    bool ran = m.RunDeviceCall([] {
        HwWrite32(kImageFlashAddress, hw::test::kBlockErase);
        HwWrite32(kImageFlashAddress, hw::test::kConfirm);
        HwRead32(kImageFlashAddress);
    });
    EXPECT_FALSE(ran);
    m.PowerCut();  // waits for the cut the flash asked for
    EXPECT_EQ(m.State(), MachineState::kOff);
    EXPECT_FALSE(m.Boot());  // the identity record was in the erased half
    EXPECT_TRUE(m.Dead());
}

TEST_F(BootTest, SwitchedOffAndOpenedAgainBootsWarm) {
    {
        Machine& m = MakeBooted();
        ASSERT_TRUE(m.Store().WriteFile(u"\\Temp\\keep.txt", Bytes("x")));
        ASSERT_TRUE(m.Reg().SetValue(u"Drivers\\BuiltIn\\USB", u"Extra", RegValue::Dword(7)));
        m.Shutdown();
        EXPECT_EQ(m.State(), MachineState::kOff);
        machine_.reset();
    }
    machine_ = Machine::Open(StateFolder());
    ASSERT_TRUE(M().Boot());
    EXPECT_TRUE(M().LastBootWarm());
    EXPECT_EQ(M().BootCount(), 2u);
    EXPECT_TRUE(M().Store().Exists(u"\\Temp\\keep.txt"));
    EXPECT_EQ(M().Reg().GetValue(u"Drivers\\BuiltIn\\USB", u"Extra"), RegValue::Dword(7));
}

TEST_F(BootTest, PowerCutThenOpenedAgainBootsCold) {
    Machine& m = MakeBooted();
    ASSERT_TRUE(m.Store().WriteFile(u"\\Temp\\keep.txt", Bytes("x")));
    m.PowerCut();
    m.Save();
    machine_.reset();
    machine_ = Machine::Open(StateFolder());
    ASSERT_TRUE(M().Boot());
    EXPECT_FALSE(M().LastBootWarm());
    EXPECT_FALSE(M().Store().Exists(u"\\Temp\\keep.txt"));
}

TEST_F(BootTest, LinkFollowsBootCableAndUsbDriver) {
    Machine& m = Make();
    std::mutex mutex;
    std::vector<bool> reports;
    int subscription = m.SubscribeLinkState([&](bool up) {
        std::lock_guard lock(mutex);
        reports.push_back(up);
    });
    ASSERT_TRUE(m.Boot());
    EXPECT_TRUE(m.LinkUp());
    m.SetCable(false);
    EXPECT_FALSE(m.LinkUp());
    m.SetCable(true);
    ResetAndWait(ResetKind::kWarm);
    // A boot without the USB driver key has no link, though booted and cabled.
    ASSERT_TRUE(m.Reg().DeleteKey(u"Drivers\\BuiltIn\\USB"));
    EXPECT_TRUE(m.LinkUp());  // drivers load at boot; the running one stays
    ResetAndWait(ResetKind::kWarm);
    EXPECT_TRUE(m.Booted());
    EXPECT_FALSE(m.LinkUp());
    m.UnsubscribeLinkState(subscription);
    std::lock_guard lock(mutex);
    EXPECT_EQ(reports, (std::vector<bool>{true, false, true, false, true, false}));
}

}  // namespace
}  // namespace tova::testing
