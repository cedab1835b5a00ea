#include "qt/view_window_qt.h"

#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QFont>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace tova::emu::qt {

namespace {

QString Text(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QColor ToneColour(HandheldView::Light::Tone tone) {
    switch (tone) {
        case HandheldView::Light::Tone::kErasing:
            return QColor(0xE5, 0x39, 0x35);
        case HandheldView::Light::Tone::kProgramming:
            return QColor(0xFF, 0xB3, 0x00);
        case HandheldView::Light::Tone::kBusy:
            return QColor(0x1E, 0x88, 0xE5);
        default:
            return QColor(0x55, 0x55, 0x55);
    }
}

constexpr int kBezel = 14;  // the dark rim around the screen, as on the handheld

}  // namespace

// The screen, drawn 1:1 from the model's 2x picture: the scaling is the model's, nearest
// neighbour, so no toolkit smoothing comes into it.
class ScreenWidget : public QWidget {
  public:
    ScreenWidget(const HandheldView& view, QWidget* parent) : QWidget(parent), view_(view) {
        setObjectName("screen");
        setFixedSize(HandheldView::kPictureWidth, HandheldView::kPictureHeight);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        const std::vector<uint32_t>& picture = view_.Picture();
        QImage image(reinterpret_cast<const uchar*>(picture.data()), HandheldView::kPictureWidth,
                     HandheldView::kPictureHeight, HandheldView::kPictureWidth * 4,
                     QImage::Format_RGB32);
        QPainter painter(this);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawImage(QPoint(0, 0), image);
    }

  private:
    const HandheldView& view_;
};

class LightWidget : public QWidget {
  public:
    explicit LightWidget(QWidget* parent) : QWidget(parent) {
        setObjectName("flash-light");
        setFixedSize(18, 18);
    }
    void SetTone(HandheldView::Light::Tone tone) {
        if (tone == tone_) return;
        tone_ = tone;
        update();
    }
    HandheldView::Light::Tone Tone() const { return tone_; }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(0x22, 0x22, 0x22), 1));
        painter.setBrush(ToneColour(tone_));
        painter.drawEllipse(QRectF(1.5, 1.5, width() - 3, height() - 3));
    }

  private:
    HandheldView::Light::Tone tone_ = HandheldView::Light::Tone::kOff;
};

HandheldViewWidget::HandheldViewWidget(HandheldView& view, QWidget* parent)
    : QWidget(parent), view_(view) {
    setWindowTitle(Text(view_.Title()));
    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(12, 12, 12, 12);
    outer->setSpacing(16);

    auto* bezel = new QWidget(this);
    bezel->setObjectName("bezel");
    bezel->setAutoFillBackground(true);
    QPalette dark = bezel->palette();
    dark.setColor(QPalette::Window, QColor(0x2B, 0x2D, 0x30));
    bezel->setPalette(dark);
    auto* bezelLayout = new QVBoxLayout(bezel);
    bezelLayout->setContentsMargins(kBezel, kBezel, kBezel, kBezel);
    screen_ = new ScreenWidget(view_, bezel);
    bezelLayout->addWidget(screen_);
    outer->addWidget(bezel, 0, Qt::AlignTop);

    auto* side = new QVBoxLayout;
    side->setSpacing(8);
    auto* heading = new QLabel("Vorn Tova handheld", this);
    QFont bold = heading->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.25);
    heading->setFont(bold);
    side->addWidget(heading);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(6);
    int row = 0;
    for (const HandheldView::StripLine& line : view_.Strip()) {
        auto* label = new QLabel(Text(line.label) + ":", this);
        auto* value = new QLabel(this);
        value->setObjectName(Text("value-" + line.key));
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        value->setWordWrap(true);
        grid->addWidget(label, row, 0, Qt::AlignLeft | Qt::AlignTop);
        grid->addWidget(value, row, 1, Qt::AlignTop);
        values_.emplace_back(line.key, value);
        ++row;
    }
    grid->addWidget(new QLabel("Flash:", this), row, 0, Qt::AlignLeft | Qt::AlignVCenter);
    auto* lightRow = new QHBoxLayout;
    lightRow->setSpacing(6);
    light_ = new LightWidget(this);
    lightText_ = new QLabel(this);
    lightText_->setObjectName("flash-text");
    lightText_->setWordWrap(true);  // both chips at two addresses make a long line
    lightRow->addWidget(light_);
    lightRow->addWidget(lightText_, 1);
    grid->addLayout(lightRow, row, 1);
    ++row;
    grid->addWidget(new QLabel("Screen:", this), row, 0, Qt::AlignLeft | Qt::AlignTop);
    frames_ = new QLabel("-", this);
    frames_->setObjectName("value-frames");
    grid->addWidget(frames_, row, 1, Qt::AlignLeft | Qt::AlignTop);
    grid->setColumnStretch(1, 1);
    side->addLayout(grid);
    side->addSpacing(12);

    for (const HandheldView::Button& b : view_.Buttons()) {
        auto* button = new QPushButton(Text(b.label), this);
        button->setObjectName(Text("button-" + b.key));
        HandheldView::Action action = b.action;
        connect(button, &QPushButton::clicked, this, [this, action] { Pressed(action); });
        side->addWidget(button);
        buttons_.emplace_back(action, button);
    }
    message_ = new QLabel(this);
    message_->setObjectName("message");
    message_->setWordWrap(true);
    side->addWidget(message_);
    side->addStretch(1);
    footer_ = new QLabel("Closing this window leaves the handheld running.", this);
    footer_->setObjectName("footer");
    footer_->setWordWrap(true);
    QPalette grey = footer_->palette();
    grey.setColor(QPalette::WindowText, QColor(0x66, 0x66, 0x66));
    footer_->setPalette(grey);
    side->addWidget(footer_);

    auto* sideWidget = new QWidget(this);
    sideWidget->setLayout(side);
    sideWidget->setMinimumWidth(360);
    outer->addWidget(sideWidget, 1);

    confirm_ = [this](const QString& title, const QString& question) {
        return QMessageBox::question(this, title, question, QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::No) == QMessageBox::Yes;
    };
    Refresh();
}

