#include "desktop/link.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

#include "desktop/link_testing.h"
#include "desktop/rapi_calls.h"
#include "platform/clock.h"

std::atomic<int32_t> g_bConnected{0};
win32::CRITICAL_SECTION g_csRapi;
std::shared_ptr<LinkStart> g_linkStartThread;
CEOSVERSIONINFO g_linkProbeVersion{sizeof(CEOSVERSIONINFO)};

struct LinkStart {
    std::mutex mutex;
    std::condition_variable finishedChanged;
    bool finished = false;
    // Set by StopLink: whatever CeRapiInit returns from now on is discarded.
    bool abandoned = false;
};

namespace {

constexpr uint64_t kStartWaitMs = 1000;
constexpr uint64_t kStopPauseMs = 2000;
constexpr uint64_t kProbePeriodMs = 2000;

struct Monitor {
    std::mutex startLock;  // guards g_linkStartThread and the seams below
    std::function<HRESULT()> initHook;
    bool threadCreationFails = false;
    uint32_t threadsCreated = 0;
    uint32_t liveStartThreads = 0;
    std::condition_variable startThreadEnded;

    // Held by the watchdog for a probe and the restart that follows it.
    std::mutex watchdogGate;
    std::atomic<bool> quiesced{false};

    std::mutex stopMutex;
    std::condition_variable stopWake;
    bool stopRequested = false;
};

// Never destroyed: connection-start threads are detached and may outlive main.
Monitor& TheMonitor() {
    static auto* monitor = new Monitor;
    return *monitor;
}

void StartThreadBody(std::shared_ptr<LinkStart> start) {
    LinkStartThread(std::move(start));
    Monitor& monitor = TheMonitor();
    std::lock_guard lock(monitor.startLock);
    --monitor.liveStartThreads;
    monitor.startThreadEnded.notify_all();
}

// The watchdog's 2000 ms pause; false once a test has asked the watchdog to stop.
bool WatchdogPause() {
    Monitor& monitor = TheMonitor();
    // At time scale 0 the pause is still a real yield, so the loop never spins flat out.
    auto pause = std::max<std::chrono::nanoseconds>(tova::ScaledMs(kProbePeriodMs),
                                                    std::chrono::milliseconds(1));
    std::unique_lock lock(monitor.stopMutex);
    monitor.stopWake.wait_for(lock, pause, [&] { return monitor.stopRequested; });
    return !monitor.stopRequested;
}

bool WatchdogStopRequested() {
    Monitor& monitor = TheMonitor();
    std::lock_guard lock(monitor.stopMutex);
    return monitor.stopRequested;
}

void ProbeOnce() {
    Monitor& monitor = TheMonitor();
    std::lock_guard gate(monitor.watchdogGate);
    if (monitor.quiesced.load() || g_bConnected.load() != 1) return;
    if (RapiGetVersionEx(&g_linkProbeVersion) != 0) return;
    g_bConnected.store(0);
    StopLink();
    if (!monitor.quiesced.load()) StartLink();
}

}  // namespace

HRESULT StartLink() {
    Monitor& monitor = TheMonitor();
    std::lock_guard lock(monitor.startLock);
    if (g_linkStartThread) return S_OK;
    auto start = std::make_shared<LinkStart>();
    try {
        if (monitor.threadCreationFails) {
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        }
        // Detached: an abandoned start must be able to outlive StopLink.
        std::thread(StartThreadBody, start).detach();
    } catch (const std::system_error&) {
        g_bConnected.store(0);
        return E_FAIL;
    }
    ++monitor.threadsCreated;
    ++monitor.liveStartThreads;
    g_linkStartThread = std::move(start);
    return S_OK;
}

void StopLink() {
    Monitor& monitor = TheMonitor();
    std::shared_ptr<LinkStart> start;
    {
        std::lock_guard lock(monitor.startLock);
        start = g_linkStartThread;
    }
    if (start) {
        std::lock_guard lock(start->mutex);
        start->abandoned = true;
    }
    g_bConnected.store(0);
    if (!start) return;
    {
        std::unique_lock lock(start->mutex);
        start->finishedChanged.wait_for(lock, tova::ScaledMs(kStartWaitMs),
                                        [&] { return start->finished; });
    }
    {
        std::lock_guard lock(monitor.startLock);
        if (g_linkStartThread == start) g_linkStartThread.reset();
    }
    tova::ScaledSleep(kStopPauseMs);
}

uint32_t LinkStartThread(std::shared_ptr<LinkStart> start) {
    Monitor& monitor = TheMonitor();
    std::function<HRESULT()> init;
    {
        std::lock_guard lock(monitor.startLock);
        init = monitor.initHook;
    }
    HRESULT result = init ? init() : CeRapiInit();
    {
        std::lock_guard lock(start->mutex);
        if (!start->abandoned) g_bConnected.store(result == E_FAIL ? 0 : 1);
        start->finished = true;
    }
    start->finishedChanged.notify_all();
    std::lock_guard lock(monitor.startLock);
    if (g_linkStartThread == start) g_linkStartThread.reset();
    return 0;
}

void LinkWatchdogThread() {
    do {
        if (WatchdogStopRequested()) return;
        ProbeOnce();
    } while (WatchdogPause());
}

void QuiesceLinkWatchdog() {
    Monitor& monitor = TheMonitor();
    monitor.quiesced.store(true);
    // Waits out a probe or restart already under way; later ones see the flag.
    std::lock_guard gate(monitor.watchdogGate);
}

bool LinkStartPending() {
    Monitor& monitor = TheMonitor();
    std::lock_guard lock(monitor.startLock);
    return g_linkStartThread != nullptr;
}

namespace link_testing {

void SetRapiInitHook(std::function<HRESULT()> hook) {
    Monitor& monitor = TheMonitor();
    std::lock_guard lock(monitor.startLock);
    monitor.initHook = std::move(hook);
}

void SetThreadCreationFails(bool fails) {
    Monitor& monitor = TheMonitor();
    std::lock_guard lock(monitor.startLock);
    monitor.threadCreationFails = fails;
}

uint32_t LinkStartThreadsCreated() {
    Monitor& monitor = TheMonitor();
    std::lock_guard lock(monitor.startLock);
    return monitor.threadsCreated;
}

void StopWatchdog() {
    Monitor& monitor = TheMonitor();
    {
        std::lock_guard lock(monitor.stopMutex);
        monitor.stopRequested = true;
    }
    monitor.stopWake.notify_all();
}

void WaitForStartThreads() {
    Monitor& monitor = TheMonitor();
    std::unique_lock lock(monitor.startLock);
    monitor.startThreadEnded.wait(lock, [&] { return monitor.liveStartThreads == 0; });
}

void Reset() {
    Monitor& monitor = TheMonitor();
    CeRapiUninit();
    WaitForStartThreads();
    {
        std::lock_guard lock(monitor.startLock);
        g_linkStartThread.reset();
        monitor.initHook = nullptr;
        monitor.threadCreationFails = false;
        monitor.threadsCreated = 0;
    }
    {
        std::lock_guard lock(monitor.stopMutex);
        monitor.stopRequested = false;
    }
    monitor.quiesced.store(false);
    g_bConnected.store(0);
}

}  // namespace link_testing
