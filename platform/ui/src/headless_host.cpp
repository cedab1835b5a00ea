#include "platform/ui/headless_host.h"

#include "headless_dialog.h"
#include "platform/clock/clock.h"

namespace ui {

HeadlessUiHost::HeadlessUiHost(Driver& driver) : driver_(driver) {}

HeadlessUiHost::HeadlessUiHost(std::unique_ptr<Driver> driver)
    : ownedDriver_(std::move(driver)), driver_(*ownedDriver_) {}

HeadlessUiHost::~HeadlessUiHost() = default;

int HeadlessUiHost::RunPage(Page& page) { return RunModal(page); }

void HeadlessUiHost::MessageBox(std::string_view text, std::string_view caption) {
    ShowMessageBox(nullptr, text, caption);
}

std::optional<DialogState> HeadlessUiHost::LastState(int templateId) const {
    std::lock_guard lock(stateMutex_);
    auto it = lastStates_.find(templateId);
    if (it == lastStates_.end()) return std::nullopt;
    return it->second;
}

void HeadlessUiHost::Wake() {
    {
        std::lock_guard lock(wakeMutex_);
        woken_ = true;
    }
    wakeCv_.notify_all();
}

int HeadlessUiHost::RunModal(Page& page) {
    const DialogTemplate* dialogTemplate = FindDialogTemplate(page.TemplateId());
    if (!dialogTemplate) {
        transcript_.Add({EntryKind::Error, page.TemplateId(), 0, 0, 0,
                         "no dialog template " + std::to_string(page.TemplateId())});
        return -1;
    }
    HeadlessDialog dialog(*this, transcript_, *dialogTemplate, page, nextSerial_++);
    open_.push_back(&dialog);
    dialog.Open();
    page.OnInitDialog();
    if (!dialog.Ended()) dialog.ShowWindow(true);

    // The driver plays the user: it is asked again whenever the page may have changed
    // (something was handled, a timer fired) or when the pause it asked for is over.
    bool askDriver = true;
    std::optional<HeadlessDialog::Clock::time_point> recheck;
    while (!dialog.Ended()) {
        if (DispatchOne()) {
            askDriver = true;
            continue;
        }
        auto now = HeadlessDialog::Clock::now();
        bool fired = false;
        for (auto it = open_.rbegin(); it != open_.rend(); ++it) fired |= (*it)->FireDueTimers(now);
        if (recheck && *recheck <= now) recheck.reset(), askDriver = true;
        if (dialog.Ended()) break;
        if (fired || askDriver) {
            askDriver = false;
            UserAction action = driver_.OnPageIdle(dialog.Snapshot());
            if (action.kind == UserAction::Kind::Wait) {
                recheck = HeadlessDialog::Clock::now() + tova::ScaledMs(uint64_t(action.id));
            } else if (action.kind != UserAction::Kind::None) {
                Perform(dialog, action);
                askDriver = true;
            }
            continue;
        }
        std::optional<HeadlessDialog::Clock::time_point> until = recheck;
        for (HeadlessDialog* open : open_) {
            auto next = open->NextTimer();
            if (next && (!until || *next < *until)) until = next;
        }
        WaitForWork(until);
    }

    dialog.Destroy();
    {
        std::lock_guard lock(stateMutex_);
        lastStates_[dialogTemplate->id] = dialog.Snapshot();
    }
    open_.pop_back();
    return dialog.Result();
}

bool HeadlessUiHost::DispatchOne() {
    for (auto it = open_.rbegin(); it != open_.rend(); ++it)
        if ((*it)->RunQueued()) return true;
    return false;
}

void HeadlessUiHost::WaitForWork(std::optional<std::chrono::steady_clock::time_point> until) {
    std::unique_lock lock(wakeMutex_);
    if (until) wakeCv_.wait_until(lock, *until, [this] { return woken_; });
    else wakeCv_.wait(lock, [this] { return woken_; });
    woken_ = false;
}

void HeadlessUiHost::RunUntil(std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        if (DispatchOne()) continue;
        auto now = std::chrono::steady_clock::now();
        bool fired = false;
        for (auto it = open_.rbegin(); it != open_.rend(); ++it) fired |= (*it)->FireDueTimers(now);
        if (now >= deadline) return;
        if (fired) continue;
        std::optional<std::chrono::steady_clock::time_point> until = deadline;
        for (HeadlessDialog* open : open_) {
            auto next = open->NextTimer();
            if (next && *next < *until) until = next;
        }
        WaitForWork(until);
    }
}

void HeadlessUiHost::ShowMessageBox(HeadlessDialog* owner, std::string_view text,
                                    std::string_view caption) {
    MessageBoxInfo info{owner ? owner->Template().id : 0, std::string(caption), std::string(text)};
    transcript_.Add({EntryKind::MessageBox, info.ownerTemplateId, 0, 0, 0, info.caption, info.text});
    uint64_t keepOpenMs = driver_.OnMessageBox(info);
    if (keepOpenMs == 0) return;
    ++messageBoxDepth_;
    RunUntil(std::chrono::steady_clock::now() + tova::ScaledMs(keepOpenMs));
    --messageBoxDepth_;
}

void HeadlessUiHost::Perform(HeadlessDialog& top, const UserAction& action) {
    DialogState state = top.Snapshot();
    if (!ActionPossible(state, action)) {
        std::string why = action.kind == UserAction::Kind::Close
                              ? "the window has no close box"
                              : action.kind == UserAction::Kind::SysCommand
                                    ? "no window-menu item " + std::to_string(action.id)
                                    : "control " + std::to_string(action.id) +
                                          " cannot be pressed";
        top.Record(EntryKind::UserRefused, 0, action.id, 0, why);
        return;
    }
    Page& page = top.GetPage();
    switch (action.kind) {
    case UserAction::Kind::Press: {
        const ControlState* button = state.Find(int(action.id));
        top.Record(EntryKind::UserPress, int(action.id), 0, 0, button->text);
        page.Dispatch(WM_COMMAND, WPARAM(action.id), 0);
        break;
    }
    case UserAction::Kind::Close:
        top.Record(EntryKind::UserClose);
        page.Dispatch(WM_CLOSE, 0, 0);
        break;
    case UserAction::Kind::Escape:
        top.Record(EntryKind::UserEscape);
        page.OnCancel();
        break;
    case UserAction::Kind::Enter: {
        top.Record(EntryKind::UserEnter);
        const ControlState* button = state.DefaultButton();
        if (button && button->visible && button->enabled)
            page.Dispatch(WM_COMMAND, WPARAM(button->id), 0);
        break;
    }
    case UserAction::Kind::SysCommand:
        top.Record(EntryKind::UserSysCommand, 0, action.id);
        page.Dispatch(WM_SYSCOMMAND, WPARAM(action.id), 0);
        break;
    default: break;
    }
}

std::unique_ptr<HeadlessUiHost> MakeUnattendedHost(std::FILE* echo) {
    auto host = std::make_unique<HeadlessUiHost>(std::make_unique<UnattendedDriver>());
    host->GetTranscript().EchoTo(echo);
    return host;
}

}  // namespace ui
