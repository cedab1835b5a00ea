// Dialog templates as data: what each wizard page looks like before its code touches it.
// Positions and sizes are in dialog units (a quarter of the template font's average
// character width horizontally, an eighth of its height vertically).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/ui/resources.h"

namespace ui {

enum class ControlKind {
    StaticText,
    PushButton,
    DefPushButton,
    GroupBox,
    // Multi-line, read-only, bordered edit control with a vertical scroll bar.
    ReadOnlyEdit,
    ProgressBar,
    Bitmap,  // picture control showing a bitmap resource
    Icon,    // picture control showing an icon resource
};

enum class TextAlign { Left, Center, Right };

struct Rect {
    int x;
    int y;
    int cx;
    int cy;
};

struct ControlTemplate {
    int id;
    ControlKind kind;
    // Caption text, exactly as the page shows it; for pictures empty.
    std::string_view text;
    Rect rect;
    bool hidden = false;
    bool disabled = false;
    // Drawn in red, RGB(255, 0, 0), on the normal background.
    bool redText = false;
    TextAlign align = TextAlign::Left;
    // Bitmap or icon resource of a picture control.
    int imageId = 0;
};

struct DialogTemplate {
    int id;
    std::string_view caption;
    int cx;  // client width in dialog units
    int cy;  // client height in dialog units
    std::string_view fontName;
    int fontPoints;
    uint32_t style;    // WS_* and DS_* bits
    uint32_t exStyle;  // WS_EX_* bits
    std::span<const ControlTemplate> controls;

    bool HasWindowMenu() const { return (style & WS_SYSMENU) != 0; }
    bool IsTopMost() const { return (exStyle & WS_EX_TOPMOST) != 0; }
    bool TakesForeground() const { return (style & DS_SETFOREGROUND) != 0; }
    // nullptr when the template has no control with that id.
    const ControlTemplate* FindControl(int controlId) const;
};

// nullptr when no template has that id.
const DialogTemplate* FindDialogTemplate(int templateId);
// Every template, in resource-number order.
std::span<const DialogTemplate* const> AllDialogTemplates();

}  // namespace ui
