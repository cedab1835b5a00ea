#include "desktop/device/link.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "desktop/device/link_system.h"
#include "desktop/device/rapi_calls.h"
#include "platform/clock/clock.h"

std::atomic<int32_t> g_bConnected{0};
win32::CRITICAL_SECTION g_csRapi;
std::shared_ptr<LinkStart> g_linkStartThread;
CEOSVERSIONINFO g_linkProbeVersion{sizeof(CEOSVERSIONINFO)};
std::atomic<bool> g_linkWatchdogQuiesced{false};

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
    std::mutex startLock;  // guards g_linkStartThread
    // Held by the watchdog for a probe and the restart that follows it.
    std::mutex watchdogGate;
};

// Never destroyed: connection-start threads are detached and may outlive main.
Monitor& TheMonitor() {
    static auto* monitor = new Monitor;
    return *monitor;
}

// The watchdog's 2000 ms pause; false when the watchdog must return.
bool WatchdogPause() {
    // At time scale 0 the pause is still a real yield, so the loop never spins flat out.
    auto pause = std::max<std::chrono::nanoseconds>(tova::ScaledMs(kProbePeriodMs),
                                                    std::chrono::milliseconds(1));
    return CurrentLinkSystem().watchdogPause(pause);
}

void ProbeOnce() {
    Monitor& monitor = TheMonitor();
    std::lock_guard gate(monitor.watchdogGate);
    if (g_linkWatchdogQuiesced.load() || !LinkIsUp()) return;
    if (RapiGetVersionEx(&g_linkProbeVersion) != 0) return;
    g_bConnected.store(0);
    StopLink();
    if (!g_linkWatchdogQuiesced.load()) StartLink();
}

}  // namespace

HRESULT StartLink() {
    Monitor& monitor = TheMonitor();
    std::lock_guard lock(monitor.startLock);
    if (g_linkStartThread) return S_OK;
    auto start = std::make_shared<LinkStart>();
    // Detached: an abandoned start must be able to outlive StopLink.
    if (!CurrentLinkSystem().startThread([start] { LinkStartThread(start); })) {
        g_bConnected.store(0);
        return E_FAIL;
    }
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
    HRESULT result = CurrentLinkSystem().connect();
    {
        std::lock_guard lock(start->mutex);
        if (!start->abandoned) g_bConnected.store(result == E_FAIL ? 0 : 1);
        start->finished = true;
    }
    start->finishedChanged.notify_all();
    std::lock_guard lock(TheMonitor().startLock);
    if (g_linkStartThread == start) g_linkStartThread.reset();
    return 0;
}

void LinkWatchdogThread() {
    // A zero pause first: a watchdog told to return before it began probes nothing.
    if (!CurrentLinkSystem().watchdogPause(std::chrono::nanoseconds(0))) return;
    do ProbeOnce();
    while (WatchdogPause());
}

void QuiesceLinkWatchdog() {
    g_linkWatchdogQuiesced.store(true);
    // Waits out a probe or restart already under way; later ones see the flag.
    std::lock_guard gate(TheMonitor().watchdogGate);
}

bool LinkStartPending() {
    Monitor& monitor = TheMonitor();
    std::lock_guard lock(monitor.startLock);
    return g_linkStartThread != nullptr;
}
