// One page window on Qt: a QDialog holding the template's controls. Everything but
// posts and calls through Handle() happens on the GUI thread.
#pragma once

#include <QDialog>
#include <QEventLoop>
#include <QMenu>
#include <QPointer>
#include <QTimer>

#include <map>
#include <memory>
#include <string>

#include "ui/dialog_host.h"
#include "ui/page.h"
#include "ui/transcript.h"

namespace ui::detail {
class HostedWindow;
}

namespace ui::qt {

class QtUiHost;

class QtDialog final : public QDialog, public DialogHost {
public:
    QtDialog(QtUiHost* host, const DialogTemplate& dialog, Page& page, QWidget* owner,
             uint64_t serial);
    ~QtDialog() override;

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
    uint32_t GetStyle() const override { return style_; }
    void ShowWindow(bool show) override;
    void SetIcon(int iconId) override;
    int RunChildPage(Page& child) override;
    DialogState Snapshot() const override;
    std::shared_ptr<WindowHandle> Handle() const override;

    // Host side.
    void Open();
    void Destroy();
    bool Ended() const { return ended_; }
    // Whether the page was ever shown since it opened.
    bool EverShown() const { return everShown_; }
    int Result() const { return result_; }
    void RunModalLoop();
    Page& GetPage() { return page_; }
    QWidget* ControlWidget(int controlId) const;
    QMenu& WindowMenu() { return windowMenu_; }
    QSize BaseUnits() const { return base_; }
    // Routes a message to the page and lets the host know the page may have changed.
    void DispatchToPage(UINT message, WPARAM wParam, LPARAM lParam);

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    struct Control {
        int id;
        ControlKind kind;
        QWidget* widget;
        std::string text;  // as the page set it, byte for byte
        COLORREF colour = CLR_DEFAULT;
        int rangeMin = 0;
        int rangeMax = 100;
        int pos = 0;
    };

    void Build();
    QWidget* MakeWidget(const ControlTemplate& control);
    Control* Find(int controlId, const char* operation);
    const Control* Find(int controlId) const;
    bool OnGuiThread(const char* operation) const;
    void ApplyWindowFlags();
    void ApplyColour(Control& control);
    void ApplyText(Control& control);
    void Record(EntryKind kind, int control = 0, int64_t value = 0, int64_t value2 = 0,
                std::string text = {}) const;
    // Logs the changes the shared progress bar rules make to one control.
    auto RecordFor(int controlId) const {
        return [this, controlId](EntryKind kind, int64_t value, int64_t value2) {
            Record(kind, controlId, value, value2);
        };
    }

    QtUiHost* host_;
    const DialogTemplate& template_;
    Page& page_;
    uint64_t serial_;
    uint32_t style_;
    QSize base_;
    std::vector<Control> controls_;
    std::map<UINT, QTimer*> timers_;
    std::map<UINT, UINT> periods_;
    QMenu windowMenu_;
    std::vector<WindowMenuItem> menuItems_;
    int iconId_ = 0;
    std::shared_ptr<detail::HostedWindow> window_;
    QEventLoop* loop_ = nullptr;
    bool shown_ = false;  // as the page asked; Qt hides the window itself on a frame change
    bool everShown_ = false;
    bool ended_ = false;
    int result_ = 0;
};

}  // namespace ui::qt
