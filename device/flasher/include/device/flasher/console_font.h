// The console's bitmap font: 256 glyphs of 8 x 15 pixels in code page 437 order. Glyph g
// is the 15 bytes from 15 * g, one byte per pixel row from the top, bit 7 leftmost.
#pragma once

#include <cstdint>

inline constexpr uint32_t kConsoleFontGlyphBytes = 15;
inline constexpr uint32_t kConsoleFontBytes = 256 * kConsoleFontGlyphBytes;

extern const uint8_t ConsoleFont[kConsoleFontBytes];
