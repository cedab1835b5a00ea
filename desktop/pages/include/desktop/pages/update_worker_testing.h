// Seams of the update worker for tests. The program itself never calls these.
#pragma once

#include <functional>

#include "desktop/pages/worker_thread.h"

namespace update_worker_testing {

// The steps of the page's threads, as they begin.
enum class Step {
    kHold,
    kWaitForLink,
    kShowProgress,
    kCopyServiceLibrary,
    kCopySegments,
    kCheckLinkAfterSegments,
    kDeleteOutlookShortcut,
    kDeleteWelcomeShortcut,
    kCheckLinkAfterShortcuts,
    kCopyFlasher,
    kCopyDone,
    kVerify,
    kWarmReset,
    kWaitForLinkLoss,
    kHandOver,
    kColdReset,   // after a failed copy or verification
    kShowFailure,
    kCheckReturnedRom,  // the page's check of the handheld that came back
};

// Called on the worker thread as each step begins; it may block, to make the handheld
// change at that moment. An empty function removes it.
void SetStepHook(std::function<void(Step)> hook);
// Every thread the page starts from now on (the update worker, the check of the returned
// handheld) runs `procedure` instead of its own: a page whose threads do only what the
// test says, with nothing behind them. An empty function gives them their own back.
void SetThreadProcedure(WorkerProcedure procedure);
// Makes the next threads of the page fail to start, as when the system has no threads left.
void SetThreadCreationFails(bool fails);

}  // namespace update_worker_testing
