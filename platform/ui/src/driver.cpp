#include "platform/ui/driver.h"

namespace ui {

bool ActionPossible(const DialogState& page, const UserAction& action) {
    switch (action.kind) {
    case UserAction::Kind::Press: {
        const ControlState* c = page.Find(int(action.id));
        return c && (c->kind == ControlKind::PushButton || c->kind == ControlKind::DefPushButton) &&
               c->visible && c->enabled;
    }
    case UserAction::Kind::Close: return page.HasWindowMenu();
    case UserAction::Kind::SysCommand: return page.HasMenuCommand(UINT(action.id));
    default: return true;
    }
}

int UnattendedDriver::GoOnButton(int templateId) {
    switch (templateId) {
    case IDD_WELCOME: return IDC_NEXT;
    case IDD_DEVICE_INFO: return IDC_INFO_NEXT;
    case IDD_AGREEMENT: return IDOK;      // "Agree"
    case IDD_CAUTION: return IDOK;        // "Continue"
    case IDD_REFUSAL: return IDCANCEL;    // "OK"
    case IDD_ABOUTBOX: return IDOK;
    default: return 0;
    }
}

UserAction UnattendedDriver::OnPageIdle(const DialogState& page) {
    if (page.windowSerial == pressedWindow_) return UserAction::None();
    int button = GoOnButton(page.templateId);
    if (button == 0) return UserAction::None();
    UserAction press = UserAction::Press(button);
    if (!ActionPossible(page, press)) return UserAction::None();
    pressedWindow_ = page.windowSerial;
    return press;
}

ScriptedDriver& ScriptedDriver::Then(int templateId, UserAction action) {
    steps_.push_back(Step{templateId, action});
    return *this;
}

UserAction ScriptedDriver::OnPageIdle(const DialogState& page) {
    if (!steps_.empty() && steps_.front().templateId == page.templateId) {
        UserAction action = steps_.front().action;
        if (action.kind == UserAction::Kind::Wait) {
            steps_.pop_front();
            return action;
        }
        if (!ActionPossible(page, action)) return UserAction::None();
        steps_.pop_front();
        return action;
    }
    if (!fallback_) return UserAction::None();
    for (const Step& step : steps_)
        if (step.templateId == page.templateId) return UserAction::None();
    return unattended_.OnPageIdle(page);
}

uint64_t ScriptedDriver::OnMessageBox(const MessageBoxInfo& box) {
    return hook_ ? hook_(box) : 0;
}

}  // namespace ui
