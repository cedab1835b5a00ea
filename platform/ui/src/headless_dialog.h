// One page window of the headless host: the shared dialog model with nothing to draw, and
// timers that the host fires from its own loop on the scaled clock.
#pragma once

#include <chrono>
#include <map>
#include <optional>

#include "platform/ui/model_dialog_host.h"
#include "platform/ui/headless_host.h"

namespace ui {

class HeadlessDialog final : public detail::ModelDialogHost {
public:
    using Clock = std::chrono::steady_clock;

    HeadlessDialog(HeadlessUiHost& host, Transcript& transcript, const DialogTemplate& dialog,
                   Page& page, uint64_t serial);

    // DialogHost
    void MessageBox(std::string_view text, std::string_view caption) override;
    int RunChildPage(Page& child) override;

    // Host side.
    // Fires each timer that is due, once; true if any fired.
    bool FireDueTimers(Clock::time_point now);
    std::optional<Clock::time_point> NextTimer() const;

private:
    // DialogModel::Mirror
    void TimerSet(UINT timerId, UINT periodMs) override;
    void TimerKilled(UINT timerId) override;
    // ModelDialogHost
    void OnClosed() override { due_.clear(); }

    HeadlessUiHost& host_;
    std::map<UINT, Clock::time_point> due_;  // when each running timer fires next
};

}  // namespace ui
