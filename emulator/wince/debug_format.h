// The formatting of NKDbgPrintfW: a UTF-16 format with %s (UTF-16 string), %c, %d, %i,
// %u, %x, %X, %p and %%, with the flags '-' and '0', a width and an ignored 'l' or 'h'.
// Anything else is copied as it stands.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

namespace tova {

// Where the conversions take their values from: the caller's varargs, or an emulated
// CPU's registers and stack.
class DebugArguments {
public:
    virtual ~DebugArguments() = default;
    virtual uint32_t Word() = 0;     // %c %d %i %u %x %X
    virtual uint64_t Pointer() = 0;  // %p
    // %s; *isNull when the argument is a null pointer.
    virtual std::u16string String(bool* isNull) = 0;
};

std::u16string FormatDebugLine(const char16_t* format, DebugArguments& args);
std::u16string FormatDebugLine(const char16_t* format, va_list args);

// Records one formatted line of NKDbgPrintfW (line ends trimmed) on the active machine,
// echoed to standard error with TOVA_DEBUG_PRINT set.
void PrintDebugLine(std::u16string line);

}  // namespace tova
