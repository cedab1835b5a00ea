// Screenshots: a frame of RGB565 pixels written as an 8-bit RGB PNG.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include "emulator/hw/display.h"

namespace tova::hw {
namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

void OnPngError(png_structp png, png_const_charp message) {
    auto* reason = static_cast<std::string*>(png_get_error_ptr(png));
    *reason = message;
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// Writes the rows with libpng; returns an empty string or the reason for failing. Kept free
// of C++ objects with destructors, since libpng reports errors by longjmp.
std::string WritePng(std::FILE* file, const std::vector<uint8_t>& rgb) {
    std::string reason;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &reason, OnPngError, OnPngWarning);
    if (!png) return "cannot start the PNG encoder";
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return "cannot start the PNG encoder";
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return reason.empty() ? "PNG encoding failed" : reason;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, kScreenWidth, kScreenHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (uint32_t y = 0; y < kScreenHeight; ++y)
        png_write_row(png, rgb.data() + size_t(y) * kScreenWidth * 3);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return {};
}

}  // namespace

std::array<uint8_t, 3> Rgb565ToRgb888(uint16_t pixel) {
    uint8_t r = (pixel >> 11) & 0x1F, g = (pixel >> 5) & 0x3F, b = pixel & 0x1F;
    return {uint8_t(r << 3 | r >> 2), uint8_t(g << 2 | g >> 4), uint8_t(b << 3 | b >> 2)};
}

void RenderPng(const FrameBuffer& frame, const std::filesystem::path& path) {
    std::vector<uint16_t> pixels = frame.Pixels();
    std::vector<uint8_t> rgb(pixels.size() * 3);
    for (size_t i = 0; i < pixels.size(); ++i) {
        auto c = Rgb565ToRgb888(pixels[i]);
        std::memcpy(&rgb[i * 3], c.data(), 3);
    }
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) throw PngError("screenshot '" + path.string() + "': cannot create: " + std::strerror(errno));
    std::string reason = WritePng(file.get(), rgb);
    if (reason.empty() && std::fflush(file.get()) != 0) reason = std::strerror(errno);
    if (!reason.empty()) {
        file.reset();
        std::filesystem::remove(path);
        throw PngError("screenshot '" + path.string() + "': " + reason);
    }
}

}  // namespace tova::hw
