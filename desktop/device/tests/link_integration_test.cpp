// The link monitor, the serialised calls and the service client against an emulated
// handheld over the real loopback link.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "desktop/device/link.h"
#include "link_testing.h"
#include "desktop/device/rapi_calls.h"
#include "desktop/device/service_client.h"
#include "handheld_fixture.h"
#include "link_state_fixture.h"
#include "platform/clock/clock.h"
#include "platform/rapi/local_memory.h"
#include "emulator/object_store.h"

namespace {

using desktop_link_test::LinkStateTest;
using desktop_link_test::WaitFor;
using link_test::Handheld;

class LinkedHandheld : public LinkStateTest {
protected:
    void SetUp() override {
        LinkStateTest::SetUp();
        handheld_ = std::make_unique<Handheld>();
        rapi::SetEndpoint(handheld_->Endpoint());
    }
    void TearDown() override {
        LinkStateTest::TearDown();
        handheld_.reset();
        rapi::SetEndpoint("");
    }
    void ReleaseHeldCalls() override { handheld_->ReleaseWaiters(); }

    void StartMonitor() {
        ASSERT_EQ(StartLink(), S_OK);
        StartWatchdog();
    }
    tova::Machine& Machine() { return handheld_->Machine(); }
    tova::link::LinkServer& Server() { return handheld_->Server(); }

