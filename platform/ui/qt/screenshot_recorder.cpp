#include "platform/ui/qt/screenshot_recorder.h"

#include <QPixmap>
#include <QWidget>

#include <cstdio>

#include "platform/ui/screenshot_names.h"

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
    return QString::fromStdString(ui::CaptionSlug(caption));
}

void ScreenshotRecorder::Save(QWidget& widget, const QString& what) {
    // Three digits keep the names in order for any run a person would click through.
    QString file = QStringLiteral("%1/%2-%3.png").arg(folder_).arg(++taken_, 3, 10, QLatin1Char('0')).arg(what);
    if (!widget.grab().save(file, "PNG"))
        std::fprintf(stderr, "ui: cannot save the screenshot %s\n", file.toLocal8Bit().constData());
}

}  // namespace ui::qt
