// The update progress page (template 129): asks the handheld for a cold restart, starts the
// update worker, shows the copy progress on two bars, gains its close box once the files
// are on the handheld, then waits for the handheld to come back after flashing. It reports
// "Update complete!" only once the handheld that came back runs the package's build; a
// handheld with another build, one whose build cannot be read, and one that does not come
// back each get a message of their own. It always ends with 0.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "desktop/pages/returned_rom_check.h"
#include "desktop/pages/update_worker.h"
#include "platform/ui/page.h"

// Polls for the handheld's return after the warm restart.
inline constexpr ui::UINT IDT_RECONNECT = 700;
inline constexpr ui::UINT kReconnectPeriodMs = 2000;
// How long the page's destruction waits for the worker before abandoning it.
inline constexpr uint64_t kWorkerStopWaitMs = 2000;
// After the hand-over: how long the page waits for the link to come back (far longer than
// any flashing takes), and once it is back, how long it keeps trying to read the build.
inline constexpr uint64_t kReturnWaitMs = 15 * 60 * 1000;
inline constexpr uint64_t kReturnCheckWaitMs = 2 * 60 * 1000;

class ProgressPage : public ui::Page {
public:
    ProgressPage();

    // The build of the package being installed, as the device information page read it;
    // the handheld must come back running it.
    void SetPackageBuild(int32_t build) { packageBuild_ = build; }

    void OnInitDialog() override;
    bool OnMessage(ui::UINT message, ui::WPARAM wParam, ui::LPARAM lParam) override;
    void OnTimer(ui::UINT timerId) override;
    void OnCommand(int controlId) override;
    void OnClose() override;
    void OnCancel() override;
    void OnDestroy() override;

    // True once the page has said "Update complete!": the handheld came back with the
    // package's build.
    bool Completed() const { return completed_; }
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
    void OnReturnTick();
    void OnReturnChecked(ReturnedRom found, uint32_t build);
    void EndIfWaitedTooLong(uint64_t now);
    void StopReconnectTimer();
    // Stops the reconnect timer, shows `text` as a caution and ends the page.
    void EndAwaitingReturn(const std::string& text);

    ui::UINT m_nReconnectTimer = 0;
    std::shared_ptr<UpdateWorkerContext> context_;
    int32_t packageBuild_ = 0;
    uint64_t awaitingSinceMs_ = 0;  // nominal clock, at the hand-over
    std::optional<uint64_t> backSinceMs_;  // when the link was first seen back
    std::shared_ptr<UpdateWorkerThread> returnCheck_;  // while a check runs
    bool completed_ = false;
};