HandheldViewWidget::~HandheldViewWidget() = default;

QPoint HandheldViewWidget::ScreenOrigin() const {
    return screen_->mapTo(this, QPoint(0, 0));
}

bool HandheldViewWidget::PollOnce() {
    bool changed = view_.Poll();
    if (changed) Refresh();
    return changed;
}

void HandheldViewWidget::StartPolling(std::function<void(bool)> afterPoll) {
    if (!timer_) {
        timer_ = new QTimer(this);
        timer_->setInterval(HandheldView::kPollIntervalMs);
    }
    timer_->disconnect();
    connect(timer_, &QTimer::timeout, this, [this, afterPoll] {
        bool changed = PollOnce();
        QString frames = view_.Frame().empty()
                             ? QString("dark (no frame)")
                             : QString("%1 frames a second, 2x").arg(view_.FramesPerSecond());
        if (frames_->text() != frames) frames_->setText(frames);
        if (afterPoll) afterPoll(changed);
    });
    timer_->start();
}

void HandheldViewWidget::Refresh() {
    std::vector<HandheldView::StripLine> strip = view_.Strip();
    for (auto& [key, label] : values_) {
        for (const HandheldView::StripLine& line : strip) {
            if (line.key != key) continue;
            label->setText(Text(line.value));
            QPalette palette = label->palette();
            palette.setColor(QPalette::WindowText,
                             line.warning ? QColor(0xB0, 0x00, 0x20)
                                          : this->palette().color(QPalette::WindowText));
            label->setPalette(palette);
        }
    }
    light_->SetTone(view_.FlashLight().tone);
    lightText_->setText(Text(view_.FlashLight().text));
    for (const HandheldView::Button& b : view_.Buttons()) {
        for (auto& [action, button] : buttons_) {
            if (action != b.action) continue;
            button->setText(Text(b.label));
            button->setEnabled(b.enabled);
        }
    }
    message_->setText(Text(view_.Message()));
    screen_->update();
}

void HandheldViewWidget::Pressed(HandheldView::Action action) {
    for (const HandheldView::Button& b : view_.Buttons()) {
        if (b.action != action) continue;
        if (!b.enabled) return;
        if (!b.confirmation.empty()) {
            std::string title = b.label;
            while (!title.empty() && title.back() == '.') title.pop_back();
            if (!confirm_(Text(title), Text(b.confirmation))) return;
        }
        view_.Press(action);
        Refresh();
        return;
    }
}

bool GrabTo(QWidget& widget, const std::filesystem::path& path) {
    std::filesystem::path partial = path;
    partial += ".partial";
    // Texts set in this same turn of the event loop are laid out before the picture: the
    // innermost layouts first, so that the outer ones see their new sizes.
    QList<QWidget*> children = widget.findChildren<QWidget*>();
    for (auto it = children.rbegin(); it != children.rend(); ++it)
        if (QLayout* layout = (*it)->layout()) layout->activate();
    if (QLayout* layout = widget.layout()) layout->activate();
    if (!widget.grab().save(QString::fromLocal8Bit(partial.c_str()), "PNG")) return false;
    std::error_code ec;
    std::filesystem::rename(partial, path, ec);
    return !ec;
}

