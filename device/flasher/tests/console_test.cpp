// The console drawing into the emulated display memory.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "handheld.h"
#include "device/flasher/console.h"
#include "device/flasher/console_font.h"
#include "screen_text.h"

namespace flasher_test {
namespace {

constexpr uint16_t kInk = kMessageColour;

class ConsoleTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_clearBase = kDrawingBase;
        ConsoleHome();
        ConsoleClear();
    }
    const tova::hw::FrameBuffer& Screen() { return board_.Display().Frame(1); }
    std::string Line(uint32_t line) { return LineText(Screen(), line, kInk); }

    BoardUnderTest board_;
};

TEST_F(ConsoleTest, ThirtiethCharacterWrapsToTheNextLine) {
    for (int i = 0; i < 29; ++i) ConsolePutChar('a', kInk);
    ConsolePutChar('Z', kInk);
    EXPECT_EQ(Line(0), std::string(29, 'a') + "Z");
    EXPECT_EQ(g_consoleColumn, 0u);
    EXPECT_EQ(g_consoleLine, 1u);
    ConsolePutChar('q', kInk);
    EXPECT_EQ(Line(1), "q");
    EXPECT_EQ(g_consoleColumn, 1u);
}

// Writes the letter 'A' + n at the start of each line 0..20 and leaves the cursor at line 20.
void FillLines() {
    for (uint32_t line = 0; line < kConsoleLines; ++line) {
        ConsolePutChar(uint8_t('A' + line), kInk);
        if (line + 1 < kConsoleLines) ConsolePrintf(kInk, "\n");
    }
}

TEST_F(ConsoleTest, NewlineOnTheLastLineScrollsAndBlanksIt) {
    FillLines();
    ASSERT_EQ(g_consoleLine, 20u);
    ConsolePrintf(kInk, "\n");
    for (uint32_t line = 0; line < 20; ++line) EXPECT_EQ(Line(line), std::string(1, char('B' + line)));
    for (uint32_t column = 0; column < kConsoleColumns; ++column)
        EXPECT_TRUE(CellIsWhite(Screen(), column, 20)) << column;
    EXPECT_EQ(g_consoleLine, 20u);
    EXPECT_EQ(g_consoleColumn, 0u);
}

TEST_F(ConsoleTest, WrappingPastTheLastCellScrolls) {
    FillLines();
    for (uint32_t i = 1; i < kConsoleColumns; ++i) ConsolePutChar('x', kInk);
    EXPECT_EQ(Line(19), "U" + std::string(29, 'x'));
    EXPECT_EQ(Line(0), "B");
    EXPECT_EQ(Line(20), "");
    EXPECT_EQ(g_consoleLine, 20u);
    EXPECT_EQ(g_consoleColumn, 0u);
}

TEST_F(ConsoleTest, ScrollLeavesTheRowsBelowTheGridAlone) {
    board_.Bus().Write16(kDrawingBase + 316 * 480 + 10, 0x1234);
    FillLines();
    ConsoleScroll();
    EXPECT_EQ(Screen().Pixel(5, 316), 0x1234);
}

TEST_F(ConsoleTest, NineNewlinesMoveTheCursorAndDrawNothing) {
    ConsolePutChar('x', kInk);
    const std::vector<uint16_t> before = Screen().Pixels();
    ConsoleHome();
    ConsolePrintf(kInk, "\n\n\n\n\n\n\n\n\n");
    EXPECT_EQ(g_consoleLine, 9u);
    EXPECT_EQ(g_consoleColumn, 0u);
    EXPECT_EQ(Screen().Pixels(), before);
}

