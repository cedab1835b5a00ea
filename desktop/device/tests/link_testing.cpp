#include "link_testing.h"

#include <condition_variable>
#include <mutex>

#include "desktop/device/link.h"
#include "desktop/device/link_system.h"

namespace link_testing {
namespace {

// The test's link system: the real one with its connection call replaceable, its threads
// counted (and made to fail on request) and its watchdog pause ended on request.
struct TestSystem {
    TestSystem() { UseLinkSystem(System()); }

    LinkSystem System() {
        LinkSystem real = RealLinkSystem();
        LinkSystem system;
        system.connect = [this, connect = real.connect] {
            std::function<HRESULT()> hook;
            {
                std::lock_guard lock(mutex);
                hook = initHook;
            }
            return hook ? hook() : connect();
        };
        system.startThread = [this, startThread = real.startThread](std::function<void()> body) {
            std::lock_guard lock(mutex);
            if (threadCreationFails) return false;
            bool started = startThread([this, body = std::move(body)] {
                body();
                std::lock_guard lock(mutex);
                --liveThreads;
                threadEnded.notify_all();
            });
            if (started) {
                ++threadsCreated;
                ++liveThreads;
            }
            return started;
        };
        system.watchdogPause = [this](std::chrono::nanoseconds pause) {
            std::unique_lock lock(mutex);
            stopWake.wait_for(lock, pause, [&] { return stopRequested; });
            return !stopRequested;
        };
        return system;
    }

    std::mutex mutex;
    std::function<HRESULT()> initHook;
    bool threadCreationFails = false;
    uint32_t threadsCreated = 0;
    uint32_t liveThreads = 0;
    std::condition_variable threadEnded;
    bool stopRequested = false;
    std::condition_variable stopWake;
};

// Never destroyed, and in place before any test starts the monitor: abandoned
// connection-start threads may still count themselves out while the program ends.
TestSystem& TheTestSystem() {
    static auto* system = new TestSystem;
    return *system;
}
const bool kInstalled = (TheTestSystem(), true);

}  // namespace

void SetRapiInitHook(std::function<HRESULT()> hook) {
    TestSystem& system = TheTestSystem();
    std::lock_guard lock(system.mutex);
    system.initHook = std::move(hook);
}

void SetThreadCreationFails(bool fails) {
    TestSystem& system = TheTestSystem();
    std::lock_guard lock(system.mutex);
    system.threadCreationFails = fails;
}

uint32_t LinkStartThreadsCreated() {
    TestSystem& system = TheTestSystem();
    std::lock_guard lock(system.mutex);
    return system.threadsCreated;
}

void StopWatchdog() {
    TestSystem& system = TheTestSystem();
    {
        std::lock_guard lock(system.mutex);
        system.stopRequested = true;
    }
    system.stopWake.notify_all();
}

void WaitForStartThreads() {
    TestSystem& system = TheTestSystem();
    std::unique_lock lock(system.mutex);
    system.threadEnded.wait(lock, [&] { return system.liveThreads == 0; });
}

void Reset() {
    TestSystem& system = TheTestSystem();
    CeRapiUninit();
    WaitForStartThreads();
    {
        std::lock_guard lock(system.mutex);
        system.initHook = nullptr;
        system.threadCreationFails = false;
        system.threadsCreated = 0;
        system.stopRequested = false;
    }
    // Every start has ended, so nothing else touches the monitor's state now.
    g_linkStartThread.reset();
    g_linkWatchdogQuiesced.store(false);
    g_bConnected.store(0);
}

}  // namespace link_testing
