// A plain copy of what a page window shows: its style, its controls and their state.
// Drivers decide from it what to press; tests read it after the page has closed.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/ui/dialog_template.h"
#include "platform/ui/message_target.h"
#include "platform/ui/resources.h"

namespace ui {

struct ControlState {
    int id = 0;
    ControlKind kind = ControlKind::StaticText;
    std::string text;
    bool visible = true;
    bool enabled = true;
    COLORREF textColour = CLR_DEFAULT;
    int rangeMin = 0;  // progress bars only
    int rangeMax = 100;
    int pos = 0;
};

struct WindowMenuItem {
    UINT id = 0;  // 0 for a separator
    std::string text;
};

struct DialogState {
    int templateId = 0;
    uint64_t windowSerial = 0;  // distinct for every window a host creates

    std::string caption;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    bool visible = false;
    int iconId = 0;
    std::vector<ControlState> controls;
    std::vector<WindowMenuItem> windowMenu;  // items appended to the window menu
    std::map<UINT, UINT> timers;             // running timers: id -> period in ms

    bool HasWindowMenu() const { return (style & WS_SYSMENU) != 0; }
    const ControlState* Find(int controlId) const;
    bool HasMenuCommand(UINT commandId) const;
    // The default push button, or nullptr.
    const ControlState* DefaultButton() const;
};

// The state a template describes before any page code has run.
DialogState InitialState(const DialogTemplate& dialog);

}  // namespace ui