    std::unique_ptr<Handheld> handheld_;
};

// ---- Link monitor ----------------------------------------------------------------------

TEST_F(LinkedHandheld, TheLinkIsUpWithinTheStartUpSecond) {
    // A tenth of real time: the second is then long enough for a loaded machine to connect.
    tova::SetTimeScale(0.1);
    StartMonitor();
    tova::ScaledSleep(1000);
    EXPECT_EQ(g_bConnected.load(), 1);
}

TEST_F(LinkedHandheld, AnUnpluggedCableDropsTheFlagWithinOneProbePeriodAndAReplugRestoresIt) {
    tova::SetTimeScale(0.1);
    StartMonitor();
    ASSERT_TRUE(WaitFor([] { return g_bConnected.load() == 1; }, 5000));

    uint64_t unplugged = tova::NominalNowMs();
    Machine().SetCable(false);
    ASSERT_TRUE(WaitFor([] { return g_bConnected.load() == 0; }, 10000));
    uint64_t noticed = tova::NominalNowMs() - unplugged;
    // One probe period, plus what a loaded test machine adds to a probe's round trip.
    EXPECT_LE(noticed, 2000u + 500u);

    tova::ScaledSleep(3 * 2000);
    EXPECT_EQ(g_bConnected.load(), 0) << "no handheld, no link";
    EXPECT_TRUE(LinkStartPending()) << "a new connection start waits for the handheld";

    Machine().SetCable(true);
    EXPECT_TRUE(WaitFor([] { return g_bConnected.load() == 1; }, 10000));
}

TEST_F(LinkedHandheld, AResetOfTheHandheldIsSeenAsADropAndAReturn) {
    StartMonitor();
    ASSERT_TRUE(WaitFor([] { return g_bConnected.load() == 1; }, 10000));
    Machine().SetBootDelayMs(20000);  // away long enough for several probes
    uint32_t boots = Machine().BootCount();
    Machine().RequestReset(tova::ResetKind::kWarm);
    EXPECT_TRUE(WaitFor([] { return g_bConnected.load() == 0; }, 10000));
    ASSERT_TRUE(Machine().WaitUntilBootCount(boots + 1, 100000));
    EXPECT_TRUE(WaitFor([] { return g_bConnected.load() == 1; }, 10000));
}

TEST_F(LinkedHandheld, AStartAbandonedWhileTheHandheldWasAwayLeavesTheFlagAlone) {
    Machine().SetCable(false);
    ASSERT_EQ(StartLink(), S_OK);
    ASSERT_TRUE(WaitFor([&] { return Server().Stats().connectionsRefused > 0; }, 10000));
    StopLink();
    Machine().SetCable(true);
    // The abandoned CeRapiInit connects now, but its result must be discarded.
    ASSERT_TRUE(WaitFor([&] { return Server().Stats().connectionsAccepted > 0; }, 10000));
    link_testing::WaitForStartThreads();
    EXPECT_EQ(g_bConnected.load(), 0);
    EXPECT_FALSE(LinkStartPending());
}

// The calls a copy makes: through the serialised wrappers, or straight to the remote API.
struct FileCalls {
    decltype(&CeCreateFile) createFile;
    decltype(&CeWriteFile) writeFile;
    decltype(&CeSetEndOfFile) setEndOfFile;
    decltype(&CeCloseHandle) closeHandle;
    decltype(&CeGetVersionEx) getVersionEx;
};

const FileCalls kWrappers{RapiCreateFile, RapiWriteFile, RapiSetEndOfFile, RapiCloseHandle,
                          RapiGetVersionEx};
const FileCalls kBareCalls{CeCreateFile, CeWriteFile, CeSetEndOfFile, CeCloseHandle,
                           CeGetVersionEx};

// Two threads copy files at once. Each file call is slowed down inside the handheld so that
// two calls in progress together would be seen by the server.
void CopyFiles(int thread, int files, const FileCalls& calls) {
    const uint8_t data[64] = {static_cast<uint8_t>(thread)};
    for (int i = 0; i < files; ++i) {
        std::u16string path = u"\\Temp\\T" + std::u16string(1, u'0' + thread) + u"_" +
                              std::u16string(1, u'0' + i) + u".bin";
        DWORD written = 0;
        HANDLE file = calls.createFile(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
        calls.writeFile(file, data, sizeof data, &written, nullptr);
        calls.setEndOfFile(file);
        calls.closeHandle(file);
        CEOSVERSIONINFO info{};
        calls.getVersionEx(&info);
    }
}

void CopyOnTwoThreads(const FileCalls& calls) {
    std::atomic<bool> go{false};
    auto body = [&](int thread) {
        while (!go.load()) std::this_thread::yield();
        CopyFiles(thread, 3, calls);
    };
    std::thread first(body, 1), second(body, 2);
    go.store(true);
    first.join();
    second.join();
}

TEST_F(LinkedHandheld, TwoThreadsCallingWrappersNeverHaveTwoFileCallsInProgress) {
    ASSERT_EQ(CeRapiInit(), S_OK);
    Server().SetFileCallDelayMs(1000);
    CopyOnTwoThreads(kWrappers);
    auto stats = Server().Stats();
    EXPECT_EQ(stats.fileCalls, 2u * 3u * 5u);
    EXPECT_EQ(stats.peakConcurrentFileCalls, 1u);
    EXPECT_EQ(Machine().Store().ReadFile(u"\\Temp\\T2_2.bin")->size(), 64u);
}

TEST_F(LinkedHandheld, WithoutTheWrappersTheSameCallsDoOverlap) {
    // Shows that the server would see an overlap if the wrappers allowed one.
    ASSERT_EQ(CeRapiInit(), S_OK);
    Server().SetFileCallDelayMs(1000);
    CopyOnTwoThreads(kBareCalls);
    EXPECT_GE(Server().Stats().peakConcurrentFileCalls, 2u);
}

TEST_F(LinkedHandheld, QuiesceWaitsForTheProbeInFlightAndNoProbeFollows) {
    StartMonitor();
    ASSERT_TRUE(WaitFor([] { return g_bConnected.load() == 1; }, 10000));
    Server().SetFileCallDelayMs(1500);
    ASSERT_TRUE(WaitFor([&] { return Server().Stats().fileCallsInProgress == 1; }, 20000))
        << "a probe is under way";

    QuiesceLinkWatchdog();
    EXPECT_EQ(Server().Stats().fileCallsInProgress, 0u) << "quiesce returned mid-probe";
    StopLink();
    win32::DeleteCriticalSection(&g_csRapi);
    uint64_t callsAtQuiesce = Server().Stats().fileCalls;
    g_bConnected.store(1);  // even a stray flag at 1 must not bring a probe back
    tova::ScaledSleep(5 * 2000);
    EXPECT_EQ(Server().Stats().fileCalls, callsAtQuiesce);
    g_bConnected.store(0);
}

TEST_F(LinkedHandheld, StopLinkAfterQuiesceReturnsWithinTheStartWaitAndPause) {
    Machine().SetCable(false);
    StartMonitor();
    ASSERT_TRUE(WaitFor([&] { return Server().Stats().connectionsRefused > 0; }, 10000));
    QuiesceLinkWatchdog();
    uint64_t before = tova::NominalNowMs();
    StopLink();
    uint64_t elapsed = tova::NominalNowMs() - before;
    EXPECT_GE(elapsed, 3000u);
    EXPECT_LT(elapsed, 4500u);
    EXPECT_EQ(g_bConnected.load(), 0);
}

// ---- Service client ------------------------------------------------------------------------

class ServiceClient : public LinkedHandheld {
protected:
    void SetUp() override {
        LinkedHandheld::SetUp();
        handheld_->PlaceLibrary();
        ASSERT_EQ(CeRapiInit(), S_OK);
        desktopBlocks_ = win32::LocalBlocksOutstanding();
        handheldBlocks_ = Machine().OutstandingLocalAllocations();
    }
    void ExpectNothingLeaked() {
        EXPECT_EQ(win32::LocalBlocksOutstanding(), desktopBlocks_) << "desktop blocks";
        EXPECT_EQ(Machine().OutstandingLocalAllocations(), handheldBlocks_) << "handheld blocks";
    }
    static DeviceInfo Prefilled() {
        DeviceInfo info;
        std::memset(&info, 0x5A, sizeof info);
        return info;
    }
    size_t desktopBlocks_ = 0;
    size_t handheldBlocks_ = 0;
};

using Operation = HRESULT (*)();
HRESULT InfoWithRecord() {
    DeviceInfo info{};
    return InvokeFnTOVAInfo(&info);
}

struct OperationCase {
    const char* name;
    Operation call;
};

class EveryOperation : public ServiceClient, public ::testing::WithParamInterface<OperationCase> {};

TEST_P(EveryOperation, SendsTheEightBytesOfAllAndReleasesEveryBlock) {
    EXPECT_EQ(GetParam().call(), S_OK);
    auto call = handheld_->LastCall();
    ASSERT_TRUE(call.has_value());
    const std::vector<uint8_t> expected = {8, 0, 0, 0, 'A', 0, 'L', 0, 'L', 0, 0, 0};
    EXPECT_EQ(*call, expected);
    ExpectNothingLeaked();
}

TEST_P(EveryOperation, PassesAResultOtherThanEFailThroughUnchanged) {
    handheld_->SetMode('C');
    EXPECT_EQ(GetParam().call(), static_cast<HRESULT>(0x8007000D));
    ExpectNothingLeaked();
}

TEST_P(EveryOperation, FailsWithEFailWhenTheInputCannotBeAllocated) {
    win32::FailNextLocalAllocs(1);
    EXPECT_EQ(GetParam().call(), E_FAIL);
    EXPECT_FALSE(handheld_->LastCall().has_value()) << "nothing reached the handheld";
    ExpectNothingLeaked();
}

INSTANTIATE_TEST_SUITE_P(
    ServiceClient, EveryOperation,
    ::testing::Values(OperationCase{"FnTOVAInfo", InfoWithRecord},
                      OperationCase{"FnTOVAInfoWithoutRecord", [] { return InvokeFnTOVAInfo(nullptr); }},
                      OperationCase{"ColdReset", InvokeColdReset},
                      OperationCase{"WarmReset", InvokeWarmReset},
                      OperationCase{"IsCheckSumOk", InvokeIsCheckSumOk}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ServiceClient, CopiesOnlyTheFirst72BytesOfTheRecord) {
    DeviceInfo info = Prefilled();
    ASSERT_EQ(InvokeFnTOVAInfo(&info), S_OK);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&info);
    for (size_t i = 0; i < sizeof info; ++i) {
        uint8_t expected = i < kDeviceInfoDesktopBytes ? static_cast<uint8_t>(0xA0 + i) : 0x5A;
        ASSERT_EQ(bytes[i], expected) << "byte " << i;
    }
    ExpectNothingLeaked();
}

struct FailedInfoCase {
    const char* name;
    char mode;
    bool placeLibrary;
    HRESULT expected;
};

class FailedInfo : public ServiceClient, public ::testing::WithParamInterface<FailedInfoCase> {};

TEST_P(FailedInfo, LeavesTheCallersRecordExactlyAsItWas) {
    const FailedInfoCase& c = GetParam();
    if (!c.placeLibrary) {
        ASSERT_TRUE(Machine().Store().RemoveFile(u"\\Windows\\HARLIX.DLL"));
    }
    handheld_->SetMode(c.mode);
    DeviceInfo info = Prefilled();
    const DeviceInfo before = info;
    EXPECT_EQ(InvokeFnTOVAInfo(&info), c.expected);
    EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0);
    ExpectNothingLeaked();
}

INSTANTIATE_TEST_SUITE_P(
    ServiceClient, FailedInfo,
    ::testing::Values(
        // The export fails but still hands back a record: it must not be copied.
        FailedInfoCase{"FailureWithOutput", 'F', true, E_FAIL},
        FailedInfoCase{"OtherFailure", 'C', true, static_cast<HRESULT>(0x8007000D)},
        FailedInfoCase{"MissingLibrary", 'N', false, HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)},
        // Success with a record too short to copy is refused rather than read past its end.
        FailedInfoCase{"ShortOutput", 'S', true, E_FAIL},
        FailedInfoCase{"NoOutput", 'Z', true, E_FAIL}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ServiceClient, ANullRecordStillMakesTheCallAndCopiesNothing) {
    handheld_->SetMode('S');  // whatever comes back is not needed without a record
    EXPECT_EQ(InvokeFnTOVAInfo(nullptr), S_OK);
    EXPECT_TRUE(handheld_->LastCall().has_value());
    ExpectNothingLeaked();
}

TEST_F(ServiceClient, ChecksumVerificationReportsEFailUnchanged) {
    handheld_->SetMode('E');
    EXPECT_EQ(InvokeIsCheckSumOk(), E_FAIL);
}

TEST_F(ServiceClient, ALostLinkComesBackAsAFailureAndTheRecordStaysUntouched) {
    Machine().SetCable(false);
    DeviceInfo info = Prefilled();
    const DeviceInfo before = info;
    HRESULT result = InvokeFnTOVAInfo(&info);
    EXPECT_TRUE(FAILED(result));
    EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0);
    ExpectNothingLeaked();
}

}  // namespace