struct FormatCase {
    const char* name;
    std::function<void()> print;
    std::string drawn;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

class ConsoleFormatTest : public ConsoleTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(ConsoleFormatTest, DrawsTheConversion) {
    GetParam().print();
    EXPECT_EQ(Line(0), GetParam().drawn);
    EXPECT_EQ(g_consoleColumn, GetParam().drawn.size());
    EXPECT_EQ(g_consoleLine, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Conversions, ConsoleFormatTest,
    ::testing::Values(
        FormatCase{"d_zero", [] { ConsolePrintf(kInk, "%d", 0); }, "0"},
        FormatCase{"d_1234", [] { ConsolePrintf(kInk, "%d", 1234); }, "1234"},
        FormatCase{"d_in_text", [] { ConsolePrintf(kInk, "n=%d!", 7); }, "n=7!"},
        FormatCase{"d_negative", [] { ConsolePrintf(kInk, "%d", -42); }, "-42"},
        FormatCase{"d_most_negative", [] { ConsolePrintf(kInk, "%d", INT32_MIN); }, "-2147483648"},
        FormatCase{"f_cuts_3_14159", [] { ConsolePrintf(kInk, "%f", 3.14159); }, "3.14"},
        FormatCase{"f_does_not_round_2_999", [] { ConsolePrintf(kInk, "%f", 2.999); }, "2.99"},
        FormatCase{"f_half", [] { ConsolePrintf(kInk, "%f", 0.5); }, "0.50"},
        FormatCase{"f_whole", [] { ConsolePrintf(kInk, "%f", 12.0); }, "12.00"},
        FormatCase{"f_negative", [] { ConsolePrintf(kInk, "%f", -1.25); }, "-1.25"},
        FormatCase{"s_byte_10_is_a_glyph", [] { ConsolePrintf(kInk, "%s", "a\nb"); }, "a\nb"},
        FormatCase{"s_then_d", [] { ConsolePrintf(kInk, "%s=%d", "size", 64); }, "size=64"},
        FormatCase{"percent", [] { ConsolePrintf(kInk, "100%%"); }, "100%"},
        FormatCase{"unknown_conversion_x", [] { ConsolePrintf(kInk, "%x", 255); }, "x"},
        FormatCase{"x_takes_no_argument", [] { ConsolePrintf(kInk, "%x%d", 5); }, "x5"},
        FormatCase{"lone_percent_at_the_end", [] { ConsolePrintf(kInk, "ab%"); }, "ab%"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConsoleTest, NewlineInTheFormatStartsALine) {
    ConsolePrintf(kInk, "ab\ncd");
    EXPECT_EQ(Line(0), "ab");
    EXPECT_EQ(Line(1), "cd");
}

TEST_F(ConsoleTest, GlyphsArePaintedInTheCallsColourOnWhite) {
    for (uint16_t colour : {kMessageColour, kBannerColour2, kBannerColour3}) {
        ConsoleHome();
        ConsolePrintf(colour, "M");
        EXPECT_EQ(CellGlyph(Screen(), 0, 0, colour), 'M') << std::hex << colour;
    }
    bool sawWhite = false, sawInk = false;
    for (uint32_t y = 0; y < kGlyphHeight; ++y)
        for (uint32_t x = 0; x < kGlyphWidth; ++x) {
            uint16_t pixel = Screen().Pixel(x, y);
            sawWhite |= pixel == 0xFFFF;
            sawInk |= pixel == kBannerColour3;
            EXPECT_TRUE(pixel == 0xFFFF || pixel == kBannerColour3);
        }
    EXPECT_TRUE(sawWhite && sawInk);
}

TEST_F(ConsoleTest, PaintsOverWhateverWasInTheCell) {
    board_.Display().Frame(1).Fill(0x1F1F);
    ConsolePutChar(' ', kInk);
    EXPECT_TRUE(CellIsWhite(Screen(), 0, 0));
}

TEST_F(ConsoleTest, ClearPaintsTheClearBaseWhiteAndLeavesTheCursor) {
    board_.Display().Frame(0).Fill(0x1234);
    ConsolePrintf(kInk, "abc");
    g_clearBase = kAlternateClearBase;
    ConsoleClear();
    EXPECT_TRUE(FrameIs(board_.Display().Frame(0), 0xFFFF));
    EXPECT_EQ(Line(0), "abc");  // the drawing base is not cleared
    EXPECT_EQ(g_consoleColumn, 3u);
    ConsolePrintf(kInk, "d");
    EXPECT_EQ(Line(0), "abcd");  // glyphs still go to the drawing base
    EXPECT_TRUE(FrameIs(board_.Display().Frame(0), 0xFFFF));

    g_clearBase = kDrawingBase;
    ConsoleClear();
    EXPECT_TRUE(FrameIs(Screen(), 0xFFFF));
}

TEST_F(ConsoleTest, HomeMovesTheCursorOnly) {
    ConsolePrintf(kInk, "ab\ncd");
    const std::vector<uint16_t> before = Screen().Pixels();
    ConsoleHome();
    EXPECT_EQ(g_consoleColumn, 0u);
    EXPECT_EQ(g_consoleLine, 0u);
    EXPECT_EQ(Screen().Pixels(), before);
}

}  // namespace
}  // namespace flasher_test
