#include "hosted_window.h"

namespace ui::detail {

HostedWindow::HostedWindow(std::function<void()> wake) : wake_(std::move(wake)) {}

bool HostedWindow::OnPageThread() const { return std::this_thread::get_id() == pageThread_; }

void HostedWindow::Open(DialogHost& host) {
    std::lock_guard lock(mutex_);
    host_ = &host;
    pageThread_ = std::this_thread::get_id();
    state_ = State::Open;
}

void HostedWindow::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard lock(mutex_);
    if (state_ != State::Open && state_ != State::Created) return;
    queue_.push_back(Item{message, wParam, lParam, nullptr});
    if (wake_) wake_();
}

bool HostedWindow::SendCall(Call call) {
    std::unique_lock lock(mutex_);
    if (OnPageThread() && (state_ == State::Open || state_ == State::Closing)) {
        DialogHost* host = host_;
        lock.unlock();
        call(*host);
        return true;
    }
    if (state_ != State::Open && state_ != State::Created) return false;
    auto pending = std::make_shared<PendingCall>();
    pending->call = std::move(call);
    queue_.push_back(Item{0, 0, 0, pending});
    if (wake_) wake_();
    finished_.wait(lock, [&] { return pending->finished; });
    return pending->ran;
}

bool HostedWindow::IsWindow() const {
    std::lock_guard lock(mutex_);
    return state_ == State::Open || state_ == State::Created;
}

bool HostedWindow::HasWork() const {
    std::lock_guard lock(mutex_);
    return !queue_.empty();
}

bool HostedWindow::RunOne(const std::function<void(UINT, WPARAM, LPARAM)>& dispatch) {
    Item item;
    DialogHost* host = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (queue_.empty() || state_ != State::Open) return false;
        item = std::move(queue_.front());
        queue_.pop_front();
        host = host_;
    }
    if (!item.call) {
        dispatch(item.message, item.wParam, item.lParam);
        return true;
    }
    item.call->call(*host);
    {
        std::lock_guard lock(mutex_);
        item.call->ran = true;
        item.call->finished = true;
    }
    finished_.notify_all();
    return true;
}

void HostedWindow::RejectQueuedLocked() {
    for (Item& item : queue_)
        if (item.call) item.call->finished = true;
    queue_.clear();
}

void HostedWindow::BeginClose() {
    {
        std::lock_guard lock(mutex_);
        if (state_ == State::Closed) return;
        state_ = State::Closing;
        RejectQueuedLocked();
    }
    finished_.notify_all();
}

void HostedWindow::Close() {
    {
        std::lock_guard lock(mutex_);
        state_ = State::Closed;
        RejectQueuedLocked();
        host_ = nullptr;
        wake_ = nullptr;
    }
    finished_.notify_all();
}

}  // namespace ui::detail
