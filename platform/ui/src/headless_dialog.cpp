#include "headless_dialog.h"

#include <vector>

#include "platform/clock/clock.h"

namespace ui {

HeadlessDialog::HeadlessDialog(HeadlessUiHost& host, Transcript& transcript,
                               const DialogTemplate& dialog, Page& page, uint64_t serial)
    : ModelDialogHost(
          dialog, page, serial, [&transcript](TranscriptEntry entry) { transcript.Add(std::move(entry)); },
          [&host] { host.Wake(); }),
      host_(host) {}

void HeadlessDialog::MessageBox(std::string_view text, std::string_view caption) {
    if (!OnPageThread("MessageBox")) return;
    host_.ShowMessageBox(this, text, caption);
}

int HeadlessDialog::RunChildPage(Page& child) {
    if (!OnPageThread("RunChildPage")) return -1;
    return host_.RunModal(child);
}

void HeadlessDialog::TimerSet(UINT timerId, UINT periodMs) {
    due_[timerId] = Clock::now() + tova::ScaledMs(periodMs);
}

void HeadlessDialog::TimerKilled(UINT timerId) { due_.erase(timerId); }

bool HeadlessDialog::FireDueTimers(Clock::time_point now) {
    if (Ended()) return false;
    std::vector<UINT> due;
    for (const auto& [id, when] : due_)
        if (when <= now) due.push_back(id);
    bool fired = false;
    for (UINT id : due) {
        auto it = due_.find(id);
        // An earlier tick's handler may have stopped or restarted this timer, or ended the page.
        if (it == due_.end() || it->second > now || Ended()) continue;
        it->second = Clock::now() + tova::ScaledMs(Model().State().timers.at(id));
        GetPage().Dispatch(WM_TIMER, id, 0);
        fired = true;
    }
    return fired;
}

std::optional<HeadlessDialog::Clock::time_point> HeadlessDialog::NextTimer() const {
    std::optional<Clock::time_point> next;
    if (Ended()) return next;
    for (const auto& [id, when] : due_)
        if (!next || when < *next) next = when;
    return next;
}

}  // namespace ui
