#include "platform/ui/dialog_model.h"

#include "progress_bar.h"

namespace ui {

DialogModel::DialogModel(const DialogTemplate& dialog, uint64_t windowSerial, RecordSink record)
    : state_(InitialState(dialog)), record_(std::move(record)) {
    state_.windowSerial = windowSerial;
}

void DialogModel::Record(EntryKind kind, int control, int64_t value, int64_t value2,
                         std::string text, std::string detail) const {
    if (record_)
        record_(TranscriptEntry{kind, state_.templateId, control, value, value2, std::move(text),
                                std::move(detail)});
}

ControlState* DialogModel::Control(int controlId, const char* operation) {
    for (ControlState& c : state_.controls)
        if (c.id == controlId) return &c;
    Record(EntryKind::Error, controlId, 0, 0,
           std::string(operation) + ": no control " + std::to_string(controlId));
    return nullptr;
}

template <typename Value, typename Log>
bool DialogModel::ChangeControl(int controlId, const char* operation, Value ControlState::*field,
                                Value value, ControlAspect aspect, Log&& log) {
    ControlState* c = Control(controlId, operation);
    if (!c) return false;
    if (c->*field == value) return true;
    c->*field = std::move(value);
    log(*c);
    Changed(*c, aspect);
    return true;
}

bool DialogModel::SetItemText(int controlId, std::string_view text) {
    return ChangeControl(controlId, "SetItemText", &ControlState::text, std::string(text), ControlAspect::Text,
                         [&](const ControlState& c) { Record(EntryKind::ItemText, controlId, 0, 0, c.text); });
}

bool DialogModel::ShowItem(int controlId, bool show) {
    return ChangeControl(controlId, "ShowItem", &ControlState::visible, show, ControlAspect::Visibility,
                         [&](const ControlState&) {
                             Record(show ? EntryKind::ItemShown : EntryKind::ItemHidden, controlId);
                         });
}

bool DialogModel::EnableItem(int controlId, bool enable) {
    return ChangeControl(controlId, "EnableItem", &ControlState::enabled, enable, ControlAspect::Enabled,
                         [&](const ControlState&) {
                             Record(enable ? EntryKind::ItemEnabled : EntryKind::ItemDisabled, controlId);
                         });
}

bool DialogModel::SetItemTextColour(int controlId, COLORREF colour) {
    return ChangeControl(controlId, "SetItemTextColour", &ControlState::textColour, colour, ControlAspect::Colour,
                         [&](const ControlState&) { Record(EntryKind::ItemColour, controlId, colour); });
}

bool DialogModel::SetProgressRange(int controlId, int minimum, int maximum) {
    ControlState* c = Control(controlId, "SetProgressRange");
    if (!c) return false;
    bool changed = false;
    detail::ChangeProgressRange(*c, minimum, maximum, [&](EntryKind kind, int64_t value, int64_t value2) {
        Record(kind, controlId, value, value2);
        changed = true;
    });
    if (changed) Changed(*c, ControlAspect::Progress);
    return true;
}

bool DialogModel::SetProgressPos(int controlId, int pos) {
    ControlState* c = Control(controlId, "SetProgressPos");
    if (!c) return false;
    bool changed = detail::ChangeProgressPos(*c, pos, [&](EntryKind kind, int64_t value, int64_t value2) {
        Record(kind, controlId, value, value2);
    });
    if (changed) Changed(*c, ControlAspect::Progress);
    return true;
}

void DialogModel::SetTimer(UINT timerId, UINT periodMs) {
    state_.timers[timerId] = periodMs;
    Record(EntryKind::TimerSet, 0, timerId, periodMs);
    if (mirror_) mirror_->TimerSet(timerId, periodMs);
}

bool DialogModel::KillTimer(UINT timerId) {
    if (state_.timers.erase(timerId) == 0) return false;
    Record(EntryKind::TimerKilled, 0, timerId);
    if (mirror_) mirror_->TimerKilled(timerId);
    return true;
}

void DialogModel::AppendWindowMenuItem(std::string_view text, UINT commandId) {
    state_.windowMenu.push_back(WindowMenuItem{0, {}});
    state_.windowMenu.push_back(WindowMenuItem{commandId, std::string(text)});
    Record(EntryKind::MenuItem, 0, commandId, 0, std::string(text));
    if (mirror_) mirror_->MenuItemAppended(state_.windowMenu.back());
}

void DialogModel::ModifyStyle(uint32_t remove, uint32_t add) {
    uint32_t style = (state_.style & ~remove) | add;
    if (style == state_.style) return;
    state_.style = style;
    Record(EntryKind::StyleChanged, 0, style);
    if (mirror_) mirror_->StyleChanged(style);
}

void DialogModel::ShowWindow(bool show) {
    bool changed = state_.visible != show;
    state_.visible = show;
    if (changed) Record(show ? EntryKind::PageShown : EntryKind::PageHidden);
    if (mirror_) mirror_->ShowRequested(show, changed);
}

void DialogModel::SetIcon(int iconId) {
    if (state_.iconId == iconId) return;
    state_.iconId = iconId;
    Record(EntryKind::IconSet, 0, iconId);
    if (mirror_) mirror_->IconChanged(iconId);
}

}  // namespace ui
