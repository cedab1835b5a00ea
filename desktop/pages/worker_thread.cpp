#include "desktop/pages/worker_thread.h"

#include <algorithm>
#include <system_error>
#include <thread>

#include "desktop/pages/update_worker_testing.h"
#include "platform/clock/clock.h"

namespace {

std::atomic<bool> g_threadCreationFails{false};

struct ProcedureSeam {
    std::mutex mutex;
    WorkerProcedure procedure;
};

// Never destroyed, as the live count below.
ProcedureSeam& TheProcedureSeam() {
    static auto* seam = new ProcedureSeam;
    return *seam;
}

WorkerProcedure ProcedureToRun(WorkerProcedure own) {
    ProcedureSeam& seam = TheProcedureSeam();
    std::lock_guard lock(seam.mutex);
    return seam.procedure ? seam.procedure : std::move(own);
}

struct LiveWorkers {
    std::mutex mutex;
    std::condition_variable ended;
    int count = 0;
};

// Never destroyed: an abandoned thread may still count itself out while the program ends.
LiveWorkers& TheLiveWorkers() {
    static auto* live = new LiveWorkers;
    return *live;
}

void CountOut() {
    LiveWorkers& live = TheLiveWorkers();
    std::lock_guard lock(live.mutex);
    --live.count;
    live.ended.notify_all();
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
    std::shared_ptr<UpdateWorkerContext> page, WorkerProcedure procedure) {
    if (g_threadCreationFails.load()) return nullptr;
    procedure = ProcedureToRun(std::move(procedure));
    auto state = std::make_shared<State>();
    {
        LiveWorkers& live = TheLiveWorkers();
        std::lock_guard lock(live.mutex);
        ++live.count;
    }
    try {
        state->thread = std::thread([state, page, procedure = std::move(procedure)]() mutable {
            int code = procedure(std::move(page));
            {
                std::lock_guard lock(state->mutex);
                state->exitCode = code;
                state->ended = true;
            }
            state->endedChanged.notify_all();
            state.reset();
            CountOut();
        });
    } catch (const std::system_error&) {
        CountOut();
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

void SetThreadProcedure(WorkerProcedure procedure) {
    ProcedureSeam& seam = TheProcedureSeam();
    std::lock_guard lock(seam.mutex);
    seam.procedure = std::move(procedure);
}

void SetThreadCreationFails(bool fails) { g_threadCreationFails.store(fails); }

}  // namespace update_worker_testing
