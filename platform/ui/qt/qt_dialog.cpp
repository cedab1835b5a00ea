#include "ui/qt/qt_dialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "hosted_window.h"
#include "platform/clock.h"
#include "progress_bar.h"
#include "ui/qt/qt_ui_host.h"
#include "ui/text_encoding.h"

namespace ui::qt {
namespace {

const QEvent::Type kRunQueued = QEvent::Type(QEvent::registerEventType());

QString ToQString(std::string_view text) {
    if (IsValidUtf8(text)) return QString::fromUtf8(text.data(), qsizetype(text.size()));
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

int ScaledIntervalMs(UINT periodMs) {
    auto real = std::chrono::duration_cast<std::chrono::milliseconds>(tova::ScaledMs(periodMs));
    return int(std::min<int64_t>(real.count(), INT32_MAX));
}

}  // namespace

QtDialog::QtDialog(QtUiHost* host, const DialogTemplate& dialog, Page& page, QWidget* owner,
                   uint64_t serial)
    : QDialog(owner),
      host_(host),
      template_(dialog),
      page_(page),
      serial_(serial),
      style_(dialog.style),
      windowMenu_(this) {
    // The wake-up may come from any thread; posting an event is safe from any thread, and
    // the window's queue lock keeps this object alive until it is closed.
    window_ = std::make_shared<detail::HostedWindow>(
        [this] { QCoreApplication::postEvent(this, new QEvent(kRunQueued)); });
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
        if (!menuItems_.empty()) windowMenu_.exec(mapToGlobal(at));
    });
    auto* shortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
    connect(shortcut, &QShortcut::activated, this, [this] {
        if (!menuItems_.empty()) windowMenu_.exec(mapToGlobal(QPoint(0, 0)));
    });
}

QtDialog::~QtDialog() { window_->Close(); }

std::shared_ptr<WindowHandle> QtDialog::Handle() const { return window_; }

