// The application object of `setup`: its start-up routine brings the link up, waits one
// second for the handheld, runs the wizard's pages one after another as modal dialogs and
// stops the link when the sequence ends, for whatever reason.
#pragma once

#include <functional>

#include "platform/ui/ui_host.h"

// How the start-up begins the link watchdog: on a thread of its own that runs for the life
// of the program. False when no thread can be created.
using WatchdogStarter = std::function<bool()>;
bool StartWatchdogThread();

// The exact text shown when the link's start thread cannot be created.
inline constexpr char kLinkStartFailedText[] = "CeRapiInit() ... Filed ";
// How long the end of the program waits for an abandoned update worker to finish its last
// call before the lock the worker may still take is deleted.
inline constexpr uint64_t kWorkerDrainMs = 10000;

// How the wizard ended; setup exits with this status. 2 is setup's own: a setting of its
// environment it cannot follow.
enum class WizardOutcome : int {
    kUpdated = 0,     // the handheld came back running the package's build
    kFailed = 1,      // anything else that ended the wizard: no package, a failed copy or
                      // check, a handheld that came back without the update, a user who
                      // stopped it
    kRefused = 3,     // the refusal page listed why the update may not go ahead
    kNoHandheld = 4,  // no handheld answered the link in time
};

class WizardApp {
public:
    explicit WizardApp(ui::UiHost& host, WatchdogStarter startWatchdog = StartWatchdogThread);

    // Runs the whole wizard on the calling thread; always false (the program ends).
    bool RunWizard();
    // How the last RunWizard ended.
    WizardOutcome Outcome() const { return outcome_; }

private:
    ui::UiHost& host_;
    WatchdogStarter startWatchdog_;
    WizardOutcome outcome_ = WizardOutcome::kFailed;
};
