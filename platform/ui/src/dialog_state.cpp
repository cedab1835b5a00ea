#include "platform/ui/dialog_state.h"

namespace ui {

const ControlState* DialogState::Find(int controlId) const {
    for (const ControlState& control : controls)
        if (control.id == controlId) return &control;
    return nullptr;
}

bool DialogState::HasMenuCommand(UINT commandId) const {
    for (const WindowMenuItem& item : windowMenu)
        if (item.id == commandId && commandId != 0) return true;
    return false;
}

const ControlState* DialogState::DefaultButton() const {
    for (const ControlState& control : controls)
        if (control.kind == ControlKind::DefPushButton) return &control;
    return nullptr;
}

DialogState InitialState(const DialogTemplate& dialog) {
    DialogState state;
    state.templateId = dialog.id;
    state.caption = std::string(dialog.caption);
    state.style = dialog.style;
    state.exStyle = dialog.exStyle;
    for (const ControlTemplate& t : dialog.controls) {
        ControlState c;
        c.id = t.id;
        c.kind = t.kind;
        c.text = std::string(t.text);
        c.visible = !t.hidden;
        c.enabled = !t.disabled;
        c.textColour = t.redText ? RGB(255, 0, 0) : CLR_DEFAULT;
        state.controls.push_back(std::move(c));
    }
    return state;
}

}  // namespace ui
