// Page texts (UTF-8, or 8-bit text where they are not valid UTF-8) as the UTF-16 that the
// wide Win32 calls take.
#pragma once

#include <string>
#include <string_view>

namespace ui::win32 {

std::wstring ToWide(std::string_view text);
// The same, with every lone line feed made CR LF, as a multi-line edit control wants.
std::wstring ToWideLines(std::string_view text);

}  // namespace ui::win32