namespace {

// Qt aborts a program whose platform cannot be opened; while the application object is
// made, that message is turned into ours and exit status 2.
std::atomic<bool> g_opening{false};
QtMessageHandler g_previousHandler = nullptr;
std::string g_firstWarning;

void WindowMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (!g_opening) {
        // The offscreen platform's note on every window it shows says nothing to a user.
        if (message.contains("propagateSizeHints")) return;
        if (g_previousHandler)
            g_previousHandler(type, context, message);
        else
            std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
        return;
    }
    std::string text = message.toStdString();
    if (type == QtFatalMsg) {
        std::string why = g_firstWarning.empty() ? text : g_firstWarning;
        std::fprintf(stderr, "tova-emu: no display: the window system cannot be opened (%s)\n",
                     why.c_str());
        std::fflush(stderr);
        ::_exit(2);
    }
    if (g_firstWarning.empty()) g_firstWarning = text;
}

// At the right of the screen, where a window centred on it (the wizard's pages) leaves
// room; where the screen is too narrow, the window manager decides.
void PlaceBesideTheMiddle(QWidget& widget) {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect area = screen->availableGeometry();
    QSize size = widget.sizeHint();
    if (area.width() < 2 * size.width()) return;
    widget.move(area.right() - size.width() - 24, area.top() + 24);
}

class QtViewWindow : public ViewWindow {
  public:
    explicit QtViewWindow(std::unique_ptr<QApplication> app) : app_(std::move(app)) {}
    ~QtViewWindow() override = default;

    void Run(HandheldView& view, const ViewWindowOptions& options) override {
        if (closeRequested_) return;
        HandheldViewWidget widget(view);
        widget_ = &widget;
        std::filesystem::path grab = options.grab;
        bool grabbed = false;
        widget.StartPolling([&widget, &grab, &grabbed](bool changed) {
            if (grab.empty() || (!changed && grabbed)) return;
            if (GrabTo(widget, grab))
                grabbed = true;
            else
                std::fprintf(stderr, "tova-emu: cannot write the picture %s\n", grab.c_str());
        });
        widget.PollOnce();
        PlaceBesideTheMiddle(widget);
        widget.show();
        if (options.closeAfterMs >= 0)
            QTimer::singleShot(options.closeAfterMs, &widget, [&widget] { widget.close(); });
        // A Close() that came before the widget existed is carried out now.
        QMetaObject::invokeMethod(
            &widget,
            [this, &widget] {
                if (closeRequested_) widget.close();
            },
            Qt::QueuedConnection);
        bool quitOnClose = QApplication::quitOnLastWindowClosed();
        QApplication::setQuitOnLastWindowClosed(false);
        QEventLoop loop;
        widget.installEventFilter(&closeWatch_);
        closeWatch_.onClose = [&loop] { loop.quit(); };
        loop.exec();
        widget.removeEventFilter(&closeWatch_);
        closeWatch_.onClose = nullptr;
        QApplication::setQuitOnLastWindowClosed(quitOnClose);
        widget_ = nullptr;
    }

    void Close() override {
        closeRequested_ = true;
        // Carried out on the window's thread; dropped if this window is gone by then.
        QMetaObject::invokeMethod(
            &closeWatch_,
            [this] {
                if (!widget_) return;
                // A question still open (the power cut's) is closed unanswered: no cut.
                if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
                widget_->close();
            },
            Qt::QueuedConnection);
    }

  private:
    struct CloseWatch : QObject {
        std::function<void()> onClose;
        bool eventFilter(QObject* object, QEvent* event) override {
            if (event->type() == QEvent::Close && onClose) onClose();
            return QObject::eventFilter(object, event);
        }
    };

    std::unique_ptr<QApplication> app_;  // null when the process already had one
    std::atomic<bool> closeRequested_{false};
    HandheldViewWidget* widget_ = nullptr;
    CloseWatch closeWatch_;
};

}  // namespace

std::unique_ptr<ViewWindow> OpenQtViewWindow(std::string* error) {
    std::unique_ptr<QApplication> app;
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "tova-emu";
        static char* argv[] = {name, nullptr};
        g_previousHandler = qInstallMessageHandler(WindowMessages);
        g_opening = true;
        app = std::make_unique<QApplication>(argc, argv);
        g_opening = false;
        g_firstWarning.clear();
    }
    (void)error;
    return std::make_unique<QtViewWindow>(std::move(app));
}

}  // namespace tova::emu::qt
