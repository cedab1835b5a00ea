#include "screen_text.h"

#include <vector>

#include "device/flasher/console.h"
#include "device/flasher/console_font.h"

namespace flasher_test {

namespace {

bool CellShows(const std::vector<uint16_t>& pixels, uint32_t column, uint32_t line, int glyph,
               uint16_t colour) {
    for (uint32_t r = 0; r < kGlyphHeight; ++r) {
        uint8_t bits = ConsoleFont[glyph * kConsoleFontGlyphBytes + r];
        const uint16_t* row = &pixels[(line * kGlyphHeight + r) * kScreenWidth + column * kGlyphWidth];
        for (uint32_t x = 0; x < kGlyphWidth; ++x) {
            uint16_t expected = (bits >> (7 - x)) & 1 ? colour : kBackgroundColour;
            if (row[x] != expected) return false;
        }
    }
    return true;
}

int Glyph(const std::vector<uint16_t>& pixels, uint32_t column, uint32_t line, uint16_t colour) {
    if (CellShows(pixels, column, line, ' ', kBackgroundColour)) return ' ';
    for (int glyph = 0; glyph < 256; ++glyph)
        if (CellShows(pixels, column, line, glyph, colour)) return glyph;
    return -1;
}

}  // namespace

bool CellIsWhite(const tova::hw::FrameBuffer& frame, uint32_t column, uint32_t line) {
    return CellShows(frame.Pixels(), column, line, ' ', kBackgroundColour);
}

int CellGlyph(const tova::hw::FrameBuffer& frame, uint32_t column, uint32_t line, uint16_t colour) {
    return Glyph(frame.Pixels(), column, line, colour);
}

std::string LineText(const tova::hw::FrameBuffer& frame, uint32_t line, uint16_t colour) {
    return LineText(frame.Pixels(), line, colour);
}

std::string LineText(const std::vector<uint16_t>& pixels, uint32_t line, uint16_t colour) {
    std::string text;
    for (uint32_t column = 0; column < kConsoleColumns; ++column) {
        int glyph = Glyph(pixels, column, line, colour);
        text += glyph < 0 ? '?' : char(glyph);
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

bool FrameIs(const tova::hw::FrameBuffer& frame, uint16_t value) {
    for (uint16_t pixel : frame.Pixels())
        if (pixel != value) return false;
    return true;
}

}  // namespace flasher_test
