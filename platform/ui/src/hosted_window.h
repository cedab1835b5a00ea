// The host side of a WindowHandle: a queue of posted messages and pending calls that the
// page's thread drains, and the closing that turns every later post and call away.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/ui/window_handle.h"

namespace ui::detail {

class HostedWindow final : public WindowHandle {
public:
    // `wake` tells the page's thread that work is queued; it is called with the queue's
    // lock held, so a host can rely on the window still being open while it runs.
    explicit HostedWindow(std::function<void()> wake);

    void PostMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool SendCall(Call call) override;
    bool IsWindow() const override;

    // Page thread. Opens the window for posts and calls from now on.
    void Open(DialogHost& host);
    // Runs the oldest queued item (a message through `dispatch`, a call with the host);
    // false when nothing is queued.
    bool RunOne(const std::function<void(UINT, WPARAM, LPARAM)>& dispatch);
    bool HasWork() const;
    // Turns away every queued and later call (their callers return false) and drops the
    // queued and later posts. Calls from the page's own thread still run until Close().
    void BeginClose();
    void Close();

private:
    struct PendingCall {
        Call call;
        bool finished = false;
        bool ran = false;
    };
    struct Item {
        UINT message = 0;
        WPARAM wParam = 0;
        LPARAM lParam = 0;
        std::shared_ptr<PendingCall> call;  // set for a call, empty for a message
    };
    enum class State { Created, Open, Closing, Closed };

    bool OnPageThread() const;
    void RejectQueuedLocked();

    mutable std::mutex mutex_;
    std::condition_variable finished_;
    std::deque<Item> queue_;
    State state_ = State::Created;
    DialogHost* host_ = nullptr;
    std::thread::id pageThread_;
    std::function<void()> wake_;
};

}  // namespace ui::detail
