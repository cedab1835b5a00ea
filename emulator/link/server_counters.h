// What the link server counts for tests, and the file-call delay instrument.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "emulator/link/link_server.h"

namespace tova::link {

class ServerCounters {
public:
    void Accepted() { ++accepted_; }
    void Refused() { ++refused_; }
    void ProtocolError() { ++protocolErrors_; }
    void IdleClosed() { ++idleClosed_; }
    void Invocation() { ++invocations_; }

    // Brackets one file call; the delay instrument runs inside the bracket.
    void BeginFileCall();
    void EndFileCall();
    void SetFileCallDelayMs(uint32_t ms) { delayMs_ = ms; }
    // Waits the instrument's delay; a link drop or stop (CutDelays) ends it early.
    void DelayFileCall();
    void CutDelays();

    LinkServerStats Snapshot() const;

private:
    std::atomic<uint64_t> accepted_{0};
    std::atomic<uint64_t> refused_{0};
    std::atomic<uint64_t> protocolErrors_{0};
    std::atomic<uint64_t> idleClosed_{0};
    std::atomic<uint64_t> fileCalls_{0};
    std::atomic<uint64_t> invocations_{0};
    std::atomic<uint32_t> delayMs_{0};

    mutable std::mutex mutex_;
    std::condition_variable cut_;
    uint64_t cutEpoch_ = 0;
    uint32_t inProgress_ = 0;
    uint32_t peak_ = 0;
};

}  // namespace tova::link
