// The part of a page window that every host has in common: the DialogHost calls, each
// checked to come from the page's thread and then made on the window's DialogModel; the
// queue that other threads post through; opening, ending and closing. A host derives from
// it, mirrors the model's changes onto its widgets and adds what only it knows how to do:
// message boxes, child pages and firing its timers.
#pragma once

#include <functional>
#include <memory>
#include <thread>

#include "platform/ui/dialog_host.h"
#include "platform/ui/dialog_model.h"
#include "platform/ui/page.h"

namespace ui::detail {

class HostedWindow;

class ModelDialogHost : public DialogHost, protected DialogModel::Mirror {
public:
    // `wake` tells the host's loop that work was posted (see HostedWindow).
    ModelDialogHost(const DialogTemplate& dialog, Page& page, uint64_t windowSerial,
                    DialogModel::RecordSink record, std::function<void()> wake);
    ~ModelDialogHost() override;

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
    void AppendWindowMenuItem(std::string_view text, UINT commandId) override;
    void ModifyStyle(uint32_t remove, uint32_t add) override;
    uint32_t GetStyle() const override { return model_.State().style; }
    void ShowWindow(bool show) override;
    void SetIcon(int iconId) override;
    DialogState Snapshot() const override { return model_.State(); }
    std::shared_ptr<WindowHandle> Handle() const override;

    // Host side, page thread.
    Page& GetPage() { return page_; }
    const DialogModel& Model() const { return model_; }
    void Open();
    void Destroy();
    bool Ended() const { return ended_; }
    int Result() const { return result_; }
    // Runs the oldest posted message or call; false when none was waiting.
    bool RunQueued();
    void Record(EntryKind kind, int control = 0, int64_t value = 0, int64_t value2 = 0,
                std::string text = {}, std::string detail = {}) const {
        model_.Record(kind, control, value, value2, std::move(text), std::move(detail));
    }

protected:
    // A misuse from another thread is reported and refused.
    bool OnPageThread(const char* operation) const;
    // After EndDialog took its result.
    virtual void OnEnded(int /*result*/) {}
    // After the page's OnDestroy and the window's queue closed: stop timers, hide.
    virtual void OnClosed() {}

private:
    const ControlState* Read(int controlId) const;

    const DialogTemplate& template_;
    Page& page_;
    DialogModel model_;
    std::shared_ptr<HostedWindow> window_;
    std::thread::id pageThread_;
    bool ended_ = false;
    int result_ = 0;
};

}  // namespace ui::detail
