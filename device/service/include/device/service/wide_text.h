// Copying UTF-16 text into the fixed text fields of the library's records.
#pragma once

#include <cstdint>

// Copies `from` up to its NUL or its first `fromUnits` code units, whichever ends first,
// into `to` of `capacity` units (at least 1), truncating so that `to` ends NUL-terminated.
inline void CopyWideText(char16_t* to, uint32_t capacity, const char16_t* from,
                         uint32_t fromUnits) {
    uint32_t n = 0;
    while (n + 1 < capacity && n < fromUnits && from[n] != 0) {
        to[n] = from[n];
        ++n;
    }
    to[n] = 0;
}
