// The link monitor's own rules, with CeRapiInit replaced through the seam so that each
// connection start returns what the case needs, when the case says.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "desktop/device/link.h"
#include "link_testing.h"
#include "link_state_fixture.h"
#include "platform/clock/clock.h"

namespace {

using desktop_link_test::LinkStateTest;
using desktop_link_test::WaitFor;

// A connection start that blocks until the test lets it return a chosen result.
class HeldStart {
public:
    std::function<HRESULT()> Hook() {
        return [this] {
            std::unique_lock lock(mutex_);
            ++entered_;
            changed_.notify_all();
            changed_.wait(lock, [&] { return released_; });
            return result_;
        };
    }
    void Release(HRESULT result) {
        std::lock_guard lock(mutex_);
        result_ = result;
        released_ = true;
        changed_.notify_all();
    }
    void WaitEntered(int count) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return entered_ >= count; });
    }
    int Entered() {
        std::lock_guard lock(mutex_);
        return entered_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int entered_ = 0;
    bool released_ = false;
    HRESULT result_ = S_OK;
};

class LinkMonitor : public LinkStateTest {
protected:
    void ReleaseHeldCalls() override { held_.Release(E_FAIL); }

    // The monitor and its watchdog running, every connection start succeeding at once and
    // counted in starts_. Nothing listens for the probe, so every probe fails.
    void StartProbingWithCountedStarts() {
        link_testing::SetRapiInitHook([this] {
            ++starts_;
            return S_OK;
        });
        ASSERT_EQ(StartLink(), S_OK);
        StartWatchdog();
    }

    HeldStart held_;
    std::atomic<int> starts_{0};
};

TEST_F(LinkMonitor, StartWhileAStartIsPendingCreatesNoSecondThread) {
    link_testing::SetRapiInitHook(held_.Hook());
    EXPECT_EQ(StartLink(), S_OK);
    held_.WaitEntered(1);
    EXPECT_EQ(StartLink(), S_OK);
    EXPECT_EQ(StartLink(), S_OK);
    EXPECT_EQ(link_testing::LinkStartThreadsCreated(), 1u);
    EXPECT_TRUE(LinkStartPending());

    held_.Release(S_OK);
    link_testing::WaitForStartThreads();
    EXPECT_EQ(held_.Entered(), 1);
    EXPECT_EQ(g_bConnected.load(), 1);
    EXPECT_FALSE(LinkStartPending()) << "the start clears its own handle when it returns";
}

struct InitResultCase {
    HRESULT result;
    int32_t flag;
};

class InitResult : public LinkMonitor, public ::testing::WithParamInterface<InitResultCase> {};

TEST_P(InitResult, OnlyEFailCountsAsNoConnection) {
    HRESULT result = GetParam().result;
    link_testing::SetRapiInitHook([result] { return result; });
    g_bConnected.store(GetParam().flag == 1 ? 0 : 1);  // the start must overwrite it
    ASSERT_EQ(StartLink(), S_OK);
    link_testing::WaitForStartThreads();
    EXPECT_EQ(g_bConnected.load(), GetParam().flag);
}

INSTANTIATE_TEST_SUITE_P(
    LinkMonitor, InitResult,
    ::testing::Values(InitResultCase{S_OK, 1}, InitResultCase{E_FAIL, 0},
                      InitResultCase{CERAPI_E_ALREADYINITIALIZED, 1},
                      InitResultCase{static_cast<HRESULT>(0x80004004), 1},  // E_ABORT
                      InitResultCase{static_cast<HRESULT>(0x8007274D), 1},  // refused
                      InitResultCase{static_cast<HRESULT>(1), 1}));         // S_FALSE

TEST_F(LinkMonitor, StopWithNothingPendingClearsTheFlagWithoutPausing) {
    g_bConnected.store(1);
    uint64_t before = tova::NominalNowMs();
    StopLink();
    uint64_t elapsed = tova::NominalNowMs() - before;
    EXPECT_EQ(g_bConnected.load(), 0);
    EXPECT_LT(elapsed, 1000u) << "the 2000 ms pause belongs only to a pending start";
}

