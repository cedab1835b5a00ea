#include "device/flasher/console.h"

#include <cstdarg>

#include "device/flasher/console_font.h"
#include "platform/wince/hw.h"

uint32_t g_clearBase = kDrawingBase;
uint32_t g_consoleColumn = 0;
uint32_t g_consoleLine = 0;

namespace {

constexpr uint32_t kRowBytes = kScreenWidth * 2;
constexpr uint32_t kTextLineBytes = kGlyphHeight * kRowBytes;             // 7,200
constexpr uint32_t kScrolledBytes = (kConsoleLines - 1) * kTextLineBytes;  // 144,000

uint32_t PixelAddress(uint32_t x, uint32_t y) { return kDrawingBase + y * kRowBytes + 2 * x; }

void NewLine() {
    g_consoleColumn = 0;
    if (++g_consoleLine == kConsoleLines) ConsoleScroll();
}

void PutString(const char* text, uint16_t colour) {
    if (text == nullptr) return;
    while (*text) ConsolePutChar(static_cast<uint8_t>(*text++), colour);
}

// Digits of an unsigned value, most significant first, at least one.
void PutDecimal(uint32_t value, uint16_t colour) {
    char digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0) ConsolePutChar(static_cast<uint8_t>(digits[--count]), colour);
}

void PutSignedDecimal(int32_t value, uint16_t colour) {
    uint32_t magnitude = static_cast<uint32_t>(value);
    if (value < 0) {
        ConsolePutChar('-', colour);
        magnitude = 0u - magnitude;
    }
    PutDecimal(magnitude, colour);
}

// Integer part, a point and two digits taken one at a time from the fraction, so that
// nothing rounds up: 2.999 shows as 2.99. Single precision, as the handheld computes it.
void PutFixed(double argument, uint16_t colour) {
    float value = static_cast<float>(argument);
    if (value != value) {
        PutString("nan", colour);
        return;
    }
    if (value < 0.0f) {
        ConsolePutChar('-', colour);
        value = -value;
    }
    if (value >= 4294967296.0f) {  // no integer part that 32 bits can hold
        PutString("inf", colour);
        return;
    }
    uint32_t integer = static_cast<uint32_t>(value);
    PutDecimal(integer, colour);
    ConsolePutChar('.', colour);
    float fraction = value - static_cast<float>(integer);
    for (int i = 0; i < 2; ++i) {
        fraction *= 10.0f;
        int digit = static_cast<int>(fraction);
        if (digit > 9) digit = 9;
        ConsolePutChar(static_cast<uint8_t>('0' + digit), colour);
        fraction -= static_cast<float>(digit);
    }
}

}  // namespace

void ConsoleClear() {
    for (uint32_t offset = 0; offset < kScreenBytes; offset += 4)
        HwWrite32(g_clearBase + offset, 0xFFFFFFFFu);
}

void ConsoleHome() {
    g_consoleColumn = 0;
    g_consoleLine = 0;
}

void ConsolePutChar(uint8_t ch, uint16_t colour) {
    const uint8_t* glyph = &ConsoleFont[ch * kConsoleFontGlyphBytes];
    uint32_t left = kGlyphWidth * g_consoleColumn;
    uint32_t top = kGlyphHeight * g_consoleLine;
    for (uint32_t r = 0; r < kGlyphHeight; ++r) {
        for (uint32_t x = 0; x < kGlyphWidth; ++x) {
            bool ink = (glyph[r] >> (7 - x)) & 1;
            HwWrite16(PixelAddress(left + x, top + r), ink ? colour : kBackgroundColour);
        }
    }
    if (++g_consoleColumn == kConsoleColumns) NewLine();
}

void ConsoleScroll() {
    for (uint32_t offset = 0; offset < kScrolledBytes; offset += 2)
        HwWrite16(kDrawingBase + offset, HwRead16(kDrawingBase + kTextLineBytes + offset));
    for (uint32_t offset = 0; offset < kTextLineBytes; offset += 2)
        HwWrite16(kDrawingBase + kScrolledBytes + offset, kBackgroundColour);
    g_consoleColumn = 0;
    g_consoleLine = kConsoleLines - 1;
}

void ConsolePrintf(uint16_t colour, const char* format, ...) {
    va_list args;
    va_start(args, format);
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p == '\n') {
            NewLine();
            continue;
        }
        if (*p != '%') {
            ConsolePutChar(static_cast<uint8_t>(*p), colour);
            continue;
        }
        char conversion = *++p;
        if (conversion == '\0') {  // a lone "%" ends the format: never read past it
            ConsolePutChar('%', colour);
            break;
        }
        switch (conversion) {
            case 'd': PutSignedDecimal(va_arg(args, int32_t), colour); break;
            case 'f': PutFixed(va_arg(args, double), colour); break;
            case 's': PutString(va_arg(args, const char*), colour); break;
            default: ConsolePutChar(static_cast<uint8_t>(conversion), colour); break;
        }
    }
    va_end(args);
}
