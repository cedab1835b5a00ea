#include "qt_test_support.h"

#include <QColor>
#include <QImage>

namespace ui::qt::test_support {

QtApplication::QtApplication(const char* programName) : name_(programName) {}

void QtApplication::SetUp() {
    argv_[0] = name_.data();
    // Windows are grabbed, never looked at: no display needed.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    app_ = std::make_unique<QApplication>(argc_, argv_);
}

void QtApplication::TearDown() { app_.reset(); }

int RedPixels(QWidget& widget) {
    QImage image = widget.grab().toImage();
    int red = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            QColor c = image.pixelColor(x, y);
            if (c.red() > 180 && c.green() < 90 && c.blue() < 90) ++red;
        }
    return red;
}

}  // namespace ui::qt::test_support