TEST_F(LinkMonitor, AnAbandonedStartNeverChangesTheFlagAfterwards) {
    link_testing::SetRapiInitHook(held_.Hook());
    ASSERT_EQ(StartLink(), S_OK);
    held_.WaitEntered(1);

    uint64_t before = tova::NominalNowMs();
    StopLink();
    uint64_t elapsed = tova::NominalNowMs() - before;
    EXPECT_GE(elapsed, 3000u) << "1000 ms of waiting and the 2000 ms pause";
    EXPECT_LT(elapsed, 4500u) << "StopLink must not wait for the abandoned start";
    EXPECT_FALSE(LinkStartPending());

    held_.Release(S_OK);
    link_testing::WaitForStartThreads();
    EXPECT_EQ(g_bConnected.load(), 0);
}

TEST_F(LinkMonitor, AStartThatReturnsDuringStopsWaitIsDiscardedToo) {
    tova::SetTimeScale(0.1);
    link_testing::SetRapiInitHook(held_.Hook());
    ASSERT_EQ(StartLink(), S_OK);
    held_.WaitEntered(1);
    std::thread releaser([this] {
        tova::ScaledSleep(100);
        held_.Release(S_OK);
    });
    StopLink();
    releaser.join();
    link_testing::WaitForStartThreads();
    EXPECT_EQ(g_bConnected.load(), 0);
}

TEST_F(LinkMonitor, AStartAfterStopConnectsAgain) {
    link_testing::SetRapiInitHook(held_.Hook());
    ASSERT_EQ(StartLink(), S_OK);
    held_.WaitEntered(1);
    StopLink();
    link_testing::SetRapiInitHook([] { return S_OK; });
    ASSERT_EQ(StartLink(), S_OK);
    ASSERT_TRUE(WaitFor([] { return g_bConnected.load() == 1; }, 5000));
    held_.Release(E_FAIL);
    link_testing::WaitForStartThreads();
    EXPECT_EQ(g_bConnected.load(), 1) << "the abandoned start's E_FAIL must not reach the flag";
}

TEST_F(LinkMonitor, AThreadThatCannotBeCreatedFailsTheStartAndClearsTheFlag) {
    g_bConnected.store(1);
    link_testing::SetThreadCreationFails(true);
    EXPECT_EQ(StartLink(), E_FAIL);
    EXPECT_EQ(g_bConnected.load(), 0);
    EXPECT_FALSE(LinkStartPending());
    EXPECT_EQ(link_testing::LinkStartThreadsCreated(), 0u);
}

TEST_F(LinkMonitor, AfterEFailTheWatchdogNeverRetries) {
    link_testing::SetRapiInitHook([] { return E_FAIL; });
    ASSERT_EQ(StartLink(), S_OK);
    StartWatchdog();
    link_testing::WaitForStartThreads();
    tova::ScaledSleep(5 * 2000);  // five probe periods
    EXPECT_EQ(g_bConnected.load(), 0);
    EXPECT_EQ(link_testing::LinkStartThreadsCreated(), 1u);
}

TEST_F(LinkMonitor, AFailedProbeDropsTheFlagAndStartsAgain) {
    ASSERT_NO_FATAL_FAILURE(StartProbingWithCountedStarts());
    ASSERT_TRUE(WaitFor([&] { return starts_.load() >= 3; }, 20000));
    EXPECT_GE(link_testing::LinkStartThreadsCreated(), 3u);
}

TEST_F(LinkMonitor, QuiesceStopsEveryProbeSoTheLockCanBeDeleted) {
    ASSERT_NO_FATAL_FAILURE(StartProbingWithCountedStarts());
    ASSERT_TRUE(WaitFor([&] { return starts_.load() >= 2; }, 20000)) << "the watchdog is probing";

    QuiesceLinkWatchdog();
    StopLink();
    link_testing::WaitForStartThreads();
    int startsAtQuiesce = starts_.load();
    // A probe after this would enter a deleted section and abort the test program.
    win32::DeleteCriticalSection(&g_csRapi);
    g_bConnected.store(1);  // even a flag at 1 must not make it probe again
    tova::ScaledSleep(5 * 2000);
    EXPECT_EQ(starts_.load(), startsAtQuiesce);
    g_bConnected.store(0);
}

}  // namespace
