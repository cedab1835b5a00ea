// The page's threads: the update worker, and later the check of the handheld's returned
// ROM. A thread never holds the page itself but a WorkerContext shared with it: the page
// window's handle (posts to a gone window are dropped and calls to it return false without
// running) and the stop flags. So a thread that outlives its page can never touch it, and
// one abandoned after the page's 2000 ms wait stops at its next step without leaving
// g_csRapi held (each remote file call takes and releases it by itself).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/ui/window_handle.h"

struct UpdateWorkerContext {
    explicit UpdateWorkerContext(std::shared_ptr<ui::WindowHandle> pageWindow)
        : window(std::move(pageWindow)) {}

    std::shared_ptr<ui::WindowHandle> window;
    // Set when the page window is destroyed; the worker's last wait ends on it.
    std::atomic<int32_t> m_bStopRequested{0};

    // The page gave up waiting for its threads: they must do nothing more.
    bool Abandoned() const { return abandoned_.load(); }
    void Abandon();
    // Sleeps a nominal number of milliseconds on the scaled clock; false (at once) when
    // the threads have been abandoned meanwhile.
    bool Sleep(uint64_t ms);

private:
    std::atomic<bool> abandoned_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
};

using WorkerProcedure = std::function<int(std::shared_ptr<UpdateWorkerContext>)>;

// A running thread of the page, as the page's handle to it.
class UpdateWorkerThread {
public:
    // Runs `procedure` on a new thread; nullptr when no thread can be created.
    static std::shared_ptr<UpdateWorkerThread> Start(std::shared_ptr<UpdateWorkerContext> page,
                                                     WorkerProcedure procedure);
    // Closing the handle: joins a thread that has ended, lets a running one go on alone.
    ~UpdateWorkerThread();

    // Waits up to `ms` nominal milliseconds; true once the thread has ended.
    bool WaitForEnd(uint64_t ms);
    // The forced stop: the thread is told to do nothing more and left to end by itself.
    void Abandon();
    bool Ended() const;
    int ExitCode() const;

private:
    struct State;
    explicit UpdateWorkerThread(std::shared_ptr<State> state, std::shared_ptr<UpdateWorkerContext> page);

    std::shared_ptr<State> state_;
    std::shared_ptr<UpdateWorkerContext> page_;
};

// Waits up to `ms` nominal milliseconds until none of these threads (abandoned ones
// included) is running; true when none is. The start-up calls it before deleting g_csRapi.
bool WaitForUpdateWorkers(uint64_t ms);
