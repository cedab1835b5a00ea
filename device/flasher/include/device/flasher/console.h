// Text console drawn straight into display memory with the built-in font. It keeps
// working with interrupts masked and the flash out of read-array mode: plain stores to
// display memory, no allocation and no platform calls.
#pragma once

#include <cstdint>

// Screen geometry: 240 x 320 pixels of 16 bits, rows one after another.
inline constexpr uint32_t kScreenWidth = 240;
inline constexpr uint32_t kScreenHeight = 320;
inline constexpr uint32_t kScreenBytes = kScreenWidth * kScreenHeight * 2;

// Glyphs are drawn and scrolled here, whatever g_clearBase says.
inline constexpr uint32_t kDrawingBase = 0xBE042000;
inline constexpr uint32_t kAlternateClearBase = 0xBE000000;

inline constexpr uint32_t kGlyphWidth = 8;
inline constexpr uint32_t kGlyphHeight = 15;
inline constexpr uint32_t kConsoleColumns = 30;
inline constexpr uint32_t kConsoleLines = 21;

inline constexpr uint16_t kBackgroundColour = 0xFFFF;
inline constexpr uint16_t kMessageColour = 0x8080;
inline constexpr uint16_t kBannerColour2 = 0x0C0C;
inline constexpr uint16_t kBannerColour3 = 0x0000;

// Where ConsoleClear paints; chosen once at start-up.
extern uint32_t g_clearBase;
// The cursor: column 0..29, line 0..20.
extern uint32_t g_consoleColumn;
extern uint32_t g_consoleLine;

// Paints every pixel at g_clearBase white. The cursor stays where it is.
void ConsoleClear();
// Cursor to column 0, line 0. The screen is left alone.
void ConsoleHome();
// Draws glyph ch at the cursor and advances it; no code is special, 10 draws glyph 10.
void ConsolePutChar(uint8_t ch, uint16_t colour);
// Moves the text up one line, blanks line 20 and puts the cursor at its start.
void ConsoleScroll();
// Formatted print: "\n" starts a line, "%d" an int, "%f" a double (two digits, cut off),
// "%s" a byte string drawn glyph by glyph; any other "%c" draws c.
void ConsolePrintf(uint16_t colour, const char* format, ...);
