// The dialog toolkit on Qt Widgets: each page window is a QDialog built from its
// template, sized in dialog units of the template's font.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QImage>
#include <QSize>

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/ui/dialog_state.h"
#include "platform/ui/driver.h"
#include "platform/ui/qt/screenshot_recorder.h"
#include "platform/ui/transcript.h"
#include "platform/ui/ui_host.h"

namespace ui::qt {

class QtDialog;

class QtUiHost : public UiHost {
public:
    // Needs a QApplication, made beforehand or by CreateQtUiHost.
    QtUiHost();
    ~QtUiHost() override;

    int RunPage(Page& page) override;
    void MessageBox(std::string_view text, std::string_view caption) override;

    // Optional: a Driver plays the user (tests, demonstrations). Without one the person
    // at the screen does.
    void SetDriver(Driver* driver) { driver_ = driver; }
    // Called with the window on top each time before the driver is asked; tests grab
    // their screenshots here.
    void SetIdleHook(std::function<void(QDialog&, const DialogState&)> hook) {
        idleHook_ = std::move(hook);
    }
    // Optional: records pages, control changes, message boxes and the driver's actions in
    // the same lines as the headless host does.
    void SetTranscript(Transcript* transcript) { transcript_ = transcript; }
    Transcript* GetTranscript() const { return transcript_; }
    // Optional: pictures of every page shown or closing and every message box.
    void SetScreenshotRecorder(std::unique_ptr<ScreenshotRecorder> recorder) {
        screenshots_ = std::move(recorder);
    }

    // Host side, used by its windows.
    int RunModal(Page& page);
    void ShowMessageBox(QWidget* owner, int ownerTemplateId, std::string_view text,
                        std::string_view caption);
    void NoteChange();
    void PageShown(QtDialog& page);
    void Record(const TranscriptEntry& entry);
    void TakeOwnership(std::unique_ptr<QApplication> app) { app_ = std::move(app); }

private:
    void AskDriver();
    void Perform(QtDialog& top, const UserAction& action);

    std::unique_ptr<QApplication> app_;
    // Owns the host's deferred calls, so that none outlives the host.
    std::unique_ptr<QObject> context_;
    Driver* driver_ = nullptr;
    std::function<void(QDialog&, const DialogState&)> idleHook_;
    Transcript* transcript_ = nullptr;
    std::unique_ptr<ScreenshotRecorder> screenshots_;
    std::vector<QtDialog*> open_;
    uint64_t nextSerial_ = 1;
    int messageBoxDepth_ = 0;
    bool askPending_ = false;
};

// A page's text as Qt shows it: UTF-8 where it is valid, otherwise Latin-1 byte for byte.
QString ToQString(std::string_view text);
// A nominal period on the scaled clock as a Qt timer interval, in real milliseconds.
int ScaledIntervalMs(uint64_t nominalMs);

// Dialog base units of a template's font, as Windows derives them: the average width of
// the 52 Latin letters (rounded) and the font height, in pixels.
QSize DialogBaseUnits(const QFont& font);
// Dialog units to pixels with those base units.
int DialogUnitsToPixelsX(int units, const QSize& base);
int DialogUnitsToPixelsY(int units, const QSize& base);
// The font a template names, as this toolkit renders it.
QFont TemplateFont(std::string_view name, int points);
// A picture of the program as a QImage (empty when there is none).
QImage ImageFromBitmapResource(int bitmapId);
QImage ImageFromIconResource(int iconId, int size);

}  // namespace ui::qt