void QtDialog::Build() {
    for (const ControlTemplate& t : template_.controls) {
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
        widget->setHidden(t.hidden);
        widget->setEnabled(!t.disabled);
        Control control{t.id, t.kind, widget, std::string(t.text)};
        control.colour = t.redText ? RGB(255, 0, 0) : CLR_DEFAULT;
        controls_.push_back(std::move(control));
        ApplyColour(controls_.back());
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

bool QtDialog::OnGuiThread(const char* operation) const {
    if (QThread::currentThread() == thread()) return true;
    std::fprintf(stderr, "ui: %s on page %d called from another thread; use the window handle\n",
                 operation, template_.id);
    return false;
}

QtDialog::Control* QtDialog::Find(int controlId, const char* operation) {
    if (!OnGuiThread(operation)) return nullptr;
    for (Control& c : controls_)
        if (c.id == controlId) return &c;
    std::fprintf(stderr, "ui: %s: page %d has no control %d\n", operation, template_.id, controlId);
    Record(EntryKind::Error, controlId, 0, 0, std::string(operation) + ": no control " + std::to_string(controlId));
    return nullptr;
}

void QtDialog::Record(EntryKind kind, int control, int64_t value, int64_t value2, std::string text) const {
    if (host_) host_->Record(TranscriptEntry{kind, template_.id, control, value, value2, std::move(text), {}});
}

const QtDialog::Control* QtDialog::Find(int controlId) const {
    if (!OnGuiThread("reading a control")) return nullptr;
    for (const Control& c : controls_)
        if (c.id == controlId) return &c;
    return nullptr;
}

QWidget* QtDialog::ControlWidget(int controlId) const {
    const Control* c = Find(controlId);
    return c ? c->widget : nullptr;
}

void QtDialog::ApplyText(Control& c) {
    QString text = ToQString(c.text);
    switch (c.kind) {
    case ControlKind::StaticText: static_cast<QLabel*>(c.widget)->setText(text); break;
    case ControlKind::PushButton:
    case ControlKind::DefPushButton: static_cast<QPushButton*>(c.widget)->setText(text); break;
    case ControlKind::GroupBox: static_cast<QGroupBox*>(c.widget)->setTitle(text); break;
    case ControlKind::ReadOnlyEdit:
        // Agreement files come with CR LF line ends; the edit wants plain line feeds.
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        static_cast<QPlainTextEdit*>(c.widget)->setPlainText(text);
        break;
    default: break;
    }
}

void QtDialog::ApplyColour(Control& c) {
    QPalette palette = c.widget->palette();
    const QPalette normal = QApplication::palette(c.widget);
    const QPalette::ColorRole roles[] = {QPalette::WindowText, QPalette::ButtonText, QPalette::Text};
    // Disabled items stay grey whatever colour they were given.
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
        for (QPalette::ColorRole role : roles) {
            QColor colour = c.colour == CLR_DEFAULT
                                ? normal.color(group, role)
                                : QColor(GetRValue(c.colour), GetGValue(c.colour), GetBValue(c.colour));
            palette.setColor(group, role, colour);
        }
    c.widget->setPalette(palette);
}

bool QtDialog::SetItemText(int controlId, std::string_view text) {
    Control* c = Find(controlId, "SetItemText");
    if (!c) return false;
    if (c->text == text) return true;
    c->text = std::string(text);
    ApplyText(*c);
    Record(EntryKind::ItemText, controlId, 0, 0, c->text);
    return true;
}

std::string QtDialog::GetItemText(int controlId) const {
    const Control* c = Find(controlId);
    return c ? c->text : std::string();
}

bool QtDialog::ShowItem(int controlId, bool show) {
    Control* c = Find(controlId, "ShowItem");
    if (!c) return false;
    if (c->widget->isHidden() != show) return true;
    c->widget->setHidden(!show);
    Record(show ? EntryKind::ItemShown : EntryKind::ItemHidden, controlId);
    return true;
}

bool QtDialog::EnableItem(int controlId, bool enable) {
    Control* c = Find(controlId, "EnableItem");
    if (!c) return false;
    if (c->widget->isEnabledTo(this) == enable) return true;
    c->widget->setEnabled(enable);
    Record(enable ? EntryKind::ItemEnabled : EntryKind::ItemDisabled, controlId);
    return true;
}

bool QtDialog::IsItemVisible(int controlId) const {
    const Control* c = Find(controlId);
    return c && !c->widget->isHidden();
}

bool QtDialog::IsItemEnabled(int controlId) const {
    const Control* c = Find(controlId);
    return c && c->widget->isEnabled();
}

bool QtDialog::SetProgressRange(int controlId, int minimum, int maximum) {
    Control* c = Find(controlId, "SetProgressRange");
    if (!c) return false;
    detail::ChangeProgressRange(*c, minimum, maximum, RecordFor(controlId));
    if (auto* bar = qobject_cast<QProgressBar*>(c->widget)) {
        bar->setRange(std::min(minimum, maximum), std::max(minimum, maximum));
        bar->setValue(c->pos);
    }
    return true;
}

bool QtDialog::SetProgressPos(int controlId, int pos) {
    Control* c = Find(controlId, "SetProgressPos");
    if (!c) return false;
    if (!detail::ChangeProgressPos(*c, pos, RecordFor(controlId))) return true;
    if (auto* bar = qobject_cast<QProgressBar*>(c->widget)) bar->setValue(c->pos);
    return true;
}

int QtDialog::GetProgressPos(int controlId) const {
    const Control* c = Find(controlId);
    return c ? c->pos : 0;
}

bool QtDialog::SetItemTextColour(int controlId, COLORREF colour) {
    Control* c = Find(controlId, "SetItemTextColour");
    if (!c) return false;
    if (c->colour == colour) return true;
    c->colour = colour;
    ApplyColour(*c);
    Record(EntryKind::ItemColour, controlId, colour);
    return true;
}

bool QtDialog::SetTimer(UINT timerId, UINT periodMs) {
    if (!OnGuiThread("SetTimer")) return false;
    QTimer*& timer = timers_[timerId];
    if (!timer) {
        timer = new QTimer(this);
        timer->setTimerType(Qt::PreciseTimer);
        connect(timer, &QTimer::timeout, this, [this, timerId] {
            if (!ended_) DispatchToPage(WM_TIMER, timerId, 0);
        });
    }
    periods_[timerId] = periodMs;
    timer->start(ScaledIntervalMs(periodMs));
    Record(EntryKind::TimerSet, 0, timerId, periodMs);
    return true;
}

bool QtDialog::KillTimer(UINT timerId) {
    if (!OnGuiThread("KillTimer")) return false;
    auto it = timers_.find(timerId);
    if (it == timers_.end()) return false;
    it->second->stop();
    it->second->deleteLater();
    timers_.erase(it);
    periods_.erase(timerId);
    Record(EntryKind::TimerKilled, 0, timerId);
    return true;
}

void QtDialog::EndDialog(int result) {
    if (!OnGuiThread("EndDialog") || ended_) return;
    ended_ = true;
    result_ = result;
    if (loop_) loop_->exit(result);
}

void QtDialog::MessageBox(std::string_view text, std::string_view caption) {
    if (!OnGuiThread("MessageBox")) return;
    host_->ShowMessageBox(this, template_.id, text, caption);
}

void QtDialog::AppendWindowMenuItem(std::string_view text, UINT commandId) {
    if (!OnGuiThread("AppendWindowMenuItem")) return;
    windowMenu_.addSeparator();
    QAction* action = windowMenu_.addAction(ToQString(text));
    action->setData(commandId);
    connect(action, &QAction::triggered, this, [this, commandId] {
        DispatchToPage(WM_SYSCOMMAND, commandId, 0);
    });
    menuItems_.push_back(WindowMenuItem{0, {}});
    menuItems_.push_back(WindowMenuItem{commandId, std::string(text)});
    Record(EntryKind::MenuItem, 0, commandId, 0, std::string(text));
}

void QtDialog::ApplyWindowFlags() {
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint;
    if (style_ & WS_CAPTION) flags |= Qt::WindowTitleHint;
    if (style_ & WS_SYSMENU) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (template_.exStyle & WS_EX_TOPMOST) flags |= Qt::WindowStaysOnTopHint;
    setWindowFlags(flags);
}

void QtDialog::ModifyStyle(uint32_t remove, uint32_t add) {
    if (!OnGuiThread("ModifyStyle")) return;
    uint32_t style = (style_ & ~remove) | add;
    if (style == style_) return;
    style_ = style;
    Record(EntryKind::StyleChanged, 0, style);
    // Changing the frame makes Qt hide the window; it stays as visible as it was.
    bool wasVisible = isVisible();
    ApplyWindowFlags();
    if (wasVisible) show();
}

void QtDialog::ShowWindow(bool show) {
    if (!OnGuiThread("ShowWindow")) return;
    setVisible(show);
    // Off screen there is no stacking to change (and the platform complains of each try).
    if (show && (template_.style & DS_SETFOREGROUND) && QGuiApplication::platformName() != "offscreen") {
        raise();
        activateWindow();
    }
    if (show == shown_) return;
    shown_ = show;
    Record(show ? EntryKind::PageShown : EntryKind::PageHidden);
    if (!show) return;
    everShown_ = true;
    if (host_) host_->PageShown(*this);
}

void QtDialog::SetIcon(int iconId) {
    if (!OnGuiThread("SetIcon")) return;
    QIcon icon;
    for (int size : {16, 32}) {
        QImage image = ImageFromIconResource(iconId, size);
        if (!image.isNull()) icon.addPixmap(QPixmap::fromImage(image));
    }
    if (iconId_ != iconId) Record(EntryKind::IconSet, 0, iconId);
    iconId_ = iconId;
    setWindowIcon(icon);
}

int QtDialog::RunChildPage(Page& child) {
    if (!OnGuiThread("RunChildPage")) return -1;
    return host_->RunModal(child);
}

DialogState QtDialog::Snapshot() const {
    DialogState state;
    state.templateId = template_.id;
    state.windowSerial = serial_;
    state.caption = std::string(template_.caption);
    state.style = style_;
    state.exStyle = template_.exStyle;
    state.visible = isVisible();
    state.iconId = iconId_;
    state.windowMenu = menuItems_;
    state.timers = std::map<UINT, UINT>(periods_.begin(), periods_.end());
    for (const Control& c : controls_) {
        ControlState s;
        s.id = c.id;
        s.kind = c.kind;
        s.text = c.text;
        s.visible = !c.widget->isHidden();
        s.enabled = c.widget->isEnabled();
        s.textColour = c.colour;
        s.rangeMin = c.rangeMin;
        s.rangeMax = c.rangeMax;
        s.pos = c.pos;
        state.controls.push_back(std::move(s));
    }
    return state;
}

void QtDialog::Open() {
    window_->Open(*this);
    page_.AttachHost(this);
    Record(EntryKind::PageOpened, 0, 0, 0, std::string(template_.caption));
}

void QtDialog::RunModalLoop() {
    if (ended_) return;
    QEventLoop loop;
    loop_ = &loop;
    loop.exec(QEventLoop::DialogExec);
    loop_ = nullptr;
}

void QtDialog::Destroy() {
    window_->BeginClose();
    page_.OnDestroy();
    for (auto& [id, timer] : timers_) timer->stop();
    window_->Close();
    page_.AttachHost(nullptr);
    hide();
    Record(EntryKind::PageEnded, 0, result_);
}

void QtDialog::DispatchToPage(UINT message, WPARAM wParam, LPARAM lParam) {
    page_.Dispatch(message, wParam, lParam);
    if (host_) host_->NoteChange();
}

bool QtDialog::event(QEvent* e) {
    if (e->type() == kRunQueued) {
        if (!ended_ && window_->RunOne([this](UINT m, WPARAM w, LPARAM l) { page_.Dispatch(m, w, l); }) &&
            host_)
            host_->NoteChange();
        return true;
    }
    return QDialog::event(e);
}

void QtDialog::closeEvent(QCloseEvent* e) {
    // The page decides whether it closes; without a close box there is nothing to click.
    e->ignore();
    if (!ended_ && (style_ & WS_SYSMENU)) DispatchToPage(WM_CLOSE, 0, 0);
}

void QtDialog::reject() {
    // Escape.
    if (ended_) return;
    page_.OnCancel();
    if (host_) host_->NoteChange();
}

}  // namespace ui::qt
