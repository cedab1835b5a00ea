#include "pages/update_worker.h"

#include <algorithm>
#include <functional>
#include <string_view>
#include <system_error>
#include <thread>

#include "desktop/link.h"
#include "desktop/service_client.h"
#include "desktop/transfer.h"
#include "desktop/update_messages.h"
#include "pages/update_worker_testing.h"
#include "platform/clock.h"
#include "ui/dialog_host.h"
#include "ui/string_table.h"

using update_worker_testing::Step;

std::shared_ptr<UpdateWorkerThread> g_hUpdateWorker;

namespace {

constexpr int kHoldRounds = 5;
constexpr uint64_t kHoldMs = 1000;
constexpr uint64_t kLinkPollMs = 2000;
constexpr uint64_t kAfterWarmResetMs = 5000;
constexpr uint64_t kLinkLossPollMs = 500;
constexpr int kAbandonedExit = -2;

const int kProgressItems[] = {ui::IDC_OVERALL_PROGRESS, ui::IDC_FILE_PROGRESS,
                              ui::IDC_PROGRESS_TEXT};

struct Seams {
    std::mutex mutex;
    std::function<void(Step)> stepHook;
    bool threadCreationFails = false;
};

// Never destroyed: an abandoned worker may still look here while the program ends.
Seams& TheSeams() {
    static auto* seams = new Seams;
    return *seams;
}

struct LiveWorkers {
    std::mutex mutex;
    std::condition_variable ended;
    int count = 0;
};

LiveWorkers& TheLiveWorkers() {
    static auto* live = new LiveWorkers;
    return *live;
}

bool Linked() { return g_bConnected.load() == 1; }

// False when the worker must do nothing more.
bool Begin(UpdateWorkerContext& page, Step step) {
    if (page.Abandoned()) return false;
    std::function<void(Step)> hook;
    {
        std::lock_guard lock(TheSeams().mutex);
        hook = TheSeams().stepHook;
    }
    if (hook) hook(step);
    return !page.Abandoned();
}

// Waits until the page's thread has shown the box and the user has dismissed it; a page
// that is gone shows nothing.
void ShowMessage(UpdateWorkerContext& page, int textId, int captionId) {
    std::string_view text = ui::LoadString(textId);
    std::string_view caption = ui::LoadString(captionId);
    page.window->SendCall([text, caption](ui::DialogHost& host) { host.MessageBox(text, caption); });
}

void ShowProgressItems(UpdateWorkerContext& page, bool show) {
    page.window->SendCall([show](ui::DialogHost& host) {
        for (int item : kProgressItems) host.ShowItem(item, show);
    });
}

int CopyFailed(UpdateWorkerContext& page, bool restart) {
    if (restart) {
        if (!Begin(page, Step::kColdReset)) return kAbandonedExit;
        InvokeColdReset();
    }
    if (!Begin(page, Step::kShowFailure)) return kAbandonedExit;
    ShowMessage(page, ui::IDS_COPY_INCOMPLETE, ui::IDS_CAUTION);
    if (page.Abandoned()) return kAbandonedExit;
    page.window->PostMessage(ui::WM_CLOSE, 0, 0);
    return -1;
}

// Steps 1 and 2: out of the cold restart and onto a link that stays up for 2000 ms.
bool WaitForSteadyLink(UpdateWorkerContext& page) {
    if (!Begin(page, Step::kHold)) return false;
    for (int round = 0; round < kHoldRounds; ++round) {
        if (!Linked()) {
            if (!page.Sleep(kLinkPollMs)) return false;
            break;
        }
        if (!page.Sleep(kHoldMs)) return false;
    }
    if (!Begin(page, Step::kWaitForLink)) return false;
    for (;;) {
        if (Linked()) {
            if (!page.Sleep(kLinkPollMs)) return false;
            if (Linked()) return true;
        }
        if (!page.Sleep(kLinkPollMs)) return false;
    }
}

}  // namespace

void UpdateWorkerContext::Abandon() {
    {
        std::lock_guard lock(mutex_);
        abandoned_.store(true);
    }
    wake_.notify_all();
}

bool UpdateWorkerContext::Sleep(uint64_t ms) {
    // At time scale 0 a wait still yields, so that no polling loop spins flat out.
    auto pause = std::max<std::chrono::nanoseconds>(tova::ScaledMs(ms), std::chrono::milliseconds(1));
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, pause, [this] { return abandoned_.load(); });
    return !abandoned_.load();
}

