// A dialog template as the bytes DialogBoxIndirectParamW takes (DLGTEMPLATE and its
// items), built from the toolkit-neutral template: Windows itself turns the dialog units
// into pixels with the template's font.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/ui/dialog_template.h"

namespace ui::win32 {

// The control id as the dialog item carries it (16 bits: -1 is 0xFFFF).
inline int ItemId(int controlId) { return controlId & 0xFFFF; }

std::vector<uint16_t> DialogTemplateBytes(const DialogTemplate& dialog);

}  // namespace ui::win32
