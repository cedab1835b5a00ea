#include "handheld_watchdog.h"

#include <gtest/gtest.h>

#include "platform/clock/clock.h"
#include "emulator/hw/flash.h"

namespace tova::testing {

namespace {
constexpr auto kLookEvery = std::chrono::milliseconds(5);

#if defined(__SANITIZE_THREAD__)
constexpr int kSanitizerSlowdown = 4;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr int kSanitizerSlowdown = 4;
#else
constexpr int kSanitizerSlowdown = 1;
#endif
#else
constexpr int kSanitizerSlowdown = 1;
#endif
}  // namespace

HandheldWatchdog::HandheldWatchdog(Machine& machine, WatchdogBudget budget)
    : machine_(machine),
      budget_(budget),
      startNominalMs_(NominalNowMs()),
      thread_([this] { Watch(); }) {}

HandheldWatchdog::~HandheldWatchdog() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    stopped_.notify_all();
    thread_.join();
    if (Fired()) ADD_FAILURE() << "the watchdog cut the handheld's power: " << Reason();
}

bool HandheldWatchdog::Fired() const {
    std::lock_guard lock(mutex_);
    return !reason_.empty();
}

std::string HandheldWatchdog::Reason() const {
    std::lock_guard lock(mutex_);
    return reason_;
}

bool HandheldWatchdog::Await(const std::function<bool()>& done) const {
    while (!done()) {
        if (Fired()) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void HandheldWatchdog::Watch() {
    const auto deadline = std::chrono::steady_clock::now() + budget_.realLimit * kSanitizerSlowdown;
    std::unique_lock lock(mutex_);
    while (!stopped_.wait_for(lock, kLookEvery, [this] { return stop_; })) {
        std::string reason = OverBudget(deadline);
        if (reason.empty()) continue;
        reason_ = reason;
        lock.unlock();
        machine_.PowerCut();
        return;
    }
}

std::string HandheldWatchdog::OverBudget(std::chrono::steady_clock::time_point deadline) const {
    if (budget_.erasesOfOneBlock != 0) {
        hw::FlashModel& flash = machine_.Flash();
        for (unsigned chip = 0; chip < hw::kFlashChipCount; ++chip)
            for (uint32_t block = 0; block < hw::kFlashBlockCount; ++block)
                if (flash.EraseCount(chip, block) > budget_.erasesOfOneBlock)
                    return "block " + std::to_string(block) + " of chip " + std::to_string(chip) +
                           " erased more than " + std::to_string(budget_.erasesOfOneBlock) +
                           " times: the flasher keeps retrying a fault it does not get past";
    }
    std::string nominal = OverNominalLimit();
    if (!nominal.empty()) return nominal;
    if (std::chrono::steady_clock::now() >= deadline)
        return "still running after " + std::to_string(budget_.realLimit.count() * kSanitizerSlowdown) +
               " s of real time (under a sanitizer a run takes seconds)";
    return {};
}

std::string HandheldWatchdog::OverNominalLimit() const {
    if (budget_.nominalLimitMs == 0) return {};
    const uint64_t now = NominalNowMs();
    if (now < startNominalMs_ || now - startNominalMs_ < budget_.nominalLimitMs) return {};
    return "still running after " + std::to_string(budget_.nominalLimitMs) +
           " nominal ms on the scaled clock";
}

}  // namespace tova::testing
