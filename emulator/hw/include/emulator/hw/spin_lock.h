// A lock for state that one thread touches millions of times a second and others only
// now and then: taking it is one atomic exchange and releasing it a plain store, where a
// mutex pays for two atomic operations on every access. A waiter spins briefly, then
// yields its core, so a long holder (a state save) does not burn the other core.
#pragma once

#include <atomic>
#include <thread>

namespace tova::hw {

class SpinLock {
public:
    void lock() {
        for (unsigned round = 0; held_.exchange(true, std::memory_order_acquire); ++round) {
            while (held_.load(std::memory_order_relaxed)) {
                if (round++ > 64) std::this_thread::yield();
            }
        }
    }
    bool try_lock() { return !held_.exchange(true, std::memory_order_acquire); }
    void unlock() { held_.store(false, std::memory_order_release); }

private:
    std::atomic<bool> held_{false};
};

}  // namespace tova::hw
