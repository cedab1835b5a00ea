// Pictures of a windowed run: a PNG of a page each time it is shown and when it is about
// to close, and of each message box when it opens, numbered in the order they were taken:
//   001-page-102-shown.png, 002-page-102-closing.png, ..., 011-box-129-update-complete.png
// (a box without an owner is "box-" followed by its caption alone).
#pragma once

#include <QString>

#include <string_view>

class QWidget;

namespace ui::qt {

class ScreenshotRecorder {
public:
    // `folder` must exist; pictures that cannot be saved are reported on standard error
    // and the run goes on.
    explicit ScreenshotRecorder(QString folder);

    void PageShown(QWidget& page, int templateId);
    void PageClosing(QWidget& page, int templateId);
    void MessageBoxOpened(QWidget& box, int ownerTemplateId, std::string_view caption);

    // The file name part a caption becomes: lower-case letters and digits, every other
    // run of characters one hyphen ("Update complete!" -> "update-complete").
    static QString CaptionSlug(std::string_view caption);

private:
    void Save(QWidget& widget, const QString& what);

    QString folder_;
    int taken_ = 0;
};

}  // namespace ui::qt
