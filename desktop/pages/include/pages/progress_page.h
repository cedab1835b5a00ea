// The update progress page (template 129): asks the handheld for a cold restart, starts the
// update worker, shows the copy progress on two bars, gains its close box once the files
// are on the handheld, then waits for the handheld to come back after flashing and reports
// "Update complete!". It always ends with 0.
#pragma once

#include <cstdint>
#include <memory>

#include "pages/update_worker.h"
#include "ui/page.h"

// Polls for the handheld's return after the warm restart.
inline constexpr ui::UINT IDT_RECONNECT = 700;
inline constexpr ui::UINT kReconnectPeriodMs = 2000;
// How long the page's destruction waits for the worker before abandoning it.
inline constexpr uint64_t kWorkerStopWaitMs = 2000;

class ProgressPage : public ui::Page {
public:
    ProgressPage();

    void OnInitDialog() override;
    bool OnMessage(ui::UINT message, ui::WPARAM wParam, ui::LPARAM lParam) override;
    void OnTimer(ui::UINT timerId) override;
    void OnCommand(int controlId) override;
    void OnClose() override;
    void OnCancel() override;
    void OnDestroy() override;

    // IDT_RECONNECT while the reconnect timer runs, else 0.
    ui::UINT ReconnectTimer() const { return m_nReconnectTimer; }
    // What the page shares with its worker (null before the page has opened).
    std::shared_ptr<UpdateWorkerContext> WorkerContext() const { return context_; }

private:
    void OnOverallProgress(int percent);
    void OnCopyDone();
    void OnComplete();
    void OnWaitReconnect();
    void OnWorkerNotStarted();

    ui::UINT m_nReconnectTimer = 0;
    std::shared_ptr<UpdateWorkerContext> context_;
};