int UpdateWorker(std::shared_ptr<UpdateWorkerContext> pagePtr) {
    UpdateWorkerContext& page = *pagePtr;

    if (!WaitForSteadyLink(page)) return kAbandonedExit;

    if (!Begin(page, Step::kShowProgress)) return kAbandonedExit;
    ShowProgressItems(page, true);

    if (!Begin(page, Step::kCopyServiceLibrary)) return kAbandonedExit;
    if (CopyServiceLibrary() != 0) return CopyFailed(page, false);

    if (!Begin(page, Step::kCopySegments)) return kAbandonedExit;
    if (CopySegments(*page.window) == 0) return CopyFailed(page, true);

    if (!Begin(page, Step::kCheckLinkAfterSegments)) return kAbandonedExit;
    if (!Linked()) return CopyFailed(page, false);

    if (!Begin(page, Step::kDeleteShortcuts)) return kAbandonedExit;
    DeleteStartupShortcut(kShortcutOutlook);
    DeleteStartupShortcut(kShortcutWelcome);

    if (!Begin(page, Step::kCheckLinkAfterShortcuts)) return kAbandonedExit;
    if (!Linked()) return CopyFailed(page, false);

    if (!Begin(page, Step::kCopyFlasher)) return kAbandonedExit;
    if (CopyFlasher() != 0) return CopyFailed(page, true);

    if (!Begin(page, Step::kCopyDone)) return kAbandonedExit;
    page.window->PostMessage(WM_UPD_COPY_DONE, 0, 0);
    page.window->SendCall([](ui::DialogHost& host) {
        for (int item : kProgressItems) host.ShowItem(item, false);
        host.SetItemText(ui::IDC_STATUS_TITLE, ui::LoadString(ui::IDS_COPY_COMPLETE));
        host.SetItemText(ui::IDC_STATUS_TEXT, ui::LoadString(ui::IDS_DEVICE_UPGRADING));
    });

    if (!Begin(page, Step::kVerify)) return kAbandonedExit;
    if (InvokeIsCheckSumOk() == E_FAIL) {
        ShowMessage(page, ui::IDS_INTEGRITY_FAILED, ui::IDS_CAUTION);
        if (!Begin(page, Step::kColdReset)) return kAbandonedExit;
        InvokeColdReset();
        if (page.Abandoned()) return kAbandonedExit;
        page.window->PostMessage(ui::WM_CLOSE, 0, 0);
        return 0;
    }

    if (!Begin(page, Step::kWarmReset)) return kAbandonedExit;
    InvokeWarmReset();

    if (!Begin(page, Step::kWaitForLinkLoss)) return kAbandonedExit;
    if (!page.Sleep(kAfterWarmResetMs)) return kAbandonedExit;
    while (Linked() && page.m_bStopRequested.load() == 0) {
        if (!page.Sleep(kLinkLossPollMs)) return kAbandonedExit;
    }

    if (!Begin(page, Step::kHandOver)) return kAbandonedExit;
    page.window->PostMessage(WM_UPD_WAIT_RECONNECT, 0, 0);
    return 0;
}

struct UpdateWorkerThread::State {
    std::mutex mutex;
    std::condition_variable endedChanged;
    bool ended = false;
    int exitCode = 0;
    std::thread thread;  // touched by the page's thread only
};

UpdateWorkerThread::UpdateWorkerThread(std::shared_ptr<State> state,
                                       std::shared_ptr<UpdateWorkerContext> page)
    : state_(std::move(state)), page_(std::move(page)) {}

std::shared_ptr<UpdateWorkerThread> UpdateWorkerThread::Start(
    std::shared_ptr<UpdateWorkerContext> page) {
    {
        std::lock_guard lock(TheSeams().mutex);
        if (TheSeams().threadCreationFails) return nullptr;
    }
    auto state = std::make_shared<State>();
    LiveWorkers& live = TheLiveWorkers();
    {
        std::lock_guard lock(live.mutex);
        ++live.count;
    }
    try {
        state->thread = std::thread([state, page]() mutable {
            int code = UpdateWorker(std::move(page));
            {
                std::lock_guard lock(state->mutex);
                state->exitCode = code;
                state->ended = true;
            }
            state->endedChanged.notify_all();
            state.reset();
            LiveWorkers& workers = TheLiveWorkers();
            std::lock_guard lock(workers.mutex);
            --workers.count;
            workers.ended.notify_all();
        });
    } catch (const std::system_error&) {
        std::lock_guard lock(live.mutex);
        --live.count;
        live.ended.notify_all();
        return nullptr;
    }
    return std::shared_ptr<UpdateWorkerThread>(new UpdateWorkerThread(std::move(state), std::move(page)));
}

UpdateWorkerThread::~UpdateWorkerThread() {
    if (!state_->thread.joinable()) return;
    if (Ended()) state_->thread.join();
    else state_->thread.detach();
}

bool UpdateWorkerThread::WaitForEnd(uint64_t ms) {
    std::unique_lock lock(state_->mutex);
    return state_->endedChanged.wait_for(lock, tova::ScaledMs(ms), [this] { return state_->ended; });
}

void UpdateWorkerThread::Abandon() {
    page_->Abandon();
    if (state_->thread.joinable()) state_->thread.detach();
}

bool UpdateWorkerThread::Ended() const {
    std::lock_guard lock(state_->mutex);
    return state_->ended;
}

int UpdateWorkerThread::ExitCode() const {
    std::lock_guard lock(state_->mutex);
    return state_->exitCode;
}

bool WaitForUpdateWorkers(uint64_t ms) {
    LiveWorkers& live = TheLiveWorkers();
    std::unique_lock lock(live.mutex);
    return live.ended.wait_for(lock, tova::ScaledMs(ms), [&] { return live.count == 0; });
}

namespace update_worker_testing {

void SetStepHook(std::function<void(Step)> hook) {
    std::lock_guard lock(TheSeams().mutex);
    TheSeams().stepHook = std::move(hook);
}

void SetThreadCreationFails(bool fails) {
    std::lock_guard lock(TheSeams().mutex);
    TheSeams().threadCreationFails = fails;
}

}  // namespace update_worker_testing
