// The font's layout: code page 437 order, 15 rows per glyph, bit 7 leftmost.
#include <gtest/gtest.h>

#include <bit>
#include <set>
#include <string>

#include "device/flasher/console_font.h"

namespace {

const uint8_t* Glyph(int code) { return &ConsoleFont[code * kConsoleFontGlyphBytes]; }

int Ink(int code) {
    int n = 0;
    for (uint32_t r = 0; r < kConsoleFontGlyphBytes; ++r) n += std::popcount(Glyph(code)[r]);
    return n;
}

// Rows that have ink, as a bit set (bit r for row r).
uint32_t InkRows(int code) {
    uint32_t rows = 0;
    for (uint32_t r = 0; r < kConsoleFontGlyphBytes; ++r)
        if (Glyph(code)[r]) rows |= 1u << r;
    return rows;
}

uint8_t InkColumns(int code) {
    uint8_t columns = 0;
    for (uint32_t r = 0; r < kConsoleFontGlyphBytes; ++r) columns |= Glyph(code)[r];
    return columns;
}

TEST(ConsoleFont, BlanksAreBlankAndPrintableAsciiIsDistinct) {
    EXPECT_EQ(Ink(0x00), 0);
    EXPECT_EQ(Ink(' '), 0);
    std::set<std::string> seen;
    for (int c = 0x21; c < 0x7F; ++c) {
        EXPECT_GT(Ink(c), 0) << char(c);
        std::string bits(reinterpret_cast<const char*>(Glyph(c)), kConsoleFontGlyphBytes);
        EXPECT_TRUE(seen.insert(bits).second) << "glyph " << char(c) << " repeats another";
    }
}

// Shapes whose place in the table gives them away: a misplaced or shifted table fails here.
TEST(ConsoleFont, GlyphsSitInCodePage437Order) {
    EXPECT_EQ(InkRows('_'), 1u << 13) << "underscore: one bottom row";
    EXPECT_EQ(std::popcount(InkRows('-')), 1) << "hyphen: one row";
    EXPECT_EQ(InkRows('.') & ~0xC00u, 0u) << "full stop: on the baseline only";
    EXPECT_EQ(InkColumns('|'), 0x10) << "bar: one column";
    EXPECT_EQ(Ink(0xDB), 15 * 8) << "full block";
    for (uint32_t r = 0; r < 15; ++r) {
        EXPECT_EQ(Glyph(0xDD)[r], 0xF0) << "left half block";
        EXPECT_EQ(Glyph(0xDE)[r], 0x0F) << "right half block";
    }
    EXPECT_LT(Ink(0xB0), Ink(0xB1)) << "shades darken";
    EXPECT_LT(Ink(0xB1), Ink(0xB2));
    EXPECT_EQ(Ink(0x02) > Ink(0x01), true) << "the dark smiley has more ink";
    // Box drawing reaches the cell edges where its lines leave: corner 0xC9 goes right and down.
    EXPECT_EQ(Glyph(0xC9)[14] & 0x28, 0x28);
    EXPECT_EQ(Glyph(0xC9)[0], 0);
    EXPECT_EQ(Glyph(0xC4)[7], 0xFF);
    // Descenders go below the capitals' baseline.
    EXPECT_GT(InkRows('g'), InkRows('A'));
    // An accented letter is its base letter with a mark above it.
    for (uint32_t r = 6; r < 15; ++r) EXPECT_EQ(Glyph(0x82)[r], Glyph('e')[r]) << "e acute, row " << r;
    EXPECT_NE(InkRows(0x82) & 0x1Cu, 0u);
}

}  // namespace
