// Power status, language, system information, the local heap, page allocation with
// physical addresses, thread priorities, Sleep after masking, and debug output.
#include "handheld_fixture.h"
#include "shared/configuration.h"
#include "emulator/hw/page_allocator.h"
#include "platform/wince/api.h"
#include "platform/wince/hw.h"

namespace tova::testing {
namespace {

class PlatformApiTest : public HandheldTest {};

struct PowerCase {
    bool ac;
    uint8_t battery;
};

TEST_F(PlatformApiTest, PowerStatusReportsAcAndBattery) {
    Machine& m = MakeBooted();
    const PowerCase cases[] = {{true, 100}, {false, 39}, {true, 40}, {false, 0}, {true, 255}};
    for (const auto& c : cases) {
        m.SetAcOnline(c.ac);
        m.SetBatteryPercent(c.battery);
        SYSTEM_POWER_STATUS_EX2 status;
        std::memset(&status, 0xCC, sizeof status);
        ASSERT_EQ(GetSystemPowerStatusEx2(&status, sizeof status, TRUE), sizeof status);
        EXPECT_EQ(status.ACLineStatus, c.ac ? AC_LINE_ONLINE : AC_LINE_OFFLINE);
        EXPECT_EQ(status.BatteryLifePercent, c.battery);
        EXPECT_EQ(status.Reserved1, 0);
    }
    SYSTEM_POWER_STATUS_EX2 status;
    EXPECT_EQ(GetSystemPowerStatusEx2(&status, sizeof status - 1, TRUE), 0u);
    EXPECT_EQ(GetSystemPowerStatusEx2(nullptr, sizeof status, TRUE), 0u);
}

TEST_F(PlatformApiTest, LanguageComesFromTheRomIdentity) {
    MachineConfig config;
    config.defaultLanguageId = 1033;
    Make(config, KernelImage({Model::kAdvanced, 0x05010100, 1031}));
    ASSERT_TRUE(M().Boot());
    EXPECT_EQ(GetSystemDefaultLangID(), 1031);
}

TEST_F(PlatformApiTest, PageSizeIs4096) {
    MakeBooted();
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    EXPECT_EQ(info.dwPageSize, 4096u);
}

TEST_F(PlatformApiTest, LocalAllocIsTrackedUntilFreedOnce) {
    Machine& m = MakeBooted();
    size_t before = m.OutstandingLocalAllocations();
    auto* block = static_cast<uint8_t*>(LocalAlloc(LPTR, 108));
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(std::all_of(block, block + 108, [](uint8_t b) { return b == 0; }));
    EXPECT_TRUE(m.IsLiveLocalAllocation(block));
    EXPECT_EQ(m.OutstandingLocalAllocations(), before + 1);
    EXPECT_EQ(LocalFree(block), nullptr);
    EXPECT_FALSE(m.IsLiveLocalAllocation(block));
    EXPECT_EQ(m.OutstandingLocalAllocations(), before);
    // A second release, or a block the heap never gave, fails and frees nothing.
    EXPECT_EQ(LocalFree(block), block);
    int local = 0;
    EXPECT_EQ(LocalFree(&local), &local);
    EXPECT_EQ(LocalFree(nullptr), nullptr);
    EXPECT_EQ(LocalAlloc(LPTR, 0x7FFFFFFF), nullptr);
}

TEST_F(PlatformApiTest, LockedPagesHavePhysicalAddressesInRam) {
    Machine& m = MakeBooted();
    const ModelAddresses& model = m.Config().Addresses();
    const DWORD size = 0x100000;
    LPVOID buffer = VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_READWRITE | PAGE_NOCACHE);
    ASSERT_NE(buffer, nullptr);
    std::vector<DWORD> pages(size / 4096);
    ASSERT_TRUE(LockPages(buffer, size, pages.data(), LOCKFLAG_READ | LOCKFLAG_WRITE));
    for (size_t i = 0; i < pages.size(); ++i) {
        DWORD physical = pages[i];
        ASSERT_EQ(physical % 4096, 0u);
        ASSERT_GE(physical, kRamPhysicalBase);
        ASSERT_LT(physical, kRamPhysicalBase + model.ramBytes - 0x40000);
        // Written through the kernel's cached window, read back through the uncached one.
        HwWrite32(physical - kPhysicalToKernelCached, 0xC0DE0000u + uint32_t(i));
        ASSERT_EQ(HwRead32(physical - kRamPhysicalBase + kRamUncachedBase), 0xC0DE0000u + uint32_t(i));
    }
    EXPECT_FALSE(VirtualFree(buffer, 0, MEM_RELEASE));  // still locked
    EXPECT_TRUE(UnlockPages(buffer, size));
    EXPECT_TRUE(VirtualFree(buffer, 0, MEM_RELEASE));
    EXPECT_FALSE(VirtualFree(buffer, 0, MEM_RELEASE));
    EXPECT_EQ(VirtualAlloc(reinterpret_cast<LPVOID>(0x10000000), size, MEM_COMMIT, PAGE_READWRITE), nullptr);
    EXPECT_FALSE(LockPages(reinterpret_cast<LPVOID>(0x3F000000), 4096, pages.data(), 5));
}

TEST_F(PlatformApiTest, FragmentationKnobScattersPages) {
    Machine& m = MakeBooted();
    MachineFaults faults;
    faults.ramFragmentation = true;
    m.SetFaults(faults);
    const DWORD size = 0x100000;
    LPVOID buffer = VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    ASSERT_NE(buffer, nullptr);
    std::vector<DWORD> pages(size / 4096);
    ASSERT_TRUE(LockPages(buffer, size, pages.data(), 5));
    bool contiguous = true;
    for (size_t i = 1; i < pages.size(); ++i) contiguous = contiguous && pages[i] == pages[i - 1] + 4096;
    EXPECT_FALSE(contiguous);
    EXPECT_TRUE(UnlockPages(buffer, size));
    EXPECT_TRUE(VirtualFree(buffer, 0, MEM_RELEASE));
}

TEST_F(PlatformApiTest, SleepAfterMaskingIsAViolationUntilTheNextReset) {
    Machine& m = MakeBooted();
    Sleep(1);
    EXPECT_EQ(m.SleepViolations(), 0u);
    EXPECT_FALSE(m.InterruptsMasked());
    HwMaskInterrupts();
    EXPECT_TRUE(m.InterruptsMasked());
    Sleep(1);
    Sleep(0);
    EXPECT_EQ(m.SleepViolations(), 2u);
    ResetAndWait(ResetKind::kWarm);
    EXPECT_FALSE(m.InterruptsMasked());
    Sleep(1);
    EXPECT_EQ(m.SleepViolations(), 2u);
}

TEST_F(PlatformApiTest, SleepTakesScaledTime) {
    MakeBooted();
    SetTimeScale(0.001);  // 2000 nominal ms -> 2 real ms
    auto start = std::chrono::steady_clock::now();
    Sleep(2000);
    auto real = std::chrono::steady_clock::now() - start;
    SetTimeScale(0);
    EXPECT_GE(real, std::chrono::milliseconds(2));
    EXPECT_LT(real, std::chrono::milliseconds(1000));
}

TEST_F(PlatformApiTest, PrioritiesAreRecorded) {
    Machine& m = MakeBooted();
    EXPECT_TRUE(SetThreadPriority(CURRENT_THREAD_PSEUDO_HANDLE, THREAD_PRIORITY_TIME_CRITICAL));
    EXPECT_TRUE(CeSetThreadPriority(CURRENT_THREAD_PSEUDO_HANDLE, 0));
    EXPECT_FALSE(SetThreadPriority(CURRENT_THREAD_PSEUDO_HANDLE, 8));
    EXPECT_FALSE(CeSetThreadPriority(CURRENT_THREAD_PSEUDO_HANDLE, 256));
    auto changes = m.PriorityChanges();
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_FALSE(changes[0].ce);
    EXPECT_TRUE(changes[1].ce);
    EXPECT_EQ(changes[1].priority, 0);
}

TEST_F(PlatformApiTest, DebugLinesAreFormatted) {
    Machine& m = MakeBooted();
    NKDbgPrintfW(u"plain\r\n");
    NKDbgPrintfW(u"%s=%d", u"count", -42);
    NKDbgPrintfW(u"[%08x][%X][%u][%4d][%-4d|]", 0xBEEFu, 0xABCDu, 4000000000u, 7, 7);
    NKDbgPrintfW(u"100%% %c %lx %q", int(u'Z'), 0x1Fu);
    NKDbgPrintfW(u"null %s", static_cast<const char16_t*>(nullptr));
    auto lines = m.DebugLines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], u"plain");
    EXPECT_EQ(lines[1], u"count=-42");
    EXPECT_EQ(lines[2], u"[0000beef][ABCD][4000000000][   7][7   |]");
    EXPECT_EQ(lines[3], u"100% Z 1f %q");
    EXPECT_EQ(lines[4], u"null (null)");
}

}  // namespace
}  // namespace tova::testing
