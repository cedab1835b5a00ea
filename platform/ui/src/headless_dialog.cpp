#include "headless_dialog.h"

#include <algorithm>

#include "platform/clock.h"
#include "progress_bar.h"

namespace ui {

HeadlessDialog::HeadlessDialog(HeadlessUiHost& host, Transcript& transcript,
                               const DialogTemplate& dialog, Page& page, uint64_t serial)
    : host_(host),
      transcript_(transcript),
      template_(dialog),
      page_(page),
      state_(InitialState(dialog)),
      window_(std::make_shared<detail::HostedWindow>([&host] { host.Wake(); })),
      pageThread_(std::this_thread::get_id()) {
    state_.windowSerial = serial;
}

HeadlessDialog::~HeadlessDialog() { window_->Close(); }

void HeadlessDialog::Record(EntryKind kind, int control, int64_t value, int64_t value2,
                            std::string text, std::string detail) const {
    transcript_.Add(TranscriptEntry{kind, template_.id, control, value, value2, std::move(text),
                                    std::move(detail)});
}

bool HeadlessDialog::OnPageThread(const char* operation) const {
    if (std::this_thread::get_id() == pageThread_) return true;
    Record(EntryKind::Error, 0, 0, 0,
           std::string(operation) + " called from another thread; use the window handle");
    return false;
}

ControlState* HeadlessDialog::Control(int controlId, const char* operation) {
    if (!OnPageThread(operation)) return nullptr;
    for (ControlState& c : state_.controls)
        if (c.id == controlId) return &c;
    Record(EntryKind::Error, controlId, 0, 0,
           std::string(operation) + ": no control " + std::to_string(controlId));
    return nullptr;
}

const ControlState* HeadlessDialog::Control(int controlId) const {
    if (!OnPageThread("reading a control")) return nullptr;
    return state_.Find(controlId);
}

void HeadlessDialog::Open() {
    window_->Open(*this);
    page_.AttachHost(this);
    Record(EntryKind::PageOpened, 0, 0, 0, state_.caption);
}

void HeadlessDialog::Destroy() {
    window_->BeginClose();
    page_.OnDestroy();
    timers_.clear();
    window_->Close();
    page_.AttachHost(nullptr);
    Record(EntryKind::PageEnded, 0, result_);
}

bool HeadlessDialog::SetItemText(int controlId, std::string_view text) {
    ControlState* c = Control(controlId, "SetItemText");
    if (!c) return false;
    if (c->text != text) {
        c->text = std::string(text);
        Record(EntryKind::ItemText, controlId, 0, 0, c->text);
    }
    return true;
}

std::string HeadlessDialog::GetItemText(int controlId) const {
    const ControlState* c = Control(controlId);
    return c ? c->text : std::string();
}

bool HeadlessDialog::ShowItem(int controlId, bool show) {
    ControlState* c = Control(controlId, "ShowItem");
    if (!c) return false;
    if (c->visible != show) {
        c->visible = show;
        Record(show ? EntryKind::ItemShown : EntryKind::ItemHidden, controlId);
    }
    return true;
}

bool HeadlessDialog::EnableItem(int controlId, bool enable) {
    ControlState* c = Control(controlId, "EnableItem");
    if (!c) return false;
    if (c->enabled != enable) {
        c->enabled = enable;
        Record(enable ? EntryKind::ItemEnabled : EntryKind::ItemDisabled, controlId);
    }
    return true;
}

bool HeadlessDialog::IsItemVisible(int controlId) const {
    const ControlState* c = Control(controlId);
    return c && c->visible;
}

bool HeadlessDialog::IsItemEnabled(int controlId) const {
    const ControlState* c = Control(controlId);
    return c && c->enabled;
}

bool HeadlessDialog::SetProgressRange(int controlId, int minimum, int maximum) {
    ControlState* c = Control(controlId, "SetProgressRange");
    if (!c) return false;
    detail::ChangeProgressRange(*c, minimum, maximum, RecordFor(controlId));
    return true;
}

bool HeadlessDialog::SetProgressPos(int controlId, int pos) {
    ControlState* c = Control(controlId, "SetProgressPos");
    if (!c) return false;
    detail::ChangeProgressPos(*c, pos, RecordFor(controlId));
    return true;
}

int HeadlessDialog::GetProgressPos(int controlId) const {
    const ControlState* c = Control(controlId);
    return c ? c->pos : 0;
}

bool HeadlessDialog::SetItemTextColour(int controlId, COLORREF colour) {
    ControlState* c = Control(controlId, "SetItemTextColour");
    if (!c) return false;
    if (c->textColour != colour) {
        c->textColour = colour;
        Record(EntryKind::ItemColour, controlId, colour);
    }
    return true;
}

bool HeadlessDialog::SetTimer(UINT timerId, UINT periodMs) {
    if (!OnPageThread("SetTimer")) return false;
    timers_[timerId] = Timer{periodMs, Clock::now() + tova::ScaledMs(periodMs)};
    state_.timers[timerId] = periodMs;
    Record(EntryKind::TimerSet, 0, timerId, periodMs);
    return true;
}

bool HeadlessDialog::KillTimer(UINT timerId) {
    if (!OnPageThread("KillTimer")) return false;
    state_.timers.erase(timerId);
    if (timers_.erase(timerId) == 0) return false;
    Record(EntryKind::TimerKilled, 0, timerId);
    return true;
}

void HeadlessDialog::EndDialog(int result) {
    if (!OnPageThread("EndDialog")) return;
    if (ended_) return;
    ended_ = true;
    result_ = result;
}

void HeadlessDialog::MessageBox(std::string_view text, std::string_view caption) {
    if (!OnPageThread("MessageBox")) return;
    host_.ShowMessageBox(this, text, caption);
}

void HeadlessDialog::AppendWindowMenuItem(std::string_view text, UINT commandId) {
    if (!OnPageThread("AppendWindowMenuItem")) return;
    state_.windowMenu.push_back(WindowMenuItem{0, {}});
    state_.windowMenu.push_back(WindowMenuItem{commandId, std::string(text)});
    Record(EntryKind::MenuItem, 0, commandId, 0, std::string(text));
}

void HeadlessDialog::ModifyStyle(uint32_t remove, uint32_t add) {
    if (!OnPageThread("ModifyStyle")) return;
    uint32_t style = (state_.style & ~remove) | add;
    if (style == state_.style) return;
    state_.style = style;
    Record(EntryKind::StyleChanged, 0, style);
}

void HeadlessDialog::ShowWindow(bool show) {
    if (!OnPageThread("ShowWindow")) return;
    if (state_.visible == show) return;
    state_.visible = show;
    Record(show ? EntryKind::PageShown : EntryKind::PageHidden);
}

void HeadlessDialog::SetIcon(int iconId) {
    if (!OnPageThread("SetIcon")) return;
    if (state_.iconId == iconId) return;
    state_.iconId = iconId;
    Record(EntryKind::IconSet, 0, iconId);
}

int HeadlessDialog::RunChildPage(Page& child) {
    if (!OnPageThread("RunChildPage")) return -1;
    return host_.RunModal(child);
}

DialogState HeadlessDialog::Snapshot() const { return state_; }

bool HeadlessDialog::RunQueued() {
    if (ended_) return false;
    return window_->RunOne(
        [this](UINT message, WPARAM wParam, LPARAM lParam) { page_.Dispatch(message, wParam, lParam); });
}

bool HeadlessDialog::FireDueTimers(Clock::time_point now) {
    if (ended_) return false;
    std::vector<UINT> due;
    for (const auto& [id, timer] : timers_)
        if (timer.due <= now) due.push_back(id);
    bool fired = false;
    for (UINT id : due) {
        auto it = timers_.find(id);
        // An earlier tick's handler may have stopped or restarted this timer, or ended the page.
        if (it == timers_.end() || it->second.due > now || ended_) continue;
        it->second.due = Clock::now() + tova::ScaledMs(it->second.periodMs);
        page_.Dispatch(WM_TIMER, id, 0);
        fired = true;
    }
    return fired;
}

std::optional<HeadlessDialog::Clock::time_point> HeadlessDialog::NextTimer() const {
    std::optional<Clock::time_point> next;
    if (ended_) return next;
    for (const auto& [id, timer] : timers_)
        if (!next || timer.due < *next) next = timer.due;
    return next;
}

}  // namespace ui
