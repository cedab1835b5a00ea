// The desktop's link state around one test of the link monitor: the scaled clock fast and
// g_csRapi created, as the start-up creates it; afterwards the watchdog stopped, every
// connection-start thread ended, the seams removed and the section deleted, so that the
// next test finds the monitor as a fresh program has it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>

#include "desktop/device/link.h"
#include "link_testing.h"
#include "platform/clock/clock.h"

namespace desktop_link_test {

// Polls on the scaled clock until `done` holds or `nominalMs` have passed.
template <typename Predicate>
bool WaitFor(Predicate done, uint64_t nominalMs) {
    uint64_t deadline = tova::NominalNowMs() + nominalMs;
    while (!done()) {
        if (tova::NominalNowMs() > deadline) return false;
        tova::ScaledSleep(5);
    }
    return true;
}

class LinkStateTest : public ::testing::Test {
protected:
    void SetUp() override {
        tova::SetTimeScale(0.01);
        win32::InitializeCriticalSection(&g_csRapi);
    }
    void TearDown() override {
        if (watchdog_.joinable()) {
            link_testing::StopWatchdog();
            watchdog_.join();
        }
        ReleaseHeldCalls();
        link_testing::Reset();
        if (g_csRapi.impl.load() != nullptr) win32::DeleteCriticalSection(&g_csRapi);
    }
    // Lets go of calls the test holds up, once the watchdog has stopped: the reset waits
    // for every connection-start thread to end.
    virtual void ReleaseHeldCalls() {}

    void StartWatchdog() { watchdog_ = std::thread(LinkWatchdogThread); }

    std::thread watchdog_;
};

}  // namespace desktop_link_test
