// The formatting of NKDbgPrintfW: a UTF-16 format with %s (UTF-16 string), %c, %d, %i,
// %u, %x, %X, %p and %%, with the flags '-' and '0', a width and an ignored 'l' or 'h'.
// Anything else is copied as it stands.
#pragma once

#include <cstdarg>
#include <string>

namespace tova {

std::u16string FormatDebugLine(const char16_t* format, va_list args);

}  // namespace tova
