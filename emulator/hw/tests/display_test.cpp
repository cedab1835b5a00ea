// Display memory through the bus and the screenshot it renders, decoded again with libpng.
#include <gtest/gtest.h>
#include <png.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "emulator/hw/board.h"

namespace tova::hw::test {
namespace {

namespace fs = std::filesystem;

struct Image {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;
    std::array<uint8_t, 3> At(uint32_t x, uint32_t y) const {
        const uint8_t* p = &rgb[(size_t(y) * width + x) * 3];
        return {p[0], p[1], p[2]};
    }
};

Image DecodePng(const fs::path& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    Image out;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        ADD_FAILURE() << "cannot decode " << path << ": " << image.message;
        return out;
    }
    image.format = PNG_FORMAT_RGB;
    out.width = image.width;
    out.height = image.height;
    out.rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, out.rgb.data(), 0, nullptr))
        ADD_FAILURE() << "cannot decode " << path << ": " << image.message;
    return out;
}

// A pattern in which every pixel differs from its neighbours and every channel value
// occurs: the 565 fields of pixel (x, y) come from x, y and their sum.
uint16_t PatternPixel(uint32_t x, uint32_t y) {
    return uint16_t(((x & 0x1F) << 11) | (((x + y) & 0x3F) << 5) | (y & 0x1F));
}

class DisplayTest : public ::testing::Test {
protected:
    DisplayTest() : path_(fs::temp_directory_path() / ("tova_hw_screen_" + std::to_string(::getpid()) + ".png")) {}
    ~DisplayTest() override { fs::remove(path_); }

    Board board{kAdvancedModel};
    fs::path path_;
};

TEST_F(DisplayTest, ScreenshotShowsWhatWasWrittenToTheShownFrame) {
    Bus& bus = board.Bus();
    // Rows written with 16-bit stores, a few with 32-bit stores two pixels at a time.
    for (uint32_t y = 0; y < kScreenHeight; ++y) {
        for (uint32_t x = 0; x < kScreenWidth; x += 2) {
            uint32_t at = kFrameBase[1] + (y * kScreenWidth + x) * 2;
            if (y % 7 == 0) {
                bus.Write32(at, PatternPixel(x, y) | uint32_t(PatternPixel(x + 1, y)) << 16);
            } else {
                bus.Write16(at, PatternPixel(x, y));
                bus.Write16(at + 2, PatternPixel(x + 1, y));
            }
        }
    }
    bus.Write32(kFrameBase[0], 0xFFFFFFFF);  // the other frame is not on the screen

    board.Display().RenderPng(path_);
    Image image = DecodePng(path_);
    ASSERT_EQ(image.width, kScreenWidth);
    ASSERT_EQ(image.height, kScreenHeight);
    for (uint32_t y = 0; y < kScreenHeight; ++y) {
        for (uint32_t x = 0; x < kScreenWidth; ++x) {
            uint16_t p = PatternPixel(x, y);
            // Each channel widened by repeating its top bits.
            uint8_t r = (p >> 11) & 0x1F, g = (p >> 5) & 0x3F, b = p & 0x1F;
            std::array<uint8_t, 3> expected{uint8_t((r << 3) | (r >> 2)), uint8_t((g << 2) | (g >> 4)),
                                            uint8_t((b << 3) | (b >> 2))};
            ASSERT_EQ(image.At(x, y), expected) << x << "," << y;
        }
    }
    EXPECT_EQ(board.Display().Pixel(3, 4), PatternPixel(3, 4));
    EXPECT_EQ(board.Bus().GuestErrors().Count(), 0u);
}

TEST_F(DisplayTest, PrimaryColoursComeOutPure) {
    struct Case {
        uint16_t pixel;
        std::array<uint8_t, 3> rgb;
    };
    const Case cases[] = {{0xFFFF, {255, 255, 255}}, {0x0000, {0, 0, 0}}, {0xF800, {255, 0, 0}},
                          {0x07E0, {0, 255, 0}},     {0x001F, {0, 0, 255}}};
    for (uint32_t i = 0; i < std::size(cases); ++i) board.Display().Screen().SetPixel(i, 0, cases[i].pixel);
    board.Display().RenderPng(path_);
    Image image = DecodePng(path_);
    for (uint32_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(image.At(i, 0), cases[i].rgb) << i;
}

TEST_F(DisplayTest, TwoFramesAreSeparateMemories) {
    Bus& bus = board.Bus();
    bus.Write16(kFrameBase[0] + 480, 0x1234);  // pixel (0, 1) of frame 0
    bus.Write16(kFrameBase[1] + 480, 0xABCD);
    EXPECT_EQ(board.Display().Frame(0).Pixel(0, 1), 0x1234);
    EXPECT_EQ(board.Display().Frame(1).Pixel(0, 1), 0xABCD);
    bus.Write8(kFrameBase[1] + 481, 0x00);
    EXPECT_EQ(bus.Read16(kFrameBase[1] + 480), 0x00CD);
    // The last pixel of a frame is mapped; the next byte is not display memory.
    bus.Write16(kFrameBase[1] + kFrameBytes - 2, 0x5555);
    EXPECT_EQ(board.Display().Screen().Pixel(kScreenWidth - 1, kScreenHeight - 1), 0x5555);
    bus.Write16(kFrameBase[1] + kFrameBytes, 0x5555);
    EXPECT_EQ(bus.GuestErrors().Count(GuestErrorKind::kUnmapped), 1u);
    EXPECT_THROW(board.Display().Pixel(kScreenWidth, 0), std::out_of_range);
}

TEST_F(DisplayTest, ScreenshotToAnUnwritablePlaceFailsClearly) {
    fs::path bad = fs::temp_directory_path() / "tova_no_such_folder" / "shot.png";
    try {
        board.Display().RenderPng(bad);
        FAIL() << "rendered into a missing folder";
    } catch (const PngError& e) {
        EXPECT_NE(std::string(e.what()).find(bad.string()), std::string::npos) << e.what();
    }
}

}  // namespace
}  // namespace tova::hw::test
