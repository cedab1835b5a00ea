// One page window on Qt: a QDialog holding the template's controls, each widget a mirror of
// the window's dialog model. Everything but posts and calls through Handle() happens on the
// GUI thread.
#pragma once

#include <QDialog>
#include <QEventLoop>
#include <QMenu>
#include <QPointer>
#include <QTimer>

#include <map>

#include "platform/ui/model_dialog_host.h"

namespace ui::qt {

class QtUiHost;

class QtDialog final : public QDialog, public detail::ModelDialogHost {
public:
    QtDialog(QtUiHost* host, const DialogTemplate& dialog, Page& page, QWidget* owner,
             uint64_t serial);

    // DialogHost
    void MessageBox(std::string_view text, std::string_view caption) override;
    int RunChildPage(Page& child) override;

    // Host side.
    // Whether the page was ever shown since it opened.
    bool EverShown() const { return everShown_; }
    void RunModalLoop();
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
    // DialogModel::Mirror
    void ControlChanged(const ControlState& control, ControlAspect aspect) override;
    void MenuItemAppended(const WindowMenuItem& item) override;
    void StyleChanged(uint32_t style) override;
    void ShowRequested(bool show, bool changed) override;
    void IconChanged(int iconId) override;
    void TimerSet(UINT timerId, UINT periodMs) override;
    void TimerKilled(UINT timerId) override;
    // ModelDialogHost
    void OnEnded(int result) override;
    void OnClosed() override;

    void Build();
    QWidget* MakeWidget(const ControlTemplate& control);
    void ApplyWindowFlags();
    void ApplyColour(QWidget& widget, COLORREF colour);
    void ApplyText(QWidget& widget, const ControlState& control);

    QtUiHost* host_;
    QSize base_;
    std::map<int, QWidget*> widgets_;  // by control id
    std::map<UINT, QTimer*> timers_;
    QMenu windowMenu_;
    QEventLoop* loop_ = nullptr;
    bool everShown_ = false;
};

}  // namespace ui::qt
