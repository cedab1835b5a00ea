#include "platform/ui/qt/qt_dialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QKeySequence>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/ui/qt/qt_ui_host.h"
#include "platform/ui/transcript.h"

namespace ui::qt {
namespace {

const QEvent::Type kRunQueued = QEvent::Type(QEvent::registerEventType());

// Into the host's transcript; a page's misuse also goes to stderr, as a window without a
// transcript would otherwise swallow it.
DialogModel::RecordSink TranscriptSink(QtUiHost* host) {
    return [host](TranscriptEntry entry) {
        if (entry.kind == EntryKind::Error) std::fprintf(stderr, "ui: %s\n", FormatEntry(entry).c_str());
        if (host) host->Record(entry);
    };
}

}  // namespace

QtDialog::QtDialog(QtUiHost* host, const DialogTemplate& dialog, Page& page, QWidget* owner,
                   uint64_t serial)
    : QDialog(owner),
      ModelDialogHost(dialog, page, serial, TranscriptSink(host),
                      // The wake-up may come from any thread; posting an event is safe from
                      // any thread, and the window's queue lock keeps this object alive
                      // until it is closed.
                      [this] { QCoreApplication::postEvent(this, new QEvent(kRunQueued)); }),
      host_(host),
      windowMenu_(this) {
    setWindowTitle(ToQString(dialog.caption));
    setFont(TemplateFont(dialog.fontName, dialog.fontPoints));
    base_ = DialogBaseUnits(font());
    setFixedSize(DialogUnitsToPixelsX(dialog.cx, base_), DialogUnitsToPixelsY(dialog.cy, base_));
    setWindowModality(Qt::ApplicationModal);
    ApplyWindowFlags();
    Build();
    // The window menu, reached with the right mouse button or Alt+Space.
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (!Model().State().windowMenu.empty()) windowMenu_.exec(mapToGlobal(at));
    });
    auto* shortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
    connect(shortcut, &QShortcut::activated, this, [this] {
        if (!Model().State().windowMenu.empty()) windowMenu_.exec(mapToGlobal(QPoint(0, 0)));
    });
}

