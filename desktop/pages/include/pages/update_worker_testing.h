// Seams of the update worker for tests. The program itself never calls these.
#pragma once

#include <functional>

namespace update_worker_testing {

// The steps of the worker, as they begin.
enum class Step {
    kHold,
    kWaitForLink,
    kShowProgress,
    kCopyServiceLibrary,
    kCopySegments,
    kCheckLinkAfterSegments,
    kDeleteShortcuts,
    kCheckLinkAfterShortcuts,
    kCopyFlasher,
    kCopyDone,
    kVerify,
    kWarmReset,
    kWaitForLinkLoss,
    kHandOver,
    kColdReset,   // after a failed copy or verification
    kShowFailure,
};

// Called on the worker thread as each step begins; it may block, to make the handheld
// change at that moment. An empty function removes it.
void SetStepHook(std::function<void(Step)> hook);
// Makes the next worker threads fail to start, as when the system has no threads left.
void SetThreadCreationFails(bool fails);

}  // namespace update_worker_testing
