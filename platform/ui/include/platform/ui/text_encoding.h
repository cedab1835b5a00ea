// Page texts are bytes in the desktop's narrow character set; a toolkit that wants
// Unicode needs to know whether they are UTF-8 or an 8-bit code page.
#pragma once

#include <string_view>

namespace ui {

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates, nothing past
// U+10FFFF). Plain ASCII is.
bool IsValidUtf8(std::string_view text);

}  // namespace ui
