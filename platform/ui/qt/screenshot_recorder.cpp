#include "ui/qt/screenshot_recorder.h"

#include <QPixmap>
#include <QWidget>

#include <cstdio>

namespace ui::qt {

ScreenshotRecorder::ScreenshotRecorder(QString folder) : folder_(std::move(folder)) {}

void ScreenshotRecorder::PageShown(QWidget& page, int templateId) {
    Save(page, QStringLiteral("page-%1-shown").arg(templateId));
}

void ScreenshotRecorder::PageClosing(QWidget& page, int templateId) {
    Save(page, QStringLiteral("page-%1-closing").arg(templateId));
}

void ScreenshotRecorder::MessageBoxOpened(QWidget& box, int ownerTemplateId, std::string_view caption) {
    QString owner = ownerTemplateId ? QStringLiteral("%1-").arg(ownerTemplateId) : QString();
    Save(box, QStringLiteral("box-") + owner + CaptionSlug(caption));
}

QString ScreenshotRecorder::CaptionSlug(std::string_view caption) {
    QString slug;
    bool gap = false;
    for (char c : caption) {
        bool letter = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a'), letter = true;
        if (!letter) {
            gap = !slug.isEmpty();
            continue;
        }
        if (gap) slug += QLatin1Char('-');
        gap = false;
        slug += QLatin1Char(c);
    }
    return slug.isEmpty() ? QStringLiteral("untitled") : slug;
}

void ScreenshotRecorder::Save(QWidget& widget, const QString& what) {
    // Three digits keep the names in order for any run a person would click through.
    QString file = QStringLiteral("%1/%2-%3.png").arg(folder_).arg(++taken_, 3, 10, QLatin1Char('0')).arg(what);
    if (!widget.grab().save(file, "PNG"))
        std::fprintf(stderr, "ui: cannot save the screenshot %s\n", file.toLocal8Bit().constData());
}

}  // namespace ui::qt
