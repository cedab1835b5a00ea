// A guard for tests whose device code may never end on a fault: the flasher retries a
// failing flash write for ever, as it must, and the model detection asks until it gets an
// answer. When the handheld goes past its budget the watchdog cuts its power, which ends
// every device thread of that boot, and the test fails with the reason within seconds
// instead of hanging until the test runner's time-out.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "emulator/machine.h"

namespace tova::testing {

struct WatchdogBudget {
    // Erases of one block by one chip; past it the flasher is retrying a fault it does not
    // get past. 0: not watched.
    uint32_t erasesOfOneBlock = 0;
    // Nominal milliseconds on the scaled clock (at scale 0 it never runs out). 0: not watched.
    uint64_t nominalLimitMs = 0;
    // A stop for what no count shows (a poll loop that never ends). The runs it guards take
    // a second or two; it is no measure of their speed, and it holds at any clock scale,
    // scale 0 included. Under ThreadSanitizer it is four times as long: a whole update
    // there takes half a minute.
    std::chrono::seconds realLimit{45};
};

class HandheldWatchdog {
public:
    HandheldWatchdog(Machine& machine, WatchdogBudget budget);
    // Stops watching; a watchdog that fired fails the running test with its reason.
    ~HandheldWatchdog();
    HandheldWatchdog(const HandheldWatchdog&) = delete;
    HandheldWatchdog& operator=(const HandheldWatchdog&) = delete;

    bool Fired() const;
    std::string Reason() const;
    // Looks at `done` every few milliseconds until it holds (true) or the watchdog fires
    // (false).
    bool Await(const std::function<bool()>& done) const;

private:
    void Watch();
    std::string OverBudget(std::chrono::steady_clock::time_point deadline) const;
    std::string OverNominalLimit() const;

    Machine& machine_;
    const WatchdogBudget budget_;
    const uint64_t startNominalMs_;
    mutable std::mutex mutex_;
    std::condition_variable stopped_;
    bool stop_ = false;
    std::string reason_;
    std::thread thread_;
};

}  // namespace tova::testing