void QtDialog::Build() {
    const std::vector<ControlState>& controls = Model().State().controls;
    for (size_t i = 0; i < controls.size(); ++i) {
        const ControlTemplate& t = Template().controls[i];
        const ControlState& state = controls[i];
        QWidget* widget = MakeWidget(t);
        widget->setGeometry(DialogUnitsToPixelsX(t.rect.x, base_), DialogUnitsToPixelsY(t.rect.y, base_),
                            DialogUnitsToPixelsX(t.rect.cx, base_), DialogUnitsToPixelsY(t.rect.cy, base_));
        if (t.kind == ControlKind::Icon) widget->resize(32, 32);
        if (t.kind == ControlKind::Bitmap) {
            auto* label = static_cast<QLabel*>(widget);
            QImage image = ImageFromBitmapResource(t.imageId);
            QSize frame = widget->size();
            // Shown at its own size like a picture control; shrunk only if the frame is smaller.
            if (image.width() > frame.width() || image.height() > frame.height())
                image = image.scaled(frame, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            label->setPixmap(QPixmap::fromImage(image));
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        }
        widget->setHidden(!state.visible);
        widget->setEnabled(state.enabled);
        ApplyColour(*widget, state.textColour);
        widgets_.emplace(state.id, widget);
    }
}

QWidget* QtDialog::MakeWidget(const ControlTemplate& t) {
    const QString text = ToQString(t.text);
    switch (t.kind) {
    case ControlKind::PushButton:
    case ControlKind::DefPushButton: {
        auto* button = new QPushButton(text, this);
        button->setDefault(t.kind == ControlKind::DefPushButton);
        const int id = t.id;
        connect(button, &QPushButton::clicked, this, [this, id] { DispatchToPage(WM_COMMAND, WPARAM(id), 0); });
        return button;
    }
    case ControlKind::GroupBox: return new QGroupBox(text, this);
    case ControlKind::ReadOnlyEdit: {
        auto* edit = new QPlainTextEdit(this);
        edit->setReadOnly(true);
        edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        edit->setFrameShape(QFrame::Box);
        return edit;
    }
    case ControlKind::ProgressBar: {
        auto* bar = new QProgressBar(this);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
        return bar;
    }
    case ControlKind::Icon: {
        auto* label = new QLabel(this);
        label->setPixmap(QPixmap::fromImage(ImageFromIconResource(t.imageId, 32)));
        return label;
    }
    case ControlKind::Bitmap: return new QLabel(this);
    case ControlKind::StaticText: break;
    }
    auto* label = new QLabel(text, this);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    Qt::Alignment horizontal = t.align == TextAlign::Right    ? Qt::AlignRight
                               : t.align == TextAlign::Center ? Qt::AlignHCenter
                                                              : Qt::AlignLeft;
    label->setAlignment(horizontal | Qt::AlignTop);
    return label;
}

QWidget* QtDialog::ControlWidget(int controlId) const {
    auto it = widgets_.find(controlId);
    return it == widgets_.end() ? nullptr : it->second;
}

void QtDialog::ApplyText(QWidget& widget, const ControlState& control) {
    QString text = ToQString(control.text);
    switch (control.kind) {
    case ControlKind::StaticText: static_cast<QLabel&>(widget).setText(text); break;
    case ControlKind::PushButton:
    case ControlKind::DefPushButton: static_cast<QPushButton&>(widget).setText(text); break;
    case ControlKind::GroupBox: static_cast<QGroupBox&>(widget).setTitle(text); break;
    case ControlKind::ReadOnlyEdit:
        // Agreement files come with CR LF line ends; the edit wants plain line feeds.
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        static_cast<QPlainTextEdit&>(widget).setPlainText(text);
        break;
    default: break;
    }
}

void QtDialog::ApplyColour(QWidget& widget, COLORREF colour) {
    QPalette palette = widget.palette();
    const QPalette normal = QApplication::palette(&widget);
    const QPalette::ColorRole roles[] = {QPalette::WindowText, QPalette::ButtonText, QPalette::Text};
    // Disabled items stay grey whatever colour they were given.
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
        for (QPalette::ColorRole role : roles) {
            QColor shown = colour == CLR_DEFAULT ? normal.color(group, role)
                                                 : QColor(GetRValue(colour), GetGValue(colour), GetBValue(colour));
            palette.setColor(group, role, shown);
        }
    widget.setPalette(palette);
}

void QtDialog::ControlChanged(const ControlState& control, ControlAspect aspect) {
    QWidget* widget = ControlWidget(control.id);
    if (!widget) return;
    switch (aspect) {
    case ControlAspect::Text: ApplyText(*widget, control); break;
    case ControlAspect::Visibility: widget->setHidden(!control.visible); break;
    case ControlAspect::Enabled: widget->setEnabled(control.enabled); break;
    case ControlAspect::Colour: ApplyColour(*widget, control.textColour); break;
    case ControlAspect::Progress:
        if (auto* bar = qobject_cast<QProgressBar*>(widget)) {
            bar->setRange(std::min(control.rangeMin, control.rangeMax), std::max(control.rangeMin, control.rangeMax));
            bar->setValue(control.pos);
        }
        break;
    }
}

void QtDialog::TimerSet(UINT timerId, UINT periodMs) {
    QTimer*& timer = timers_[timerId];
    if (!timer) {
        timer = new QTimer(this);
        timer->setTimerType(Qt::PreciseTimer);
        connect(timer, &QTimer::timeout, this, [this, timerId] {
            if (!Ended()) DispatchToPage(WM_TIMER, timerId, 0);
        });
    }
    timer->start(ScaledIntervalMs(periodMs));
}

void QtDialog::TimerKilled(UINT timerId) {
    auto it = timers_.find(timerId);
    if (it == timers_.end()) return;
    it->second->stop();
    it->second->deleteLater();
    timers_.erase(it);
}

void QtDialog::OnEnded(int result) {
    if (loop_) loop_->exit(result);
}

void QtDialog::MessageBox(std::string_view text, std::string_view caption) {
    if (!OnPageThread("MessageBox")) return;
    host_->ShowMessageBox(this, Template().id, text, caption);
}

void QtDialog::MenuItemAppended(const WindowMenuItem& item) {
    windowMenu_.addSeparator();
    QAction* action = windowMenu_.addAction(ToQString(item.text));
    const UINT commandId = item.id;
    action->setData(commandId);
    connect(action, &QAction::triggered, this, [this, commandId] { DispatchToPage(WM_SYSCOMMAND, commandId, 0); });
}

void QtDialog::ApplyWindowFlags() {
    const uint32_t style = GetStyle();
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint;
    if (style & WS_CAPTION) flags |= Qt::WindowTitleHint;
    if (style & WS_SYSMENU) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (Template().exStyle & WS_EX_TOPMOST) flags |= Qt::WindowStaysOnTopHint;
    setWindowFlags(flags);
}

void QtDialog::StyleChanged(uint32_t) {
    // Changing the frame makes Qt hide the window; it stays as visible as it was.
    bool wasVisible = isVisible();
    ApplyWindowFlags();
    if (wasVisible) show();
}

void QtDialog::ShowRequested(bool show, bool changed) {
    setVisible(show);
    // Off screen there is no stacking to change (and the platform complains of each try).
    if (show && (Template().style & DS_SETFOREGROUND) && QGuiApplication::platformName() != "offscreen") {
        raise();
        activateWindow();
    }
    if (!changed || !show) return;
    everShown_ = true;
    if (host_) host_->PageShown(*this);
}

void QtDialog::IconChanged(int iconId) {
    QIcon icon;
    for (int size : {16, 32}) {
        QImage image = ImageFromIconResource(iconId, size);
        if (!image.isNull()) icon.addPixmap(QPixmap::fromImage(image));
    }
    setWindowIcon(icon);
}

int QtDialog::RunChildPage(Page& child) {
    if (!OnPageThread("RunChildPage")) return -1;
    return host_->RunModal(child);
}

void QtDialog::RunModalLoop() {
    if (Ended()) return;
    QEventLoop loop;
    loop_ = &loop;
    loop.exec(QEventLoop::DialogExec);
    loop_ = nullptr;
}

void QtDialog::OnClosed() {
    for (auto& [id, timer] : timers_) timer->stop();
    hide();
}

void QtDialog::DispatchToPage(UINT message, WPARAM wParam, LPARAM lParam) {
    GetPage().Dispatch(message, wParam, lParam);
    if (host_) host_->NoteChange();
}

bool QtDialog::event(QEvent* e) {
    if (e->type() == kRunQueued) {
        if (RunQueued() && host_) host_->NoteChange();
        return true;
    }
    return QDialog::event(e);
}

void QtDialog::closeEvent(QCloseEvent* e) {
    // The page decides whether it closes; without a close box there is nothing to click.
    e->ignore();
    if (!Ended() && (GetStyle() & WS_SYSMENU)) DispatchToPage(WM_CLOSE, 0, 0);
}

void QtDialog::reject() {
    // Escape.
    if (Ended()) return;
    GetPage().OnCancel();
    if (host_) host_->NoteChange();
}

}  // namespace ui::qt
