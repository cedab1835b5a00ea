#include "desktop/pages/update_worker.h"

#include <functional>
#include <mutex>
#include <string_view>

#include "desktop/device/link.h"
#include "desktop/device/service_client.h"
#include "desktop/device/transfer.h"
#include "desktop/device/update_messages.h"
#include "desktop/pages/update_worker_testing.h"
#include "platform/ui/dialog_host.h"
#include "worker_steps.h"
#include "platform/ui/string_table.h"

using update_worker_testing::Step;

std::shared_ptr<UpdateWorkerThread> g_hUpdateWorker;

namespace {

constexpr int kHoldRounds = 5;
constexpr uint64_t kHoldMs = 1000;
constexpr uint64_t kLinkPollMs = 2000;
constexpr uint64_t kAfterWarmResetMs = 5000;
constexpr uint64_t kLinkLossPollMs = 500;
constexpr int kAbandonedExit = -2;

struct Seams {
    std::mutex mutex;
    std::function<void(Step)> stepHook;
};

// Never destroyed: an abandoned worker may still look here while the program ends.
Seams& TheSeams() {
    static auto* seams = new Seams;
    return *seams;
}

// Waits until the page's thread has shown the box and the user has dismissed it; a page
// that is gone shows nothing (false).
bool ShowMessage(UpdateWorkerContext& page, int textId, int captionId) {
    std::string_view text = ui::LoadString(textId);
    std::string_view caption = ui::LoadString(captionId);
    return page.window->SendCall([text, caption](ui::DialogHost& host) { host.MessageBox(text, caption); });
}

// The user closed the page: from now on nothing may ask the handheld for a restart.
bool PageClosed(const UpdateWorkerContext& page) {
    return page.m_bStopRequested.load() != 0 || page.Abandoned();
}

void ShowProgressItems(UpdateWorkerContext& page, bool show) {
    page.window->SendCall([show](ui::DialogHost& host) {
        for (int item : kProgressItems) host.ShowItem(item, show);
    });
}

int CopyFailed(UpdateWorkerContext& page, bool restart) {
    if (restart) {
        if (!BeginStep(page, Step::kColdReset)) return kAbandonedExit;
        InvokeColdReset();
    }
    if (!BeginStep(page, Step::kShowFailure)) return kAbandonedExit;
    ShowMessage(page, ui::IDS_COPY_INCOMPLETE, ui::IDS_CAUTION);
    if (page.Abandoned()) return kAbandonedExit;
    page.window->PostMessage(ui::WM_CLOSE, 0, 0);
    return -1;
}

// Steps 1 and 2: out of the cold restart and onto a link that stays up for 2000 ms.
bool WaitForSteadyLink(UpdateWorkerContext& page) {
    if (!BeginStep(page, Step::kHold)) return false;
    for (int round = 0; round < kHoldRounds; ++round) {
        if (!LinkIsUp()) {
            if (!page.Sleep(kLinkPollMs)) return false;
            break;
        }
        if (!page.Sleep(kHoldMs)) return false;
    }
    if (!BeginStep(page, Step::kWaitForLink)) return false;
    for (;;) {
        if (LinkIsUp()) {
            if (!page.Sleep(kLinkPollMs)) return false;
            if (LinkIsUp()) return true;
        }
        if (!page.Sleep(kLinkPollMs)) return false;
    }
}

}  // namespace

int UpdateWorker(std::shared_ptr<UpdateWorkerContext> pagePtr) {
    UpdateWorkerContext& page = *pagePtr;

    if (!WaitForSteadyLink(page)) return kAbandonedExit;

    if (!BeginStep(page, Step::kShowProgress)) return kAbandonedExit;
    ShowProgressItems(page, true);

    if (!BeginStep(page, Step::kCopyServiceLibrary)) return kAbandonedExit;
    if (CopyServiceLibrary() != 0) return CopyFailed(page, false);

    if (!BeginStep(page, Step::kCopySegments)) return kAbandonedExit;
    if (CopySegments(*page.window) == 0) return CopyFailed(page, true);

    if (!BeginStep(page, Step::kCheckLinkAfterSegments)) return kAbandonedExit;
    if (!LinkIsUp()) return CopyFailed(page, false);

    if (!BeginStep(page, Step::kDeleteOutlookShortcut)) return kAbandonedExit;
    DeleteStartupShortcut(kShortcutOutlook);
    if (!BeginStep(page, Step::kDeleteWelcomeShortcut)) return kAbandonedExit;
    DeleteStartupShortcut(kShortcutWelcome);

    if (!BeginStep(page, Step::kCheckLinkAfterShortcuts)) return kAbandonedExit;
    if (!LinkIsUp()) return CopyFailed(page, false);

    if (!BeginStep(page, Step::kCopyFlasher)) return kAbandonedExit;
    if (CopyFlasher() != 0) return CopyFailed(page, true);

    if (!BeginStep(page, Step::kCopyDone)) return kAbandonedExit;
    page.window->PostMessage(WM_UPD_COPY_DONE, 0, 0);

    if (!BeginStep(page, Step::kVerify)) return kAbandonedExit;
    HRESULT verified = InvokeIsCheckSumOk();
    // A page closed while the check ran ends the update here, whatever the check found.
    if (PageClosed(page)) return 0;
    if (verified == E_FAIL) {
        if (!ShowMessage(page, ui::IDS_INTEGRITY_FAILED, ui::IDS_CAUTION)) return kAbandonedExit;
        if (!BeginStep(page, Step::kColdReset)) return kAbandonedExit;
        InvokeColdReset();
        if (page.Abandoned()) return kAbandonedExit;
        page.window->PostMessage(ui::WM_CLOSE, 0, 0);
        return 0;
    }

    if (!BeginStep(page, Step::kWarmReset)) return kAbandonedExit;
    InvokeWarmReset();

    if (!BeginStep(page, Step::kWaitForLinkLoss)) return kAbandonedExit;
    if (!page.Sleep(kAfterWarmResetMs)) return kAbandonedExit;
    while (LinkIsUp() && page.m_bStopRequested.load() == 0) {
        if (!page.Sleep(kLinkLossPollMs)) return kAbandonedExit;
    }

    if (!BeginStep(page, Step::kHandOver)) return kAbandonedExit;
    page.window->PostMessage(WM_UPD_WAIT_RECONNECT, 0, 0);
    return 0;
}

bool BeginStep(UpdateWorkerContext& page, Step step) {
    if (page.Abandoned()) return false;
    std::function<void(Step)> hook;
    {
        std::lock_guard lock(TheSeams().mutex);
        hook = TheSeams().stepHook;
    }
    if (hook) hook(step);
    return !page.Abandoned();
}

namespace update_worker_testing {

void SetStepHook(std::function<void(Step)> hook) {
    std::lock_guard lock(TheSeams().mutex);
    TheSeams().stepHook = std::move(hook);
}

}  // namespace update_worker_testing
