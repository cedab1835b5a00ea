// One page window of the headless host: the in-memory model of its controls, its
// timers and its queue, changed only on the page's thread and logged to the transcript.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <thread>

#include "hosted_window.h"
#include "ui/dialog_host.h"
#include "ui/headless_host.h"
#include "ui/page.h"

namespace ui {

class HeadlessDialog final : public DialogHost {
public:
    using Clock = std::chrono::steady_clock;

    HeadlessDialog(HeadlessUiHost& host, Transcript& transcript, const DialogTemplate& dialog,
                   Page& page, uint64_t serial);
    ~HeadlessDialog() override;

    // DialogHost
    const DialogTemplate& Template() const override { return template_; }
    bool SetItemText(int controlId, std::string_view text) override;
    std::string GetItemText(int controlId) const override;
    bool ShowItem(int controlId, bool show) override;
    bool EnableItem(int controlId, bool enable) override;
    bool IsItemVisible(int controlId) const override;
    bool IsItemEnabled(int controlId) const override;
    bool SetProgressRange(int controlId, int minimum, int maximum) override;
    bool SetProgressPos(int controlId, int pos) override;
    int GetProgressPos(int controlId) const override;
    bool SetItemTextColour(int controlId, COLORREF colour) override;
    bool SetTimer(UINT timerId, UINT periodMs) override;
    bool KillTimer(UINT timerId) override;
    void EndDialog(int result) override;
    void MessageBox(std::string_view text, std::string_view caption) override;
    void AppendWindowMenuItem(std::string_view text, UINT commandId) override;
    void ModifyStyle(uint32_t remove, uint32_t add) override;
    uint32_t GetStyle() const override { return state_.style; }
    void ShowWindow(bool show) override;
    void SetIcon(int iconId) override;
    int RunChildPage(Page& child) override;
    DialogState Snapshot() const override;
    std::shared_ptr<WindowHandle> Handle() const override { return window_; }

    // Host side.
    Page& GetPage() { return page_; }
    void Open();
    void Destroy();
    bool Ended() const { return ended_; }
    int Result() const { return result_; }
    bool RunQueued();
    // Fires each timer that is due, once; true if any fired.
    bool FireDueTimers(Clock::time_point now);
    std::optional<Clock::time_point> NextTimer() const;
    void Record(EntryKind kind, int control = 0, int64_t value = 0, int64_t value2 = 0,
                std::string text = {}, std::string detail = {}) const;

private:
    struct Timer {
        UINT periodMs;
        Clock::time_point due;
    };

    ControlState* Control(int controlId, const char* operation);
    const ControlState* Control(int controlId) const;
    bool OnPageThread(const char* operation) const;
    // Logs the changes the shared progress bar rules make to one control.
    auto RecordFor(int controlId) const {
        return [this, controlId](EntryKind kind, int64_t value, int64_t value2) {
            Record(kind, controlId, value, value2);
        };
    }

    HeadlessUiHost& host_;
    Transcript& transcript_;
    const DialogTemplate& template_;
    Page& page_;
    DialogState state_;
    std::map<UINT, Timer> timers_;
    std::shared_ptr<detail::HostedWindow> window_;
    std::thread::id pageThread_;
    bool ended_ = false;
    int result_ = 0;
};

}  // namespace ui
