// The update worker: the thread that waits for the handheld after its cold restart, copies
// the service library, the 12 segments and the flasher, has the segments verified and asks
// for the warm restart that starts the flasher.
//
// The worker never holds the page itself. It holds an UpdateWorkerContext shared with the
// page: the page window's handle (posts to a gone window are dropped and calls to it return
// false without running) and the stop flags. So a worker that outlives its page can never
// touch it, and a worker abandoned after the page's 2000 ms wait stops at its next step
// without leaving g_csRapi held (each remote file call takes and releases it by itself).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "ui/window_handle.h"

struct UpdateWorkerContext {
    explicit UpdateWorkerContext(std::shared_ptr<ui::WindowHandle> pageWindow)
        : window(std::move(pageWindow)) {}

    std::shared_ptr<ui::WindowHandle> window;
    // Set when the page window is destroyed; the worker's last wait ends on it.
    std::atomic<int32_t> m_bStopRequested{0};

    // The page gave up waiting for the worker: it must do nothing more.
    bool Abandoned() const { return abandoned_.load(); }
    void Abandon();
    // Sleeps a nominal number of milliseconds on the scaled clock; false (at once) when
    // the worker has been abandoned meanwhile.
    bool Sleep(uint64_t ms);

private:
    std::atomic<bool> abandoned_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
};

// The thread procedure. 0 after a completed run or a failed verification, -1 after a copy
// failure, -2 when abandoned before it ended (nobody reads the value).
int UpdateWorker(std::shared_ptr<UpdateWorkerContext> page);

// A running worker thread, as the page's handle to it.
class UpdateWorkerThread {
public:
    // Starts UpdateWorker on a new thread; nullptr when no thread can be created.
    static std::shared_ptr<UpdateWorkerThread> Start(std::shared_ptr<UpdateWorkerContext> page);
    // Closing the handle: joins a thread that has ended, lets a running one go on alone.
    ~UpdateWorkerThread();

    // Waits up to `ms` nominal milliseconds; true once the worker has ended.
    bool WaitForEnd(uint64_t ms);
    // The forced stop: the worker is told to do nothing more and left to end by itself.
    void Abandon();
    bool Ended() const;
    int ExitCode() const;

private:
    struct State;
    explicit UpdateWorkerThread(std::shared_ptr<State> state, std::shared_ptr<UpdateWorkerContext> page);

    std::shared_ptr<State> state_;
    std::shared_ptr<UpdateWorkerContext> page_;
};

// The one worker of the program, or null. Used on the page's thread only.
extern std::shared_ptr<UpdateWorkerThread> g_hUpdateWorker;

// Waits up to `ms` nominal milliseconds until no worker thread (abandoned ones included)
// is running; true when none is. The start-up calls it before deleting g_csRapi.
bool WaitForUpdateWorkers(uint64_t ms);
