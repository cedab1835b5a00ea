// The platform information query: the ROM build and the ROM version text.
#pragma once

#include <cstdint>

// ROM build number (selector 6); 0 when the query fails.
uint32_t QueryRomBuild();

// Copies the ROM version text (selector 17, at most 16 bytes of UTF-16, possibly without a
// NUL) into `text`, which holds `capacity` code units and always ends NUL-terminated.
// A failed query gives the unknown-text marker.
void QueryRomVersionText(char16_t* text, uint32_t capacity);
