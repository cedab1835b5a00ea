#include "server_counters.h"

#include <algorithm>

#include "platform/clock/clock.h"

namespace tova::link {

void ServerCounters::BeginFileCall() {
    ++fileCalls_;
    std::lock_guard lock(mutex_);
    ++inProgress_;
    peak_ = std::max(peak_, inProgress_);
}

void ServerCounters::EndFileCall() {
    std::lock_guard lock(mutex_);
    --inProgress_;
}

void ServerCounters::DelayFileCall() {
    uint32_t ms = delayMs_.load();
    if (ms == 0) return;
    std::unique_lock lock(mutex_);
    uint64_t epoch = cutEpoch_;
    cut_.wait_for(lock, tova::ScaledMs(ms), [&] { return cutEpoch_ != epoch; });
}

void ServerCounters::CutDelays() {
    {
        std::lock_guard lock(mutex_);
        ++cutEpoch_;
    }
    cut_.notify_all();
}

LinkServerStats ServerCounters::Snapshot() const {
    LinkServerStats stats;
    stats.connectionsAccepted = accepted_.load();
    stats.connectionsRefused = refused_.load();
    stats.protocolErrors = protocolErrors_.load();
    stats.idleClosed = idleClosed_.load();
    stats.fileCalls = fileCalls_.load();
    stats.invocations = invocations_.load();
    std::lock_guard lock(mutex_);
    stats.peakConcurrentFileCalls = peak_;
    stats.fileCallsInProgress = inProgress_;
    return stats;
}

}  // namespace tova::link
