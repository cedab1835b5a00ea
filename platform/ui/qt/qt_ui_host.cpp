#include "platform/ui/qt/qt_ui_host.h"

#include <QAction>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/clock/clock.h"
#include "platform/ui/artwork.h"
#include "platform/ui/dialog_template.h"
#include "platform/ui/page.h"
#include "platform/ui/qt/qt_dialog.h"
#include "platform/ui/qt_host.h"
#include "platform/ui/qt/qt_host_options.h"
#include "platform/ui/text_encoding.h"

namespace ui::qt {
namespace {

QImage ToQImage(const Image* image) {
    if (!image) return {};
    QImage out(image->width, image->height, QImage::Format_ARGB32);
    for (int y = 0; y < image->height; ++y)
        for (int x = 0; x < image->width; ++x) out.setPixel(x, y, image->At(x, y));
    return out;
}

void SendKey(QWidget& target, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &release);
}

}  // namespace

QString ToQString(std::string_view text) {
    if (IsValidUtf8(text)) return QString::fromUtf8(text.data(), qsizetype(text.size()));
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

int ScaledIntervalMs(uint64_t nominalMs) {
    auto real = std::chrono::duration_cast<std::chrono::milliseconds>(tova::ScaledMs(nominalMs));
    return int(std::min<int64_t>(real.count(), INT32_MAX));
}

QSize DialogBaseUnits(const QFont& font) {
    QFontMetrics metrics(font);
    int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return QSize((letters / 26 + 1) / 2, metrics.height());
}

int DialogUnitsToPixelsX(int units, const QSize& base) { return (units * base.width() + 2) / 4; }
int DialogUnitsToPixelsY(int units, const QSize& base) { return (units * base.height() + 4) / 8; }

QFont TemplateFont(std::string_view name, int points) {
    // The Windows dialog faces are not on this system; a plain sans face stands in.
    static const bool substituted = [] {
        const QStringList faces = {"DejaVu Sans", "Liberation Sans", "Arial", "Sans Serif"};
        QFont::insertSubstitutions("System", faces);
        QFont::insertSubstitutions("MS Sans Serif", faces);
        return true;
    }();
    (void)substituted;
    QFont font(ToQString(name));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(points);
    return font;
}

QImage ImageFromBitmapResource(int bitmapId) { return ToQImage(LoadBitmapResource(bitmapId)); }
QImage ImageFromIconResource(int iconId, int size) { return ToQImage(LoadIconResource(iconId, size)); }

QtUiHost::QtUiHost() : context_(std::make_unique<QObject>()) {}
QtUiHost::~QtUiHost() = default;

int QtUiHost::RunPage(Page& page) { return RunModal(page); }

int QtUiHost::RunModal(Page& page) {
    const DialogTemplate* dialogTemplate = FindDialogTemplate(page.TemplateId());
    if (!dialogTemplate) {
        std::fprintf(stderr, "ui: no dialog template %d\n", page.TemplateId());
        return -1;
    }
    if (!QCoreApplication::instance() || QThread::currentThread() != QCoreApplication::instance()->thread()) {
        std::fprintf(stderr, "ui: pages run on the application's GUI thread\n");
        return -1;
    }
    QWidget* owner = open_.empty() ? nullptr : open_.back();
    QtDialog dialog(this, *dialogTemplate, page, owner, nextSerial_++);
    open_.push_back(&dialog);
    dialog.Open();
    page.OnInitDialog();
    if (!dialog.Ended()) {
        dialog.ShowWindow(true);
        NoteChange();
        dialog.RunModalLoop();
    }
    if (screenshots_ && dialog.EverShown()) screenshots_->PageClosing(dialog, dialogTemplate->id);
    dialog.Destroy();
    open_.pop_back();
    NoteChange();
    return dialog.Result();
}

void QtUiHost::MessageBox(std::string_view text, std::string_view caption) {
    ShowMessageBox(nullptr, 0, text, caption);
}

void QtUiHost::ShowMessageBox(QWidget* owner, int ownerTemplateId, std::string_view text,
                              std::string_view caption) {
    if (!QCoreApplication::instance() || QThread::currentThread() != QCoreApplication::instance()->thread()) {
        std::fprintf(stderr, "ui: message boxes are shown on the application's GUI thread\n");
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, ToQString(caption), ToQString(text), QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);
    Record({EntryKind::MessageBox, ownerTemplateId, 0, 0, 0, std::string(caption), std::string(text)});
    if (screenshots_) {
        // Queued ahead of the driver's answer, so the box is pictured laid out and up.
        QTimer::singleShot(0, &box, [this, &box, ownerTemplateId, title = std::string(caption)] {
            screenshots_->MessageBoxOpened(box, ownerTemplateId, title);
        });
    }
    if (driver_) {
        uint64_t keepOpenMs = driver_->OnMessageBox({ownerTemplateId, std::string(caption), std::string(text)});
        QTimer::singleShot(ScaledIntervalMs(keepOpenMs), &box, &QMessageBox::accept);
    }
    ++messageBoxDepth_;
    box.exec();
    --messageBoxDepth_;
    NoteChange();
}

void QtUiHost::NoteChange() {
    if (askPending_ || (!driver_ && !idleHook_)) return;
    askPending_ = true;
    QTimer::singleShot(0, context_.get(), [this] {
        askPending_ = false;
        AskDriver();
    });
}

void QtUiHost::PageShown(QtDialog& page) {
    if (screenshots_) screenshots_->PageShown(page, page.Template().id);
}

void QtUiHost::Record(const TranscriptEntry& entry) {
    if (transcript_) transcript_->Add(entry);
}

void QtUiHost::AskDriver() {
    if (open_.empty() || messageBoxDepth_ > 0) return;
    QtDialog& top = *open_.back();
    if (top.Ended()) return;
    DialogState state = top.Snapshot();
    if (idleHook_) idleHook_(top, state);
    if (!driver_) return;
    UserAction action = driver_->OnPageIdle(state);
    if (action.kind == UserAction::Kind::Wait) {
        QTimer::singleShot(ScaledIntervalMs(uint64_t(action.id)), &top, [this] { NoteChange(); });
        return;
    }
    if (action.kind == UserAction::Kind::None) return;
    if (ActionPossible(state, action)) Perform(top, action);
    NoteChange();
}

void QtUiHost::Perform(QtDialog& top, const UserAction& action) {
    // The same paths a person's mouse and keyboard take.
    const int page = top.Template().id;
    switch (action.kind) {
    case UserAction::Kind::Press:
        if (auto* button = qobject_cast<QPushButton*>(top.ControlWidget(int(action.id)))) {
            Record({EntryKind::UserPress, page, int(action.id), 0, 0, top.GetItemText(int(action.id))});
            button->click();
        }
        break;
    case UserAction::Kind::Close:
        Record({EntryKind::UserClose, page});
        top.close();
        break;
    case UserAction::Kind::Escape:
        Record({EntryKind::UserEscape, page});
        SendKey(top, Qt::Key_Escape);
        break;
    case UserAction::Kind::Enter:
        Record({EntryKind::UserEnter, page});
        SendKey(top, Qt::Key_Return);
        break;
    case UserAction::Kind::SysCommand:
        Record({EntryKind::UserSysCommand, page, 0, action.id});
        for (QAction* item : top.WindowMenu().actions())
            if (!item->isSeparator() && item->data().toUInt() == UINT(action.id)) {
                item->trigger();
                break;
            }
        break;
    default: break;
    }
}

}  // namespace ui::qt

namespace ui {

bool QtDisplayAvailable() {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

std::unique_ptr<UiHost> CreateQtUiHost(int& argc, char** argv) {
    return CreateQtUiHost(argc, argv, QtHostOptions{});
}

std::unique_ptr<UiHost> CreateQtUiHost(int& argc, char** argv, const QtHostOptions& options) {
    std::unique_ptr<QApplication> app;
    if (!QCoreApplication::instance()) app = std::make_unique<QApplication>(argc, argv);
    auto host = std::make_unique<qt::QtUiHost>();
    host->TakeOwnership(std::move(app));
    host->SetDriver(options.driver);
    host->SetTranscript(options.transcript);
    if (!options.screenshotFolder.empty())
        host->SetScreenshotRecorder(std::make_unique<qt::ScreenshotRecorder>(
            QString::fromLocal8Bit(options.screenshotFolder.c_str())));
    return host;
}

}  // namespace ui
