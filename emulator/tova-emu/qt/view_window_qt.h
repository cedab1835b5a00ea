// The window of `tova-emu view` on Qt Widgets: a thin mirror of HandheldView (view_model.h).
// Only in builds with Qt (TOVA_WITH_QT); the emulator itself never includes Qt.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "view_window.h"

class QLabel;
class QPushButton;
class QTimer;

namespace tova::emu::qt {

class ScreenWidget;
class LightWidget;

// The window's content: the screen on the left, the state strip, the flash light and the
// buttons on the right. Object names for tests and style: "screen", "value-KEY" for each
// strip line (power, system, boots, ac, battery, cable, link) and "value-frames",
// "flash-light", "flash-text", "button-KEY" (cable, ac, power-cut), "message", "footer".
class HandheldViewWidget : public QWidget {
  public:
    explicit HandheldViewWidget(HandheldView& view, QWidget* parent = nullptr);
    ~HandheldViewWidget() override;

    // Polls the model once and mirrors it; true when anything shown changed.
    bool PollOnce();
    // Polls every HandheldView::kPollIntervalMs from now on; `afterPoll` runs after each.
    void StartPolling(std::function<void(bool changed)> afterPoll = {});
    // Shows what the model holds now.
    void Refresh();

    // Asked before an action that has a confirmation; the default is a Yes / No box.
    using Confirm = std::function<bool(const QString& title, const QString& question)>;
    void SetConfirm(Confirm confirm) { confirm_ = std::move(confirm); }
    // The screen's top-left pixel in this widget's coordinates.
    QPoint ScreenOrigin() const;

  private:
    void Pressed(HandheldView::Action action);

    HandheldView& view_;
    ScreenWidget* screen_ = nullptr;
    std::vector<std::pair<std::string, QLabel*>> values_;
    LightWidget* light_ = nullptr;
    QLabel* lightText_ = nullptr;
    std::vector<std::pair<HandheldView::Action, QPushButton*>> buttons_;
    QLabel* frames_ = nullptr;
    QLabel* message_ = nullptr;
    QLabel* footer_ = nullptr;
    QTimer* timer_ = nullptr;
    Confirm confirm_;
};

// Writes a picture of `widget` to `path`, replacing it atomically. false when it cannot.
bool GrabTo(QWidget& widget, const std::filesystem::path& path);

// The opener for SetViewWindowOpener: makes the application object unless one exists (a
// platform that cannot be opened prints why and ends the process with status 2).
std::unique_ptr<ViewWindow> OpenQtViewWindow(std::string* error);

}  // namespace tova::emu::qt

namespace tova::emu {
using qt::OpenQtViewWindow;
}
